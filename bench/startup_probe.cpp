// SPDX-License-Identifier: GPL-3.0-or-later
// The tool's own start-up, ended once its lists have been painted.
#include "frmrimdal.h"
#include "quitafterpaint.h"
#include "startup.h"

int main(int argc, char* argv[])
{
    QuitAfterPaint quit;
    return runRimdal(argc, argv, [&](TfrmRimdal& window) {
        window.findChild<QWidget*>(QStringLiteral("cmbBrief"))->installEventFilter(&quit);
    });
}
