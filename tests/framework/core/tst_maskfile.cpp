// SPDX-License-Identifier: GPL-3.0-or-later
#include "maskfile.h"
#include "quorexception.h"
#include "quorinfo.h"
#include "quorprogramm.h"
#include "storeopen.h"
#include "teststore.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

namespace
{
void setKey(Tmaskfile& f, const std::array<std::optional<QString>, 5>& key)
{
    TStringDatenKeyFeld* fields[] = {&f.Sprache, &f.Programm, &f.Maske, &f.Bezeichnung, &f.Index};
    f.ResetRecord();
    f.ResetKey();
    f.SelectKey(f.DefaultKeyNumber());
    for (int i = 0; i < 5; ++i)
        if (key[i])
            fields[i]->SetKeyWert(*key[i]);
}

QString current(Tmaskfile& f)
{
    return QStringList{f.Sprache.GetWert(), f.Programm.GetWert(), f.Maske.GetWert(),
                       f.Bezeichnung.GetWert(), f.Index.GetWert()}
        .join(QLatin1Char('/'));
}

QByteArray readBlob(Tmaskfile& f)
{
    auto stream = f.CreateBlobStream();
    return stream->readAll();
}
} // namespace

class TestMaskfile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reportsWaitForTheStore();
    void scanWalksKeyOrderFromPartialKey()
    {
        TestStore db;
        const QList<TStoreKey> keys{{"ENG", "VESKALO", "VESKALO", "a", "0"},
                                    {"DEU", "VESKALO", "VESKALP", "a", "0"},
                                    {"DEU", "VESKALO", "VESKALO", "b", "0"},
                                    {"DEU", "VESKALO", "VESKALO", "a", "1"},
                                    {"DEU", "VESKALO", "VESKALO", "a", "0"},
                                    {"DEU", "VESKALO", "VESKALO", "", "0"},
                                    {"DEU", "RIMDAL", "IMPORT", "STANDARD", "0"},
                                    {"DEU", "VESKALO", "VESKALO", "B", "0"},
                                    {"DEU", "VESKALN", "Z", "z", "9"}};
        for (const TStoreKey& key : keys)
            db.put(key, key[3] + QStringLiteral("-kurz"), QByteArray());
        Tmaskfile f;
        withAccess(f, [&] {
            // Bezeichnung unset counts below "", so the empty name comes first;
            // Index set after an unset field takes no part in the search.
            setKey(f, {"DEU", "VESKALO", "VESKALO", std::nullopt, "1"});
            f.Get_ge();
            QStringList seen;
            while (f.HasRecord()) {
                seen << current(f);
                f.ReadNext();
            }
            QCOMPARE(seen, (QStringList{"DEU/VESKALO/VESKALO//0", "DEU/VESKALO/VESKALO/B/0",
                                        "DEU/VESKALO/VESKALO/a/0", "DEU/VESKALO/VESKALO/a/1",
                                        "DEU/VESKALO/VESKALO/b/0", "DEU/VESKALO/VESKALP/a/0",
                                        "ENG/VESKALO/VESKALO/a/0"}));
            QCOMPARE(f.Bezeichnung.GetWert(), QString());
            f.ReadNext();
            QVERIFY(!f.HasRecord());

            setKey(f, {std::nullopt, "ZZZ", std::nullopt, std::nullopt, std::nullopt});
            f.Get_ge();
            QVERIFY(f.HasRecord());
            QCOMPARE(current(f), QStringLiteral("DEU/RIMDAL/IMPORT/STANDARD/0"));
            QCOMPARE(f.Kurzbeschreibung.GetWert(), QStringLiteral("STANDARD-kurz"));

            setKey(f, {"DEU", "VESKALO", "VESKALO", "a", "0"});
            f.Get_ge();
            QCOMPARE(current(f), QStringLiteral("DEU/VESKALO/VESKALO/a/0"));

            setKey(f, {"ZZZ", std::nullopt, std::nullopt, std::nullopt, std::nullopt});
            f.Get_ge();
            QVERIFY(!f.HasRecord());
        });
    }

    void findEqualIsExactAndCaseSensitive()
    {
        TestStore db;
        db.put({"DEU", "VESKALO", "VESKALO", "STANDARD", "0"}, "upper", {});
        db.put({"DEU", "VESKALO", "VESKALO", "standard", "0"}, "lower", {});
        db.put({"DEU", "VESKALO", "VESKALO", "STANDARD ", "0"}, "blank", {});
        Tmaskfile f;
        withAccess(f, [&] {
            for (const auto& [name, kurz] :
                 {std::pair{"STANDARD", "upper"}, {"standard", "lower"}, {"STANDARD ", "blank"}}) {
                setKey(f, {"DEU", "VESKALO", "VESKALO", QString::fromLatin1(name), "0"});
                QVERIFY(f.FindEqual());
                QCOMPARE(f.Kurzbeschreibung.GetWert(), QString::fromLatin1(kurz));
            }
            setKey(f, {"DEU", "VESKALO", "VESKALO", "Standard", "0"});
            QVERIFY(!f.FindEqual());
            QVERIFY(!f.HasRecord());
            QCOMPARE(f.Kurzbeschreibung.GetWert(), QString());
            // The key values stay after a miss: changing one field searches again.
            f.Bezeichnung.SetKeyWert(QStringLiteral("standard"));
            QVERIFY(f.FindEqual());
            setKey(f, {"DEU", "VESKALO", "VESKALO", std::nullopt, "0"});
            QVERIFY(!f.FindEqual());
        });
    }

    // Records read ahead answer as the store would: exact keys, missing ones
    // missing, a write seen at once, and nothing kept past the transaction.
    void prefetchedRecordsAreAsTheStoreHoldsThem()
    {
        TestStore db;
        const TStoreKey a{"DEU", "VESKALO", "VESKALO", "STANDARD", "0"};
        const TStoreKey lower{"DEU", "VESKALO", "VESKALO", "standard", "0"};
        const TStoreKey gone{"DEU", "RIMDAL", "IMPORT", "STANDARD", "0"};
        db.put(a, "upper", "text A");
        db.put(lower, "lower", "text a");
        TStoreBackend& s = db.store();
        inStoreAccess(
            s,
            [&] {
                s.prefetch({{a, true}, {gone, false}});
                QCOMPARE(s.find(a)->kurzbeschreibung, QStringLiteral("upper"));
                QCOMPARE(s.readBlob(a), QByteArray("text A"));
                QCOMPARE(s.find(lower)->kurzbeschreibung, QStringLiteral("lower"));
                QVERIFY(!s.find(gone));
                s.insert(gone, "neu", "kopie");
                QCOMPARE(s.readContent(gone).kurzbeschreibung, QStringLiteral("neu"));
                s.update(a, "geändert", "text B");
                QCOMPARE(s.readBlob(a), QByteArray("text B"));
            },
            TAccess::Write);
        db.put(a, "von anderen", "text C");
        inStoreAccess(s, [&] { QCOMPARE(s.readBlob(a), QByteArray("text C")); });
    }

    void insertAndUpdateThroughBlobStream()
    {
        TestStore db;
        const QByteArray first("\xEF\xBB\xBFline 1\r\n", 11);
        const QByteArray second(qsizetype(5) * 1024 * 1024, 'x');
        Tmaskfile f;
        withAccess(f, [&] {
            setKey(f, {"DEU", "RIMDAL", "IMPORT", "STANDARD", "0"});
            QVERIFY(!f.FindEqual());
            for (auto [field, value] : {std::pair{&f.Sprache, "DEU"},
                                        {&f.Programm, "RIMDAL"},
                                        {&f.Maske, "IMPORT"},
                                        {&f.Bezeichnung, "STANDARD"},
                                        {&f.Index, "0"}})
                field->SetWert(QString::fromLatin1(value));
            f.Kurzbeschreibung.SetWert(QStringLiteral("erste"));
            QVERIFY(f.CanPost(wrdonInsert));
            f.StartStreamBuchung(wrdonInsert, false)->write(first);
            f.EndStreamBuchung();
        });
        QCOMPARE(db.find(standardKey("IMPORT"))->kurzbeschreibung, QStringLiteral("erste"));
        QCOMPARE(db.blob(standardKey("IMPORT")), first);

        withAccess(f, [&] {
            setKey(f, {"DEU", "RIMDAL", "IMPORT", "STANDARD", "0"});
            QVERIFY(f.FindEqual());
            QCOMPARE(readBlob(f), first);
            f.Kurzbeschreibung.SetWert(QStringLiteral("zweite"));
            QVERIFY(f.CanPost(wrdonUpdate));
            f.StartStreamBuchung(wrdonUpdate, false)->write(second);
            f.EndStreamBuchung();
        });
        QCOMPARE(db.all().size(), 1);
        QCOMPARE(db.find(standardKey("IMPORT"))->kurzbeschreibung, QStringLiteral("zweite"));
        QCOMPARE(db.blob(standardKey("IMPORT")), second);
    }

    void readOnlyStoreReadsButTakesNoWrites()
    {
        TestStore db;
        db.putNamedSetting("Alpha", "kurz", {"eins"});
        auto store = openStore(db.readOnlyLocation());
        Tmaskfile f(*store);
        withAccess(f, [&] {
            setKey(f, {"DEU", "VESKALO", "VESKALO", "Alpha", "0"});
            QVERIFY(f.FindEqual());
            QVERIFY(!readBlob(f).isEmpty());
            QVERIFY(!f.CanPost(wrdonUpdate));
            QVERIFY(!f.CanPost(wrdonInsert));
        });
    }

    void failedWriteLeavesOldRecord()
    {
        TestStore db;
        db.put(standardKey("EXPORT"), "alt", "alter Text");
        // The update statement fails after the row was changed: nothing of it stays.
        if (db.isPostgres()) {
            db.sql("CREATE FUNCTION boom() RETURNS trigger LANGUAGE plpgsql AS "
                   "$$BEGIN RAISE EXCEPTION 'Schreibfehler simuliert'; END$$");
            db.sql("CREATE TRIGGER boom AFTER UPDATE ON einstellungen FOR EACH ROW "
                   "EXECUTE FUNCTION boom()");
        } else {
            db.sql("CREATE TRIGGER boom AFTER UPDATE ON einstellungen BEGIN "
                   "SELECT RAISE(ABORT, 'Schreibfehler simuliert'); END");
        }
        Tmaskfile f;
        bool failed = false;
        try {
            withAccess(f, [&] {
                setKey(f, {"DEU", "RIMDAL", "EXPORT", "STANDARD", "0"});
                QVERIFY(f.FindEqual());
                f.Kurzbeschreibung.SetWert(QStringLiteral("neu"));
                f.StartStreamBuchung(wrdonUpdate, false)->write("neuer Text");
                f.EndStreamBuchung();
            });
        } catch (const EQuorException& e) {
            failed = true;
            QVERIFY2(e.Message().contains(db.store().displayName()), qPrintable(e.Message()));
            QVERIFY2(e.Message().contains(QStringLiteral("Schreibfehler simuliert")),
                     qPrintable(e.Message()));
        }
        QVERIFY(failed);
        QCOMPARE(db.find(standardKey("EXPORT"))->kurzbeschreibung, QStringLiteral("alt"));
        QCOMPARE(db.blob(standardKey("EXPORT")), QByteArray("alter Text"));
    }

    void misuseFailsClearly()
    {
        TestStore db;
        Tmaskfile f;
        QVERIFY_THROWS_EXCEPTION(EQuorException, f.FindEqual());
        QVERIFY_THROWS_EXCEPTION(EQuorException, f.EndAccess());
        withAccess(f, [&] {
            QVERIFY_THROWS_EXCEPTION(EQuorException, f.SelectKey(7));
            QVERIFY_THROWS_EXCEPTION(EQuorException, f.CreateBlobStream());
            QVERIFY_THROWS_EXCEPTION(EQuorException, f.EndStreamBuchung());
            f.ResetRecord();
            f.StartStreamBuchung(wrdonInsert, false);
            QVERIFY_THROWS_EXCEPTION(EQuorException, f.EndStreamBuchung());
        });
        QVERIFY(db.all().isEmpty());
    }

    // Groups that end on, just before and just after a batch boundary of a
    // server's scan, read from every kind of search key: each scan yields
    // exactly the rows from the key on, in key order.
    void scansCrossSectionsAndBatches()
    {
        TestStore db;
        QList<TStoreKey> all;
        const QList<std::pair<TStoreKey, int>> sections{
            {{"DEU", "A", "X"}, 256},  {{"DEU", "A", "Y"}, 257}, {{"DEU", "B", "B"}, 1},
            {{"ENG", "A", "A"}, 2305}, {{"ENG", "A", "B"}, 255}, {{"ENG", "Z", "Z"}, 16400}};
        inStoreAccess(db.store(), [&] {
            for (const auto& [section, count] : sections)
                for (int i = 0; i < count; ++i)
                    for (const char* index : {"0", "1"}) {
                        if (i % 7 != 0 && index[0] == '1')
                            continue;
                        const TStoreKey key{section[0], section[1], section[2],
                                            QStringLiteral("N%1").arg(i, 5, 10, QLatin1Char('0')),
                                            index};
                        db.store().insert(key, QString(), QByteArray());
                        all << key;
                    }
        });
        std::sort(all.begin(), all.end());
        const QList<TSearchKey> searches{{},
                                         {"DEU"},
                                         {"DEU", "A", "X"},
                                         {"DEU", "A", "Y", std::nullopt, "0"},
                                         {"DEU", "A", "Y", "N00007"},
                                         {"DEU", "A", "Y", "N00007", "1"},
                                         {"ENG", "A", "A"},
                                         {"ENG", "A", "B", "N00254", "1"},
                                         {"ENG", "Z", "Z"},
                                         {"ZZZ"}};
        Tmaskfile f;
        // Another statement now and then in the middle of a scan (as a lookup
        // of each row's short description would be) leaves the scan whole.
        int lookups = 0;
        for (const TSearchKey& search : searches) {
            const bool interleaved = search[1] && search[1] == QStringLiteral("A");
            QList<TStoreKey> expected;
            for (const TStoreKey& key : all) {
                bool from = true;
                for (int i = 0; i < kKeyFieldCount; ++i) {
                    if (!search[i] || key[i] != *search[i]) {
                        from = !search[i] || key[i] > *search[i];
                        break;
                    }
                }
                if (from)
                    expected << key;
            }
            QList<TStoreKey> seen;
            withAccess(f, [&] {
                f.ResetKey();
                TStringDatenKeyFeld* fields[] = {&f.Sprache, &f.Programm, &f.Maske, &f.Bezeichnung,
                                                 &f.Index};
                for (int i = 0; i < kKeyFieldCount; ++i)
                    if (search[i])
                        fields[i]->SetKeyWert(*search[i]);
                f.Get_ge();
                while (f.HasRecord()) {
                    seen << TStoreKey{f.Sprache.GetWert(), f.Programm.GetWert(), f.Maske.GetWert(),
                                      f.Bezeichnung.GetWert(), f.Index.GetWert()};
                    if (interleaved && seen.size() % 997 == 5) {
                        QVERIFY(QuorProgramm().Store().find(seen.last()).has_value());
                        ++lookups;
                    }
                    f.ReadNext();
                }
            });
            QCOMPARE(seen.size(), expected.size());
            QVERIFY(seen == expected);
        }
        QVERIFY(lookups > 20);
    }
};

// What the reporter is given while the store is held waits, in its order,
// until the last open bracket has ended, failed or not.
void TestMaskfile::reportsWaitForTheStore()
{
    TestStore db;
    ReportRecorder reports;
    Tmaskfile f;
    auto report = [](const char* text) {
        QuorInfo().RegisterException("TfrmRimdal.Test", EQuorException(text), true);
    };
    try {
        withAccess(f, [&] {
            report("eins");
            withAccess(f, [&] { report("zwei"); });
            QVERIFY(reports.reports.isEmpty());
            throw EQuorException("Abbruch");
        });
    } catch (const EQuorException&) {
    }
    QCOMPARE(reports.reports.size(), 2);
    QCOMPARE(reports.reports[1].second, QStringLiteral("zwei"));
    report("drei");
    QCOMPARE(reports.reports.size(), 3);
}

QTEST_GUILESS_MAIN(TestMaskfile)
#include "tst_maskfile.moc"
