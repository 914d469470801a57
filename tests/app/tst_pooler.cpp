// SPDX-License-Identifier: GPL-3.0-or-later
#include "keys.h"
#include "pgproxy.h"
#include "pgstore.h"
#include "quorexception.h"
#include "sqlstore.h"
#include "storeopen.h"
#include "tool.h"
#include "windowfixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <atomic>
#include <thread>

// The store behind a connection pooler in transaction pooling, as a chain
// runs its server: the server session is another program's after each
// transaction, and one may end under the tool without its connection ending.
class TestPooler : public QObject
{
    Q_OBJECT

    struct Console final : quorstore::TConsole {
        QByteArray said;
        void out(const QByteArray& bytes) override { said += bytes; }
        void err(const QByteArray& bytes) override { said += bytes; }
    };

    // Ends the server sessions of the store's database, past the pooler.
    static void endServerSessions(TestStore& db, const QString& which = QStringLiteral("true"))
    {
        db.serverSql(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                    "WHERE datname = '%1' AND %2")
                         .arg(db.name(), which));
    }

    // The server session a store's connection is on now.
    static int serverSession(TStoreBackend& store)
    {
        const auto rows = dynamic_cast<TSqlStore&>(store).query("SELECT pg_backend_pid()::text");
        return rows->next() ? rows->column(0).toByteArray().toInt() : 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("QUOR_TEST_POOLER"))
            QSKIP("no connection pooler in front of the test cluster (QUOR_TEST_POOLER)");
    }

    // After the window and the tool have posted, another client of the pool
    // finds the server's own settings on every server session of the pool.
    void toolSettingsStayInTheirTransaction()
    {
        WindowFixture f;
        f.db.seedSmallShop();
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbExport", "Beta"));
        f.post();
        QVERIFY(f.reports.reports.isEmpty());
        Console console;
        QCOMPARE(quorstore::run({"quorstore", "--store", f.db.path(), "post", "BRIEF", "Gamma"},
                                console),
                 0);
        // Two clients in a transaction at once hold both server sessions of
        // the pool.
        const QString shown = QStringLiteral(
            "BEGIN; SHOW statement_timeout; SHOW lock_timeout; SELECT pg_sleep(0.5); COMMIT");
        QList<QProcess*> clients;
        for (int i = 0; i < 2; ++i) {
            auto* psql = new QProcess(this);
            psql->start("psql", {"-X", "-A", "-t", "-q", "-v", "ON_ERROR_STOP=1", "-d", f.db.path(),
                                 "-c", shown});
            clients << psql;
        }
        for (QProcess* psql : clients) {
            QVERIFY(psql->waitForFinished(30000));
            QCOMPARE(psql->exitCode(), 0);
            QCOMPARE(psql->readAllStandardOutput(), QByteArray("0\n0\n\n"));
        }
    }

    // A server session ended under the pooler: between two steps nobody
    // notices; inside a posting the posting fails as not kept, holds no lock,
    // and the next one works.
    void serverSessionEndedUnderThePooler()
    {
        TestStore db;
        db.seedSmallShop();
        auto& store = db.store();
        endServerSessions(db);
        QCOMPARE(db.find(standardKey("IMPORT"))->kurzbeschreibung, QStringLiteral("Kurz Alpha"));

        const TStoreKey key = namedKey("Neu");
        try {
            inStoreAccess(
                store,
                [&] {
                    store.insert(key, "k", "x");
                    const auto rows =
                        dynamic_cast<TSqlStore&>(store).query("SELECT pg_backend_pid()::text");
                    QVERIFY(rows->next());
                    endServerSessions(db, "pid = " + QString::fromLatin1(rows->column(0)));
                    store.insert(namedKey("Zwei"), "k", "x");
                },
                TAccess::Write);
            QFAIL("the posting went on on another server session");
        } catch (const EQuorStoreError& e) {
            // Lost before its commit went, or learned lost after it.
            QVERIFY2(e.Kind() == TStoreFailure::ConnectionLost ||
                         e.Kind() == TStoreFailure::TransactionLost,
                     qPrintable(e.Message()));
        }
        QVERIFY(!db.find(key));
        QCOMPARE(db.value("SELECT count(*)::text FROM pg_locks WHERE locktype = 'advisory'"),
                 QByteArray("0"));
        inStoreAccess(
            store, [&] { store.insert(key, "k", "x"); }, TAccess::Write);
        QVERIFY(db.find(key));
    }

    // The answer to a posting's COMMIT does not reach it, while the pooler
    // has handed the server session the posting used to a second
    // workstation of the same program, in the middle of a posting of its
    // own. Learning the first posting's outcome never ends the second one's
    // transaction: both stand, and the first is reported as kept.
    void lostCommitAnswerSparesTheNextPoster()
    {
        TestStore db;
        setPostgresStallLimit(2000);
        const auto stallBack = qScopeGuard([] { setPostgresStallLimit(15000); });
        static const QRegularExpression pooler(QStringLiteral("host=(\\S+) port=(\\d+)"));
        const auto where = pooler.match(qEnvironmentVariable("QUOR_TEST_POOLER"));
        QVERIFY(where.hasMatch());
        PgProxy proxy(PgProxy::socketOf(where.captured(1), where.captured(2)));
        const auto first =
            openStore(QStringLiteral("host=127.0.0.1 port=%1 dbname=%2 user=postgres "
                                     "sslmode=disable gssencmode=disable")
                          .arg(proxy.port())
                          .arg(db.name()));
        const auto second = openStore(db.path());
        // Past the pooler: the server's own list of its sessions.
        const auto server = openStore(qEnvironmentVariable("QUOR_TEST_PG"), TOpen::Create);
        const TStoreKey firstKey = namedKey("Erste"), secondKey = namedKey("Zweite");
        std::atomic<int> firstSession{0};
        std::atomic<bool> firstDone{false};
        int secondSession = 0;
        QString secondFailure;
        std::thread poster([&] {
            try {
                // Once the first posting's commit has run and its server
                // session is free, the pool's most recently freed one.
                auto state = [&] {
                    const auto rows = dynamic_cast<TSqlStore&>(*server).query(
                        "SELECT coalesce(state, '') FROM pg_stat_activity WHERE pid = " +
                        QByteArray::number(firstSession.load()));
                    QByteArray value = rows->next() ? rows->column(0).toByteArray() : "";
                    while (rows->next()) {
                    }
                    return value;
                };
                for (int i = 0; i < 600 && (firstSession == 0 || state() != "idle"); ++i)
                    QThread::msleep(50);
                inStoreAccess(
                    *second,
                    [&] {
                        second->insert(secondKey, "k", "x");
                        // It waits for the first posting's outcome, never ended for it.
                        dynamic_cast<TSqlStore&>(*second).execute(
                            "SELECT set_config('idle_in_transaction_session_timeout', '0', true)");
                        secondSession = serverSession(*second);
                        while (!firstDone)
                            QThread::msleep(50);
                    },
                    TAccess::Write);
            } catch (const EQuorStoreError& e) {
                secondFailure = e.Message();
            }
        });
        const auto joined = qScopeGuard([&] {
            firstDone = true;
            if (poster.joinable())
                poster.join();
        });
        QString firstFailure;
        try {
            inStoreAccess(
                *first,
                [&] {
                    first->insert(firstKey, "k", "x");
                    firstSession = serverSession(*first);
                    proxy.freeze(true);
                },
                TAccess::Write);
        } catch (const EQuorStoreError& e) {
            firstFailure = e.Message();
        }
        firstDone = true;
        poster.join();
        QVERIFY2(secondSession == firstSession,
                 "the pooler gave the second posting another server session");
        QVERIFY2(secondFailure.isEmpty(), qPrintable(secondFailure));
        QVERIFY(db.find(secondKey));
        QVERIFY2(firstFailure.isEmpty(), qPrintable(firstFailure));
        QVERIFY(db.find(firstKey));
    }

    // A commit caught waiting for a standby behind the pooler is reported as
    // such: the session asked about is the server session of the posting's
    // transaction, not the one the connection began with.
    void standbyWaitBehindThePooler()
    {
        TestStore db;
        db.seedSmallShop();
        db.serverSql(
            QStringLiteral("ALTER DATABASE %1 SET synchronous_commit = on").arg(db.name()));
        endServerSessions(db);
        auto standby = [&](const char* names) {
            db.serverSql(
                QStringLiteral("ALTER SYSTEM SET synchronous_standby_names = '%1'").arg(names));
            db.serverSql("SELECT pg_reload_conf()");
        };
        standby("ghost");
        Console console;
        const int status =
            quorstore::run({"quorstore", "--store", db.path(), "post", "EXPORT", "Beta"}, console);
        standby("");
        QVERIFY2(status == quorstore::Unconfirmed, console.said.constData());
        QTRY_COMPARE(db.find(standardKey("EXPORT"))->kurzbeschreibung, QStringLiteral("Kurz Beta"));
    }
};

QTEST_MAIN(TestPooler)
#include "tst_pooler.moc"
