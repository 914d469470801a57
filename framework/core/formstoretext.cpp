#include "formstoretext.h"

#include "tstringlist.h"

#include <QMap>

namespace {

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
        const bool pair =
            c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate();
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

TFormProperties parseFormStoreText(const QStringList& lines)
{
    TFormProperties result;
    QString path;
    qint64 count = -1;
    QMap<qint64, QString> items;
    bool inSection = false;

    auto flush = [&] {
        if (!inSection)
            return;
        TFormProperty property{path, {}};
        for (auto it = items.cbegin(); it != items.cend(); ++it)
            if (count < 0 || it.key() < count)
                property.lines.append(it.value());
        result.append(std::move(property));
    };

    for (const QString& line : lines) {
        if (line.startsWith(u'[') && line.endsWith(u']') && line.size() >= 2) {
            flush();
            path = line.mid(1, line.size() - 2);
            if (path.startsWith(u'%'))
                path = unescape(QStringView(path).mid(1));
            count = -1;
            items.clear();
            inSection = true;
            continue;
        }
        if (!inSection)
            continue;
        if (line.startsWith(kCount)) {
            bool ok = false;
            const qint64 value = QStringView(line).mid(kCount.size()).toLongLong(&ok);
            if (ok && value >= 0)
                count = value;
            continue;
        }
        if (!line.startsWith(kItem))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        QStringView head = QStringView(line).mid(kItem.size(), eq - kItem.size());
        const bool escaped = head.endsWith(u'%');
        if (escaped)
            head.chop(1);
        bool ok = false;
        const qint64 index = head.toLongLong(&ok);
        if (!ok || index < 0 || head.startsWith(u'+'))
            continue;
        const QStringView value = QStringView(line).mid(eq + 1);
        items.insert(index, escaped ? unescape(value) : value.toString());
    }
    flush();
    return result;
}

QByteArray formStoreBlob(const TFormProperties& properties)
{
    TStringList text(formatFormStoreText(properties));
    text.SetEncoding(TStringList::TEncoding::Utf8, true);
    return text.SaveToBytes();
}

TFormProperties parseFormStoreBlob(const QByteArray& blob)
{
    TStringList text;
    text.LoadFromBytes(blob);
    return parseFormStoreText(text.Lines());
}

const QStringList* findFormProperty(const TFormProperties& properties, const QString& path)
{
    for (const TFormProperty& property : properties)
        if (property.path == path)
            return &property.lines;
    return nullptr;
}
