#include "formstoretext.h"
#include "teststore.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestQuorStore : public QObject
{
    Q_OBJECT

    static int run(const QStringList& args, QByteArray* output = nullptr,
                   QByteArray* errors = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral(QUORSTORE_BIN), args);
        if (!process.waitForFinished(60000))
            return -1;
        if (output)
            *output = process.readAllStandardOutput();
        if (errors)
            *errors = process.readAllStandardError();
        return process.exitCode();
    }

    static QString write(QTemporaryDir& dir, const QByteArray& json)
    {
        const QString path = dir.filePath("import.json");
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(json);
        return path;
    }

private Q_SLOTS:
    void badImportWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("where");
        QTest::newRow("syntax") << QByteArray("{\"settings\": [\n {\"name\": \"a\",}\n]}")
                                << QByteArray("Zeile 2");
        QTest::newRow("name missing in third")
            << QByteArray(R"({"settings":[{"name":"a"},{"name":"b"},{"shortDescription":"c"}]})")
            << QByteArray("Eintrag 3");
        QTest::newRow("description not lines")
            << QByteArray(R"({"settings":[{"name":"a","description":"Text"}]})")
            << QByteArray("Eintrag 1");
        QTest::newRow("no settings list")
            << QByteArray(R"({"setting":[]})") << QByteArray("settings");
        QTest::newRow("line not text")
            << QByteArray(R"({"settings":[{"name":"a","properties":{"x.Lines":[1]}}]})")
            << QByteArray("x.Lines");
    }

    void badImportWritesNothing()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, where);
        TestStore db;
        db.putNamedSetting("vorhanden", "bleibt");
        QTemporaryDir dir;
        QByteArray errors;
        QVERIFY(run({"--store", db.path(), "import", write(dir, json)}, nullptr, &errors) != 0);
        QVERIFY2(errors.contains(where), errors.constData());
        QCOMPARE(db.all().size(), 1);
    }

    void importThenExportKeepsTheSettings()
    {
        TestStore db;
        QTemporaryDir dir;
        const QByteArray json = R"({"settings":[
            {"name":"Müller & Söhne","shortDescription":"ä","description":["a","","\tb"],
             "properties":{"edtDatei.Lines":["C:\\x"]}},
            {"name":"Zweiter","index":"1","description":[]}]})";
        QCOMPARE(run({"--store", db.path(), "import", write(dir, json)}), 0);
        QCOMPARE(db.all().size(), 2);
        QByteArray exported;
        QCOMPARE(run({"--store", db.path(), "export", "-"}, &exported), 0);
        QTemporaryDir second;
        const QString copy = second.filePath("copy.sqlite");
        QCOMPARE(run({"--store", copy, "import", write(dir, exported)}), 0);
        QByteArray again;
        QCOMPARE(run({"--store", copy, "export", "-"}, &again), 0);
        QCOMPARE(again, exported);
        QVERIFY(exported.contains("edtDatei.Lines"));
    }

    void dumpAndRestoreKeepEveryByte()
    {
        TestStore source;
        QByteArray every;
        for (int b = 0; b < 256; ++b)
            every.append(char(b));
        source.putNamedSetting("Müller & Söhne", "ä", {"x"});
        source.put({"DEU", "RIMDAL", "IMPORT", "STANDARD", "0"}, "Kopie", every);
        source.put(assignmentKey(), QString(), QByteArray());
        QTemporaryDir dir;
        const QString backup = dir.filePath("backup.json");
        QCOMPARE(run({"--store", source.path(), "dump", backup}), 0);

        QTemporaryDir other;
        const QString target = other.filePath("target.sqlite");
        QCOMPARE(run({"--store", target, "restore", backup}), 0);
        QByteArray first, second;
        QCOMPARE(run({"--store", source.path(), "dump", "-"}, &first), 0);
        QCOMPARE(run({"--store", target, "dump", "-"}, &second), 0);
        QCOMPARE(second, first);

        // A store that holds records is replaced only when told so.
        QByteArray errors;
        QVERIFY(run({"--store", target, "restore", backup}, nullptr, &errors) != 0);
        QVERIFY(errors.contains("--replace"));
        QCOMPARE(run({"--store", target, "restore", backup, "--replace"}), 0);
        QCOMPARE(run({"--store", target, "dump", "-"}, &second), 0);
        QCOMPARE(second, first);
    }

    void standardsReport()
    {
        TestStore db;
        db.put(namedKey("Quelle LF"), "Kurz A", "eins\nzwei\n");
        db.put(namedKey("Geaendert"), "Kurz neu", "neu\r\n");
        db.put(standardKey("IMPORT"), "Kurz A", "eins\r\nzwei\r\n"); // line ends aside: equal
        db.put(standardKey("EXPORT"), "Kurz alt", "neu\r\n");        // short description drifted
        db.put(standardKey("BRIEF"), "Kurz weg", "x\r\n");           // its setting is gone
        db.put(assignmentKey(), QString(),
               formStoreBlob(
                   {{"scStanBez.Items", {"IMPORT=Quelle LF", "EXPORT=Geaendert", "BRIEF=Weg"}}}));
        QByteArray output;
        QCOMPARE(run({"--store", db.path(), "standards"}, &output), 1);
        QCOMPARE(QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts),
                 (QStringList{
                     "IMPORT: Standard vorhanden, zugeordnet „Quelle LF“, Einstellung vorhanden, "
                     "stimmt überein",
                     "EXPORT: Standard vorhanden, zugeordnet „Geaendert“, Einstellung vorhanden, "
                     "weicht ab",
                     "BRIEF: Standard vorhanden, zugeordnet „Weg“, Einstellung fehlt, weicht ab"}));

        // A missing standard is no drift; matching ones give status 0.
        db.put(standardKey("EXPORT"), "Kurz neu", "neu\r\n");
        db.sql("DELETE FROM einstellungen WHERE maske = 'BRIEF'");
        db.put(assignmentKey(), QString(),
               formStoreBlob({{"scStanBez.Items", {"IMPORT=Quelle LF", "EXPORT=Geaendert"}}}));
        QCOMPARE(run({"--store", db.path(), "standards"}, &output), 0);
        QVERIFY(output.contains("BRIEF: kein Standard, keine Zuordnung\n"));
        const auto before = db.all();
        QCOMPARE(db.all().size(), before.size()); // it only reads
    }

    void listAndShow()
    {
        TestStore db;
        db.putNamedSetting("Alpha", "Kurz A", {"Zeile"});
        db.put({"DEU", "RIMDAL", "IMPORT", "STANDARD", "0"}, "Kopie", "x");
        QByteArray output;
        QCOMPARE(run({"--store", db.path(), "list", "DEU", "VESKALO", "VESKALO"}, &output), 0);
        QCOMPARE(output, QByteArray("DEU/VESKALO/VESKALO/Alpha/0\tKurz A\n"));
        QCOMPARE(run({"--store", db.path(), "show", "DEU", "VESKALO", "VESKALO", "Alpha"}, &output),
                 0);
        QVERIFY(output.contains("Kurz A") && output.contains("Item0=Zeile"));
        QCOMPARE(run({"--store", db.path(), "show", "DEU", "VESKALO", "VESKALO", "Beta"}), 1);
        QCOMPARE(run({"--store", "/nonexistent-quor/x.sqlite", "list"}), 1);
    }
};

QTEST_GUILESS_MAIN(TestQuorStore)
#include "tst_quorstore.moc"
