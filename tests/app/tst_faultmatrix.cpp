// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal.h"
#include "keys.h"
#include "pgproxy.h"
#include "sqlstore.h"
#include "storeopen.h"
#include "tool.h"
#include "windowfixture.h"

#include <QLabel>

// Each user step on a line that is cut at each of its sync points in turn,
// before the batch reaches the server or after, its answer lost: what the
// person is told matches what the store holds, the server keeps no
// transaction and no lock of the workstation, and the next step works.
class TestFaultMatrix : public QObject
{
    Q_OBJECT

    enum Step { Start, Selection, Post, ToolPost, History, Standards };

    struct Quiet final : quorstore::TConsole {
        void out(const QByteArray&) override {}
        void err(const QByteArray&) override {}
    };

    // One run of the step; false when it reported a failure. A posting that
    // reports none must be kept, one that failed must have kept nothing.
    static bool runStep(WindowFixture& f, int step, const QString& address)
    {
        Quiet console;
        auto tool = [&](QStringList args) {
            args.prepend(address);
            args.prepend("--store");
            args.prepend("quorstore");
            const int status = quorstore::run(args, console);
            if (status != quorstore::Ok && status != quorstore::StoreFailed)
                qWarning("exit status %d", status);
            return status;
        };
        const qsizetype before = f.reports.reports.size();
        switch (step) {
        case Start:
            f.open();
            break;
        case Selection: {
            TQuorStdComboBox* list = f.combo("cmbImport");
            QTest::keyClick(list, list->currentIndex() == 0 ? Qt::Key_End : Qt::Key_Home);
            break;
        }
        case Post:
            f.post();
            // The refill after the posting reports its own failure.
            return !f.reports.methods().mid(before).contains("TfrmRimdal.acBuchenExecute");
        case ToolPost:
            return tool({"post", "IMPORT=Beta", "EXPORT=Gamma", "BRIEF=Delta"}) == quorstore::Ok;
        case History:
            return tool({"history"}) == quorstore::Ok;
        case Standards:
            return tool({"standards"}) == quorstore::Ok;
        }
        return f.reports.reports.size() == before;
    }

    static bool posted(TestStore& db)
    {
        return db.find(standardKey("IMPORT"))->kurzbeschreibung == "Kurz Beta" &&
               db.find(standardKey("EXPORT"))->kurzbeschreibung == "Kurz Gamma" &&
               db.find(standardKey("BRIEF"))->kurzbeschreibung == "Kurz Delta";
    }

    // What the server holds for this program besides the checker itself.
    static QByteArray leftBehind(TestStore& db)
    {
        return db.value(
            "SELECT (SELECT count(*) FROM pg_stat_activity WHERE application_name LIKE "
            "'tst_faultmatrix@%' AND state <> 'idle' AND pid <> pg_backend_pid())::text || '/' || "
            "(SELECT count(*) FROM pg_locks WHERE locktype = 'advisory')::text");
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("QUOR_TEST_PG_DIR"))
            QSKIP("no PostgreSQL test cluster (QUOR_TEST_PG_DIR)");
    }

    void everyStepAtEveryCut_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("cut");
        const char* names[] = {"window start",   "selection change", "F5 three types",
                               "quorstore post", "history",          "standards"};
        for (int step = Start; step <= Standards; ++step)
            for (const auto& [cut, when] : {std::pair{PgProxy::Cut::Before, "before"},
                                            std::pair{PgProxy::Cut::After, "after"}})
                QTest::addRow("%s, cut %s", names[step], when) << step << int(cut);
    }

    void everyStepAtEveryCut()
    {
        QFETCH(int, step);
        QFETCH(int, cut);
        const QString socket = PgProxy::testClusterSocket();
        int points = 0;
        for (int n = 1;; ++n) {
            WindowFixture f;
            f.db.seedSmallShop();
            PgProxy proxy(socket);
            const QString address = proxy.address(f.db.path());
            f.db.reachThrough(address);
            if (step != Start && step < ToolPost)
                QVERIFY(f.open());
            if (step == Post) {
                QVERIFY(f.choose("cmbImport", "Beta"));
                QVERIFY(f.choose("cmbExport", "Gamma"));
                QVERIFY(f.choose("cmbBrief", "Delta"));
            }
            if (step == History)
                QCOMPARE(runStep(f, ToolPost, address), true);
            proxy.cutAt(n, PgProxy::Cut(cut));
            const bool done = runStep(f, step, address);
            // A reader's commit is on its way when the step returns.
            QTRY_COMPARE(leftBehind(f.db), QByteArray("0/0"));
            if (!proxy.cut()) {
                QVERIFY2(done, qPrintable(f.reports.reports.value(0).second));
                break;
            }
            ++points;
            const QByteArray at = QByteArray::number(n);
            if (step == Post || step == ToolPost)
                QVERIFY2(posted(f.db) == done, at.constData());
            else if (step == Start || step == Selection)
                QVERIFY2(!posted(f.db), at.constData());
            // The next step works.
            const bool again = runStep(f, step == Start ? Post : step, address);
            QVERIFY2(again, qPrintable(at + ": " + f.reports.reports.value(0).second));
            if (step == Post || step == ToolPost)
                QVERIFY(posted(f.db));
            QTRY_COMPARE(leftBehind(f.db), QByteArray("0/0"));
        }
        QVERIFY(points > 0);
        qInfo("%d cut points", points);
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
