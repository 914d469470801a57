// SPDX-License-Identifier: GPL-3.0-or-later
#include "formstoretext.h"
#include "tstringlist.h"

#include <QTest>

class TestFormStoreText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void hostileContentRoundTrips()
    {
        const QStringList hostile{
            QStringLiteral("IMPORT=Müller & Söhne"),
            QStringLiteral("[msText.Lines]"),
            QStringLiteral("Count=99"),
            QStringLiteral("Item0=fake"),
            QStringLiteral("  leading and trailing  "),
            QString(),
            QStringLiteral("\ttab\t"),
            QStringLiteral("100 % sicher %0041"),
            QStringLiteral("Zeile mit\r\nUmbruch und \r allein"),
            QString::fromUtf8("Emoji \xF0\x9F\x98\x80 und 𝄞"),
            QString(QChar(0xD800)) + QStringLiteral("unpaired") + QChar(0xDC00),
            QStringLiteral("="),
        };
        const TFormProperties properties{{QStringLiteral("msText.Lines"), hostile},
                                         {QStringLiteral("scStanBez.Items"), {}},
                                         {QStringLiteral("other.Lines"), {QString()}}};
        const TFormProperties back = parseFormStoreBlob(formStoreBlob(properties));
        // The blob is the line list's own saving of the formatted lines.
        TStringList saved(formatFormStoreText(properties));
        saved.SetEncoding(TStringList::TEncoding::Utf8, true);
        QCOMPARE(formStoreBlob(properties), saved.SaveToBytes());
        QCOMPARE(back.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(back[i].path, properties[i].path);
            QCOMPARE(back[i].lines.Lines(), properties[i].lines.Lines());
        }
    }

    // Found by fuzzing: a damaged text whose section name holds a lone surrogate.
    void oddSectionNamesRoundTrip()
    {
        const QByteArray found =
            QByteArray::fromBase64("//5bAG0AAAD//lvW/wAAAAAAANoAAAAAXQANAAoAAAAAAAAKAABdAA0ACgA=");
        const TFormProperties properties = parseFormStoreBlob(found);
        QCOMPARE(properties.size(), 1);
        const TFormProperties again = parseFormStoreBlob(formStoreBlob(properties));
        QCOMPARE(again.size(), 1);
        QCOMPARE(again[0].path, properties[0].path);
        for (const QString& path :
             {QString("a%b.Lines"), QString("[x].Lines"), QString("zeile\r\n.Items"),
              QString(QChar(0xDC00)) + ".Lines"}) {
            const TFormProperties round = parseFormStoreBlob(formStoreBlob({{path, {"v"}}}));
            TStringList saved(formatFormStoreText({{path, {"v"}}}));
            saved.SetEncoding(TStringList::TEncoding::Utf8, true);
            QCOMPARE(formStoreBlob({{path, {"v"}}}), saved.SaveToBytes());
            QCOMPARE(round.size(), 1);
            QCOMPARE(round[0].path, path);
            QCOMPARE(round[0].lines.Lines(), QStringList{"v"});
        }
    }

    void blobIsUtf8WithBomAndCrLf()
    {
        const QByteArray blob = formStoreBlob({{QStringLiteral("a.Lines"), {QStringLiteral("ä")}}});
        QVERIFY(blob.startsWith("\xEF\xBB\xBF[a.Lines]\r\nCount=1\r\nItem0="));
        QVERIFY(blob.endsWith("\r\n"));
    }

    void damagedTextShowsWhatIsThere_data()
    {
        QTest::addColumn<QStringList>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("count too high")
            << QStringList{"[m.Lines]", "Count=5", "Item0=a", "Item1=b"} << QStringList{"a", "b"};
        QTest::newRow("count too low")
            << QStringList{"[m.Lines]", "Count=1", "Item0=a", "Item1=b"} << QStringList{"a"};
        QTest::newRow("missing item")
            << QStringList{"[m.Lines]", "Count=3", "Item0=a", "Item2=c"} << QStringList{"a", "c"};
        QTest::newRow("no count, out of order")
            << QStringList{"[m.Lines]", "Item1=b", "Item0=a"} << QStringList{"a", "b"};
        QTest::newRow("garbage lines") << QStringList{"junk",     "[m.Lines]", "Count=x", "Itemx=1",
                                                      "Item-1=2", "Item0",     "Item0=a"}
                                       << QStringList{"a"};
        QTest::newRow("huge index and count")
            << QStringList{"[m.Lines]", "Count=2147483647", "Item2147483646=z", "Item0=a"}
            << QStringList{"a", "z"};
        QTest::newRow("bad escape kept")
            << QStringList{"[m.Lines]", "Item0%=%zz%", "Item1%=%0041"} << QStringList{"%zz%", "A"};
    }

    void damagedTextShowsWhatIsThere()
    {
        QFETCH(QStringList, text);
        QFETCH(QStringList, lines);
        const TFormProperties properties = parseFormStoreText(text);
        const TStringList* found = findFormProperty(properties, QStringLiteral("m.Lines"));
        QVERIFY(found);
        QCOMPARE(found->Lines(), lines);
    }

    // The blob is read without decoding it first; it must read exactly as its
    // decoded lines do, whatever its encoding and however damaged.
    void blobReadsAsItsDecodedLines_data()
    {
        QTest::addColumn<QByteArray>("blob");
        const QByteArray text =
            "[m.Lines]\r\nCount=4\r\nItem0=f\xC3\xBCr\r\nItem1=\r\nItem3%=a%000db"
            "\rjunk\nItem2=\xEF\xBB\xBFx\n[%5b.Lines]\nItem0=\xFF\xC3=";
        QTest::newRow("utf-8") << QByteArray("\xEF\xBB\xBF") + text;
        QTest::newRow("windows-1252") << QByteArray("[m.Lines]\r\nItem0=\x80\xE4\x81\rItem1=x");
        QTest::newRow("utf-8 damaged")
            << QByteArray("\xEF\xBB\xBF[m.Lines]\nItem0=\xED\xA0\x80\xC3");
        QString wide = QString::fromUtf8(text.left(60)) + QChar(0xD800);
        QByteArray le("\xFF\xFE");
        for (QChar c : wide)
            le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        QTest::newRow("utf-16 odd length") << le + "x";
        QTest::newRow("plain lines joined") << formStoreBlob({{"m.Lines", {"a", "", "b"}}});
    }

    void blobReadsAsItsDecodedLines()
    {
        QFETCH(QByteArray, blob);
        TStringList text;
        text.LoadFromBytes(blob);
        const TFormProperties expected = parseFormStoreText(text.Lines());
        const TFormProperties read = parseFormStoreBlob(blob);
        QCOMPARE(read.size(), expected.size());
        for (qsizetype i = 0; i < read.size(); ++i) {
            QCOMPARE(read[i].path, expected[i].path);
            QCOMPARE(read[i].lines.Lines(), expected[i].lines.Lines());
            QCOMPARE(read[i].lines.Count(), expected[i].lines.Count());
        }
    }

    void textWithoutPropertyFindsNothing()
    {
        QVERIFY(!findFormProperty(parseFormStoreText({"[x.Lines]", "Item0=a"}),
                                  QStringLiteral("msText.Lines")));
        QVERIFY(parseFormStoreBlob(QByteArray()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFormStoreText)
#include "tst_formstoretext.moc"
