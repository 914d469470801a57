// SPDX-License-Identifier: GPL-3.0-or-later
#include "faults.h"
#include "maskfile.h"
#include "quorexception.h"
#include "storeopen.h"
#include "teststore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

class TestStoreFaults : public QObject
{
    Q_OBJECT

    // The store named in the message, the failure's kind and SQLite's code.
    static void expectStoreError(const std::function<void()>& action, const QString& file,
                                 TStoreFailure kind, int code = 0)
    {
        try {
            action();
            QFAIL("no failure reported");
        } catch (const EQuorStoreError& e) {
            QVERIFY2(e.Message().contains(file), qPrintable(e.Message()));
            QVERIFY2(e.Kind() == kind, qPrintable(e.Message()));
            QCOMPARE(e.Store(), file);
            QCOMPARE(e.Code().sqlite, code);
        }
    }

private Q_SLOTS:
    // Each report's German words, once; everywhere else failures are told by kind.
    void reportTexts_data()
    {
        QTest::addColumn<TStoreFailure>("kind");
        QTest::addColumn<TStoreStep>("step");
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("text");
        using F = TStoreFailure;
        using S = TStoreStep;
        const auto row = [](const char* name, F kind, S step, bool server, const char* text) {
            QTest::newRow(name) << kind << step << server << QString::fromUtf8(text);
        };
        row("locked file", F::Locked, S::Write, false,
            "„S“: Schreiben fehlgeschlagen. Die Datenbank ist von einem anderen Programm "
            "gesperrt.\nMeldung: D");
        row("locked server", F::Locked, S::Begin, true,
            "„S“: Zugriff kann nicht begonnen werden. Die Daten sind von einer anderen "
            "Arbeitsstation gesperrt.\nMeldung: D");
        row("read-only file", F::ReadOnly, S::Commit, false,
            "„S“: Änderungen können nicht gespeichert werden. Die Datenbank ist schreibgeschützt."
            "\nMeldung: D");
        row("read-only server", F::ReadOnly, S::Write, true,
            "„S“: Schreiben fehlgeschlagen. Die Datenbank nimmt keine Änderungen an.\nMeldung: D");
        row("full disk", F::DiskFull, S::Write, false,
            "„S“: Schreiben fehlgeschlagen. Der Datenträger ist voll.\nMeldung: D");
        row("full server", F::DiskFull, S::Write, true,
            "„S“: Schreiben fehlgeschlagen. Der Datenträger des Servers ist voll.\nMeldung: D");
        row("disk error", F::DiskError, S::Read, false,
            "„S“: Lesen der Datensätze fehlgeschlagen. Lese- oder Schreibfehler auf dem "
            "Datenträger.\nMeldung: D");
        row("damaged", F::Damaged, S::Prepare, false,
            "„S“: Abfrage kann nicht vorbereitet werden. Die Datenbankdatei ist "
            "beschädigt.\nMeldung: D");
        row("cannot open", F::Missing, S::Open, false,
            "„S“ kann nicht geöffnet werden: Die Datei kann nicht geöffnet werden.\nMeldung: D");
        row("no database", F::Missing, S::Open, true,
            "„S“ kann nicht geöffnet werden: Die Datenbank existiert nicht.\nMeldung: D");
        row("not a database", F::NotAStore, S::Open, false,
            "„S“ kann nicht geöffnet werden: Die Datei ist keine Einstellungsdatenbank.\nMeldung: "
            "D");
        row("login", F::LoginRefused, S::Open, true,
            "„S“ kann nicht geöffnet werden: Anmeldung abgelehnt: Benutzer oder Kennwort falsch."
            "\nMeldung: D");
        row("unreachable", F::Unreachable, S::Open, true,
            "„S“ kann nicht geöffnet werden: Der Datenbankserver ist nicht erreichbar.\nMeldung: "
            "D");
        row("lost", F::ConnectionLost, S::Read, true,
            "„S“: Lesen der Datensätze fehlgeschlagen. Die Verbindung zum Datenbankserver ist "
            "abgebrochen.\nMeldung: D");
        row("stalled", F::ServerStalled, S::Wait, true,
            "„S“: Keine Antwort. Der Datenbankserver antwortet nicht.\nMeldung: D");
        row("timed out", F::TimedOut, S::Read, true,
            "„S“: Lesen der Datensätze fehlgeschlagen. Der Datenbankserver hat die Anweisung nach "
            "zu langer Zeit abgebrochen.\nMeldung: D");
        row("other", F::Other, S::Write, true, "„S“: Schreiben fehlgeschlagen.\nMeldung: D");
    }
    void reportTexts()
    {
        QFETCH(TStoreFailure, kind);
        QFETCH(TStoreStep, step);
        QFETCH(bool, server);
        QFETCH(QString, text);
        const EQuorStoreError e(kind, step, server ? TStoreEngine::Server : TStoreEngine::File, "S",
                                "D");
        QCOMPARE(e.Message(), QStringLiteral("Einstellungsdatenbank ") + text);
        QCOMPARE(e.Kind(), kind);
    }

    void missingFolder()
    {
        const QString file = QStringLiteral("/nonexistent-quor/sub/settings.sqlite");
        expectStoreError([&] { openStore(file); }, file, TStoreFailure::NoFolder);
    }

    void notADatabase()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("settings.sqlite");
        QFile junk(file);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'j'));
        junk.close();
        expectStoreError([&] { openStore(file); }, file, TStoreFailure::NotAStore, SQLITE_NOTADB);
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
        expectStoreError([&] { withAccess(f, [&] {}); }, db.path(), TStoreFailure::Replaced);
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
