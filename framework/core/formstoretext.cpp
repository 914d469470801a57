#include "formstoretext.h"

#include "tstringlist.h"

#include <algorithm>

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
        out.append(kCount + QString::number(property.lines.size()));
        for (qsizetype i = 0; i < property.lines.size(); ++i) {
            const QString& line = property.lines.at(i);
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
qint64 parseNumber(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return -1;
    qint64 value = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// Reads the text line by line, each line a view into the text.
class TFormTextParser
{
public:
    void line(QStringView line)
    {
        if (line.isEmpty())
            return;
        if (line.front() == u'[' && line.back() == u']' && line.size() >= 2) {
            flush();
            m_path = line.mid(1, line.size() - 2).toString();
            if (m_path.startsWith(u'%'))
                m_path = unescape(QStringView(m_path).mid(1));
            m_count = -1;
            m_items.clear();
            m_inSection = true;
            return;
        }
        if (!m_inSection)
            return;
        if (line.front() == u'C' && line.startsWith(kCount)) {
            const qint64 value = parseNumber(line.mid(kCount.size()));
            if (value >= 0)
                m_count = value;
            return;
        }
        if (line.size() < 4 || line[0] != u'I' || line[1] != u't' || line[2] != u'e' ||
            line[3] != u'm')
            return;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            return;
        QStringView head = line.mid(kItem.size(), eq - kItem.size());
        const bool escaped = head.endsWith(u'%');
        if (escaped)
            head.chop(1);
        const qint64 index = parseNumber(head);
        if (index < 0)
            return;
        const QStringView value = line.mid(eq + 1);
        m_items.append({index, escaped ? unescape(value) : value.toString()});
    }

    TFormProperties finish()
    {
        flush();
        return std::move(m_result);
    }

private:
    void flush()
    {
        if (!m_inSection)
            return;
        // Items normally come in order; a damaged text may repeat or mix them:
        // the last of equal numbers counts.
        if (!std::is_sorted(m_items.cbegin(), m_items.cend(),
                            [](const auto& a, const auto& b) { return a.first < b.first; }))
            std::stable_sort(m_items.begin(), m_items.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        TFormProperty property{m_path, {}};
        property.lines.reserve(m_items.size());
        for (qsizetype i = 0; i < m_items.size(); ++i) {
            if (i + 1 < m_items.size() && m_items[i + 1].first == m_items[i].first)
                continue;
            if (m_count < 0 || m_items[i].first < m_count)
                property.lines.append(std::move(m_items[i].second));
        }
        m_result.append(std::move(property));
        m_inSection = false;
    }

    TFormProperties m_result;
    QString m_path;
    qint64 m_count = -1;
    QList<std::pair<qint64, QString>> m_items;
    bool m_inSection = false;
};

} // namespace

TFormProperties parseFormStoreText(const QStringList& lines)
{
    TFormTextParser parser;
    for (const QString& line : lines)
        parser.line(line);
    return parser.finish();
}

QByteArray formStoreBlob(const TFormProperties& properties)
{
    TStringList text(formatFormStoreText(properties));
    text.SetEncoding(TStringList::TEncoding::Utf8, true);
    return text.SaveToBytes();
}

TFormProperties parseFormStoreBlob(const QByteArray& blob)
{
    TStringList decoder;
    decoder.LoadFromBytes(blob);
    const QString text = decoder.Text();
    TFormTextParser parser;
    forEachLine(text, [&](QStringView line) { parser.line(line); });
    return parser.finish();
}

const QStringList* findFormProperty(const TFormProperties& properties, const QString& path)
{
    for (const TFormProperty& property : properties)
        if (property.path == path)
            return &property.lines;
    return nullptr;
}
