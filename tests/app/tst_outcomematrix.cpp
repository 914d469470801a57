// SPDX-License-Identifier: GPL-3.0-or-later
#include "keys.h"
#include "pgproxy.h"
#include "pgstore.h"
#include "tool.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <future>

// A posting whose line fails at each answer the server sends (cut, late past
// the stall limit, still for good, doubled, or gone on the program's side
// alone), or whose server fails while its writer's COMMIT is on its way:
// what the person is told matches what the store holds, the same posting
// then works, and the server keeps no transaction and no lock of the program.
class TestOutcomeMatrix : public QObject
{
    Q_OBJECT

    enum Step { ToolPost, WindowPost, Refresh };
    enum ServerFault { NoServerFault, Terminate, RestartFast, RestartImmediate };

    static constexpr int kStallMs = 1000;
    static constexpr int kWithholdMs = 1500;

    struct Console final : quorstore::TConsole {
        QByteArray said;
        void out(const QByteArray&) override {}
        void err(const QByteArray& bytes) override { said += bytes; }
    };

    // One run of the step, its outcome as the tool's exit status (the
    // window's report of the posting told as the tool tells it), and what
    // it said of it.
    static std::pair<int, QByteArray> runStep(WindowFixture& f, int step, const QString& address)
    {
        if (step == WindowPost) {
            const qsizetype before = f.reports.reports.size();
            f.post();
            // The refill after the posting reports its own failure.
            for (qsizetype i = before; i < f.reports.reports.size(); ++i) {
                if (f.reports.reports[i].first != "TfrmRimdal.acBuchenExecute")
                    continue;
                const TStoreFailure kind = f.reports.kinds[i];
                const bool unknown =
                    kind == TStoreFailure::OutcomeUnknown || kind == TStoreFailure::AwaitingStandby;
                return {unknown ? quorstore::Unconfirmed : quorstore::StoreFailed,
                        f.reports.reports[i].second.toUtf8()};
            }
            return {quorstore::Ok, {}};
        }
        Console console;
        QStringList args{"quorstore", "--store", address, "post"};
        args += step == Refresh ? QStringList{"--refresh"}
                                : QStringList{"IMPORT=Beta", "EXPORT=Gamma", "BRIEF=Delta"};
        const int status = quorstore::run(args, console);
        return {status, console.said};
    }

    // The short descriptions of the three standards, the posting's copies.
    static QStringList standards(TestStore& db)
    {
        QStringList shown;
        for (const char* type : {"IMPORT", "EXPORT", "BRIEF"})
            shown << db.find(standardKey(type))->kurzbeschreibung;
        return shown;
    }

    static QByteArray programSessions()
    {
        return "application_name LIKE '" + QCoreApplication::applicationName().toUtf8() +
               "@%' AND pid <> pg_backend_pid()";
    }

    // What the server holds for this program besides the checker itself.
    static QByteArray leftBehind(TestStore& db)
    {
        return db.value("SELECT (SELECT count(*) FROM pg_stat_activity WHERE " + programSessions() +
                        " AND state <> 'idle')::text || '/' || "
                        "(SELECT count(*) FROM pg_locks WHERE locktype = 'advisory')::text");
    }

    // While the proxy holds the writer's COMMIT back: the server fails, then
    // the COMMIT goes on. What went wrong, empty when nothing did.
    static QString failServer(PgProxy& proxy, TestStore& db, int fault, PgProxy::Hold hold)
    {
        if (!proxy.waitForHold(30000))
            return QStringLiteral("no writer's COMMIT came");
        // Held after the COMMIT: it has run once the writers' lock is free.
        for (int i = 0; hold == PgProxy::Hold::SyncAfterCommit && i < 500; ++i) {
            if (db.value("SELECT count(*)::text FROM pg_locks WHERE locktype = 'advisory'") == "0")
                break;
            QThread::msleep(10);
        }
        QString failure;
        if (fault == Terminate) {
            db.value("SELECT count(pg_terminate_backend(pid))::text FROM pg_stat_activity WHERE " +
                     programSessions());
        } else {
            const QStringList args{"restart", qEnvironmentVariable("QUOR_TEST_PG_DIR"),
                                   qEnvironmentVariable("QUOR_TEST_PG_PORT"),
                                   fault == RestartFast ? "fast" : "immediate"};
            if (QProcess::execute(QStringLiteral(PGCLUSTER), args) != 0)
                failure = QStringLiteral("the cluster did not restart");
        }
        proxy.release();
        return failure;
    }

