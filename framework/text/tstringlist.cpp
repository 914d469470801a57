// SPDX-License-Identifier: GPL-3.0-or-later
#include "tstringlist.h"

#include "quorexception.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringDecoder>
#include <array>
#include <cstring>

namespace
{

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

// A line list converts to and from a plain string list, so that components
// with either kind of line property take what a form store restores.
[[maybe_unused]] const bool kConvertersRegistered = [] {
    QMetaType::registerConverter<TStringList, QStringList>(
        [](const TStringList& list) { return list.Lines(); });
    QMetaType::registerConverter<QStringList, TStringList>(
        [](const QStringList& lines) { return TStringList(lines); });
    return true;
}();

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

qsizetype decodeUtf8Into(char16_t* out, const char* data, qsizetype size)
{
    // Qt's decoder is much faster on a long text; it serves whenever the text
    // is valid UTF-8, which it says. An initial U+FEFF is text here, not a
    // second mark. A short one, a line's value, is decoded here at once.
    if (size >= 256) {
        QStringDecoder valid(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                       QStringDecoder::Flag::ConvertInitialBom);
        const QChar* end =
            valid.appendToBuffer(reinterpret_cast<QChar*>(out), QByteArrayView(data, size));
        if (!valid.hasError())
            return end - reinterpret_cast<QChar*>(out);
    }
    qsizetype n = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char b = in[i];
        if (b < 0x80) {
            out[n++] = b;
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            code = b & 0x1F;
            minimum = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            code = b & 0x0F;
            minimum = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            code = b & 0x07;
            minimum = 0x10000;
        }
        bool ok = length > 0 && i + length <= size;
        for (int k = 1; ok && k < length; ++k) {
            const unsigned char c = in[i + k];
            ok = (c & 0xC0) == 0x80;
            code = (code << 6) | (c & 0x3F);
        }
        ok = ok && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!ok) {
            // A byte that is not part of a valid sequence stands for itself, as
            // a lone low surrogate U+DC80..U+DCFF, so that saving writes it back.
            out[n++] = char16_t(0xDC00 + b);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out[n++] = char16_t(0xD800 + (code >> 10));
            out[n++] = char16_t(0xDC00 + (code & 0x3FF));
        } else {
            out[n++] = char16_t(code);
        }
        i += length;
    }
    return n;
}

QString decodeUtf8(const char* data, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    text.truncate(decodeUtf8Into(reinterpret_cast<char16_t*>(text.data()), data, size));
    return text;
}

qsizetype encodeUtf8Into(char* out, const char16_t* in, qsizetype size)
{
    char* const start = out;
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = in[i];
        if (c < 0x80) {
            *out++ = char(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            *out++ = char(c - 0xDC00);
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *out++ = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *out++ = char(0xE0 | (c >> 12));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            *out++ = char(0xF0 | (c >> 18));
            *out++ = char(0x80 | ((c >> 12) & 0x3F));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *out++ = char(0x80 | (c & 0x3F));
    }
    return out - start;
}

void appendUtf8(QByteArray& bytes, QStringView text)
{
    const qsizetype at = bytes.size();
    bytes.resize(at + 3 * text.size());
    bytes.truncate(at + encodeUtf8Into(bytes.data() + at, text.utf16(), text.size()));
}

QByteArray encodeUtf8(const QString& text)
{
    QByteArray bytes;
    appendUtf8(bytes, text);
    return bytes;
}

qsizetype decodeAnsiInto(char16_t* out, const char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        out[i] = (b >= 0x80 && b < 0xA0) ? kAnsiHigh[b - 0x80] : char16_t(b);
    }
    return size;
}

QString decodeAnsi(const char* data, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    decodeAnsiInto(reinterpret_cast<char16_t*>(text.data()), data, size);
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
    forEachLine(text, [&](QStringView line) { lines.append(line.toString()); });
    return lines;
}

