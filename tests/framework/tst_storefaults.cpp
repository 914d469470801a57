// SPDX-License-Identifier: GPL-3.0-or-later
#include "faults.h"
#include "maskfile.h"
#include "quorexception.h"
#include "teststore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestStoreFaults : public QObject
{
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
        expectStoreError([&] { openStore(file); }, file,
                         QStringLiteral("keine Einstellungsdatenbank"));
        QFile check(file);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray(4096, 'j'));
    }

    void storeRemovedWhileOpen()
    {
        TestStore db;
        db.putNamedSetting("Alpha", "kurz");
        Tmaskfile f;
        withAccess(f, [&] {});
        if (!QFile::remove(db.path()))
            QSKIP("Windows removes no file that a program holds open: no store vanishes there");
        expectStoreError([&] { withAccess(f, [&] {}); }, db.path(), QStringLiteral("entfernt"));
        QVERIFY(!QFile::exists(db.path()));
    }

    void diskFullDuringAWrite()
    {
        if (QStandardPaths::findExecutable("prlimit").isEmpty())
            QSKIP("no prlimit: Windows sets no file size limit by which a write could fail");
        TestStore db;
        db.putPosterSettings(100000);
        QProcess first;
        first.start(POSTER_BIN, {"post", db.path(), "6", "1", "100000"});
        QVERIFY(first.waitForFinished(60000));
        QCOMPARE(first.readAllStandardOutput().trimmed(), QByteArray("done=6 failed=0"));
        const QList<TStoreRow> before = db.all();
        QList<QByteArray> blobs;
        for (const TStoreRow& row : before)
            blobs << db.blob(row.key);

        // No file may be written past 64 KiB any more: the journal of a posting
        // and the store's own pages no longer fit.
        const qint64 limit = 65536;
        QVERIFY(QFileInfo(db.path()).size() > limit);
        QProcess full;
        full.start("prlimit", {QStringLiteral("--fsize=%1").arg(limit), POSTER_BIN, "post",
                               db.path(), "5", "7", "100000"});
        QVERIFY(full.waitForFinished(60000));
        const QByteArray output = full.readAllStandardOutput().trimmed();
        const QString errors = QString::fromUtf8(full.readAllStandardError());
        QVERIFY2(output.startsWith("done=") && !output.endsWith("failed=0"), output.constData());
        QVERIFY2(errors.contains(db.path()), qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("Datenträger")), qPrintable(errors));

        // Nothing half written: the records are exactly as before.
        const QList<TStoreRow> after = db.all();
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < after.size(); ++i) {
            QCOMPARE(after[i].key, before[i].key);
            QCOMPARE(after[i].kurzbeschreibung, before[i].kurzbeschreibung);
            QCOMPARE(db.blob(after[i].key), blobs[i]);
        }
    }

    void writeProtectedFile()
    {
        if (mayWriteAnyFile())
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
