// SPDX-License-Identifier: GPL-3.0-or-later
#include "keys.h"
#include "windowfixture.h"

#include <QAbstractItemView>
#include <QMenu>
#include <QMenuBar>

namespace
{
// Counts close requests that reach the window.
class CloseCounter : public QObject
{
public:
    int closes = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            ++closes;
        return false;
    }
};
} // namespace

class TestWindowKeyboard : public QObject
{
    Q_OBJECT

    static void focusOn(WindowFixture& f, const QString& name)
    {
        f.window->findChild<QWidget*>(name)->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), name);
    }

private Q_SLOTS:
    void firstActivationEntersTheImportList()
    {
        WindowFixture f;
        f.db.putNamedSetting("Alpha", "a");
        f.db.putStandardCopy("IMPORT", "Kopie", QByteArray());
        QVERIFY(f.open());
        QTRY_COMPARE(QApplication::focusWidget(), f.combo("cmbImport"));
        QTRY_COMPARE(f.kurzText(), QStringLiteral("Kopie"));
    }

    void tabCyclesThroughTheControls()
    {
        WindowFixture f;
        QVERIFY(f.open());
        QTRY_COMPARE(QApplication::focusWidget(), f.combo("cmbImport"));
        QStringList seen;
        for (int i = 0; i < 7; ++i) {
            seen << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(seen, (QStringList{"cmbImport", "cmbExport", "cmbBrief", "btnBuchen", "btnEnde",
                                    "msText", "cmbImport"}));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmbExport"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("msText"));
    }

    void postingKeys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("postings");
        for (const char* name :
             {"cmbImport", "cmbExport", "cmbBrief", "btnBuchen", "btnEnde", "msText"})
            QTest::newRow(QByteArray("F5 in ") + name)
                << QString::fromLatin1(name) << int(Qt::Key_F5) << 1;
        for (const char* name : {"cmbImport", "cmbBrief", "btnBuchen"})
            QTest::newRow(QByteArray("Enter in ") + name)
                << QString::fromLatin1(name) << int(Qt::Key_Return) << 1;
        QTest::newRow("Enter in memo") << "msText" << int(Qt::Key_Return) << 0;
        QTest::newRow("keypad Enter in list") << "cmbExport" << int(Qt::Key_Enter) << 1;
        QTest::newRow("F1 in list") << "cmbImport" << int(Qt::Key_F1) << 0;
        QTest::newRow("F1 in memo") << "msText" << int(Qt::Key_F1) << 0;
    }

    void postingKeys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, postings);
        WindowFixture f;
        QVERIFY(f.open());
        focusOn(f, focus);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(QuorBuchung(true).BegunPostings(), postings);
        QVERIFY(f.window->isVisible());
        QVERIFY(f.reports.reports.isEmpty());
    }

    void closingKeys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        for (const char* name : {"cmbImport", "btnBuchen", "btnEnde", "msText"})
            QTest::newRow(QByteArray("Esc in ") + name)
                << QString::fromLatin1(name) << int(Qt::Key_Escape);
        QTest::newRow("Enter on btnEnde") << "btnEnde" << int(Qt::Key_Return);
        QTest::newRow("Space on btnEnde") << "btnEnde" << int(Qt::Key_Space);
    }

    void closingKeys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        WindowFixture f;
        QVERIFY(f.open());
        CloseCounter counter;
        f.window->installEventFilter(&counter);
        focusOn(f, focus);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTRY_VERIFY(!f.window->isVisible());
        QCOMPARE(counter.closes, 1);
        QCOMPARE(QuorBuchung(true).BegunPostings(), 0);
        QVERIFY(f.reports.reports.isEmpty());
    }

    void openPopupTakesEscAndEnter()
    {
        WindowFixture f;
        f.db.putNamedSetting("Alpha", "a");
        f.db.putNamedSetting("Beta", "b");
        QVERIFY(f.open());
        TQuorStdComboBox* list = f.combo("cmbExport");
        focusOn(f, "cmbExport");
        list->showPopup();
        QTRY_VERIFY(list->view()->isVisible());
        QTest::keyClick(list->view(), Qt::Key_Escape);
        QTRY_VERIFY(!list->view()->isVisible());
        QVERIFY(f.window->isVisible());

        list->showPopup();
        QTRY_VERIFY(list->view()->isVisible());
        list->view()->setCurrentIndex(list->model()->index(1, 0));
        QTest::keyClick(list->view(), Qt::Key_Return);
        QTRY_VERIFY(!list->view()->isVisible());
        QCOMPARE(list->currentText(), QStringLiteral("Beta"));
        QCOMPARE(f.bezText(), QStringLiteral("Beta")); // chosen: the change event showed it
        QCOMPARE(QuorBuchung(true).BegunPostings(), 0);

        QTest::keyClick(list, Qt::Key_Escape); // closed again: Esc now closes the window
        QTRY_VERIFY(!f.window->isVisible());
    }

    void accelerators_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("target");
        QTest::newRow("Alt+I") << int(Qt::Key_I) << "cmbImport";
        QTest::newRow("Alt+E") << int(Qt::Key_E) << "cmbExport";
        QTest::newRow("Alt+K") << int(Qt::Key_K) << "cmbBrief";
        QTest::newRow("Alt+B") << int(Qt::Key_B) << "btnEnde";
    }

    void accelerators()
    {
        QFETCH(int, key);
        QFETCH(QString, target);
        WindowFixture f;
        QVERIFY(f.open());
        focusOn(f, "btnEnde");
        QTest::keyClick(f.window.get(), Qt::Key(key), Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), target);
        QVERIFY(f.window->isVisible());
        // Alt+B has no target, yet its label processes the accelerator: no "&" shown.
        QCOMPARE(f.child<QLabel>("lblText")->buddy(), f.child("lblText"));
    }

    void menusByKeyboard()
    {
        WindowFixture f;
        QVERIFY(f.open());
        QString shownTitle;
        QWidget* shownOwner = nullptr;
        QString shownText = "(nie)";
        setVersionDialogHook([&](const QString& title, QWidget* owner, const QString& text) {
            shownTitle = title;
            shownOwner = owner;
            shownText = text;
        });
        auto* menFunk = f.window->findChild<QMenu*>("menFunk");
        auto* menFrage = f.window->findChild<QMenu*>("menFrage");
        QTest::keyClick(f.window.get(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(menFunk->isVisible());
        QTest::keyClick(menFunk, Qt::Key_Escape);
        QTRY_VERIFY(!menFunk->isVisible());

        f.window->menuBar()->setActiveAction(menFrage->menuAction());
        QTRY_VERIFY(menFrage->isVisible());
        QTest::keyClick(menFrage, Qt::Key_V);
        QTRY_COMPARE(shownTitle, QStringLiteral("Standard-Konfiguration Kundenkarten"));
        QCOMPARE(shownOwner, f.window.get());
        QCOMPARE(shownText, QString());
        QVERIFY(f.window->isVisible());

        // "Hilfe" is there, disabled, and F1 does nothing.
        auto* help = f.window->findChild<QAction*>("menHelp");
        QVERIFY(!help->isEnabled());
        QCOMPARE(help->shortcut(), QKeySequence(Qt::Key_F1));
        const QStringList entries{menFunk->actions()[0]->text(), menFunk->actions()[2]->text()};
        QCOMPARE(entries, (QStringList{"Buchen", "Beenden"}));
        QVERIFY(menFunk->actions()[1]->isSeparator());
        QCOMPARE(menFunk->actions()[0]->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(menFunk->actions()[2]->shortcut(), QKeySequence(Qt::Key_Escape));

        menFunk->actions()[0]->trigger(); // the menu entry posts
        QCOMPARE(QuorBuchung(true).BegunPostings(), 1);
    }

    void altQuestionMarkOpensTheHelpMenu()
    {
        WindowFixture f;
        QVERIFY(f.open());
        auto* menFrage = f.window->findChild<QMenu*>("menFrage");
        QTest::keyClick(f.window.get(), '?', Qt::AltModifier);
        QTRY_VERIFY(menFrage->isVisible());
    }

    void failingVersionDialogIsReported()
    {
        WindowFixture f;
        QVERIFY(f.open());
        setVersionDialogHook([](const QString&, QWidget*, const QString&) {
            throw std::runtime_error("Dialog defekt");
        });
        f.window->findChild<QAction*>("menVers")->trigger();
        QCOMPARE(f.reports.methods(), QStringList{"TfrmRimdal.menVersClick"});
        QVERIFY(f.window->isVisible());
    }
};

QTEST_MAIN(TestWindowKeyboard)
#include "tst_frmrimdal_keyboard.moc"
