// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// The window keeps its design (size, layout, font, position) wherever it fits
// the work area of the screen it opens on; only where it does not, it is laid
// out at a smaller scale and moved inside.

// The factor by which the system's scale is lowered so that a window whose
// frame is frameSize device-independent pixels fits the work area; 1 where
// it fits as designed, never so low that the scale falls under 100 %.
qreal fittingScaleFactor(QSize frameSize, QSize available, qreal devicePixelRatio);

// The frame's top left: the designed one where the frame lies inside the
// work area, else moved inside it, the title bar first.
QPoint placedInside(QRect frame, QRect available);

// The frame the window system puts around a top-level window, once known;
// before the window manager has framed it, a typical title bar and border.
QMargins expectedFrameMargins(const QWidget& window);

// Before the application is made: probes the screen at designPosition and,
// where a window of designSize (with its frame) would not fit its work area
// at the system's scale, sets Qt's scale factor to the largest that fits.
void fitScaleToScreen(int argc, char** argv, QSize designSize, QPoint designPosition);

// Moves a shown top-level window inside the work area of its screen.
void moveInsideScreen(QWidget& window);
