// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostile.h"
#include "keys.h"
#include "windowfixture.h"

// The window over a store full of odd names and broken texts: the lists fill,
// the view shows what it can, posting copies byte for byte (but for line ends),
// and nothing is reported, since nothing failed.
class TestHostile : public QObject
{
    Q_OBJECT

    static QList<HostileSetting> seed(WindowFixture& f, bool large)
    {
        QList<HostileSetting> stored;
        for (const HostileSetting& setting : hostileSettings(large)) {
            if (setting.sqliteOnly && f.db.isPostgres())
                continue;
            f.db.put(namedKey(setting.name), setting.kurz, setting.blob);
            stored.append(setting);
        }
        return stored;
    }

    static QStringList namesInStore(WindowFixture& f)
    {
        QStringList names;
        for (const TStoreRow& row : f.db.all())
            if (row.key[1] == keys::Veskalo && row.key[3] != keys::Standard)
                names << row.key[3];
        return names;
    }

    static void postEach(WindowFixture& f, const QList<HostileSetting>& settings)
    {
        for (const HostileSetting& setting : settings) {
            const QString name = namesInStore(f).contains(setting.name)
                                     ? setting.name
                                     : QString(); // stored under its store form
            if (name.isNull() || setting.name == keys::Standard ||
                setting.name == keys::KeinStandard)
                continue;
            QVERIFY2(f.choose("cmbImport", name), qPrintable(setting.label));
            f.child("msText")->setFocus();
            f.post();
            if (name.contains(QChar(0))) {
                // No text of the store can hold it: refused, and nothing recorded.
                QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.StanBuchen"});
                QVERIFY(f.reports.reports[0].second.contains("NUL"));
                f.reports.reports.clear();
                continue;
            }
            QVERIFY2(f.reports.reports.isEmpty(),
                     qPrintable(setting.label + ": " + f.reports.reports.value(0).second));
            const auto copy = f.db.find(standardKey(keys::Import));
            QVERIFY2(copy, qPrintable(setting.label));
            QCOMPARE(copy->kurzbeschreibung, setting.kurz);
            const QByteArray blob = f.db.blob(standardKey(keys::Import));
            QVERIFY2(blob == expectedCopy(setting.blob), qPrintable(setting.label));
            QTRY_COMPARE(f.bezText(), setting.name);
        }
    }

private Q_SLOTS:
    void listsFillAndViewShowsWhatItCan()
    {
        WindowFixture f;
        const QList<HostileSetting> settings = seed(f, false);
        QVERIFY(f.open());
        const QStringList names = namesInStore(f);
        QCOMPARE(f.combo("cmbImport")->Items(), names + QStringList{keys::KeinStandard});
        QVERIFY(!names.contains(keys::Standard));
        // Walk the whole list with the arrow keys; every entry is shown.
        TQuorStdComboBox* list = f.combo("cmbImport");
        list->setFocus(Qt::TabFocusReason);
        QTest::keyClick(list, Qt::Key_Home);
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(list->currentIndex(), i);
            const QString expected = names[i] == keys::KeinStandard ? QString() : names[i];
            QCOMPARE(f.bezText(), expected);
            QTest::keyClick(list, Qt::Key_Down);
        }
        QVERIFY2(f.reports.reports.isEmpty(), qPrintable(f.reports.reports.value(0).second));

        QVERIFY(f.choose("cmbImport", "Text: damaged count"));
        QCOMPARE(f.memoLines(), (QStringList{"eins", "sechs"}));
        QVERIFY(f.choose("cmbImport", "Text: damaged items"));
        QCOMPARE(f.memoLines(), QStringList{"%zz"});
    }

    void postingCopiesEveryText()
    {
        WindowFixture f;
        const QList<HostileSetting> settings = seed(f, false);
        QVERIFY(f.open());
        postEach(f, settings);
    }

    void largeTexts()
    {
        WindowFixture f;
        QList<HostileSetting> large;
        for (const HostileSetting& setting : hostileSettings(true))
            if (setting.label == "50 MB" || setting.label == "100000 lines")
                large << setting;
        for (const HostileSetting& setting : large)
            f.db.put(namedKey(setting.name), setting.kurz, setting.blob);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Text: 100000 lines"));
        QCOMPARE(f.memoLines().size(), 100000);
        QCOMPARE(f.memoLines().last(), QStringLiteral("Zeile 99999\tmit Tab"));
        // A line of 50 MB is shown cut short, so the window keeps answering.
        QVERIFY(f.choose("cmbImport", "Text: 50 MB"));
        QCOMPARE(f.memoLines().size(), 1);
        QVERIFY(f.memoLines().first().endsWith(QStringLiteral("(gekürzt)")));
        QVERIFY(f.memoLines().first().size() < TQuorStdMemo::kLongestShownLine + 20);
        // Only the over-long line is cut; the lines around it stay as they are.
        f.child<TQuorStdMemo>("msText")->setLineList(TStringList::FromJoinedLines(
            QStringLiteral("kurz\n") + QString(30000, u'x') + QStringLiteral("\n\nEnde"), 4));
        QCOMPARE(f.memoLines().size(), 4);
        QCOMPARE(f.memoLines().first(), QStringLiteral("kurz"));
        QVERIFY(f.memoLines().at(1).endsWith(QStringLiteral("(gekürzt)")));
        QCOMPARE(f.memoLines().mid(2), (QStringList{QString(), QStringLiteral("Ende")}));
        postEach(f, large);
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
