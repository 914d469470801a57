// SPDX-License-Identifier: GPL-3.0-or-later
#include "jsonfile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QVarLengthArray>
#include <cstring>

QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString printableLines(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = printable(line);
    return lines.join(QLatin1Char('\n'));
}

QString keyText(const TStoreKey& key)
{
    QStringList fields;
    for (const QString& field : key)
        fields << printable(field);
    return fields.join(QLatin1Char('/'));
}

QJsonObject readJsonFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileFormatError{
            EFileFormatError::Malformed,
            QStringLiteral("%1: kann nicht gelesen werden: %2").arg(fileName, file.errorString())};
    const QByteArray data = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const auto line = data.left(parseError.offset).count('\n') + 1;
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1, Zeile %2: kein gültiges JSON: %3")
                                   .arg(fileName)
                                   .arg(line)
                                   .arg(parseError.errorString())};
    }
    return document.object();
}

void writeFileWhole(const QString& fileName, const QByteArray& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1: kann nicht geschrieben werden: %2")
                                   .arg(fileName, file.errorString())};
}

void writeFileWhole(const QString& fileName, const std::function<void(const TSink&)>& produce)
{
    QSaveFile file(fileName);
    auto failed = [&] {
        return EFileFormatError{EFileFormatError::Malformed,
                                QStringLiteral("%1: kann nicht geschrieben werden: %2")
                                    .arg(fileName, file.errorString())};
    };
    produce([&](const QByteArray& bytes) {
        if ((!file.isOpen() && !file.open(QIODevice::WriteOnly)) ||
            file.write(bytes) != bytes.size())
            throw failed();
    });
    if ((!file.isOpen() && !file.open(QIODevice::WriteOnly)) || !file.commit())
        throw failed();
}

void appendJsonString(QByteArray& out, QStringView text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const qsizetype at = out.size();
    // At most six bytes for each UTF-16 unit (an escape), and the quotes.
    out.resize(at + 6 * text.size() + 2);
    char* cursor = out.data() + at;
    auto escape = [&](char16_t u) {
        *cursor++ = '\\';
        *cursor++ = 'u';
        for (int shift = 12; shift >= 0; shift -= 4)
            *cursor++ = kHex[(u >> shift) & 0xf];
    };
    *cursor++ = '"';
    const char16_t* src = text.utf16();
    const char16_t* const end = src + text.size();
    while (src != end) {
        const char16_t u = *src++;
        if (u >= 0x20 && u < 0x80 && u != '"' && u != '\\') {
            *cursor++ = char(u);
        } else if (u < 0x80) {
            switch (u) {
            case '"':
            case '\\':
                *cursor++ = '\\';
                *cursor++ = char(u);
                break;
            case '\b':
                *cursor++ = '\\';
                *cursor++ = 'b';
                break;
            case '\f':
                *cursor++ = '\\';
                *cursor++ = 'f';
                break;
            case '\n':
                *cursor++ = '\\';
                *cursor++ = 'n';
                break;
            case '\r':
                *cursor++ = '\\';
                *cursor++ = 'r';
                break;
            case '\t':
                *cursor++ = '\\';
                *cursor++ = 't';
                break;
            default:
                escape(u);
            }
        } else if (u < 0x800) {
            *cursor++ = char(0xc0 | (u >> 6));
            *cursor++ = char(0x80 | (u & 0x3f));
        } else if (!QChar::isSurrogate(u)) {
            *cursor++ = char(0xe0 | (u >> 12));
            *cursor++ = char(0x80 | ((u >> 6) & 0x3f));
            *cursor++ = char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && src != end && QChar::isLowSurrogate(*src)) {
            const char32_t c = QChar::surrogateToUcs4(u, *src++);
            *cursor++ = char(0xf0 | (c >> 18));
            *cursor++ = char(0x80 | ((c >> 12) & 0x3f));
            *cursor++ = char(0x80 | ((c >> 6) & 0x3f));
            *cursor++ = char(0x80 | (c & 0x3f));
        } else {
            // A lone surrogate has no UTF-8: it is written as its escape.
            escape(u);
        }
    }
    *cursor++ = '"';
    out.resize(cursor - out.constData());
}

void appendJsonAscii(QByteArray& out, QByteArrayView text)
{
    out += '"';
    out += text;
    out += '"';
}

namespace
{
// line(i) gives the i-th of count lines.
template <typename Line> void appendLines(QByteArray& out, qsizetype count, int level, Line&& line)
{
    static constexpr std::string_view kSpaces = "                        ";
    const std::string_view indent = kSpaces.substr(0, 4 * std::size_t(level));
    appendBytes(out, "[\n");
    for (qsizetype i = 0; i < count; ++i) {
        appendBytes(out, indent);
        appendBytes(out, "    ");
        appendJsonString(out, line(i));
        appendBytes(out, i + 1 < count ? ",\n" : "\n");
    }
    appendBytes(out, indent);
    out += ']';
}
} // namespace

void appendJsonLines(QByteArray& out, QStringView joined, qsizetype count, int level)
{
    qsizetype from = 0;
    appendLines(out, count, level, [&](qsizetype) {
        qsizetype to = joined.indexOf(u'\n', from);
        if (to < 0)
            to = joined.size();
        const QStringView line = joined.mid(from, to - from);
        from = to + 1;
        return line;
    });
}

void appendJsonLines(QByteArray& out, const QStringList& lines, int level)
{
    appendLines(out, lines.size(), level, [&](qsizetype i) { return QStringView(lines[i]); });
}

