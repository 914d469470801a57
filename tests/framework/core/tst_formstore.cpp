// SPDX-License-Identifier: GPL-3.0-or-later
#include "formstore.h"
#include "formstoretext.h"
#include "quorstrings.h"
#include "teststore.h"

#include <QTest>

// Stands for the memo of a window: a component with a "Lines" property.
class LinesHolder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList Lines MEMBER lines)
public:
    using QObject::QObject;
    QStringList lines;
};

class TestFormStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storeAndRestoreOwnEntry()
    {
        TestStore db;
        QObject window;
        window.setObjectName("frmRimdal");
        auto* strings = new TQuorStrings(&window);
        strings->setObjectName("scStanBez");
        auto* fs = new TQuorFormStore(&window);
        fs->FormName = {"DEU", "RIMDAL", "RIMDAL"};
        fs->StoredProperties = {"scStanBez.Items"};

        fs->Restore(); // no entry yet: the list stays as it is
        QCOMPARE(strings->Items.Count(), 0);

        strings->Items.Add("IMPORT=Müller & Söhne");
        strings->Items.Add("EXPORT=[x]=y");
        fs->Store();
        fs->Store(); // stored twice: still one entry
        QCOMPARE(db.all().size(), 1);
        QCOMPARE(db.all().first().key, assignmentKey());

        strings->Items.Clear();
        fs->Restore();
        QCOMPARE(strings->Items.Lines(), (QStringList{"IMPORT=Müller & Söhne", "EXPORT=[x]=y"}));
    }

    // No entry: the property stays; an entry without it: the property empties.
    void restoreEntryOfMissingEntriesAndProperties()
    {
        TestStore db;
        QObject window;
        auto* memo = new LinesHolder(&window);
        memo->setObjectName("msText");
        memo->lines = {"vorher"};
        auto* fs = new TQuorFormStore(&window);
        fs->FormName = {"DEU", "VESKALO", "VESKALO"};
        fs->StoredProperties = {"msText.Lines"};

        fs->RestoreEntry("fehlt", QString(), "0");
        QCOMPARE(memo->lines, QStringList{"vorher"});

        db.putNamedSetting("mit Text", "k", {"a", "", "\tb"});
        fs->RestoreEntry("mit Text", QString(), "0");
        QCOMPARE(memo->lines, (QStringList{"a", "", "\tb"}));

        db.put(namedKey("ohne Text"), "k", formStoreBlob({{"other.Lines", {"x"}}}));
        fs->RestoreEntry("ohne Text", QString(), "0");
        QCOMPARE(memo->lines, QStringList{});
    }

    void unknownComponentFailsClearly()
    {
        TestStore db;
        QObject window;
        auto* fs = new TQuorFormStore(&window);
        fs->FormName = {"DEU", "RIMDAL", "RIMDAL"};
        fs->StoredProperties = {"nirgends.Items"};
        QVERIFY_THROWS_EXCEPTION(std::exception, fs->Store());
        QVERIFY(db.all().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFormStore)
#include "tst_formstore.moc"
