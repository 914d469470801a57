// SPDX-License-Identifier: GPL-3.0-or-later
#include "tstringlist.h"

#include <QBuffer>
#include <QTest>

class TestStringList : public QObject
{
    Q_OBJECT

    static QByteArray roundTrip(const QByteArray& bytes, TStringList* loaded = nullptr)
    {
        QBuffer in;
        in.setData(bytes);
        in.open(QIODevice::ReadOnly);
        TStringList list;
        list.LoadFromStream(in);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        list.SaveToStream(out);
        if (loaded)
            *loaded = list;
        return out.data();
    }

private Q_SLOTS:
    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<bool>("bom");
        QTest::addColumn<QStringList>("lines");
        const QStringList lines{QStringLiteral("Größe=1"), QString(), QStringLiteral("\tx €")};
        const QString text = lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
        QByteArray le("\xFF\xFE", 2), be("\xFE\xFF", 2);
        for (QChar c : text) {
            le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
            be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        }
        QTest::newRow("utf-8 bom") << QByteArray("\xEF\xBB\xBF") + text.toUtf8()
                                   << int(TStringList::TEncoding::Utf8) << true << lines;
        QTest::newRow("utf-16 le") << le << int(TStringList::TEncoding::Utf16LE) << true << lines;
        QTest::newRow("utf-16 be") << be << int(TStringList::TEncoding::Utf16BE) << true << lines;
        QTest::newRow("ansi") << QByteArray("Gr\xF6\xDF"
                                            "e=1\r\n\r\n\tx \x80\r\n")
                              << int(TStringList::TEncoding::Ansi) << false << lines;
    }

    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, encoding);
        QFETCH(bool, bom);
        QFETCH(QStringList, lines);
        TStringList list;
        QCOMPARE(roundTrip(bytes, &list), bytes);
        QCOMPARE(int(list.Encoding()), encoding);
        QCOMPARE(list.HasBom(), bom);
        QCOMPARE(list.Lines(), lines);
    }

    void everyAnsiByteRoundTrips()
    {
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            if (b != '\r' && b != '\n')
                bytes.append(char(b));
        bytes.append("\r\n");
        TStringList list;
        QCOMPARE(roundTrip(bytes, &list), bytes);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.Get(0).size(), 254);
        // The unassigned bytes keep their own code points.
        QCOMPARE(list.Get(0).at(0x81 - 2).unicode(), char16_t(0x81));
        QCOMPARE(list.Get(0).at(0x80 - 2).unicode(), char16_t(0x20AC));
    }

    // Whatever the bytes, loading and saving gives them back (line ends being
    // CR LF already): a copy never damages a text it cannot fully read.
    void damagedTextRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray bom("\xEF\xBB\xBF");
        QTest::newRow("bom only") << bom;
        QTest::newRow("utf-8 invalid sequences")
            << bom + QByteArray::fromHex("6f6b2080 20c080 20eda080 20f4908080 20feff 20c30d0a"
                                         "e282 20656e64 20f09f0d0a");
        QTest::newRow("utf-8 valid after invalid")
            << bom + QByteArray::fromHex("c3c3a4f09f98800d0a");
        QTest::newRow("utf-16 le odd length") << QByteArray::fromHex("fffe61000d000a0062");
        QTest::newRow("utf-16 be odd length") << QByteArray::fromHex("feff0061000d000a62");
        QTest::newRow("utf-16 lone surrogates") << QByteArray::fromHex("fffe00d8780000dc0d000a00");
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(char((i * 7919) % 251));
        QTest::newRow("binary garbage with NULs")
            << garbage.replace("\r", "").replace("\n", "") + "\r\n";
    }

    void damagedTextRoundTrips()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(roundTrip(bytes), bytes);
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("mixed") << QByteArray("a\nb\rc\r\n\n") << QStringList{"a", "b", "c", ""};
        QTest::newRow("cr before crlf") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("only blank lines") << QByteArray("\r\n\r\n") << QStringList{"", ""};
        QTest::newRow("bom only") << QByteArray("\xEF\xBB\xBF") << QStringList();
    }

    void lineEnds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        TStringList list;
        list.LoadFromBytes(bytes);
        QCOMPARE(list.Lines(), lines);
        // Saved again, every line ends with CR LF.
        TStringList again;
        again.LoadFromBytes(list.SaveToBytes());
        QCOMPARE(again.Lines(), lines);
        QVERIFY(list.Count() == 0 || list.SaveToBytes().endsWith("\r\n"));
    }

    void namesAndValues()
    {
        TStringList list(QStringList{"IMPORT=a=b", "import=x", "EXPORT", "BRIEF =y", "=z"});
        QCOMPARE(list.IndexOfName(QStringLiteral("IMPORT")), 0);
        QCOMPARE(list.Values(QStringLiteral("IMPORT")), QStringLiteral("a=b"));
        QCOMPARE(list.Values(QStringLiteral("import")), QStringLiteral("x"));
        QCOMPARE(list.IndexOfName(QStringLiteral("EXPORT")), -1);
        QCOMPARE(list.IndexOfName(QStringLiteral("BRIEF")), -1);
        QCOMPARE(list.Values(QStringLiteral("BRIEF ")), QStringLiteral("y"));
        QCOMPARE(list.IndexOfName(QString()), 4);
        QCOMPARE(list.Values(QStringLiteral("missing")), QString());
    }

    void indexOutOfRangeThrows()
    {
        TStringList list;
        list.Add(QStringLiteral("a"));
        QVERIFY_THROWS_EXCEPTION(std::exception, list.Get(1));
        QVERIFY_THROWS_EXCEPTION(std::exception, list.Put(-1, QString()));
    }

    // Lines handed over joined behave as the same lines held one by one.
    void joinedLinesAreLines()
    {
        const TStringList none = TStringList::FromJoinedLines(QString(), 0);
        const TStringList oneEmpty = TStringList::FromJoinedLines(QString(), 1);
        QCOMPARE(none.Count(), 0);
        QCOMPARE(oneEmpty.Lines(), QStringList{QString()});
        QVERIFY(none != oneEmpty);

        TStringList list = TStringList::FromJoinedLines(QStringLiteral("a\n\nc=d"), 3);
        QCOMPARE(list.Count(), 3);
        QCOMPARE(list.JoinedLines(), QStringLiteral("a\n\nc=d"));
        QVERIFY(list == TStringList({"a", "", "c=d"}));
        QCOMPARE(list.Values("c"), QStringLiteral("d"));
        QCOMPARE(list.SaveToBytes(), QByteArray("a\r\n\r\nc=d\r\n"));
        list.Add(QStringLiteral("e"));
        QCOMPARE(list.JoinedLines(), QStringLiteral("a\n\nc=d\ne"));
        QCOMPARE(list.Count(), 4);
    }
};

QTEST_GUILESS_MAIN(TestStringList)
#include "tst_stringlist.moc"
