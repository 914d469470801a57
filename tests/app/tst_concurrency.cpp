// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "teststore.h"

#include "formstoretext.h"
#include "sqlstore.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace
{
// Copies and assignment list agree: every standard copy equals the named
// setting its type's assignment line names, and every line has its copy.
// Returns how many copies there are.
int checkStandardsAgree(TestStore& db)
{
    const TFormProperties entry =
        db.find(assignmentKey()) ? parseFormStoreBlob(db.blob(assignmentKey())) : TFormProperties();
    const TStringList* lines = findFormProperty(entry, "scStanBez.Items");
    const int lineCount = lines ? lines->Count() : 0;
    int copies = 0;
    for (const QString& type : keys::SettingTypes) {
        const auto copy = db.find(standardKey(type));
        const QString name = lines ? lines->Values(type) : QString();
        if (!copy) {
            if (!name.isEmpty())
                qWarning("%s: line %s without a copy", qPrintable(type), qPrintable(name));
            continue;
        }
        ++copies;
        // The journal's newest entry for the type tells of this very copy.
        Tmaskfile file;
        const QList<TJournalEntry> newest = readJournal(file, type, 1);
        if (copy->kurzbeschreibung != "kurz " + name ||
            db.blob(standardKey(type)) != db.blob(namedKey(name)) || newest.size() != 1 ||
            newest[0].name != name ||
            newest[0].digest != journalDigest(db.blob(standardKey(type)))) {
            qWarning("%s: copy of %s, line names %s", qPrintable(type),
                     qPrintable(copy->kurzbeschreibung), qPrintable(name));
            return -1;
        }
    }
    return lineCount == copies ? copies : -1;
}
} // namespace

// Several workstations post and read the same store at once.
class TestConcurrency : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each type has a workstation of its own and IMPORT two more; two more
    // read. Postings queue; none fails, none loses another's line.
    void postingsAtOnceLeaveOneWholeCopyPerType()
    {
        TestStore db;
        db.putPosterSettings(2000);
        const QStringList types{"IMPORT", "EXPORT", "BRIEF", "IMPORT", "IMPORT"};
        const int postings = 60, readers = 2, reads = 150;
        const int posters = int(types.size());
        QList<QProcess*> processes;
        for (int i = 0; i < posters + readers; ++i) {
            auto* process = new QProcess(this);
            const bool post = i < posters;
            QStringList args{post ? "post" : "read", db.path(),
                             QString::number(post ? postings : reads), QString::number(1000 + i)};
            if (post)
                args << "2000" << types[i];
            process->start(QStringLiteral(POSTER_BIN), args);
            processes << process;
        }
        int done = 0, readsDone = 0;
        for (int i = 0; i < processes.size(); ++i) {
            QProcess* process = processes[i];
            QVERIFY(process->waitForFinished(240000));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
            const QString out = QString::fromUtf8(process->readAllStandardOutput());
            const auto match = QRegularExpression("done=(\\d+) failed=(\\d+)").match(out);
            QVERIFY2(match.hasMatch(), qPrintable(out));
            const QByteArray errors = process->readAllStandardError();
            QVERIFY2(errors.trimmed() == "ready", errors.constData());
            QCOMPARE(match.captured(2).toInt(), 0);
            (i < posters ? done : readsDone) += match.captured(1).toInt();
        }
        QCOMPARE(done, posters * postings);
        qInfo("%d postings, %d checked reads", done, readsDone);
        QCOMPARE(checkStandardsAgree(db), 3);
    }

    // A posting process killed at any moment leaves the store as before or as
    // after the posting: copies and assignment list whole, and agreeing.
    void killedPostingsLeaveNothingHalfWritten()
    {
        TestStore db;
        if (db.isPostgres())
            QSKIP("the server finishes or undoes a dead client's transaction by itself");
        const int repeat = 100000; // texts of about 1 MB make kills land inside writes
        db.putPosterSettings(repeat);
        auto& sql = dynamic_cast<TSqlStore&>(db.store());
        QRandomGenerator random(4711);
        int kills = 0;
        for (int round = 0; round < 100; ++round) {
            QProcess poster;
            poster.start(
                QStringLiteral(POSTER_BIN),
                {"post", db.path(), "1000", QString::number(round), QString::number(repeat)});
            // The kill lands while it posts, however long a process takes to start.
            poster.setReadChannel(QProcess::StandardError);
            QVERIFY(poster.waitForReadyRead(30000));
            QTest::qWait(30 + random.bounded(250));
            if (poster.state() == QProcess::Running) {
                poster.kill();
                ++kills;
            }
            poster.waitForFinished();
            const auto rows = sql.query("PRAGMA integrity_check");
            QVERIFY(rows->next());
            QCOMPARE(rows->column(0).toByteArray(), QByteArray("ok"));
            QVERIFY2(checkStandardsAgree(db) >= 0, qPrintable(QString::number(round)));
        }
        QVERIFY(checkStandardsAgree(db) >= 1);
        qInfo("%d kills, copies and assignment list agreed after each", kills);
    }
};

QTEST_GUILESS_MAIN(TestConcurrency)
#include "tst_concurrency.moc"
