// SPDX-License-Identifier: GPL-3.0-or-later
#include "formstoretext.h"
#include "journal.h"
#include "keys.h"
#include "pgstore.h"
#include "quorexception.h"
#include "sqlstore.h"
#include "storeopen.h"
#include "tool.h"
#include "windowfixture.h"

#include <QLabel>
#include <QTemporaryDir>

// On a branch office's slow line each round trip to the server is what a
// person waits for: each step of the window and of the tool is held to the
// round trips it takes now, so that no change adds one unnoticed. A change
// that saves some lowers the figure here.
class TestRoundTrips : public QObject
{
    Q_OBJECT

    struct Quiet final : quorstore::TConsole {
        void out(const QByteArray&) override {}
        void err(const QByteArray&) override {}
    };

    // Round trips of one step, the connection already made.
    template <typename Step> static quint64 roundTrips(Step&& step)
    {
        const quint64 before = postgresRoundTrips();
        step();
        return postgresRoundTrips() - before;
    }

    static bool openSeeded(WindowFixture& f)
    {
        f.db.seedSmallShop();
        return f.open();
    }

private Q_SLOTS:
    // What goes along with another statement keeps its effect: the statement
    // timeout holds inside every transaction and outlives none (behind a
    // pooler the session is another program's next), and a release sent late
    // keeps the savepoint's write.
    void mergedStatementsKeepTheirEffect()
    {
        TestStore db;
        if (!db.isPostgres())
            QSKIP("round trips are a server's matter");
        auto store = openStore(db.path());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, inStoreAccess(
                                                         *store,
                                                         [&] {
                                                             store->insert(namedKey("A"), "k", "x");
                                                             throw std::runtime_error("nein");
                                                         },
                                                         TAccess::Write));
        auto& sql = dynamic_cast<TSqlStore&>(*store);
        auto timeout = [&] {
            const auto rows = sql.query("SHOW statement_timeout");
            return rows->next() ? rows->column(0).toByteArray() : QByteArray();
        };
        inStoreAccess(*store, [&] { QCOMPARE(timeout(), QByteArray("12s")); });
        QCOMPARE(timeout(), QByteArray("0"));
        inStoreAccess(
            *store,
            [&] {
                inStoreAccess(
                    *store, [&] { store->insert(namedKey("B"), "k", "x"); }, TAccess::Write);
                store->insert(namedKey("C"), "k", "x");
            },
            TAccess::Write);
        QVERIFY(db.find(namedKey("B")) && db.find(namedKey("C")) && !db.find(namedKey("A")));
        // Writes waiting to go with the commit of a transaction that asked
        // nothing before: its BEGIN goes with them, not dropped with them.
        inStoreAccess(
            *store,
            [&] {
                store->sendWritesAhead();
                store->insert(namedKey("D"), "k", "x");
            },
            TAccess::Write);
        QVERIFY(db.find(namedKey("D")));
    }

    // A write refused where writes go with the commit: the commit fails,
    // nothing of the transaction is kept, the store says why, and the next
    // writing transaction starts clean.
    void refusedWriteSentAheadKeepsNothing()
    {
        TestStore db;
        if (!db.isPostgres())
            QSKIP("writes are sent ahead to a server only");
        db.sql("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN IF "
               "NEW.bezeichnung = 'B' THEN RAISE EXCEPTION 'abgelehnt'; END IF; RETURN NEW; END$$");
        db.sql("CREATE TRIGGER refuse BEFORE INSERT ON einstellungen FOR EACH ROW "
               "EXECUTE FUNCTION refuse()");
        auto store = openStore(db.path());
        auto writeAll = [&] {
            store->sendWritesAhead();
            for (const char* name : {"A", "B", "C"})
                inStoreAccess(
                    *store, [&] { store->insert(namedKey(name), "k", "x"); }, TAccess::Write);
        };
        QVERIFY_THROWS_EXCEPTION(EQuorStoreError, inStoreAccess(*store, writeAll, TAccess::Write));
        QVERIFY(store->writesAheadFailed());
        QVERIFY(!db.find(namedKey("A")) && !db.find(namedKey("C")));
        // The readers after it end as readers do: the refusal was the posting's.
        for (int i = 0; i < 2; ++i)
            inStoreAccess(*store, [&] { QVERIFY(!store->find(namedKey("A"))); });
        inStoreAccess(
            *store, [&] { store->insert(namedKey("D"), "k", "x"); }, TAccess::Write);
        QVERIFY(!store->writesAheadFailed());
        QVERIFY(db.find(namedKey("D")));
    }

    // A step that only reads leaves no transaction open on the server, though
    // its commit is not waited for: no snapshot stays held while the window
    // waits for the person.
    void readingLeavesNoTransactionOpen()
    {
        WindowFixture f;
        if (!f.db.isPostgres())
            QSKIP("round trips are a server's matter");
        QVERIFY(openSeeded(f));
        // Sessions of this program on this database, whichever server session
        // a pooler gave the window.
        auto leftOpen = [&] {
            return f.db.value(
                "SELECT count(*)::text FROM pg_stat_activity WHERE datname = current_database() "
                "AND application_name = current_setting('application_name') "
                "AND state LIKE 'idle in transaction%'");
        };
        QTest::keyClick(f.combo("cmbExport"), Qt::Key_Home);
        QTRY_COMPARE(leftOpen(), QByteArray("0"));
    }

    // A posting whose writes go with its commit keeps the guarantees of one
    // written step by step: a standard another program removed meanwhile is
    // made anew, not left out, and the other types' copies stay.
    void writesSentAheadKeepTheGuarantees()
    {
        WindowFixture f;
        if (!f.db.isPostgres())
            QSKIP("writes are sent ahead to a server only");
        QVERIFY(openSeeded(f));
        QVERIFY(f.choose("cmbImport", "Beta"));
        QVERIFY(f.choose("cmbExport", "Gamma"));
        // After the posting has read the standards, before its writes go.
        f.db.faults().at(FaultStore::Call::Write, 1,
                         [&] { f.db.sql("DELETE FROM einstellungen WHERE maske = 'IMPORT'"); });
        f.post();
        QVERIFY2(f.reports.reports.isEmpty(), qPrintable(f.reports.reports.value(0).second));
        QCOMPARE(f.db.find(standardKey("IMPORT"))->kurzbeschreibung, QStringLiteral("Kurz Beta"));
        QCOMPARE(f.db.find(standardKey("EXPORT"))->kurzbeschreibung, QStringLiteral("Kurz Gamma"));
        QCOMPARE(f.db.find(standardKey("BRIEF"))->kurzbeschreibung, QStringLiteral("Kurz Alpha"));
        QCOMPARE(readJournal(*f.maskfile(), QString(), 0).size(), 2);
    }

    // Each command of the tool costs the same round trips whatever the store
    // holds, past the window's first batch of a scan and with the journal
    // grown; import and restore one more per batch of writes.
    void toolCommandsWithinTheirRoundTrips_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<quint64>("expected");
        QTest::addColumn<bool>("writes");
        // standards says that a standard has drifted.
        QTest::addColumn<int>("exit");
        QTest::newRow("list") << QStringList{"list"} << quint64(2) << false << 0;
        QTest::newRow("list of a group")
            << QStringList{"list", "DEU", "VESKALO", "VESKALO"} << quint64(2) << false << 0;
        QTest::newRow("export") << QStringList{"export", "-"} << quint64(3) << false << 0;
        QTest::newRow("dump") << QStringList{"dump", "-"} << quint64(2) << false << 0;
        QTest::newRow("history") << QStringList{"history"} << quint64(2) << false << 0;
        QTest::newRow("history --limit 2")
            << QStringList{"history", "--limit", "2"} << quint64(2) << false << 0;
        QTest::newRow("standards") << QStringList{"standards"} << quint64(3) << false << 1;
        QTest::newRow("post --refresh")
            << QStringList{"post", "--refresh"} << quint64(4) << false << 0;
        QTest::newRow("import") << QStringList{"import", "SETTINGS"} << quint64(4) << true << 0;
        QTest::newRow("restore") << QStringList{"restore", "BACKUP", "--replace"} << quint64(5)
                                 << true << 0;
    }

    void toolCommandsWithinTheirRoundTrips()
    {
        QFETCH(QStringList, command);
        QFETCH(quint64, expected);
        QFETCH(bool, writes);
        QFETCH(int, exit);
        QTemporaryDir dir;
        Quiet console;
        auto trips = [&](int settings, int entries) {
            TestStore db;
            const QString file = dir.filePath("settings.json");
            const QString backup = dir.filePath("backup.json");
            QFile out(file);
            out.open(QIODevice::WriteOnly | QIODevice::Truncate);
            out.write(settingsFileText(settings));
            out.close();
            const QStringList store{"quorstore", "--store", db.path()};
            int status = quorstore::run(store + QStringList{"import", file}, console);
            // Three standards, one of them drifted from its setting since.
            status += quorstore::run(
                store + QStringList{"post", "IMPORT=S1", "EXPORT=S2", "BRIEF=S3"}, console);
            db.put(namedKey("S2"), "Kurz", "geändert");
            db.putJournalEntries("IMPORT", 1, entries);
            status += quorstore::run(store + QStringList{"dump", backup}, console);
            QStringList args = command;
            args.replaceInStrings(QStringLiteral("SETTINGS"), file);
            args.replaceInStrings(QStringLiteral("BACKUP"), backup);
            const quint64 count =
                roundTrips([&] { status += quorstore::run(store + args, console); });
            return status == exit ? count : 0;
        };
        if (!TestStore().isPostgres())
            QSKIP("round trips are a server's matter");
        const quint64 few = trips(10, 3);
        QCOMPARE(few, expected);
        QCOMPARE(trips(300, 40), few);
        // 2,100 records: two more batches of writes, and for import one more
        // of the names the store holds.
        if (writes)
            QVERIFY(trips(2100, 3) <= few + 2100 / kWriteBatch + 1);
    }

    void stepsWithinTheirRoundTrips()
    {
        WindowFixture f;
        if (!f.db.isPostgres())
            QSKIP("round trips are a server's matter");
        f.db.seedSmallShop();

        QCOMPARE(roundTrips([&] { QVERIFY(f.open()); }), 2u);
        QCOMPARE(f.combo("cmbImport")->currentText(), keys::Standard);

        TQuorStdComboBox* list = f.combo("cmbImport");
        list->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(list->hasFocus());
        QCOMPARE(roundTrips([&] { QTest::keyClick(list, Qt::Key_Home); }), 1u);
        QCOMPARE(f.bezText(), QStringLiteral("Alpha"));

        QVERIFY(f.choose("cmbExport", "Beta"));
        QVERIFY(f.choose("cmbBrief", "Gamma"));
        QVERIFY(f.choose("cmbImport", "Delta"));
        QCOMPARE(roundTrips([&] { f.post(); }), 3u);
        QVERIFY(f.reports.reports.isEmpty());
        QCOMPARE(f.db.find(standardKey("BRIEF"))->kurzbeschreibung, QStringLiteral("Kurz Gamma"));

        Quiet console;
        QCOMPARE(roundTrips([&] {
                     QCOMPARE(quorstore::run(
                                  {"quorstore", "--store", f.db.path(), "post", "EXPORT", "Delta"},
                                  console),
                              0);
                 }),
                 3u);
    }
};

QTEST_MAIN(TestRoundTrips)
#include "tst_roundtrips.moc"
