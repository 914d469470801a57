// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup.h"

#include "frmrimdal.h"
#include "quordialogs.h"
#include "quorlog.h"
#include "quorprogramm.h"
#include "windowfit.h"

#include <QApplication>
#include <QIcon>
#include <memory>

int runRimdal(int& argc, char** argv, const std::function<void(TfrmRimdal&)>& shown)
{
    fitScaleToScreen(argc, argv, TfrmRimdal::kDesignSize, TfrmRimdal::kDesignPosition);
    QApplication application(argc, argv);
    // The window system knows the program as "rimdal" (no spaces in its class)
    // and finds its desktop file and icon under the application id.
    QApplication::setApplicationName(QStringLiteral("rimdal"));
    QApplication::setApplicationVersion(QStringLiteral(RIMDAL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(RIMDAL_APP_ID));
    installLog(defaultLogSetup(QStringLiteral("rimdal")));
    installDialogReporting();

    std::unique_ptr<TfrmRimdal> frmRimdal;
    try {
        QuorProgramm().Init(QStringLiteral("RIMDAL"), TEnumProzessTypen::ptEinstellung,
                            TEnumInstanzen::inMehrfach, 0, true);
        // The title "Standard-Konfiguration Kundenkarten" is the desktop
        // entry's name. Given to Qt as the display name, it would be appended
        // to the window caption on X11, and the caption must stay as designed.
        frmRimdal = std::make_unique<TfrmRimdal>();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/rimdal/rimdal.png")));
        frmRimdal->show();
        if (shown)
            shown(*frmRimdal);
    } catch (const std::exception& e) {
        QuorProgramm().ShowException(e, false);
    }
    if (!frmRimdal)
        return 0;
    return QApplication::exec();
}
