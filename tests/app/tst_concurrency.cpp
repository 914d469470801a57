#include "keys.h"
#include "teststore.h"

#include "formstoretext.h"
#include "sqlstore.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

// Several workstations post and read the same store at once.
class TestConcurrency : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void postingsAtOnceLeaveOneWholeCopyPerType()
    {
        TestStore db;
        db.putPosterSettings(2000);
        const int posters = 4, postings = 75, readers = 2, reads = 150;
        QList<QProcess*> processes;
        for (int i = 0; i < posters + readers; ++i) {
            auto* process = new QProcess(this);
            const bool post = i < posters;
            process->start(QStringLiteral(POSTER_BIN),
                           {post ? "post" : "read", db.path(),
                            QString::number(post ? postings : reads), QString::number(1000 + i)});
            processes << process;
        }
        int done = 0, failed = 0, readsDone = 0;
        for (int i = 0; i < processes.size(); ++i) {
            QProcess* process = processes[i];
            QVERIFY(process->waitForFinished(240000));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
            const QString out = QString::fromUtf8(process->readAllStandardOutput());
            const auto match = QRegularExpression("done=(\\d+) failed=(\\d+)").match(out);
            QVERIFY2(match.hasMatch(), qPrintable(out));
            const QByteArray errors = process->readAllStandardError();
            // Every failure is reported, and none is a half copy seen by a reader.
            QCOMPARE(errors.count('\n'), match.captured(2).toInt());
            QVERIFY2(!errors.contains("halbe Kopie"), errors.constData());
            if (i < posters) {
                done += match.captured(1).toInt();
                failed += match.captured(2).toInt();
            } else {
                readsDone += match.captured(1).toInt();
            }
        }
        QCOMPARE(done + failed, posters * postings);
        QVERIFY2(failed <= posters * postings / 10, qPrintable(QString::number(failed)));
        qInfo("%d postings, %d failed with a report, %d checked reads", done, failed, readsDone);

        int copies = 0;
        for (const TStoreRow& row : db.all()) {
            if (row.key[1] != keys::Rimdal || row.key[2] == keys::Rimdal)
                continue;
            ++copies;
            const QString source = row.kurzbeschreibung.mid(5);
            QCOMPARE(db.blob(row.key), db.blob(namedKey(source)));
        }
        QCOMPARE(copies, 3);
    }

    // A posting process killed at any moment leaves every standard copy and the
    // assignment entry whole: old or new, never half written.
    void killedPostingsLeaveNothingHalfWritten()
    {
        TestStore db;
        if (db.isPostgres())
            QSKIP("the server finishes or undoes a dead client's transaction by itself");
        const int repeat = 100000; // texts of about 1 MB make kills land inside writes
        db.putPosterSettings(repeat);
        QRandomGenerator random(4711);
        int kills = 0;
        for (int round = 0; round < 100; ++round) {
            QProcess poster;
            poster.start(
                QStringLiteral(POSTER_BIN),
                {"post", db.path(), "1000", QString::number(round), QString::number(repeat)});
            QVERIFY(poster.waitForStarted());
            QTest::qWait(30 + random.bounded(250));
            if (poster.state() == QProcess::Running) {
                ::kill(poster.processId(), SIGKILL);
                ++kills;
            }
            poster.waitForFinished();
        }
        // The database's own check, then every copy and the assignment entry.
        {
            const auto rows = dynamic_cast<TSqlStore&>(db.store()).query("PRAGMA integrity_check");
            QVERIFY(rows->next());
            QCOMPARE(rows->column(0).toByteArray(), QByteArray("ok"));
        }

        int copies = 0;
        for (const TStoreRow& row : db.all()) {
            if (row.key[1] != keys::Rimdal || row.key[2] == keys::Rimdal)
                continue;
            ++copies;
            QVERIFY(row.kurzbeschreibung.startsWith("kurz S"));
            QCOMPARE(db.blob(row.key), db.blob(namedKey(row.kurzbeschreibung.mid(5))));
        }
        QVERIFY(copies >= 1);
        const TFormProperties entry = parseFormStoreBlob(db.blob(assignmentKey()));
        const TStringList* lines = findFormProperty(entry, "scStanBez.Items");
        QVERIFY(lines);
        for (const QString& line : lines->Lines())
            QVERIFY2(QRegularExpression("^(IMPORT|EXPORT|BRIEF)=S[0-4]$").match(line).hasMatch(),
                     qPrintable(line));
        qInfo("%d kills, %d standard copies whole, assignment entry whole", kills, copies);
    }
};

QTEST_GUILESS_MAIN(TestConcurrency)
#include "tst_concurrency.moc"
