#include "tstringlist.h"

#include "quorexception.h"

#include <QIODevice>
#include <QStringDecoder>
#include <array>

namespace {

constexpr std::array<char16_t, 32> kAnsiHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ansiByte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kAnsiHigh.size(); ++i)
        if (kAnsiHigh[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

[[noreturn]] void indexError(int index)
{
    throw EQuorException(
        QStringLiteral("Listenindex außerhalb des gültigen Bereichs (%1)").arg(index));
}

QString decodeUtf16(const QByteArray& bytes, qsizetype offset, bool bigEndian)
{
    const qsizetype units = (bytes.size() - offset) / 2;
    QString text(units, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData() + offset);
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char a = in[2 * i], b = in[2 * i + 1];
        out[i] = bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a);
    }
    return text;
}

QByteArray encodeUtf16(const QString& text, bool bigEndian)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    const auto* in = reinterpret_cast<const char16_t*>(text.constData());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = in[i];
        out[2 * i] = static_cast<unsigned char>(bigEndian ? c >> 8 : c & 0xFF);
        out[2 * i + 1] = static_cast<unsigned char>(bigEndian ? c & 0xFF : c >> 8);
    }
    return bytes;
}

} // namespace

QString decodeAnsi(const char* data, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        out[i] = (b >= 0x80 && b < 0xA0) ? kAnsiHigh[b - 0x80] : char16_t(b);
    }
    return text;
}

QByteArray encodeAnsi(const QString& text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    const auto* in = reinterpret_cast<const char16_t*>(text.constData());
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = ansiByte(in[i]);
    return bytes;
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    const QChar* data = text.constData();
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i].unicode();
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(QString(data + start, i - start));
        if (c == u'\r' && i + 1 < size && data[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(QString(data + start, size - start));
    return lines;
}

void TStringList::Clear()
{
    m_lines.clear();
}

int TStringList::Add(const QString& line)
{
    m_lines.append(line);
    return Count() - 1;
}

const QString& TStringList::Get(int index) const
{
    if (index < 0 || index >= Count())
        indexError(index);
    return m_lines.at(index);
}

void TStringList::Put(int index, const QString& line)
{
    if (index < 0 || index >= Count())
        indexError(index);
    m_lines[index] = line;
}

int TStringList::IndexOfName(const QString& name) const
{
    for (int i = 0; i < Count(); ++i) {
        const QString& line = m_lines.at(i);
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq) == name)
            return i;
    }
    return -1;
}

QString TStringList::Values(const QString& name) const
{
    const int i = IndexOfName(name);
    if (i < 0)
        return {};
    const QString& line = m_lines.at(i);
    return line.mid(line.indexOf(u'=') + 1);
}

void TStringList::LoadFromBytes(const QByteArray& bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    QString text;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        m_encoding = TEncoding::Utf8;
        m_bom = true;
        text = QString::fromUtf8(bytes.constData() + 3, n - 3);
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        m_encoding = TEncoding::Utf16LE;
        m_bom = true;
        text = decodeUtf16(bytes, 2, false);
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        m_encoding = TEncoding::Utf16BE;
        m_bom = true;
        text = decodeUtf16(bytes, 2, true);
    } else {
        m_encoding = TEncoding::Ansi;
        m_bom = false;
        text = decodeAnsi(bytes.constData(), n);
    }
    m_lines = splitLines(text);
}

QByteArray TStringList::SaveToBytes() const
{
    qsizetype length = 0;
    for (const QString& line : m_lines)
        length += line.size() + 2;
    QString text;
    text.reserve(length);
    for (const QString& line : m_lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    switch (m_encoding) {
    case TEncoding::Utf8:
        return (m_bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
    case TEncoding::Utf16LE:
        return (m_bom ? QByteArray("\xFF\xFE") : QByteArray()) + encodeUtf16(text, false);
    case TEncoding::Utf16BE:
        return (m_bom ? QByteArray("\xFE\xFF") : QByteArray()) + encodeUtf16(text, true);
    case TEncoding::Ansi:
        break;
    }
    return encodeAnsi(text);
}

void TStringList::LoadFromStream(QIODevice& stream)
{
    LoadFromBytes(stream.readAll());
}

void TStringList::SaveToStream(QIODevice& stream) const
{
    const QByteArray bytes = SaveToBytes();
    if (stream.write(bytes) != bytes.size())
        throw EQuorException(QStringLiteral("Fehler beim Schreiben in den Datenstrom: %1")
                                 .arg(stream.errorString()));
}
