// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "keys.h"
#include "maskfile.h"
#include "quorexception.h"
#include "teststore.h"

#include <QTest>

class TestChoiceLists : public QObject
{
    Q_OBJECT

    struct Lists {
        FakeChoiceList import, exportList, brief;
        void fill(Tmaskfile& file) { fillChoiceLists(file, import, exportList, brief); }
    };

private Q_SLOTS:
    void emptyStoreOffersOnlyMarkers()
    {
        TestStore db;
        Tmaskfile file;
        Lists lists;
        lists.fill(file);
        for (FakeChoiceList* list : {&lists.import, &lists.exportList, &lists.brief}) {
            QCOMPARE(list->items, QStringList{keys::KeinStandard});
            QCOMPARE(list->selected, 0);
        }
    }

    void markersFollowTheStandardCopies_data()
    {
        QTest::addColumn<QStringList>("copies");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("export only") << QStringList{"EXPORT"};
        QTest::newRow("import and brief") << QStringList{"IMPORT", "BRIEF"};
        QTest::newRow("all") << QStringList{"IMPORT", "EXPORT", "BRIEF"};
    }

    void markersFollowTheStandardCopies()
    {
        QFETCH(QStringList, copies);
        TestStore db;
        db.putNamedSetting("Alpha", "a");
        db.putNamedSetting("Beta", "b");
        for (const QString& type : copies)
            db.putStandardCopy(type, "kopie", QByteArray());
        // A copy under another case or index is not the standard copy.
        db.put({"DEU", "RIMDAL", "import", "STANDARD", "0"}, "x", {});
        db.put({"DEU", "RIMDAL", "BRIEF", "STANDARD", "1"}, "x", {});
        Tmaskfile file;
        Lists lists;
        lists.fill(file);
        const FakeChoiceList* byType[] = {&lists.import, &lists.exportList, &lists.brief};
        for (int i = 0; i < 3; ++i) {
            const QString marker =
                copies.contains(keys::SettingTypes[i]) ? keys::Standard : keys::KeinStandard;
            QCOMPARE(byType[i]->items, (QStringList{"Alpha", "Beta", marker}));
            QCOMPARE(byType[i]->selected, 2);
        }
    }

    void scanListsExactlyTheNamedSettings()
    {
        TestStore db;
        db.put({"DEU", "VESKALN", "VESKALO", "vorher", "0"}, "", {});
        db.put({"DEU", "VESKALO", "VESKALN", "vorher", "0"}, "", {});
        db.putNamedSetting("STANDARD", "nie angeboten");
        db.putNamedSetting("standard", "");
        db.putNamedSetting("STANDARD ", "");
        db.putNamedSetting(keys::KeinStandard, "");
        db.putNamedSetting("Doppelt", "", {}, "0");
        db.putNamedSetting("Doppelt", "", {}, "1");
        db.putNamedSetting("", "leerer Name");
        db.put({"DEU", "VESKALO", "VESKALP", "danach", "0"}, "", {});
        db.put({"DEU", "VESKALP", "VESKALO", "danach", "0"}, "", {});
        db.put({"ENG", "VESKALO", "VESKALO", "englisch", "0"}, "", {});
        Tmaskfile file;
        Lists lists;
        lists.fill(file);
        const QStringList expected{"",          "Doppelt",  "Doppelt",         keys::KeinStandard,
                                   "STANDARD ", "standard", keys::KeinStandard};
        QCOMPARE(lists.import.items, expected);
        QCOMPARE(lists.exportList.items, expected);
        QCOMPARE(lists.brief.items, expected);

        lists.fill(file); // a second fill replaces, it does not double
        QCOMPARE(lists.import.items, expected);
        QCOMPARE(lists.import.selected, int(expected.size()) - 1);
    }

    void failureKeepsWhatWasAddedAndEndsTheAccess()
    {
        TestStore db;
        for (const char* name : {"A", "B", "C", "D"})
            db.putNamedSetting(name, "");
        FaultStore faults(db.store());
        Tmaskfile file(faults);
        // The third row read fails.
        faults.fail(FaultStore::Call::Next, 3);
        Lists lists;
        QVERIFY_THROWS_EXCEPTION(EQuorException, lists.fill(file));
        QCOMPARE(lists.import.items, (QStringList{"A", "B"}));
        QCOMPARE(lists.brief.items, (QStringList{"A", "B"}));
        QCOMPARE(lists.brief.selected, -1);
        QCOMPARE(faults.count(FaultStore::Call::Begin), 1);
        QCOMPARE(faults.accessDepth(), 0);

        // A failing standard-copy lookup: import is complete, export and brief lack their marker.
        faults.clear();
        faults.fail(FaultStore::Call::Find, 2);
        QVERIFY_THROWS_EXCEPTION(EQuorException, lists.fill(file));
        QCOMPARE(lists.import.items.last(), keys::KeinStandard);
        QCOMPARE(lists.exportList.items, (QStringList{"A", "B", "C", "D"}));
        QCOMPARE(faults.count(FaultStore::Call::Begin), 1);
        QCOMPARE(faults.accessDepth(), 0);

        // Beginning the access fails: nothing to end.
        faults.clear();
        faults.fail(FaultStore::Call::Begin);
        QVERIFY_THROWS_EXCEPTION(EQuorException, lists.fill(file));
        QCOMPARE(faults.count(FaultStore::Call::Find), 0);
        QCOMPARE(faults.accessDepth(), 0);
    }
};

QTEST_GUILESS_MAIN(TestChoiceLists)
#include "tst_choicelists.moc"
