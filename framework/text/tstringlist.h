// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QStringList>
#include <QStringView>
#include <cstring>
#include <string_view>

class QIODevice;

// The runtime's line list: ordered lines of text with name=value lookups and
// loading/saving through a stream. The text encoding of the last load is kept so
// that saving writes the same encoding, with the byte-order mark if there was one.
//
// A loaded text is decoded only when its lines are asked for; saved unchanged, it
// is written from its own bytes with every line end made CR LF, which is exactly
// what decoding and encoding again would give, without the cost.
class TStringList
{
public:
    enum class TEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

    TStringList() = default;
    TStringList(QStringList lines) : m_lines(std::move(lines)) {}
    TStringList(std::initializer_list<QString> lines) : m_lines(lines) {}

    // Lines handed over as one text, each line ended by "\n" except the last;
    // no line may hold CR or LF. The text is split only when lines are asked
    // for, so a memo can show it as it is.
    static TStringList FromJoinedLines(QString text, qsizetype count);
    // The lines joined by "\n".
    QString JoinedLines() const;
    // That text where the lines are still held as handed over, else null:
    // then a line may hold a line end of its own.
    const QString* HeldJoinedLines() const { return m_joinedCount >= 0 ? &m_joined : nullptr; }

    void Clear();
    int Add(const QString& line);
    int Count() const;
    const QString& Get(int index) const;
    void Put(int index, const QString& line);

    // Name part: the text before the first "=" (the whole line when there is none).
    int IndexOfName(const QString& name) const;
    // Text after the first "=" of the first line whose name part equals name, or "".
    QString Values(const QString& name) const;

    void LoadFromStream(QIODevice& stream);
    void SaveToStream(QIODevice& stream) const;

    // The same as the stream operations, over bytes in memory.
    void LoadFromBytes(const QByteArray& bytes);
    QByteArray SaveToBytes() const;

    const QStringList& Lines() const;
    void SetLines(QStringList lines);
    // The loaded text, decoded but not split into lines.
    QString Text() const;

    TEncoding Encoding() const { return m_encoding; }
    bool HasBom() const { return m_bom; }
    void SetEncoding(TEncoding encoding, bool bom);

    bool operator==(const TStringList& other) const;
    bool operator!=(const TStringList& other) const { return !(*this == other); }

private:
    void modify();

    mutable QStringList m_lines;
    // The loaded bytes while the lines are as loaded; null otherwise.
    QByteArray m_source;
    mutable bool m_decoded = true;
    TEncoding m_encoding = TEncoding::Ansi;
    bool m_bom = false;
    QByteArray m_trailingByte;
    // The lines as one text while they are as handed over; see FromJoinedLines.
    QString m_joined;
    qsizetype m_joinedCount = -1;
};

Q_DECLARE_METATYPE(TStringList)

// The bytes of a text with every line ended by CR LF, in its encoding (by
// byte-order mark, else single bytes); the same bytes when they already are.
QByteArray withCrLfLineEnds(const QByteArray& bytes);

// Windows-1252, the ANSI code page of the suite. Every byte maps to one character
// and back, the five bytes the code page leaves unassigned to U+0081, U+008D,
// U+008F, U+0090 and U+009D, so no byte is ever lost.
QString decodeAnsi(const char* data, qsizetype size);
QByteArray encodeAnsi(const QString& text);

// UTF-8 in which a byte outside any valid sequence stands for itself (as a lone
// surrogate U+DC80..U+DCFF), so that decoding and encoding again gives the same
// bytes for any input.
QString decodeUtf8(const char* data, qsizetype size);
// The same into out, which has room for size units; returns the units written.
qsizetype decodeUtf8Into(char16_t* out, const char* data, qsizetype size);
qsizetype decodeAnsiInto(char16_t* out, const char* data, qsizetype size);
QByteArray encodeUtf8(const QString& text);
// At most three bytes for each unit; how many were written.
qsizetype encodeUtf8Into(char* out, const char16_t* in, qsizetype size);
void appendUtf8(QByteArray& bytes, QStringView text);

// Splits at CR LF, LF or CR; a final line end does not start another line.
QStringList splitLines(const QString& text);

namespace lines_detail
{
inline qsizetype find(const char* p, qsizetype n, char c)
{
    const void* hit = n > 0 ? std::memchr(p, c, std::size_t(n)) : nullptr;
    return hit ? static_cast<const char*>(hit) - p : -1;
}
inline qsizetype find(const char16_t* p, qsizetype n, char16_t c)
{
    return QStringView(p, n).indexOf(QChar(c));
}
} // namespace lines_detail

// Calls f with each line of text as a view into it, split as splitLines does.
// Works on UTF-16 text as on single bytes (Windows-1252, UTF-8), whose line
// ends are the same bytes. Line ends are found with vectorised searches, LF
// first, then CR within.
template <typename Unit, typename F> void forEachLineIn(std::basic_string_view<Unit> text, F&& f)
{
    const qsizetype size = qsizetype(text.size());
    const Unit* data = text.data();
    qsizetype start = 0;
    while (start < size) {
        const qsizetype found = lines_detail::find(data + start, size - start, Unit('\n'));
        const qsizetype lf = found < 0 ? -1 : start + found;
        const qsizetype end = lf < 0 ? size : lf;
        qsizetype from = start;
        bool endedByCrLf = false;
        for (;;) {
            const qsizetype cr = lines_detail::find(data + from, end - from, Unit('\r'));
            if (cr < 0)
                break;
            f(text.substr(std::size_t(from), std::size_t(cr)));
            from += cr + 1;
            if (from == end && lf >= 0) {
                endedByCrLf = true;
                break;
            }
        }
        if (!endedByCrLf && (from < end || lf >= 0))
            f(text.substr(std::size_t(from), std::size_t(end - from)));
        start = lf < 0 ? size : lf + 1;
    }
}

template <typename F> void forEachLine(QStringView text, F&& f)
{
    forEachLineIn(
        std::u16string_view(text.utf16(), std::size_t(text.size())),
        [&](std::u16string_view line) { f(QStringView(line.data(), qsizetype(line.size()))); });
}
