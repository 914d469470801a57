// SPDX-License-Identifier: GPL-3.0-or-later
#include "formstoretext.h"

#include "tstringlist.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace
{

const QLatin1String kCount("Count=");
const QLatin1String kItem("Item");

bool needsEscape(const QString& text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n' || c == u'%')
            return true;
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            return true;
    }
    return false;
}

QString escape(const QString& text)
{
    QString out;
    out.reserve(text.size() + 16);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate();
        if (pair) {
            out += c;
            out += text.at(++i);
        } else if (c == u'\r' || c == u'\n' || c == u'%' || c.isSurrogate()) {
            out += QStringLiteral("%%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

QString unescape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 4 < text.size()) {
            bool ok = false;
            const uint code = text.mid(i + 1, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 4;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace

QStringList formatFormStoreText(const TFormProperties& properties)
{
    QStringList out;
    for (const TFormProperty& property : properties) {
        // A path that a plain line cannot carry is written escaped, marked by "%".
        if (needsEscape(property.path))
            out.append(QLatin1String("[%") + escape(property.path) + QLatin1Char(']'));
        else
            out.append(QLatin1Char('[') + property.path + QLatin1Char(']'));
        const QStringList& lines = property.lines.Lines();
        out.append(kCount + QString::number(lines.size()));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString& line = lines.at(i);
            const QString head = kItem + QString::number(i);
            if (needsEscape(line))
                out.append(head + QLatin1String("%=") + escape(line));
            else
                out.append(head + QLatin1Char('=') + line);
        }
    }
    return out;
}

namespace
{

// A plain decimal number of at most 18 digits, or -1.
template <typename Unit> qint64 parseNumber(std::basic_string_view<Unit> digits)
{
    if (digits.empty() || digits.size() > 18)
        return -1;
    qint64 value = 0;
    for (Unit c : digits) {
        if (c < Unit('0') || c > Unit('9'))
            return -1;
        value = value * 10 + (c - Unit('0'));
    }
    return value;
}

template <typename Unit> bool startsWith(std::basic_string_view<Unit> text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (text[i] != Unit(prefix[i]))
            return false;
    return true;
}

// How the values of a text become UTF-16: the text's own units, or bytes in
// UTF-8 or Windows-1252. Structure (brackets, "=", digits, line ends) is ASCII
// in all of them, so the parser reads the undecoded text and decodes only what
// it keeps, straight into the result.
struct Utf16Units {
    static qsizetype decode(char16_t* out, std::u16string_view in)
    {
        std::memcpy(out, in.data(), in.size() * sizeof(char16_t));
        return qsizetype(in.size());
    }
};
struct Utf8Bytes {
    static qsizetype decode(char16_t* out, std::string_view in)
    {
        return decodeUtf8Into(out, in.data(), qsizetype(in.size()));
    }
};
struct AnsiBytes {
    static qsizetype decode(char16_t* out, std::string_view in)
    {
        return decodeAnsiInto(out, in.data(), qsizetype(in.size()));
    }
};

template <typename Decoder, typename Unit> QString decoded(std::basic_string_view<Unit> in)
{
    QString text(qsizetype(in.size()), Qt::Uninitialized);
    text.truncate(Decoder::decode(reinterpret_cast<char16_t*>(text.data()), in));
    return text;
}

// Reads the text line by line, each line a view into the text; the values it
// keeps stay views until their section is complete.
template <typename Unit, typename Decoder> class TFormTextParser
{
    using View = std::basic_string_view<Unit>;

public:
    void line(View line)
    {
        if (line.empty())
            return;
        if (line.front() == Unit('[') && line.back() == Unit(']') && line.size() >= 2) {
            flush();
            m_path = decoded<Decoder>(line.substr(1, line.size() - 2));
            if (m_path.startsWith(u'%'))
                m_path = unescape(QStringView(m_path).mid(1));
            m_count = -1;
            m_items.clear();
            m_inSection = true;
            return;
        }
        if (!m_inSection)
            return;
        if (line.front() == Unit('C') && startsWith(line, "Count=")) {
            const qint64 value = parseNumber(line.substr(6));
            if (value >= 0)
                m_count = value;
            return;
        }
        if (!startsWith(line, "Item"))
            return;
        const std::size_t eq = line.find(Unit('='));
        if (eq == View::npos)
            return;
        View head = line.substr(4, eq - 4);
        const bool escaped = !head.empty() && head.back() == Unit('%');
        if (escaped)
            head.remove_suffix(1);
        const qint64 index = parseNumber(head);
        if (index < 0)
            return;
        m_items.push_back({index, line.substr(eq + 1), escaped});
    }

    TFormProperties finish()
    {
        flush();
        return std::move(m_result);
    }

private:
    struct Item {
        qint64 index;
        View value;
        bool escaped;
    };

    void flush()
    {
        if (!m_inSection)
            return;
        // Items normally come in order; a damaged text may repeat or mix them:
        // the last of equal numbers counts.
        const auto byIndex = [](const Item& a, const Item& b) { return a.index < b.index; };
        if (!std::is_sorted(m_items.cbegin(), m_items.cend(), byIndex))
            std::stable_sort(m_items.begin(), m_items.end(), byIndex);
        std::vector<Item> kept;
        kept.reserve(m_items.size());
        qsizetype units = 0;
        bool anyEscaped = false;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (i + 1 < m_items.size() && m_items[i + 1].index == m_items[i].index)
                continue;
            if (m_count >= 0 && m_items[i].index >= m_count)
                continue;
            kept.push_back(m_items[i]);
            units += qsizetype(m_items[i].value.size()) + 1;
            anyEscaped = anyEscaped || m_items[i].escaped;
        }
        m_result.append({m_path, anyEscaped ? separateLines(kept) : joinedLines(kept, units)});
        m_inSection = false;
    }

    // An escaped value may hold line ends, which only separate strings can carry.
    static TStringList separateLines(const std::vector<Item>& items)
    {
        QStringList lines;
        lines.reserve(qsizetype(items.size()));
        for (const Item& item : items) {
            const QString value = decoded<Decoder>(item.value);
            lines.append(item.escaped ? unescape(value) : value);
        }
        return TStringList(std::move(lines));
    }

    // Plain values are decoded into one text, a line end after each but the last.
    static TStringList joinedLines(const std::vector<Item>& items, qsizetype units)
    {
        QString text(units, Qt::Uninitialized);
        auto* out = reinterpret_cast<char16_t*>(text.data());
        qsizetype n = 0;
        for (const Item& item : items) {
            n += Decoder::decode(out + n, item.value);
            out[n++] = u'\n';
        }
        text.truncate(n > 0 ? n - 1 : 0);
        return TStringList::FromJoinedLines(std::move(text), qsizetype(items.size()));
    }

    TFormProperties m_result;
    QString m_path;
    qint64 m_count = -1;
    std::vector<Item> m_items;
    bool m_inSection = false;
};

template <typename Decoder, typename Unit>
TFormProperties parseUnits(std::basic_string_view<Unit> text)
{
    TFormTextParser<Unit, Decoder> parser;
    forEachLineIn(text, [&](std::basic_string_view<Unit> line) { parser.line(line); });
    return parser.finish();
}

} // namespace

TFormProperties parseFormStoreText(const QStringList& lines)
{
    TFormTextParser<char16_t, Utf16Units> parser;
    for (const QString& line : lines)
        parser.line(std::u16string_view(QStringView(line).utf16(), std::size_t(line.size())));
    return parser.finish();
}

QByteArray formStoreBlob(const TFormProperties& properties)
{
    // What a line list in UTF-8 with byte-order mark saves of the lines
    // formatFormStoreText gives, written straight into the bytes.
    QByteArray out("\xEF\xBB\xBF");
    auto ascii = [&](std::string_view text) {
        const qsizetype at = out.size();
        out.resize(at + qsizetype(text.size()));
        std::memcpy(out.data() + at, text.data(), text.size());
    };
    auto number = [&](qsizetype value) {
        char digits[24];
        ascii({digits,
               std::size_t(std::to_chars(digits, digits + sizeof digits, value).ptr - digits)});
    };
    for (const TFormProperty& property : properties) {
        if (needsEscape(property.path)) {
            ascii("[%");
            appendUtf8(out, escape(property.path));
        } else {
            ascii("[");
            appendUtf8(out, property.path);
        }
        ascii("]\r\nCount=");
        const QStringList& lines = property.lines.Lines();
        number(lines.size());
        ascii("\r\n");
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString& line = lines.at(i);
            ascii("Item");
            number(i);
            if (needsEscape(line)) {
                ascii("%=");
                appendUtf8(out, escape(line));
            } else {
                ascii("=");
                appendUtf8(out, line);
            }
            ascii("\r\n");
        }
    }
    return out;
}

TFormProperties parseFormStoreBlob(const QByteArray& blob)
{
    // Read as a line list reads it: the byte-order mark decides, else Windows-1252.
    TStringList text;
    text.LoadFromBytes(blob);
    const std::string_view bytes(blob.constData(), std::size_t(blob.size()));
    switch (text.Encoding()) {
    case TStringList::TEncoding::Utf8:
        return parseUnits<Utf8Bytes>(bytes.substr(3));
    case TStringList::TEncoding::Ansi:
        return parseUnits<AnsiBytes>(bytes);
    case TStringList::TEncoding::Utf16LE:
    case TStringList::TEncoding::Utf16BE:
        break;
    }
    const QString units = text.Text();
    return parseUnits<Utf16Units>(
        std::u16string_view(QStringView(units).utf16(), std::size_t(units.size())));
}

const TStringList* findFormProperty(const TFormProperties& properties, const QString& path)
{
    for (const TFormProperty& property : properties)
        if (property.path == path)
            return &property.lines;
    return nullptr;
}
