// A bare main window, ended at its first paint: what any start-up costs.
#include <QApplication>
#include <QEvent>
#include <QMainWindow>
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
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(792, 576);
    QuitAfterPaint quit;
    window.installEventFilter(&quit);
    window.show();
    return QApplication::exec();
}
