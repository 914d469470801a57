// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>

class QWidget;

// Whether the person has asked the system for high contrast (Windows'
// high-contrast themes); the palette then carries the theme's colours.
bool systemAsksForHighContrast();

// Contrast ratio of two colours as the readability guidelines measure it (1 to 21).
qreal contrastRatio(const QColor& a, const QColor& b);

// Gives the widget its designed background where its text reads on it, and
// the palette's own where the system asks for high contrast or where the
// palette's text would not read on the designed colour (a dark palette).
void keepBaseReadable(QWidget& widget, const QColor& designedBase);
