// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorform.h"

#include "quorcontrols.h"
#include "quorprogramm.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QKeyEvent>

namespace
{

// A bitmap design font (MS Sans Serif is one on Windows) neither scales with
// the screen nor draws through DirectWrite: a scalable face of like metrics
// stands in for it, at the same design size.
QString scalableFace(const QString& family)
{
    if (QFontDatabase::isSmoothlyScalable(family))
        return family;
    for (const char* face : {"Microsoft Sans Serif", "Liberation Sans", "Arimo", "DejaVu Sans"}) {
        QString name = QString::fromLatin1(face);
        if (QFontDatabase::isSmoothlyScalable(name))
            return name;
    }
    return family;
}

} // namespace

void installDesignFont()
{
    // The suite's windows and dialogs are designed in MS Sans Serif 8 pt, which
    // Linux lacks; Liberation Sans has close metrics, so captions fit their boxes
    // as designed. It is the application's font too: dialogs and the parts of a
    // control that do not take the window's font look the same, and no second
    // font is loaded at start-up only to be replaced.
    static const bool installed = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                    QStringLiteral("DejaVu Sans")});
        QApplication::setFont(QFont(scalableFace(QStringLiteral("MS Sans Serif")), 8));
        return true;
    }();
    Q_UNUSED(installed);
}

TQuorForm::TQuorForm(QWidget* parent) : QMainWindow(parent)
{
    installDesignFont();
}

void TQuorForm::FinishDesign()
{
    QFont designed = font();
    const QString face = scalableFace(designed.family());
    if (face != designed.family()) {
        designed.setFamily(face);
        setFont(designed);
    }
    for (TQuorStdButton* button : findChildren<TQuorStdButton*>()) {
        if (!button->actionName().isEmpty())
            button->bindAction(findChild<QAction*>(button->actionName()));
    }
    if (m_fixedBorder) {
        setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        if (centralWidget())
            centralWidget()->setFixedSize(centralWidget()->size());
        adjustSize();
        setFixedSize(sizeHint());
    }
    if (m_designPosition.x() >= 0 && m_designPosition.y() >= 0)
        move(m_designPosition);
    Q_EMIT OnCreate();
}

TQuorStdButton* TQuorForm::findButton(bool cancel) const
{
    for (TQuorStdButton* button : findChildren<TQuorStdButton*>()) {
        const bool match = cancel ? button->isCancel() : button->isDefault();
        if (match && button->isEnabled() && button->isVisible())
            return button;
    }
    return nullptr;
}

void TQuorForm::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        const int key = event->key();
        TQuorStdButton* button = nullptr;
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            button = findButton(false);
        else if (key == Qt::Key_Escape)
            button = findButton(true);
        if (button) {
            button->click();
            event->accept();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

TStoreBackend& TQuorForm::OwnStore()
{
    return QuorProgramm().Store();
}
