// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowtheme.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

bool systemAsksForHighContrast()
{
#ifdef Q_OS_WIN
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
#else
    return false;
#endif
}

namespace
{

qreal luminance(const QColor& colour)
{
    const auto channel = [](qreal c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

} // namespace

qreal contrastRatio(const QColor& a, const QColor& b)
{
    const qreal la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void keepBaseReadable(QWidget& widget, const QColor& designedBase)
{
    const QPalette theme = QApplication::palette(&widget);
    const bool designed =
        !systemAsksForHighContrast() &&
        contrastRatio(theme.color(QPalette::Active, QPalette::Text), designedBase) >= 4.5;
    QPalette palette = widget.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base,
                         designed ? designedBase : theme.color(group, QPalette::Base));
    widget.setPalette(palette);
}
