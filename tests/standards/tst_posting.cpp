// SPDX-License-Identifier: GPL-3.0-or-later
#include "assignment.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "posting.h"
#include "quorexception.h"
#include "storeopen.h"
#include "teststore.h"

#include <QTemporaryDir>
#include <QTest>

class TestPosting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void textIsCopiedAsLinesInItsEncoding_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("copy");
        QByteArray ansi;
        for (int b = 0; b < 256; ++b)
            if (b != '\r' && b != '\n')
                ansi.append(char(b));
        QTest::newRow("windows-1252, every byte, mixed line ends") << ansi + "\nzwei\rdrei\r\n"
                                                                   << ansi + "\r\nzwei\r\ndrei\r\n";
        const QString text = QStringLiteral("Größe\t= 1 \r\n\r\n€ 𝄞 ende");
        QTest::newRow("utf-8 with bom") << QByteArray("\xEF\xBB\xBF") + text.toUtf8()
                                        << QByteArray("\xEF\xBB\xBF") + (text + "\r\n").toUtf8();
        auto utf16le = [](const QString& s) {
            QByteArray bytes("\xFF\xFE", 2);
            for (QChar c : s)
                bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
            return bytes;
        };
        QTest::newRow("utf-16 le") << utf16le(text) << utf16le(text + "\r\n");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void textIsCopiedAsLinesInItsEncoding()
    {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, copy);
        TestStore db;
        db.put(namedKey("Quelle"), "kurz", source);
        Tmaskfile file;
        TStringList assignments;
        postStandard(file, assignments, keys::Brief, QStringLiteral("Quelle"), frontEnds::Window);
        QCOMPARE(db.blob(standardKey(keys::Brief)), copy);
        QCOMPARE(db.find(standardKey(keys::Brief))->kurzbeschreibung, QStringLiteral("kurz"));
        QCOMPARE(assignments.Lines(), QStringList{"BRIEF=Quelle"});
    }

    void skippedEntriesChangeNothing()
    {
        TestStore db;
        db.putNamedSetting("STANDARD", "als Name");
        Tmaskfile file;
        TStringList assignments(QStringList{"IMPORT=Alt"});
        for (const std::optional<QString>& entry :
             {std::optional<QString>(), std::optional(keys::Standard),
              std::optional(keys::KeinStandard)})
            postStandard(file, assignments, keys::Import, entry, frontEnds::Window);
        QCOMPARE(assignments.Lines(), QStringList{"IMPORT=Alt"});
        QCOMPARE(db.all().size(), 1);
    }

    void storeWithoutWritesRecordsTheChoiceOnly()
    {
        TestStore db;
        db.putNamedSetting("Alpha", "kurz");
        auto store = openStore(db.readOnlyLocation());
        Tmaskfile file(*store);
        TStringList assignments;
        try {
            postStandard(file, assignments, keys::Export, QStringLiteral("Alpha"),
                         frontEnds::Window);
            QFAIL("not reported");
        } catch (const EQuorException& e) {
            QVERIFY(e.Message().contains("„Alpha“ wurde nicht als Standard für EXPORT"));
            QVERIFY(e.Message().contains("bleibt, wie er war"));
        }
        QCOMPARE(assignments.Lines(), QStringList{"EXPORT=Alpha"});
        inStoreAccess(*store, [&] { QVERIFY(!store->find(standardKey(keys::Export))); });
    }

    void assignmentLinesReplacedInPlace()
    {
        TStringList list;
        setAssignment(list, keys::Export, "A");
        setAssignment(list, keys::Import, "B=C");
        setAssignment(list, keys::Export, "D");
        QCOMPARE(list.Lines(), (QStringList{"EXPORT=D", "IMPORT=B=C"}));
        QCOMPARE(assignedName(list, keys::Import), QStringLiteral("B=C"));
        QCOMPARE(assignedName(list, keys::Brief), QString());
    }
};

QTEST_GUILESS_MAIN(TestPosting)
#include "tst_posting.moc"
