// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowfit.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

const Qt::WindowFlags kFixedBorder = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

QMargins orTypical(QMargins margins)
{
    return margins.isNull() ? QMargins(4, 30, 4, 4) : margins;
}

// Before the window exists, its frame is known only roughly: a window system
// may draw it larger once shown (Wine does by a few pixels), and the menu
// bar takes the platform's height. The estimate is never below a typical
// frame, so that the window shown still fits.
QMargins atLeastTypical(QMargins margins)
{
    const QMargins typical(4, 30, 4, 4);
    return {std::max(margins.left(), typical.left()), std::max(margins.top(), typical.top()),
            std::max(margins.right(), typical.right()),
            std::max(margins.bottom(), typical.bottom())};
}

QScreen* screenAt(QPoint point)
{
    QScreen* screen = QGuiApplication::screenAt(point);
    return screen ? screen : QGuiApplication::primaryScreen();
}

} // namespace

qreal fittingScaleFactor(QSize frameSize, QSize available, qreal devicePixelRatio)
{
    if (frameSize.isEmpty() || available.isEmpty() || devicePixelRatio <= 1.0)
        return 1.0;
    const qreal fit = std::min({1.0, qreal(available.width()) / frameSize.width(),
                                qreal(available.height()) / frameSize.height()});
    if (fit >= 1.0)
        return 1.0;
    // Whole per cent down: the window's pixels, rounded by Qt, never end past
    // the work area.
    const qreal scale = std::floor(devicePixelRatio * fit * 100.0) / 100.0;
    return std::min(1.0, std::max(scale, 1.0) / devicePixelRatio);
}

QPoint placedInside(QRect frame, QRect available)
{
    QPoint topLeft = frame.topLeft();
    topLeft.setX(
        std::max(available.left(), std::min(topLeft.x(), available.right() + 1 - frame.width())));
    topLeft.setY(
        std::max(available.top(), std::min(topLeft.y(), available.bottom() + 1 - frame.height())));
    return topLeft;
}

QMargins expectedFrameMargins(const QWidget& window)
{
    const QWindow* handle = window.windowHandle();
    return orTypical(handle ? handle->frameMargins() : QMargins());
}

void fitScaleToScreen(int argc, char** argv, QSize designSize, QPoint designPosition)
{
    if (QCoreApplication::instance())
        return; // too late: the scale factor is read as the application is made
    qreal factor = 1.0;
    {
        // A probe of its own: the application proper reads Qt's scale factor
        // once, when it is made. It is of the same class, as start-up
        // functions take it for the program's own; its arguments are copies,
        // as Qt takes its own out of them.
        std::vector<char*> args(argv, argv + argc);
        args.push_back(nullptr);
        int count = argc;
        QApplication probe(count, args.data());
        QScreen* screen = screenAt(designPosition);
        if (!screen)
            return;
        // The frame as the window system draws it for a fixed border.
        QWindow window;
        window.setFlags(kFixedBorder);
        window.resize(designSize);
        window.create();
        const QMargins margins = atLeastTypical(window.frameMargins());
        const QSize frame = designSize.grownBy(margins);
        factor = fittingScaleFactor(frame, screen->availableGeometry().size(),
                                    screen->devicePixelRatio());
    }
    if (factor >= 1.0)
        return;
    bool ok = false;
    const double given = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    qputenv("QT_SCALE_FACTOR",
            QByteArray::number((ok && given > 0 ? given : 1.0) * factor, 'g', 12));
}

void moveInsideScreen(QWidget& window)
{
    const QMargins margins = expectedFrameMargins(window);
    const QRect frame(window.pos(), window.size().grownBy(margins));
    // Without a screen (none connected yet) there is no work area to keep to.
    const QScreen* screen = screenAt(frame.topLeft());
    if (!screen)
        return;
    window.move(placedInside(frame, screen->availableGeometry()));
}
