#include "maskfile.h"
#include "quorexception.h"
#include "teststore.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

class TestStoreFaults : public QObject {
    Q_OBJECT

    // The store named in the message, and a German message at that.
    static void expectStoreError(const std::function<void()>& action, const QString& file,
                                 const QString& words)
    {
        try {
            action();
            QFAIL("no failure reported");
        } catch (const EQuorStoreError& e) {
            QVERIFY2(e.Message().contains(file), qPrintable(e.Message()));
            QVERIFY2(e.Message().contains(words), qPrintable(e.Message()));
            QCOMPARE(e.Store(), file);
        }
    }

private Q_SLOTS:
    void missingFolder()
    {
        const QString file = QStringLiteral("/nonexistent-quor/sub/settings.sqlite");
        expectStoreError([&] { openStore(file); }, file, QStringLiteral("existiert nicht"));
    }

    void notADatabase()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("settings.sqlite");
        QFile junk(file);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'j'));
        junk.close();
        expectStoreError([&] { openStore(file); }, file, QStringLiteral("keine Einstellungsdatenbank"));
        QFile check(file);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray(4096, 'j'));
    }

    void lockedByAnotherProgram()
    {
        TestStore db;
        db.putNamedSetting("Alpha", "kurz");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "locker");
            other.setDatabaseName(db.path());
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
            Tmaskfile f;
            QElapsedTimer timer;
            timer.start();
            expectStoreError(
                [&] {
                    withAccess(f, [&] {
                        f.ResetKey();
                        f.Sprache.SetKeyWert("DEU");
                        f.Programm.SetKeyWert("VESKALO");
                        f.Maske.SetKeyWert("VESKALO");
                        f.Bezeichnung.SetKeyWert("Alpha");
                        f.Index.SetKeyWert("0");
                        f.FindEqual();
                    });
                },
                db.path(), QStringLiteral("gesperrt"));
            QVERIFY(timer.elapsed() >= 4000);
            QVERIFY(timer.elapsed() < 15000);
            QVERIFY(lock.exec("ROLLBACK"));
            lock.finish();
            other.close();
        }
        QSqlDatabase::removeDatabase("locker");
        // Once the lock is gone the next access works again.
        QVERIFY(db.find(namedKey("Alpha")));
    }

    void writeProtectedFile()
    {
        if (geteuid() == 0)
            QSKIP("root may write any file; the read-only URI case covers the store's side");
        TestStore db;
        db.putNamedSetting("Alpha", "kurz");
        QFile::setPermissions(db.path(), QFile::ReadOwner);
        auto store = openStore(db.path());
        QVERIFY(!store->canWrite());
    }
};

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_storefaults.moc"
