// SPDX-License-Identifier: GPL-3.0-or-later
#include "keys.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QFontInfo>

class TestWindowLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void geometryAsDesigned_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("rect");
        const struct {
            const char* name;
            const char* parent;
            int x, y, w, h;
        } table[] = {
            {"pnlClient", "centralwidget", 4, 4, 785, 517},
            {"pnlHeadLine", "pnlClient", 4, 4, 777, 45},
            {"pnlMain", "pnlClient", 4, 52, 777, 409},
            {"pnlButtons", "pnlClient", 4, 464, 777, 49},
            {"lblStan", "pnlMain", 20, 8, 404, 16},
            {"lblImport", "pnlMain", 393, 48, 40, 16},
            {"cmbImport", "pnlMain", 452, 44, 300, 24},
            {"lblExport", "pnlMain", 392, 98, 41, 16},
            {"cmbExport", "pnlMain", 452, 94, 300, 24},
            {"lblBrief", "pnlMain", 263, 148, 170, 16},
            {"cmbBrief", "pnlMain", 452, 144, 300, 24},
            {"lblBez", "pnlMain", 20, 192, 186, 16},
            {"lblBezText", "pnlMain", 288, 192, 63, 16},
            {"lblkurz", "pnlMain", 20, 220, 216, 16},
            {"lblKurzText", "pnlMain", 288, 220, 65, 16},
            {"lblText", "pnlMain", 19, 248, 189, 16},
            {"btnBuchen", "pnlButtons", 600, 12, 161, 30},
            {"btnEnde", "pnlButtons", 16, 12, 161, 30},
            {"msText", "centralwidget", 27, 332, 742, 121},
            {"StatusBar", "centralwidget", 4, 525, 785, 25},
        };
        for (const auto& row : table)
            QTest::newRow(row.name)
                << QString::fromLatin1(row.name) << QString::fromLatin1(row.parent)
                << QRect(row.x, row.y, row.w, row.h);
    }

    void geometryAsDesigned()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, rect);
        WindowFixture f;
        QVERIFY(f.open());
        QWidget* widget = f.window->findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        QCOMPARE(widget->geometry(), rect);
        QVERIFY(widget->isVisible());
    }

    void windowIsFixedAndPlaced()
    {
        WindowFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.window->centralWidget()->size(), QSize(792, 554));
        QCOMPARE(f.window->minimumSize(), f.window->maximumSize());
        QVERIFY(!(f.window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(f.window->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(f.window->windowFlags() & Qt::WindowContextHelpButtonHint));
        // The memo lies in front of the client panel, at (27, 304) the label above it.
        QCOMPARE(f.child("lblText")->mapTo(f.window->centralWidget(), QPoint(0, 0)),
                 QPoint(27, 304));
        const QList<QObject*> order = f.window->centralWidget()->children();
        QVERIFY(order.indexOf(f.child("msText")) > order.indexOf(f.child("pnlClient")));
        QCOMPARE(f.child<TQuorStdStatusBar>("StatusBar")->panel(0)->width(), 670);
        QCOMPARE(f.child<TQuorStdStatusBar>("StatusBar")->panel(1)->width(), 50);
        QCOMPARE(f.child<TQuorStdStatusBar>("StatusBar")->panel(0)->text(), QString());
        QVERIFY(!f.child<TQuorStdStatusBar>("StatusBar")->panel(1)->text().isEmpty());
        // The three list labels end 19 pixels left of the lists.
        for (const char* label : {"lblImport", "lblExport", "lblBrief"})
            QCOMPARE(f.child(label)->geometry().right() + 1, 433);
    }

    void captionsHintsAndFont()
    {
        WindowFixture f;
        QVERIFY(f.open());
        QCOMPARE(
            f.child<QLabel>("lblStan")->text(),
            QStringLiteral("Standardeinstellungen Kundendaten-Import/Export für Kundenkarten:"));
        QCOMPARE(f.child<QLabel>("lblBrief")->text(),
                 QStringLiteral("&Kundenkarten-Verschickung:"));
        QCOMPARE(f.child<QPushButton>("btnBuchen")->text(), QStringLiteral("Buchen - F5"));
        QCOMPARE(f.child<QPushButton>("btnEnde")->text(), QStringLiteral("Beenden - Esc"));
        QCOMPARE(f.combo("cmbBrief")->toolTip(),
                 QStringLiteral("Export Kundendaten für Serienbrief Kundenkartenverschickung"));
        QCOMPARE(f.child<QLabel>("lblImport")->toolTip(), f.combo("cmbImport")->toolTip());
        QCOMPARE(f.child<TQuorStdPanel>("pnlHeadLine")->caption(),
                 QStringLiteral("Standard-Konfiguration Kundenkarten"));
        QVERIFY(f.child("pnlHeadLine")->font().bold());
        QVERIFY(f.child("pnlHeadLine")->font().pointSize() > f.window->font().pointSize());
        QCOMPARE(f.child<QPushButton>("btnBuchen")->isDefault(), true);
        QCOMPARE(f.child<TQuorStdButton>("btnEnde")->isCancel(), true);
        QVERIFY(!f.child<QPushButton>("btnBuchen")->icon().isNull());
        QVERIFY(!f.child<QPushButton>("btnEnde")->icon().isNull());
        QCOMPARE(f.combo("cmbImport")->property("myMenuEintragF2Spezial").toString(),
                 QStringLiteral("Eingabe&hilfe"));
        // Every caption fits its box in the substitute font.
        for (QLabel* label : f.window->findChildren<QLabel*>()) {
            const QString text = QString(label->text()).remove(QLatin1Char('&'));
            if (label->objectName().startsWith(QLatin1String("lbl")))
                QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= label->width() ||
                             label->objectName().endsWith(QLatin1String("Text")),
                         qPrintable(label->objectName()));
        }
    }

    void descriptionLabelsGrowWithTheirText()
    {
        WindowFixture f;
        f.db.putNamedSetting("Import Vollabgleich Jahresende", QString(200, QLatin1Char('x')));
        QVERIFY(f.open());
        QVERIFY(f.choose("cmbImport", "Import Vollabgleich Jahresende"));
        auto* name = f.child<QLabel>("lblBezText");
        auto* kurz = f.child<QLabel>("lblKurzText");
        QVERIFY(name->width() >= name->fontMetrics().horizontalAdvance(name->text()));
        QCOMPARE(name->pos(), QPoint(288, 192));
        QVERIFY(kurz->geometry().right() < f.child("pnlMain")->width());
        QVERIFY(f.choose("cmbImport", keys::KeinStandard));
        QCOMPARE(name->width(), 63); // never narrower than designed
    }

    void everyControlHasAnAccessibleName()
    {
        WindowFixture f;
        QVERIFY(f.open());
        for (const char* name : {"cmbImport", "cmbExport", "cmbBrief", "btnBuchen", "btnEnde",
                                 "msText", "lblBezText", "lblKurzText"}) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(f.child(name));
            QVERIFY(iface);
            QVERIFY2(!iface->text(QAccessible::Name).isEmpty(), name);
        }
    }
};

QTEST_MAIN(TestWindowLayout)
#include "tst_frmrimdal_layout.moc"
