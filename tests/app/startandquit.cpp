// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the program as its entry point does, quits once the window is shown,
// and so checks that the process ends normally, its store closed in time.
#include "frmrimdal.h"
#include "startup.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    return runRimdal(argc, argv,
                     [](TfrmRimdal&) { QTimer::singleShot(0, qApp, &QCoreApplication::quit); });
}