    QElapsedTimer m_clock;
    QMap<int, int> m_messages;
    int m_faults = 0;
    int m_lineCases = 0;
    int m_serverCases = 0;

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("QUOR_TEST_PG_DIR"))
            QSKIP("no PostgreSQL test cluster (QUOR_TEST_PG_DIR)");
        setPostgresStallLimit(kStallMs);
        m_clock.start();
    }

    void cleanupTestCase()
    {
        QStringList messages;
        for (int count : std::as_const(m_messages))
            messages << QString::number(count);
        qInfo("%lld steps x %s messages x %d line faults: %d cases; %d server faults at the "
              "COMMIT; in %lld s",
              qlonglong(m_messages.size()), qPrintable(messages.join(QLatin1Char('/'))), m_faults,
              m_lineCases, m_serverCases, m_clock.elapsed() / 1000);
    }

    void outcomeMatchesStore_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("lineFault");
        QTest::addColumn<int>("serverFault");
        QTest::addColumn<int>("hold");
        const char* steps[] = {"quorstore post", "F5 three types", "quorstore post --refresh"};
        const char* serverFaults[] = {"", "session ended", "fast restart", "immediate restart"};
        const char* holds[] = {"before the COMMIT", "after the COMMIT"};
        const char* lineFaults[] = {"cut", "withheld, then resumed", "withheld for good",
                                    "half open", "doubled"};
        m_faults = int(std::size(lineFaults));
        for (int fault = Terminate; fault <= RestartImmediate; ++fault)
            for (int hold = 0; hold < 2; ++hold)
                for (int step = ToolPost; step <= Refresh; ++step)
                    QTest::addRow("%s, %s %s", steps[step], serverFaults[fault], holds[hold])
                        << step << 0 << fault << hold;
        // The refresh posts through the same writer as the tool's posting, after
        // more reads: it meets each of its messages cut; the other line faults
        // are met at every message by the two other steps.
        const int lastStep =
            qEnvironmentVariable("QUOR_TEST_MATRIX") == "sample" ? ToolPost : Refresh;
        for (int fault = 0; fault < m_faults; ++fault)
            for (int step = ToolPost; step <= lastStep; ++step)
                if (step != Refresh || fault == int(PgProxy::Fault::Cut))
                    QTest::addRow("%s, %s", steps[step], lineFaults[fault])
                        << step << fault << int(NoServerFault) << 0;
    }

    void outcomeMatchesStore()
    {
        QFETCH(int, step);
        QFETCH(int, lineFault);
        QFETCH(int, serverFault);
        QFETCH(int, hold);
        const QString socket = PgProxy::testClusterSocket();
        const QStringList before{step == Refresh ? "veraltet" : "Kurz Alpha", "Kurz Alpha",
                                 "Kurz Alpha"};
        const QStringList chosen = step == Refresh
                                       ? QStringList(3, "Kurz Alpha")
                                       : QStringList{"Kurz Beta", "Kurz Gamma", "Kurz Delta"};
        for (int n = 1;; ++n) {
            WindowFixture f;
            f.db.seedSmallShop();
            PgProxy proxy(socket);
            const QString address = proxy.address(f.db.path());
            f.db.reachThrough(address);
            if (step == WindowPost) {
                QVERIFY(f.open());
                QVERIFY(f.choose("cmbImport", "Beta"));
                QVERIFY(f.choose("cmbExport", "Gamma"));
                QVERIFY(f.choose("cmbBrief", "Delta"));
            }
            if (step == Refresh)
                f.db.putStandardCopy("IMPORT", "veraltet", f.db.blob(namedKey("Alpha")));
            std::future<QString> server;
            if (serverFault != NoServerFault) {
                proxy.holdAt(PgProxy::Hold(hold));
                server = std::async(std::launch::async, failServer, std::ref(proxy), std::ref(f.db),
                                    serverFault, PgProxy::Hold(hold));
            } else {
                proxy.faultAt(n, PgProxy::Fault(lineFault), kWithholdMs);
            }
            const auto [status, said] = runStep(f, step, address);
            if (server.valid())
                QCOMPARE(server.get(), QString());
            // The answers to a reader's commit, never waited for, may come after the step.
            for (int seen = -1; seen != proxy.answerEnds();) {
                seen = proxy.answerEnds();
                QTest::qWait(20);
            }
            if (serverFault == NoServerFault && !proxy.faulted()) {
                QVERIFY2(status == quorstore::Ok, said.constData());
                m_messages[step] = std::max(m_messages.value(step), n - 1);
                break;
            }
            ++(serverFault == NoServerFault ? m_lineCases : m_serverCases);
            const QStringList held = standards(f.db);
            const QByteArray at = "at " + QByteArray::number(n) + ", status " +
                                  QByteArray::number(status) + ": " + said + "; held " +
                                  held.join(", ").toUtf8();
            if (status == quorstore::Unconfirmed) {
                QVERIFY2(serverFault == RestartImmediate, at.constData());
                qInfo("not known %s", at.constData());
                QVERIFY2(held == chosen || held == before, at.constData());
            } else {
                QVERIFY2(status == quorstore::Ok || status == quorstore::StoreFailed,
                         at.constData());
                QVERIFY2(held == (status == quorstore::Ok ? chosen : before), at.constData());
            }
            // The next posting goes on a line that works again.
            QTRY_VERIFY(!proxy.withholding());
            const auto [again, saidAgain] = runStep(f, step, address);
            QVERIFY2(again == quorstore::Ok, (at + "; again: " + saidAgain).constData());
            QCOMPARE(standards(f.db), chosen);
            QTRY_COMPARE(leftBehind(f.db), QByteArray("0/0"));
            if (serverFault != NoServerFault)
                break;
        }
    }
};

QTEST_MAIN(TestOutcomeMatrix)
#include "tst_outcomematrix.moc"