void refuseUnknownFields(const QJsonObject& object, const QStringList& known, const QString& where)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!known.contains(it.key()))
            throw EFileFormatError{
                EFileFormatError::Malformed,
                QStringLiteral("%1: unbekanntes Feld „%2“").arg(where, it.key())};
}

void refuseNul(const QStringList& texts, const QString& where)
{
    for (const QString& text : texts)
        if (text.contains(QChar(0)))
            throw EFileFormatError{
                EFileFormatError::Refused,
                QStringLiteral("%1: „%2“ enthält ein NUL-Zeichen; Namen und Kurzbeschreibungen "
                               "dürfen keines enthalten.")
                    .arg(where, printable(text))};
}

void TKeysSeen::refuseRepeated(const TStoreKey& key, int number)
{
    // Two hashes of differing seeds over the fields, each after its length:
    // 128 bits that two keys of a file share practically never, at a fraction
    // of a digest's cost.
    QVarLengthArray<char16_t, 256> units;
    for (const QString& field : key) {
        const auto length = quint32(field.size());
        units.append(char16_t(length >> 16));
        units.append(char16_t(length));
        units.append(reinterpret_cast<const char16_t*>(field.constData()), field.size());
    }
    const auto bytes = size_t(units.size()) * sizeof(char16_t);
    const std::pair<quint64, quint64> fields{qHashBits(units.data(), bytes, 0x9e3779b97f4a7c15u),
                                             qHashBits(units.data(), bytes, 0xc2b2ae3d27d4eb4fu)};
    const auto it = m_seen.constFind(fields);
    if (it != m_seen.constEnd())
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1 %2 und %1 %3 haben denselben Schlüssel „%4“")
                                   .arg(m_what)
                                   .arg(*it)
                                   .arg(number)
                                   .arg(keyText(key))};
    m_seen.insert(fields, number);
}

TJsonEntries::TJsonEntries(const QString& fileName, QString list)
    : m_fileName(fileName), m_list(std::move(list)), m_file(fileName)
{
    // A pipe or a terminal is read whole, once, before the store is touched:
    // a file read entry by entry may have to be read again whole.
    if (!QFileInfo(fileName).isFile())
        throw Whole{};
    if (!m_file.open(QIODevice::ReadOnly) || m_file.isSequential())
        notTaken();
}

void TJsonEntries::notTaken()
{
    readJsonFile(m_fileName);
    throw Whole{};
}

int TJsonEntries::peek()
{
    if (m_at == m_buffer.size()) {
        m_buffer = m_file.read(1 << 16);
        m_at = 0;
        if (m_buffer.isEmpty())
            return -1;
    }
    return uchar(m_buffer.constData()[m_at]);
}

void TJsonEntries::skipSpace()
{
    for (int c = peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = peek())
        ++m_at;
}

void TJsonEntries::expect(char c)
{
    skipSpace();
    if (peek() != c)
        notTaken();
    ++m_at;
}

QJsonValue TJsonEntries::value()
{
    skipSpace();
    QByteArray text = "[";
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    // The value's end is looked for a buffer at a time.
    for (bool done = false; !done && peek() >= 0;) {
        const char* data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        qsizetype i = m_at;
        for (; i < size; ++i) {
            const char c = data[i];
            if (inString) {
                if (escaped) {
                    escaped = false;
                } else if (c == '\\') {
                    escaped = true;
                } else if (c == '"') {
                    inString = false;
                    if (depth == 0) {
                        ++i;
                        done = true;
                        break;
                    }
                }
                continue;
            }
            if (depth == 0 && (i > m_at || text.size() > 1) &&
                (c == ',' || c == ']' || c == '}' || c == ' ' || c == '\t' || c == '\n' ||
                 c == '\r')) {
                done = true;
                break;
            }
            if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth <= 0) {
                ++i;
                done = true;
                break;
            }
        }
        text.append(data + m_at, i - m_at);
        m_at = i;
    }
    text += ']';
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        notTaken();
    return document.array().at(0);
}

void TJsonEntries::members()
{
    for (;;) {
        skipSpace();
        const int c = peek();
        if (c == '}') {
            ++m_at;
            skipSpace();
            if (peek() >= 0)
                notTaken();
            m_state = State::Done;
            return;
        }
        if (!m_firstMember) {
            if (c != ',')
                notTaken();
            ++m_at;
        }
        m_firstMember = false;
        const QJsonValue name = value();
        if (!name.isString() || m_others.contains(name.toString()) ||
            (m_listSeen && name.toString() == m_list))
            notTaken();
        expect(':');
        skipSpace();
        if (name.toString() == m_list && peek() == '[') {
            ++m_at;
            m_listSeen = true;
            m_firstEntry = true;
            m_state = State::InList;
            return;
        }
        m_others.insert(name.toString(), value());
    }
}

bool TJsonEntries::next(QJsonValue& entry)
{
    if (m_state == State::Start) {
        expect('{');
        m_state = State::Members;
    }
    for (;;) {
        switch (m_state) {
        case State::Start:
        case State::Done:
            return false;
        case State::Members:
            members();
            continue;
        case State::InList:
            break;
        }
        skipSpace();
        const int c = peek();
        if (c == ']') {
            ++m_at;
            m_state = State::Members;
            continue;
        }
        if (!m_firstEntry) {
            if (c != ',')
                notTaken();
            ++m_at;
        }
        m_firstEntry = false;
        entry = value();
        return true;
    }
}
