// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storeowner.h"

#include <QMainWindow>

// Makes the suite's design font the application's font (once).
void installDesignFont();

class TQuorStdButton;

// Base window of the suite. After its design is built, FinishDesign binds buttons
// to their actions and labels to their focus controls, then fires OnCreate.
// Enter presses the default button and Esc the cancel button whenever the focused
// control does not take the key itself. Its components reach the program
// context's settings store through it.
class TQuorForm : public QMainWindow, public TStoreOwner
{
    Q_OBJECT
    // A single, fixed border: the window keeps its designed size and offers
    // no maximise button.
    Q_PROPERTY(bool FixedBorder MEMBER m_fixedBorder)
    Q_PROPERTY(QPoint DesignPosition MEMBER m_designPosition)
public:
    explicit TQuorForm(QWidget* parent = nullptr);

    TStoreBackend& OwnStore() override;

Q_SIGNALS:
    void OnCreate();

protected:
    void FinishDesign();
    void keyPressEvent(QKeyEvent* event) override;

private:
    TQuorStdButton* findButton(bool cancel) const;

    bool m_fixedBorder = false;
    QPoint m_designPosition{-1, -1};
};
