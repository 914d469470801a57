// SPDX-License-Identifier: GPL-3.0-or-later
// A bare main window, ended at its first paint: what any start-up costs.
#include "quitafterpaint.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(792, 576);
    QuitAfterPaint quit;
    window.installEventFilter(&quit);
    window.show();
    return QApplication::exec();
}
