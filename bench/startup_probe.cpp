// The tool's own start-up, ended once its lists have been painted.
#include "frmrimdal.h"
#include "startup.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

namespace {
class QuitAfterPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QuitAfterPaint quit;
    return runRimdal(argc, argv, [&](TfrmRimdal& window) {
        window.findChild<QWidget*>(QStringLiteral("cmbBrief"))->installEventFilter(&quit);
    });
}
