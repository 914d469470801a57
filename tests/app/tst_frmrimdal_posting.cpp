// SPDX-License-Identifier: GPL-3.0-or-later
#include "faults.h"
#include "formstore.h"
#include "formstoretext.h"
#include "journal.h"
#include "keys.h"
#include "quorexception.h"
#include "quorinfo.h"
#include "quorstrings.h"
#include "sqlstore.h"
#include "storeopen.h"
#include "windowfixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QThread>
#include <limits>
#include <thread>

namespace
{
QStringList assignmentLines(TestStore& db)
{
    const auto properties = parseFormStoreBlob(db.blob(assignmentKey()));
    const TStringList* lines = findFormProperty(properties, "scStanBez.Items");
    return lines ? lines->Lines() : QStringList{"(keine Liste)"};
}

void seed(TestStore& db)
{
    db.putNamedSetting("Alpha", "Kurz Alpha", {"Alpha 1", "", "\tAlpha 3"});
    db.putNamedSetting("Beta & Co", "Kurz & gut", {"Beta"});
    db.putNamedSetting("Gamma", "Kurz Gamma", {"Gamma"});
}
} // namespace

class TestWindowPosting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void personChoosesAndPosts()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QCOMPARE(f.bezText(), QStringLiteral("Alpha"));
        QCOMPARE(f.kurzText(), QStringLiteral("Kurz Alpha"));
        QCOMPARE(f.memoLines(), (QStringList{"Alpha 1", "", "\tAlpha 3"}));

        f.child("msText")->setFocus();
        QTRY_VERIFY(f.child("msText")->hasFocus());
        f.post();

        const auto copy = f.db.find(standardKey("IMPORT"));
        QVERIFY(copy);
        QCOMPARE(copy->kurzbeschreibung, QStringLiteral("Kurz Alpha"));
        QCOMPARE(f.db.blob(standardKey("IMPORT")), f.db.blob(namedKey("Alpha")));
        QCOMPARE(assignmentLines(f.db), QStringList{"IMPORT=Alpha"});
        QVERIFY(f.reports.reports.isEmpty());
        QCOMPARE(QuorBuchung(true).BegunPostings(), 1);
        QCOMPARE(QuorBuchung(true).OpenPostings(), 0);

        // Lists refilled with their markers selected; the focus moved to the import
        // list, which shows the standard copy under the name it was copied from.
        QCOMPARE(f.combo("cmbImport")->currentText(), keys::Standard);
        QCOMPARE(f.combo("cmbImport")->GetItemIndex(), f.combo("cmbImport")->ItemCount() - 1);
        QCOMPARE(f.combo("cmbExport")->currentText(), keys::KeinStandard);
        QTRY_VERIFY(f.combo("cmbImport")->hasFocus());
        QCOMPARE(f.bezText(), QStringLiteral("Alpha"));
        QCOMPARE(f.kurzText(), QStringLiteral("Kurz Alpha"));
        QCOMPARE(f.memoLines(), (QStringList{"Alpha 1", "", "\tAlpha 3"}));
    }

    void markersOnlyWriteNoCopyButFileTheList()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        f.post();
        QCOMPARE(f.db.all().size(), 4); // three named settings and the assignment entry
        QCOMPARE(assignmentLines(f.db), QStringList{});
        QCOMPARE(QuorBuchung(true).BegunPostings(), 1);
        QCOMPARE(QuorBuchung(true).EndedPostings(), 1);
    }

    void repeatedPostingsKeepOneCopyAndLinePerType()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        QVERIFY(f.choose("cmbImport", "Alpha"));
        f.post();
        QVERIFY(f.choose("cmbExport", "Beta & Co"));
        f.post();
        QVERIFY(f.choose("cmbImport", "Beta & Co"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        f.post();
        QCOMPARE(assignmentLines(f.db),
                 (QStringList{"IMPORT=Beta & Co", "BRIEF=Gamma", "EXPORT=Beta & Co"}));
        QCOMPARE(f.db.all().size(), 3 + 3 + 1 + 5); // and a journal entry per copy
        // The same setting for two types: two equal copies.
        QCOMPARE(f.db.find(standardKey("IMPORT"))->kurzbeschreibung, QStringLiteral("Kurz & gut"));
        QCOMPARE(f.db.blob(standardKey("IMPORT")), f.db.blob(standardKey("EXPORT")));
        QCOMPARE(f.db.blob(standardKey("BRIEF")), f.db.blob(namedKey("Gamma")));
        for (const char* name : {"cmbImport", "cmbExport", "cmbBrief"})
            QCOMPARE(f.combo(name)->currentText(), keys::Standard);
        QVERIFY(f.reports.reports.isEmpty());
    }

    void settingRemovedBehindTheToolsBack()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        f.db.sql("DELETE FROM einstellungen WHERE bezeichnung = 'Alpha'");
        f.post();
        // Told once, under the type's step, naming the task and the setting;
        // the other types are posted, and the choice is recorded.
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.StanBuchen"});
        QVERIFY2(
            f.reports.reports[0].second.contains("„Alpha“ wurde nicht als Standard für IMPORT"),
            qPrintable(f.reports.reports[0].second));
        QVERIFY(!f.db.find(standardKey("IMPORT")));
        QVERIFY(f.db.find(standardKey("BRIEF")));
        QCOMPARE(assignmentLines(f.db), (QStringList{"IMPORT=Alpha", "BRIEF=Gamma"}));
        Tmaskfile file;
        QCOMPARE(readJournal(file).size(), 1); // nothing copied, nothing journaled
        f.reports.reports.clear();

        // Shown again after it vanished: the view empties although the name was set first.
        QVERIFY(f.choose("cmbExport", "Gamma"));
        QCOMPARE(f.bezText(), QStringLiteral("Gamma"));
        f.db.sql("DELETE FROM einstellungen WHERE bezeichnung = 'Gamma'");
        f.child("msText")->setFocus();
        f.combo("cmbExport")->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(f.bezText(), QString());
        QCOMPARE(f.kurzText(), QString());
        QCOMPARE(f.memoLines(), QStringList{});
    }

    void failingTypeLeavesTheOthersPosted()
    {
        WindowFixture f;
        seed(f.db);
        f.db.put(assignmentKey(), QString(), formStoreBlob({{"scStanBez.Items", {"EXPORT=Alt"}}}));
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QVERIFY(f.choose("cmbExport", "Beta & Co"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        // The third write: the EXPORT copy, after IMPORT's copy and journal entry.
        f.db.faults().fail(FaultStore::Call::Write, 3);
        f.post();
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.StanBuchen"});
        QVERIFY(f.db.find(standardKey("IMPORT")));
        QVERIFY(!f.db.find(standardKey("EXPORT")));
        QVERIFY(f.db.find(standardKey("BRIEF")));
        QCOMPARE(assignmentLines(f.db), (QStringList{"EXPORT=Alt", "IMPORT=Alpha", "BRIEF=Gamma"}));
        QCOMPARE(QuorBuchung(true).OpenPostings(), 0);
    }

    void postingIsEndedAfterEveryFailure_data()
    {
        QTest::addColumn<QByteArray>("failing");
        QTest::addColumn<int>("ended");
        QTest::newRow("begin") << QByteArray("BeginPosting") << 0;
        QTest::newRow("store list") << QByteArray("Store") << 1;
        QTest::newRow("end") << QByteArray("EndPosting") << 1;
    }

    void postingIsEndedAfterEveryFailure()
    {
        QFETCH(QByteArray, failing);
        QFETCH(int, ended);
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        if (failing == "Store")
            f.window->findChild<TQuorFormStore*>("fsBez")->StoredProperties = {"fehlt.Items"};
        else
            f.db.faults().fail(failing == "BeginPosting" ? FaultStore::Call::Begin
                                                         : FaultStore::Call::Commit);
        f.post();
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.acBuchenExecute"});
        QCOMPARE(QuorBuchung(true).OpenPostings(), 0);
        QCOMPARE(f.db.faults().accessDepth(), 0);
        QCOMPARE(QuorBuchung(true).EndedPostings(), ended);
        // The lists are refilled only after a complete posting.
        QCOMPARE(f.combo("cmbImport")->currentText(), QStringLiteral("Alpha"));
        QuorBuchung(true).ResetCounters();
    }

    void viewOfMarkersAndOddNames()
    {
        WindowFixture f;
        seed(f.db);
        f.db.putNamedSetting(keys::KeinStandard, "wie ein Marker", {"x"});
        f.db.putStandardCopy("EXPORT", "Kopie", formStoreBlob({{"msText.Lines", {"Kopie"}}}));
        QVERIFY(f.open());

        QVERIFY(f.choose("cmbImport", "Beta & Co"));
        QCOMPARE(f.bezText(), QStringLiteral("Beta & Co")); // the ampersand as it is
        QCOMPARE(f.kurzText(), QStringLiteral("Kurz & gut"));

        // A named setting called like the marker is treated as the marker.
        QVERIFY(f.choose("cmbImport", keys::KeinStandard));
        QCOMPARE(f.bezText(), QString());
        QCOMPARE(f.kurzText(), QString());
        QCOMPARE(f.memoLines(), QStringList{});

        // "STANDARD" without assignment line: no name, the copy's texts.
        QVERIFY(f.choose("cmbExport", keys::Standard));
        QCOMPARE(f.bezText(), QString());
        QCOMPARE(f.kurzText(), QStringLiteral("Kopie"));
        QCOMPARE(f.memoLines(), QStringList{"Kopie"});

        // The copy removed by someone else: all three targets empty.
        f.db.sql("DELETE FROM einstellungen WHERE maske = 'EXPORT'");
        QVERIFY(f.choose("cmbBrief", "Alpha"));
        QVERIFY(f.choose("cmbExport", keys::Standard));
        QCOMPARE(f.kurzText(), QString());
        QCOMPARE(f.memoLines(), QStringList{});

        // Entering a list without changing it refreshes the view for its type.
        f.db.putNamedSetting("Gamma", "Neu", {"Neu"});
        QVERIFY(f.choose("cmbImport", "Gamma"));
        f.db.putNamedSetting("Gamma", "Neuer", {"Neuer"});
        QTest::keyClick(f.combo("cmbImport"), Qt::Key_Tab);
        QTest::keyClick(f.window.get(), Qt::Key_I, Qt::AltModifier);
        QTRY_COMPARE(f.kurzText(), QStringLiteral("Neuer"));
        QVERIFY(f.reports.reports.isEmpty());
    }

    void listWithoutSelectionTouchesNothing()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        f.child("msText")->setFocus();
        f.combo("cmbExport")->SetItemIndex(-1);
        f.db.faults().clear();
        f.combo("cmbExport")->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(f.combo("cmbExport")->hasFocus());
        QCOMPARE(f.db.faults().count(FaultStore::Call::Begin), 0);
        QCOMPARE(f.bezText(), QStringLiteral("Alpha"));
        QCOMPARE(f.memoLines(), (QStringList{"Alpha 1", "", "\tAlpha 3"}));
    }

    void typedMemoTextIsNeverStored()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        const QByteArray before = f.db.blob(namedKey("Alpha"));
        f.child("msText")->setFocus();
        QTest::keyClicks(f.child("msText"), "getippt");
        f.post();
        QCOMPARE(f.db.blob(namedKey("Alpha")), before);
        QCOMPARE(f.db.blob(standardKey("IMPORT")), before);
    }

    // The window and the store tool leave the same bytes for the same choices,
    // and each journals its copies under its own name.
    void windowAndToolPostAlike()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        f.post();
        const QList<TStoreKey> written{standardKey("IMPORT"), standardKey("BRIEF"),
                                       assignmentKey()};
        auto snapshot = [&] {
            QList<QByteArray> records;
            for (const TStoreKey& key : written)
                records << f.db.find(key)->kurzbeschreibung.toUtf8() << f.db.blob(key);
            return records;
        };
        const QList<QByteArray> byWindow = snapshot();
        Tmaskfile file;
        QList<TJournalEntry> journal = readJournal(file);
        QCOMPARE(journal.size(), 2);
        QCOMPARE(journal[0].type, QStringLiteral("BRIEF"));
        QCOMPARE(journal[0].frontEnd, QStringLiteral("Fenster"));
        QCOMPARE(journal[1].digest, journalDigest(f.db.blob(standardKey("IMPORT"))));

        f.db.sql("DELETE FROM einstellungen WHERE programm = 'RIMDAL'");
        QProcess tool;
        tool.start(QUORSTORE_BIN, {"--store", f.db.path(), "post", "IMPORT=Alpha", "BRIEF=Gamma"});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(snapshot(), byWindow);
        journal = readJournal(file);
        QCOMPARE(journal.size(), 2);
        QCOMPARE(journal[0].frontEnd, QStringLiteral("Werkzeug"));
    }

    void entryWithoutDescriptionEmptiesTheMemo()
    {
        WindowFixture f;
        seed(f.db);
        f.db.put(namedKey("Alpha 2"), "Kurz 2", formStoreBlob({{"edtDatei.Lines", {"x"}}}));
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QCOMPARE(f.memoLines().size(), 3);
        QTest::keyClick(f.combo("cmbImport"), Qt::Key_Down);
        QCOMPARE(f.bezText(), QStringLiteral("Alpha 2"));
        QCOMPARE(f.memoLines(), QStringList{});
    }

    // Two windows on one store, the second opened before the first posts: its
    // posting keeps the first one's line, and it shows that standard under
    // the name the store holds now.
    void windowsKeepEachOthersChoice()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        TfrmRimdal second;
        second.show();
        QVERIFY(f.choose("cmbImport", "Alpha"));
        f.post();
        QCOMPARE(assignmentLines(f.db), QStringList{"IMPORT=Alpha"});

        auto* export2 = second.findChild<TQuorStdComboBox*>("cmbExport");
        export2->SetItemIndex(int(export2->Items().indexOf("Gamma")));
        second.findChild<QAction*>("acBuchen")->trigger();
        QCOMPARE(assignmentLines(f.db), (QStringList{"IMPORT=Alpha", "EXPORT=Gamma"}));
        QVERIFY(f.reports.reports.isEmpty());

        auto* import2 = second.findChild<TQuorStdComboBox*>("cmbImport");
        QCOMPARE(import2->currentText(), keys::Standard);
        Q_EMIT import2->OnEnter(import2);
        QCOMPARE(second.findChild<QLabel*>("lblBezText")->text(), QStringLiteral("Alpha"));
    }

    // A report on screen waits for a person; meanwhile another workstation
    // posts and fills its lists at once, as the posting's transaction has
    // ended before the report appears.
    void reportOnScreenHoldsNoOtherWorkstation()
    {
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        f.db.sql("DELETE FROM einstellungen WHERE bezeichnung = 'Alpha'");
        int openWhileShown = -1, posted = -1, listed = -1;
        qint64 elapsed = -1;
        QuorInfo().SetSink([&](const QString& method, const QString& message, TStoreFailure) {
            f.reports.reports.append({method, message});
            openWhileShown = openStoreTransactions();
            QElapsedTimer timer;
            timer.start();
            QProcess other;
            other.start(QUORSTORE_BIN, {"--store", f.db.path(), "post", "EXPORT=Gamma"});
            other.waitForFinished(30000);
            posted = other.exitCode();
            elapsed = timer.elapsed();
            other.start(QUORSTORE_BIN,
                        {"--store", f.db.path(), "list", "DEU", "VESKALO", "VESKALO"});
            other.waitForFinished(30000);
            listed = other.exitCode();
        });
        f.post();
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.StanBuchen"});
        QCOMPARE(openWhileShown, 0);
        QCOMPARE(posted, 0);
        QCOMPARE(listed, 0);
        QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
        QCOMPARE(assignmentLines(f.db), (QStringList{"IMPORT=Alpha", "EXPORT=Gamma"}));
    }

    // The store itself ends the posting's transaction during the second type
    // (SQLite: the file cannot grow, an I/O error; PostgreSQL: the server
    // ends the connection). Nothing of the posting stays, no later step runs
    // on its own, and the person is told once.
    void storeEndsThePostingItself()
    {
        WindowFixture f;
        seed(f.db);
        // Large enough that its copy must reach the file before the commit.
        f.db.put(namedKey("Gross"), "Kurz Gross", QByteArray("zeile\r\n").repeated(1 << 19));
        f.db.put(assignmentKey(), QString(), formStoreBlob({{"scStanBez.Items", {"BRIEF=Alt"}}}));
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QVERIFY(f.choose("cmbExport", "Gross"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        const QList<TStoreRow> before = f.db.all();
        const QByteArray listBefore = f.db.blob(assignmentKey());
        auto& sql = dynamic_cast<TSqlStore&>(f.db.store());
        if (!f.db.isPostgres() && !limitFileSize(std::numeric_limits<qint64>::max()))
            QSKIP("SQLite: Windows sets no file size limit by which a write could fail");
        // While the second setting's text is read, the store fails beneath.
        f.db.faults().at(FaultStore::Call::Read, 2, [&] {
            if (f.db.isPostgres()) {
                auto rows = sql.query("SELECT pg_backend_pid()::text");
                QVERIFY(rows->next());
                f.db.sql(QStringLiteral("SELECT pg_terminate_backend(%1, 5000)")
                             .arg(QString::fromLatin1(rows->column(0).toByteArray())));
            } else {
                QVERIFY(limitFileSize(QFileInfo(f.db.path()).size()));
            }
        });
        f.post();
        liftFileSizeLimit();

        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.acBuchenExecute"});
        QVERIFY2(f.reports.reports[0].second.startsWith("Die Buchung wurde nicht gespeichert"),
                 qPrintable(f.reports.reports[0].second));
        QCOMPARE(QuorBuchung(true).OpenPostings(), 0);
        const QList<TStoreRow> after = f.db.all();
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < after.size(); ++i)
            QCOMPARE(after[i].key, before[i].key);
        QCOMPARE(f.db.blob(assignmentKey()), listBefore);
        QCOMPARE(f.child<TQuorStrings>("scStanBez")->Items.Lines(), QStringList{"BRIEF=Alt"});
        if (!f.db.isPostgres()) {
            auto rows = sql.query("PRAGMA integrity_check");
            QVERIFY(rows->next());
            QCOMPARE(rows->column(0).toByteArray(), QByteArray("ok"));
        }
        // The next posting works again, on a new connection where it was lost.
        f.post();
        QCOMPARE(f.reports.methods().size(), 1);
        QCOMPARE(assignmentLines(f.db),
                 (QStringList{"BRIEF=Gamma", "IMPORT=Alpha", "EXPORT=Gross"}));
    }

    // The window and the store tool post by one rule: the same failing cases
    // leave the same store, the assignment line written where no copy was made.
    void windowAndToolDecideAlike_data()
    {
        QTest::addColumn<bool>("settingGone");
        QTest::addColumn<bool>("copyRefused");
        QTest::newRow("setting gone") << true << false;
        QTest::newRow("a copy refused by the store") << false << true;
        QTest::newRow("both") << true << true;
    }

    void windowAndToolDecideAlike()
    {
        QFETCH(bool, settingGone);
        QFETCH(bool, copyRefused);
        WindowFixture f;
        seed(f.db);
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QVERIFY(f.choose("cmbExport", "Beta & Co"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        if (settingGone)
            f.db.sql("DELETE FROM einstellungen WHERE bezeichnung = 'Alpha'");
        if (copyRefused && f.db.isPostgres()) {
            f.db.sql("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN IF "
                     "NEW.maske = 'EXPORT' AND NEW.bezeichnung = 'STANDARD' THEN RAISE EXCEPTION "
                     "'abgelehnt'; END IF; RETURN NEW; END$$");
            f.db.sql("CREATE TRIGGER refuse BEFORE INSERT ON einstellungen FOR EACH ROW "
                     "EXECUTE FUNCTION refuse()");
        } else if (copyRefused) {
            f.db.sql("CREATE TRIGGER refuse BEFORE INSERT ON einstellungen WHEN NEW.maske = "
                     "'EXPORT' AND NEW.bezeichnung = 'STANDARD' BEGIN SELECT RAISE(ABORT, "
                     "'abgelehnt'); END");
        }
        // Records and journal, the journal by task and setting alone: its
        // times and front ends differ by nature.
        auto state = [&] {
            QStringList records;
            for (const TStoreRow& row : f.db.all())
                records << (row.key[2] == "JOURNAL"
                                ? row.kurzbeschreibung
                                : TSqlStore::keyText(row.key) + " " + row.kurzbeschreibung + " " +
                                      QString::fromLatin1(f.db.blob(row.key).toBase64()));
            return records;
        };
        f.post();
        QCOMPARE(f.reports.methods().size(), int(settingGone) + int(copyRefused));
        const QStringList byWindow = state();

        f.db.sql("DELETE FROM einstellungen WHERE programm = 'RIMDAL'");
        QProcess tool;
        tool.start(QUORSTORE_BIN, {"--store", f.db.path(), "post", "IMPORT=Alpha",
                                   "EXPORT=Beta & Co", "BRIEF=Gamma"});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 1);
        QCOMPARE(state(), byWindow);
        // A copy that failed leaves its line as it was; one that could not be
        // made for want of its setting records the choice.
        QStringList lines{"IMPORT=Alpha", "EXPORT=Beta & Co", "BRIEF=Gamma"};
        if (copyRefused)
            lines.removeAt(1);
        QCOMPARE(assignmentLines(f.db), lines);
    }

    // Another program's write transaction stays open: the window reads on at
    // once; a posting queues behind it, and past the writers' timeout it is
    // reported and writes nothing.
    void anotherWritersOpenTransaction()
    {
        WindowFixture f;
        seed(f.db);
        auto other = openStore(f.db.path());
        // The other program waits as long as it likes, never ended for it.
        auto holdOpen = [&] {
            if (f.db.isPostgres())
                dynamic_cast<TSqlStore&>(*other).execute(
                    "SELECT set_config('idle_in_transaction_session_timeout', '0', true)");
        };
        other->beginAccess(TAccess::Write);
        other->insert(namedKey("Fremd"), "kurz", "");
        holdOpen();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Alpha"));
        QCOMPARE(f.kurzText(), QStringLiteral("Kurz Alpha"));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(f.reports.reports.isEmpty());

        std::thread commit([&] {
            QThread::msleep(1000);
            other->endAccess();
        });
        f.post();
        commit.join();
        QVERIFY(f.reports.reports.isEmpty());
        QVERIFY(f.db.find(standardKey("IMPORT")));
        QVERIFY(f.db.find(namedKey("Fremd")));

        other->beginAccess(TAccess::Write);
        other->insert(namedKey("Fremd 2"), "kurz", "");
        holdOpen();
        QVERIFY(f.choose("cmbExport", "Gamma"));
        timer.restart();
        f.post();
        QVERIFY(timer.elapsed() >= 9000);
        // While this process holds a transaction open, here the other
        // connection's, the report waits: it is shown once that has ended.
        QVERIFY(f.reports.reports.isEmpty());
        other->markFailed();
        other->endAccess();
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.acBuchenExecute"});
        QCOMPARE(f.reports.kinds, QList<TStoreFailure>{TStoreFailure::Locked});
        QVERIFY(!f.db.find(standardKey("EXPORT")));
        QCOMPARE(assignmentLines(f.db), QStringList{"IMPORT=Alpha"});
        QCOMPARE(QuorBuchung(true).OpenPostings(), 0);
    }
};

QTEST_MAIN(TestWindowPosting)
#include "tst_frmrimdal_posting.moc"
