// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "frmrimdal.h"
#include "maskfile.h"
#include "quorbuchung.h"
#include "quorcontrols.h"
#include "quordialogs.h"
#include "teststore.h"

#include <QApplication>
#include <QTest>
#include <memory>

// The real window over a fresh store, with reports recorded instead of shown.
struct WindowFixture {
    TestStore db;
    ReportRecorder reports;
    std::unique_ptr<TfrmRimdal> window;

    WindowFixture() { QuorBuchung(true).ResetCounters(); }
    ~WindowFixture()
    {
        window.reset();
        setVersionDialogHook(nullptr);
    }

    // Builds and shows the window; true when it became active.
    bool open()
    {
        window = std::make_unique<TfrmRimdal>();
        window->show();
        return QTest::qWaitForWindowActive(window.get());
    }

    template <typename T = QWidget> T* child(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    TQuorStdComboBox* combo(const char* name) const { return child<TQuorStdComboBox>(name); }
    Tmaskfile* maskfile() const { return window->findChild<Tmaskfile*>("maskfile"); }
    QString bezText() const { return child<QLabel>("lblBezText")->text(); }
    QString kurzText() const { return child<QLabel>("lblKurzText")->text(); }
    QStringList memoLines() const { return child<TQuorStdMemo>("msText")->lines(); }

    // Chooses an entry the way a person does: into the list, then the arrow keys.
    bool choose(const char* comboName, const QString& entry)
    {
        TQuorStdComboBox* list = combo(comboName);
        list->setFocus(Qt::TabFocusReason);
        if (!QTest::qWaitFor([&] { return list->hasFocus(); }))
            return false;
        const int target = int(list->Items().indexOf(entry));
        if (target < 0)
            return false;
        QTest::keyClick(list, Qt::Key_Home);
        for (int i = 0; i < target; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        return list->currentIndex() == target;
    }

    void post() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5); }
};
