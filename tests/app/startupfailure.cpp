// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the program after its program context was already taken, so that
// its start-up block fails: prints "shown" if a window was shown all the same.
// Error boxes are answered at once.
#include "frmrimdal.h"
#include "quorprogramm.h"
#include "startup.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

static void answerDialogs()
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    timer->start(50);
}
Q_COREAPP_STARTUP_FUNCTION(answerDialogs)

int main(int argc, char* argv[])
{
    QuorProgramm().Init(QStringLiteral("VORHER"), TEnumProzessTypen::ptEinstellung,
                        TEnumInstanzen::inMehrfach, 0, true);
    return runRimdal(argc, argv, [](TfrmRimdal&) { std::puts("shown"); });
}
