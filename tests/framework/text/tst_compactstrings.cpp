// SPDX-License-Identifier: GPL-3.0-or-later
#include "compactstrings.h"

#include <QTest>

class TestCompactStrings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Strings read back as they went in, across the change from one byte a
    // character to two, and a copy keeps what it had.
    void stringsReadBackAsAdded()
    {
        const QStringList latin1{"Müller", "", "ß=ÿ", "x"};
        const QStringList wide{QStringLiteral("€ Preis"), QString(QChar(0xD800)), "",
                               QString::fromUtf8("\xF0\x9F\x98\x80")};
        TCompactStrings strings;
        for (const QString& s : latin1)
            strings.append(s);
        const TCompactStrings before = strings;
        QCOMPARE(strings.toStringList(), latin1);
        for (const QString& s : wide)
            strings.append(s);
        QCOMPARE(strings.size(), 8);
        QCOMPARE(strings.toStringList(), latin1 + wide);
        QCOMPARE(strings.at(4), QStringLiteral("€ Preis"));
        QCOMPARE(before.toStringList(), latin1);
        QVERIFY(TCompactStrings().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCompactStrings)
#include "tst_compactstrings.moc"
