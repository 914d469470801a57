// SPDX-License-Identifier: GPL-3.0-or-later
// The window over a store with one named import setting, left open for the
// screen reader's test (tests/app/tst_frmrimdal_atspi.py), which ends it.
#include "frmrimdal.h"
#include "teststore.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    TestStore db;
    db.putNamedSetting(QStringLiteral("Import Vollabgleich"),
                       QStringLiteral("Abgleich am Jahresende"));
    TfrmRimdal window;
    window.show();
    QTimer::singleShot(120000, &application, &QCoreApplication::quit);
    return QApplication::exec();
}
