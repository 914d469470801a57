// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostile.h"

#include "formstoretext.h"

namespace
{
QByteArray description(const QStringList& lines)
{
    return formStoreBlob({{QStringLiteral("msText.Lines"), lines}});
}

QByteArray utf16le(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return bytes;
}
} // namespace

QList<HostileSetting> hostileSettings(bool large)
{
    QList<HostileSetting> all;
    auto name = [&](const char* label, const QString& value, bool sqliteOnly = false) {
        all.append({QString::fromLatin1(label), value, QStringLiteral("Kurz: ") + value.left(40),
                    description({QStringLiteral("Name: ") + value.left(200)}), sqliteOnly});
    };
    name("ampersand", QStringLiteral("Müller && Söhne & Co"));
    name("equals", QStringLiteral("IMPORT=EXPORT=x"));
    name("quotes", QStringLiteral("\"doppelt\" und 'einfach' und `schief`"));
    name("backslashes", QStringLiteral("C:\\Kunden\\neu\\\\"));
    name("percent", QStringLiteral("100 % %s %n %1 %%"));
    name("sql", QStringLiteral("'; DROP TABLE einstellungen; --"));
    name("sql like", QStringLiteral("_%' OR '1'='1"));
    name("blanks", QStringLiteral("  vorn und hinten  "));
    name("tabs", QStringLiteral("\tTab\tmitten\t"));
    name("control", QStringLiteral("Steuer\x01\x07\x1B\x7F"
                                   "zeichen"));
    name("nul", QString(QStringLiteral("mit")) + QChar(0) + QStringLiteral("NUL"), true);
    name("line break", QStringLiteral("Zeile\r\nUmbruch\rCR\nLF"));
    name("empty", QString());
    name("64 KiB", QString(qsizetype(64) * 1024, QLatin1Char('W')), true);
    name("astral", QStringLiteral("Noten 𝄞 und Gesicht 😀"));
    name("unpaired",
         QStringLiteral("halb ") + QChar(0xD83D) + QStringLiteral(" und ") + QChar(0xDE00));
    name("marker standard", QStringLiteral("STANDARD"));
    name("marker none", QStringLiteral("Kein Standard zugeordnet"));
    name("html", QStringLiteral("<b>fett</b> &amp; <script>x</script>"));
    name("rtl", QStringLiteral("שלום مرحبا"));

    auto blob = [&](const char* label, const QByteArray& bytes, bool sqliteOnly = false) {
        all.append({QString::fromLatin1(label),
                    QStringLiteral("Text: ") + QString::fromLatin1(label),
                    QStringLiteral("Kurz mit kaputtem Text"), bytes, sqliteOnly});
    };
    blob("empty", QByteArray());
    blob("bom only", QByteArray("\xEF\xBB\xBF"));
    blob("utf-16 odd length",
         utf16le(QStringLiteral("[msText.Lines]\r\nCount=1\r\nItem0=ä\r\n")) + "x");
    blob("utf-8 invalid",
         QByteArray("\xEF\xBB\xBF[msText.Lines]\r\nItem0=a\xC3(\xFF\xFE\xED\xA0\x80\r\n"));
    QByteArray garbage;
    for (int i = 0; i < 65536; ++i)
        garbage.append(char((i * 2654435761u) >> 24));
    blob("binary garbage", garbage);
    blob("damaged count",
         QByteArray("[msText.Lines]\r\nCount=99\r\nItem0=eins\r\nItem5=sechs\r\n"));
    blob("damaged items",
         QByteArray("[msText.Lines]\r\nCount=-4\r\nItemX=?\r\nItem=\r\nItem1%=%zz\r\n"
                    "[unbekannt.Items]\r\nItem0=x\r\n[msText.Lines\r\n"));
    blob("no text property", description({}).replace("msText", "anders"));
    if (large) {
        QByteArray big;
        big.reserve(50 * 1024 * 1024 + 64);
        big.append("\xEF\xBB\xBF[msText.Lines]\r\nCount=1\r\nItem0=");
        while (big.size() < qsizetype(50) * 1024 * 1024)
            big.append("Lorem ipsum dolor sit amet, ÄÖÜ äöü ß 0123456789 ");
        big.append("\r\n");
        blob("50 MB", big);
        QStringList lines;
        for (int i = 0; i < 100000; ++i)
            lines.append(QStringLiteral("Zeile %1\tmit Tab").arg(i));
        blob("100000 lines", description(lines));
    }
    return all;
}

QByteArray expectedCopy(const QByteArray& source)
{
    const bool le = source.startsWith("\xFF\xFE");
    const bool be = source.startsWith("\xFE\xFF");
    if (!le && !be) {
        QByteArray out;
        out.reserve(source.size() + 64);
        const qsizetype start = source.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        out.append(source.left(start));
        for (qsizetype i = start; i < source.size(); ++i) {
            const char c = source[i];
            if (c == '\r' || c == '\n') {
                out.append("\r\n");
                if (c == '\r' && i + 1 < source.size() && source[i + 1] == '\n')
                    ++i;
            } else {
                out.append(c);
            }
        }
        if (out.size() > start && !out.endsWith("\r\n"))
            out.append("\r\n");
        return out;
    }
    // UTF-16: the same, unit by unit; an odd last byte stays last.
    auto unit = [&](qsizetype i) {
        const uchar a = uchar(source[i]), b = uchar(source[i + 1]);
        return le ? char16_t(a | (b << 8)) : char16_t((a << 8) | b);
    };
    const QByteArray cr = le ? QByteArray("\r\0", 2) : QByteArray("\0\r", 2);
    const QByteArray lf = le ? QByteArray("\n\0", 2) : QByteArray("\0\n", 2);
    QByteArray out = source.left(2);
    const qsizetype end = 2 + (source.size() - 2) / 2 * 2;
    for (qsizetype i = 2; i < end; i += 2) {
        const char16_t c = unit(i);
        if (c == u'\r' || c == u'\n') {
            out.append(cr).append(lf);
            if (c == u'\r' && i + 2 < end && unit(i + 2) == u'\n')
                i += 2;
        } else {
            out.append(source.mid(i, 2));
        }
    }
    if (out.size() > 2 && !out.endsWith(cr + lf))
        out.append(cr).append(lf);
    return out + source.mid(end);
}
