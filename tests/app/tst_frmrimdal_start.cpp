// SPDX-License-Identifier: GPL-3.0-or-later
#include "formstore.h"
#include "formstoretext.h"
#include "keys.h"
#include "platform.h"
#include "quorexception.h"
#include "quorprogramm.h"
#include "quorstrings.h"
#include "windowfixture.h"

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace
{
class ThrowOnClose : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            throw EQuorException("Schließen gestört");
        return false;
    }
};
} // namespace

class TestWindowStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void captionCarriesTheTenant_data()
    {
        QTest::addColumn<QByteArray>("tenant");
        QTest::addColumn<QString>("caption");
        QTest::newRow("tenant") << QByteArray("Filiale Nord")
                                << "Standard-Konfiguration Kundenkarten - Filiale Nord";
        QTest::newRow("empty") << QByteArray() << "Standard-Konfiguration Kundenkarten - ";
    }

    void captionCarriesTheTenant()
    {
        QFETCH(QByteArray, tenant);
        QFETCH(QString, caption);
        qputenv("QUOR_MANDANT", tenant);
        WindowFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.window->windowTitle(), caption);
        qunsetenv("QUOR_MANDANT");
        QVERIFY(f.reports.reports.isEmpty());
    }

    void emptyStoreOpensWithMarkersOnly()
    {
        WindowFixture f;
        QVERIFY(f.open());
        for (const char* name : {"cmbImport", "cmbExport", "cmbBrief"}) {
            QCOMPARE(f.combo(name)->Items(), QStringList{keys::KeinStandard});
            QCOMPARE(f.combo(name)->GetItemIndex(), 0);
        }
        QCOMPARE(f.bezText(), QString());
        QCOMPARE(f.kurzText(), QString());
        QVERIFY(f.db.all().isEmpty()); // opening writes nothing
    }

    void listsShowNamedSettingsAndMarkers()
    {
        WindowFixture f;
        f.db.putNamedSetting("Import Kartennummern", "Kartennummern", {"Zeile 1"});
        f.db.putNamedSetting("Export Sperrliste", "Sperren");
        f.db.putStandardCopy("EXPORT", "Sperren", QByteArray());
        QVERIFY(f.open());
        const QStringList names{"Export Sperrliste", "Import Kartennummern"};
        QCOMPARE(f.combo("cmbImport")->Items(), names + QStringList{keys::KeinStandard});
        QCOMPARE(f.combo("cmbExport")->Items(), names + QStringList{keys::Standard});
        QCOMPARE(f.combo("cmbBrief")->currentText(), keys::KeinStandard);
        // The first activation puts the focus into the import list, which shows its entry.
        QTRY_VERIFY(f.combo("cmbImport")->hasFocus());
    }

    void assignmentListRestoredFromItsEntry()
    {
        WindowFixture f;
        f.db.putNamedSetting("Alpha", "a");
        f.db.putStandardCopy("IMPORT", "Kurz der Kopie", QByteArray());
        f.db.put(assignmentKey(), QString(),
                 formStoreBlob({{"scStanBez.Items", {"IMPORT=Alpha", "BRIEF=Gamma"}}}));
        QVERIFY(f.open());
        auto* strings = f.window->findChild<TQuorStrings*>("scStanBez");
        QCOMPARE(strings->Items.Lines(), (QStringList{"IMPORT=Alpha", "BRIEF=Gamma"}));
        // Import's marker is selected and focused: the name comes from the assignment list.
        QTRY_COMPARE(f.bezText(), QStringLiteral("Alpha"));
        QCOMPARE(f.kurzText(), QStringLiteral("Kurz der Kopie"));
    }

    void missingAssignmentEntryLeavesNamesEmpty()
    {
        WindowFixture f;
        f.db.putStandardCopy("IMPORT", "Kurz der Kopie",
                             formStoreBlob({{"msText.Lines", {"Langtext"}}}));
        QVERIFY(f.open());
        QCOMPARE(f.window->findChild<TQuorStrings*>("scStanBez")->Items.Count(), 0);
        QTRY_COMPARE(f.kurzText(), QStringLiteral("Kurz der Kopie"));
        QCOMPARE(f.bezText(), QString());
        QCOMPARE(f.memoLines(), QStringList{"Langtext"});
    }

    void failingFillReportedOnceWithAccessEnded()
    {
        WindowFixture f;
        f.db.putNamedSetting("Alpha", "a");
        f.db.putNamedSetting("Beta", "b");
        QVERIFY(f.open());
        f.db.faults().fail(FaultStore::Call::Next, 2);
        f.post(); // posting refills the lists at its end
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.FillCombos"});
        QCOMPARE(f.reports.kinds, QList<TStoreFailure>{TStoreFailure::DiskError});
        QCOMPARE(f.db.faults().accessDepth(), 0);
        QCOMPARE(f.combo("cmbImport")->Items(), QStringList{"Alpha"});
        QCOMPARE(QuorBuchung(true).OpenPostings(), 0);
    }

    // A store that cannot be had is told once; the window still opens, and
    // no store is made in its place.
    void unreachableStoreStillOpensTheWindow_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("words");
        QTest::newRow("missing folder") << "fehlt/settings.sqlite"
                                        << "existiert nicht";
        QTest::newRow("missing store") << "setings.sqlite"
                                       << "existiert nicht";
        QTest::newRow("no data folder") << QString() << "keinen Ordner";
    }

    void unreachableStoreStillOpensTheWindow()
    {
        QFETCH(QString, store);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const QString missing = store.isEmpty() ? QString() : dir.filePath(store);
        const QByteArray home = qgetenv("HOME"), data = qgetenv("XDG_DATA_HOME");
        if (missing.isEmpty()) {
            qunsetenv("HOME");
            qunsetenv("XDG_DATA_HOME");
            if (!userDataFolder().isEmpty()) {
                qputenv("HOME", home);
                QSKIP("Windows names the user's data folder without HOME or XDG_DATA_HOME");
            }
        } else {
            qputenv("QUOR_STORE", missing.toUtf8());
        }
        {
            WindowFixture f;
            QuorProgramm().SetStore(nullptr);
            QVERIFY(f.open());
            QCOMPARE(f.reports.reports.size(), 1);
            QCOMPARE(f.reports.reports.first().first, QStringLiteral("TfrmRimdal.FillCombos"));
            QVERIFY2(f.reports.reports.first().second.contains(words),
                     qPrintable(f.reports.reports.first().second));
            QVERIFY(f.reports.reports.first().second.contains(missing));
            QCOMPARE(f.combo("cmbImport")->ItemCount(), 0);
        }
        qunsetenv("QUOR_STORE");
        qputenv("HOME", home);
        qputenv("XDG_DATA_HOME", data);
        if (data.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), {});
        QVERIFY(!QFile::exists("/.local/share/quor"));
    }

    void failureInFormCreateStillOpensTheWindow()
    {
        WindowFixture f;
        f.db.putNamedSetting("Alpha", "a");
        // After the lists and their three markers: fsBez looking for the
        // assignment list.
        f.db.faults().fail(FaultStore::Call::Find, 4);
        QVERIFY(f.open());
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.FormCreate"});
        QCOMPARE(f.combo("cmbImport")->Items(), (QStringList{"Alpha", keys::KeinStandard}));
    }

    // A failure in the start-up block is shown, no window opens, and the
    // process ends at once.
    void failureInTheStartUpBlockEndsTheProgram()
    {
        QProcess program;
        program.start(STARTUPFAILURE_BIN);
        QVERIFY(program.waitForFinished(20000));
        const QByteArray errors = program.readAllStandardError();
        QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                 errors.constData());
        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        QVERIFY(errors.contains("schon eingerichtet"));
    }

    void failureInFillBeschreibungKeepsWhatWasSet()
    {
        WindowFixture f;
        f.db.putNamedSetting("Alpha", "Kurz Alpha", {"Text Alpha"});
        f.db.putNamedSetting("Beta", "Kurz Beta", {"Text Beta"});
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        f.db.faults().fail(FaultStore::Call::Find);
        QTest::keyClick(f.combo("cmbImport"), Qt::Key_Down);
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.FillBeschreibung"});
        QCOMPARE(f.db.store().accessDepth(), 0);
        QCOMPARE(f.bezText(), QStringLiteral("Beta"));
        QCOMPARE(f.kurzText(), QStringLiteral("Kurz Alpha"));
        QCOMPARE(f.memoLines(), QStringList{"Text Alpha"});
    }

    void handlersReportUnderTheirOwnName_data()
    {
        QTest::addColumn<QString>("method");
        for (const char* list : {"cmbImport", "cmbExport", "cmbBrief"})
            for (const char* event : {"Enter", "Change"})
                QTest::newRow(event) << QString::fromLatin1(list) + QLatin1String(event);
        QTest::newRow("end") << QStringLiteral("acEndeExecute");
    }

    void handlersReportUnderTheirOwnName()
    {
        QFETCH(QString, method);
        WindowFixture f;
        QVERIFY(f.open());
        if (method == "acEndeExecute") {
            ThrowOnClose filter;
            f.window->installEventFilter(&filter);
            f.child<QAction>("acEnde")->trigger();
            f.window->removeEventFilter(&filter);
        } else {
            // Raised by something that is no choice list: the handler's cast fails.
            const QString name = method.chopped(method.endsWith("Enter") ? 5 : 6);
            auto* list = f.combo(qPrintable(name));
            QObject stranger;
            if (method.endsWith("Enter"))
                Q_EMIT list->OnEnter(&stranger);
            else
                Q_EMIT list->OnChange(&stranger);
        }
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal." + method});
    }

    void dateTurnsOverAtMidnight()
    {
        WindowFixture f;
        QVERIFY(f.open());
        auto* bar = f.window->findChild<TQuorStdStatusBar*>();
        QDateTime now(QDate(2026, 12, 31), QTime(23, 59, 59, 700));
        bar->SetClock([&] { return now; });
        QCOMPARE(bar->panel(1)->text(), QStringLiteral("31.12.26"));
        now = QDateTime(QDate(2027, 1, 1), QTime(0, 0, 1));
        QTRY_COMPARE_WITH_TIMEOUT(bar->panel(1)->text(), QStringLiteral("01.01.27"), 5000);
    }
};

QTEST_MAIN(TestWindowStart)
#include "tst_frmrimdal_start.moc"