QByteArray withCrLfLineEnds(const QByteArray& bytes)
{
    const bool le = bytes.startsWith("\xFF\xFE");
    const bool be = !le && bytes.startsWith("\xFE\xFF");
    if (!le && !be) {
        const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        const char* data = bytes.constData();
        const qsizetype size = bytes.size();
        // Already right: every CR followed by LF, every LF preceded by CR, and
        // a final line end after the last line. memchr jumps from one to the next.
        bool canonical = size == start ||
                         (size >= start + 2 && data[size - 2] == '\r' && data[size - 1] == '\n');
        for (const char* p = data + start; canonical;) {
            p = static_cast<const char*>(std::memchr(p, '\r', std::size_t(data + size - p)));
            if (!p)
                break;
            canonical = p + 1 < data + size && p[1] == '\n';
            ++p;
        }
        for (const char* p = data + start; canonical;) {
            p = static_cast<const char*>(std::memchr(p, '\n', std::size_t(data + size - p)));
            if (!p)
                break;
            canonical = p > data + start && p[-1] == '\r';
            ++p;
        }
        if (canonical)
            return bytes;
        QByteArray out;
        out.reserve(size + size / 16 + 2);
        out.append(data, start);
        for (qsizetype i = start; i < size; ++i) {
            const char c = data[i];
            if (c == '\r' || c == '\n') {
                out.append("\r\n", 2);
                if (c == '\r' && i + 1 < size && data[i + 1] == '\n')
                    ++i;
            } else {
                out.append(c);
            }
        }
        if (out.size() > start && !out.endsWith("\r\n"))
            out.append("\r\n", 2);
        return out;
    }
    // UTF-16: the same, unit by unit; an odd last byte stays last.
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype end = 2 + (bytes.size() - 2) / 2 * 2;
    auto unit = [&](qsizetype i) {
        return le ? char16_t(b[i] | (b[i + 1] << 8)) : char16_t((b[i] << 8) | b[i + 1]);
    };
    const char crlf[4] = {le ? '\r' : '\0', le ? '\0' : '\r', le ? '\n' : '\0', le ? '\0' : '\n'};
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 16 + 4);
    out.append(bytes.constData(), 2);
    for (qsizetype i = 2; i < end; i += 2) {
        const char16_t c = unit(i);
        if (c == u'\r' || c == u'\n') {
            out.append(crlf, 4);
            if (c == u'\r' && i + 2 < end && unit(i + 2) == u'\n')
                i += 2;
        } else {
            out.append(bytes.constData() + i, 2);
        }
    }
    if (out.size() > 2 && !out.endsWith(QByteArray(crlf, 4)))
        out.append(crlf, 4);
    out.append(bytes.constData() + end, bytes.size() - end);
    return out;
}

TStringList TStringList::FromJoinedLines(QString text, qsizetype count)
{
    TStringList list;
    list.m_joined = std::move(text);
    list.m_joinedCount = count;
    list.m_decoded = false;
    return list;
}

QString TStringList::JoinedLines() const
{
    if (m_joinedCount >= 0)
        return m_joined;
    return Lines().join(u'\n');
}

bool TStringList::operator==(const TStringList& other) const
{
    if (m_joinedCount >= 0 && other.m_joinedCount >= 0)
        return m_joinedCount == other.m_joinedCount && m_joined == other.m_joined;
    return Lines() == other.Lines();
}

int TStringList::Count() const
{
    if (!m_decoded && m_joinedCount >= 0)
        return static_cast<int>(m_joinedCount);
    return static_cast<int>(Lines().size());
}

const QStringList& TStringList::Lines() const
{
    if (!m_decoded) {
        if (m_joinedCount >= 0)
            m_lines = m_joinedCount == 0 ? QStringList() : m_joined.split(u'\n');
        else
            m_lines = splitLines(Text());
        m_decoded = true;
    }
    return m_lines;
}

QString TStringList::Text() const
{
    if (m_source.isNull())
        return Lines().join(QLatin1String("\r\n"));
    const qsizetype n = m_source.size();
    switch (m_encoding) {
    case TEncoding::Utf8:
        return decodeUtf8(m_source.constData() + (m_bom ? 3 : 0), n - (m_bom ? 3 : 0));
    case TEncoding::Utf16LE:
    case TEncoding::Utf16BE:
        return decodeUtf16(m_source.left(n - m_trailingByte.size()), 2,
                           m_encoding == TEncoding::Utf16BE);
    case TEncoding::Ansi:
        break;
    }
    return decodeAnsi(m_source.constData(), n);
}

