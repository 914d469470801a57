// SPDX-License-Identifier: GPL-3.0-or-later
// A bare main window with one line of text in the window's font, ended at its
// first paint: what any start-up of a window that shows text costs.
#include "quitafterpaint.h"
#include "quorform.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    installDesignFont();
    QMainWindow window;
    window.resize(792, 576);
    auto* line = new QLabel(QStringLiteral("Standard-Konfiguration Kundenkarten"), &window);
    window.setCentralWidget(line);
    QuitAfterPaint quit;
    line->installEventFilter(&quit);
    window.show();
    return QApplication::exec();
}
