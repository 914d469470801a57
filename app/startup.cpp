#include "startup.h"

#include "frmrimdal.h"
#include "quordialogs.h"
#include "quorprogramm.h"

#include <QApplication>
#include <QIcon>
#include <memory>

int runRimdal(int& argc, char** argv, const std::function<void(TfrmRimdal&)>& shown)
{
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(RIMDAL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("rimdal"));
    installDialogReporting();

    std::unique_ptr<TfrmRimdal> frmRimdal;
    try {
        QuorProgramm().Init(QStringLiteral("RIMDAL"), TEnumProzessTypen::ptEinstellung,
                            TEnumInstanzen::inMehrfach, 0, true);
        QApplication::setApplicationName(QStringLiteral("Standard-Konfiguration Kundenkarten"));
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
