// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a shop's screens and for every person: it fits the work area
// at the system's scale and reads in every palette (as a screen reader hears
// it: tst_frmrimdal_atspi.py).
#include "windowfit.h"
#include "windowfixture.h"
#include "windowtheme.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <memory>

namespace
{

// The contrast of the colour most pixels have (the background) against the
// one that stands out most from it (the text).
qreal textContrast(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), background = it.key();
    qreal best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrastRatio(QColor(background), QColor(it.key())));
    return best;
}

QPalette themePalette(const QString& name)
{
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = fusion->standardPalette();
    const auto set = [&](QColor window, QColor text, QColor base) {
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Button, window);
        palette.setColor(QPalette::ButtonText, text);
        // The theme's selection: the text's colour on a darker or lighter blue.
        palette.setColor(QPalette::Highlight, window.lightness() < 128 ? QColor(0x1d, 0x4f, 0x7c)
                                                                       : QColor(0x00, 0x3c, 0x8c));
        palette.setColor(QPalette::HighlightedText, window.lightness() < 128 ? text : Qt::white);
    };
    if (name == QLatin1String("dark"))
        set(QColor(0x35, 0x35, 0x35), QColor(0xee, 0xee, 0xee), QColor(0x2a, 0x2a, 0x2a));
    else if (name == QLatin1String("contrast black"))
        set(Qt::black, Qt::white, Qt::black);
    else if (name == QLatin1String("contrast white"))
        set(Qt::white, Qt::black, Qt::white);
    return palette;
}

} // namespace

class TestWindowScreens : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // One screen and scale per run (see tests/CMakeLists.txt): the screen's
    // size and logical dpi come from the offscreen platform's configuration.
    void fitsTheScreen()
    {
        WindowFixture f;
        QVERIFY(f.open());
        QWidget& window = *f.window;
        QScreen* screen = window.screen();
        const QRect available = screen->availableGeometry();
        const QRect frame(window.pos(), window.size().grownBy(expectedFrameMargins(window)));
        const qreal system = qEnvironmentVariable("QUOR_TEST_SYSTEM_DPI").toDouble() / 96.0;
        const qreal scale = window.devicePixelRatioF();
        qInfo("screen %dx%d at %g %%: frame %d,%d %dx%d at %g %% (pixels %d,%d %dx%d)",
              qRound(available.width() * scale), qRound(available.height() * scale), system * 100,
              frame.x(), frame.y(), frame.width(), frame.height(), scale * 100,
              qRound(frame.x() * scale), qRound(frame.y() * scale), qRound(frame.width() * scale),
              qRound(frame.height() * scale));
        // The design's content as laid out; the menu bar takes the platform's height.
        QCOMPARE(f.window->centralWidget()->size(), QSize(792, 554));
        QVERIFY2(available.contains(frame), "the frame lies within the work area");
        for (QWidget* control : window.findChildren<QWidget*>()) {
            if (!control->isVisible() || control->isWindow())
                continue;
            const QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
            QVERIFY2(window.rect().contains(inWindow), qPrintable(control->objectName()));
        }
        QVERIFY(scale >= 1.0 - 1e-9);
        QVERIFY(scale <= system + 1e-9);
        // Lowered only where the system's scale does not fit, and as little as
        // whole per cents allow.
        // Judged by the frame as it is reckoned before the window exists: never
        // under a typical title bar and border.
        const QMargins drawn = expectedFrameMargins(window);
        const QSize reckoned = window.size().grownBy(
            QMargins(std::max(drawn.left(), 4), std::max(drawn.top(), 30),
                     std::max(drawn.right(), 4), std::max(drawn.bottom(), 4)));
        const auto fitsAt = [&](qreal at) {
            return reckoned.width() <= available.width() * scale / at &&
                   reckoned.height() <= available.height() * scale / at;
        };
        if (scale < system - 1e-9) {
            QVERIFY(!fitsAt(system));
            QVERIFY(scale <= 1.0 + 1e-9 || !fitsAt(scale + 0.02));
        } else {
            QVERIFY(fitsAt(system));
        }
        const QRect design(TfrmRimdal::kDesignPosition, frame.size());
        if (available.contains(design))
            QCOMPARE(frame.topLeft(), TfrmRimdal::kDesignPosition);
        // A face that scales stands in for a bitmap design font.
        QVERIFY(QFontDatabase::isSmoothlyScalable(QFontInfo(window.font()).family()));
        // Above 100 % the buttons' images come at twice their size.
        for (const char* button : {"btnBuchen", "btnEnde"})
            for (const auto mode : {QIcon::Normal, QIcon::Disabled})
                QVERIFY(scale <= 1.0 ||
                        f.child<QPushButton>(button)->icon().availableSizes(mode).contains(
                            QSize(32, 32)));
    }

    void readableInEveryPalette_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QString>("control");
        // Windows draws its classic style under a high-contrast theme.
        for (const char* style : {"Fusion", "Windows"})
            for (const char* theme : {"light", "dark", "contrast black", "contrast white"})
                for (const char* control : {"msText", "lblBezText", "lblStan", "cmbImport"})
                    QTest::addRow("%s %s %s", style, theme, control)
                        << QString::fromLatin1(style) << QString::fromLatin1(theme)
                        << QString::fromLatin1(control);
    }

    void readableInEveryPalette()
    {
        QFETCH(QString, style);
        QFETCH(QString, theme);
        QFETCH(QString, control);
        const QString styleBefore = QApplication::style()->name();
        const QPalette before = QApplication::palette();
        QApplication::setStyle(style);
        QApplication::setPalette(themePalette(theme));
        WindowFixture f;
        f.db.putNamedSetting("Import Vollabgleich", QStringLiteral("Abgleich am Jahresende"));
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Import Vollabgleich"));
        f.child<QPlainTextEdit>("msText")->setPlainText(QStringLiteral("Beschreibung WWW"));
        QWidget* widget = f.child(control.toLatin1().constData());
        if (auto* memo = qobject_cast<QPlainTextEdit*>(widget))
            widget = memo->viewport();
        const qreal contrast = textContrast(widget->grab().toImage());
        QApplication::setPalette(before);
        QApplication::setStyle(styleBefore);
        QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast)));
    }
};

int main(int argc, char* argv[])
{
    fitScaleToScreen(argc, argv, TfrmRimdal::kDesignSize, TfrmRimdal::kDesignPosition);
    QApplication application(argc, argv);
    TestWindowScreens test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmrimdal_screens.moc"