void TStringList::modify()
{
    Lines();
    m_source = QByteArray();
    m_joined = QString();
    m_joinedCount = -1;
}

void TStringList::SetLines(QStringList lines)
{
    m_lines = std::move(lines);
    m_decoded = true;
    m_source = QByteArray();
    m_joined = QString();
    m_joinedCount = -1;
}

void TStringList::SetEncoding(TEncoding encoding, bool bom)
{
    modify();
    m_encoding = encoding;
    m_bom = bom;
    m_trailingByte.clear();
}

void TStringList::Clear()
{
    modify();
    m_lines.clear();
}

int TStringList::Add(const QString& line)
{
    modify();
    m_lines.append(line);
    return Count() - 1;
}

const QString& TStringList::Get(int index) const
{
    if (index < 0 || index >= Count())
        indexError(index);
    return Lines().at(index);
}

void TStringList::Put(int index, const QString& line)
{
    if (index < 0 || index >= Count())
        indexError(index);
    modify();
    m_lines[index] = line;
}

int TStringList::IndexOfName(const QString& name) const
{
    const QStringList& lines = Lines();
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
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
    const QString& line = Lines().at(i);
    return line.mid(line.indexOf(u'=') + 1);
}

void TStringList::LoadFromBytes(const QByteArray& bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    m_trailingByte.clear();
    m_bom = true;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        m_encoding = TEncoding::Utf8;
    } else if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        m_encoding = b[0] == 0xFE ? TEncoding::Utf16BE : TEncoding::Utf16LE;
        // A last byte without its partner is kept as it is and written back.
        if ((n - 2) % 2 != 0)
            m_trailingByte = bytes.right(1);
    } else {
        m_encoding = TEncoding::Ansi;
        m_bom = false;
    }
    m_source = bytes.isNull() ? QByteArray("") : bytes;
    m_lines.clear();
    m_joined = QString();
    m_joinedCount = -1;
    m_decoded = false;
}

QByteArray TStringList::SaveToBytes() const
{
    if (!m_source.isNull())
        return withCrLfLineEnds(m_source);
    const QStringList& lines = Lines();
    qsizetype length = 0;
    for (const QString& line : lines)
        length += line.size() + 2;
    QString text;
    text.reserve(length);
    for (const QString& line : lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    switch (m_encoding) {
    case TEncoding::Utf8:
        return (m_bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + encodeUtf8(text);
    case TEncoding::Utf16LE:
        return (m_bom ? QByteArray("\xFF\xFE") : QByteArray()) + encodeUtf16(text, false) +
               m_trailingByte;
    case TEncoding::Utf16BE:
        return (m_bom ? QByteArray("\xFE\xFF") : QByteArray()) + encodeUtf16(text, true) +
               m_trailingByte;
    case TEncoding::Ansi:
        break;
    }
    return encodeAnsi(text);
}

void TStringList::LoadFromStream(QIODevice& stream)
{
    // A buffer read from its start hands over its bytes without copying them:
    // a stored-settings text may be megabytes.
    auto* buffer = qobject_cast<QBuffer*>(&stream);
    if (buffer && buffer->pos() == 0) {
        LoadFromBytes(buffer->data());
        buffer->seek(buffer->size());
        return;
    }
    LoadFromBytes(stream.readAll());
}

void TStringList::SaveToStream(QIODevice& stream) const
{
    const QByteArray bytes = SaveToBytes();
    auto* buffer = qobject_cast<QBuffer*>(&stream);
    if (buffer && buffer->size() == 0 && (buffer->openMode() & QIODevice::WriteOnly)) {
        buffer->buffer() = bytes;
        buffer->seek(bytes.size());
        return;
    }
    if (stream.write(bytes) != bytes.size())
        throw EQuorException(QStringLiteral("Fehler beim Schreiben in den Datenstrom: %1")
                                 .arg(stream.errorString()));
}
