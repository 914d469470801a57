// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "handover.h"
#include "quorexception.h"
#include "storebackend.h"

#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QScopeGuard>
#include <QStringList>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>

// What the store's exchange files (named settings, backups) have in common:
// read whole, checked strictly, refused with a message that names the place.

// A file that cannot be taken. Malformed: unreadable or not in the format;
// Refused: in the format, but holding an entry the store cannot keep. Either
// way nothing was written.
struct EFileFormatError {
    enum Kind { Malformed, Refused };
    Kind kind;
    QString message;
};

// Names as a terminal or a monitoring job can take them: control characters
// are shown as \xNN, never sent raw.
QString printable(const QString& text);
// The same, line by line: a message's own line breaks stay.
QString printableLines(const QString& text);
// A key as SPRACHE/PROGRAMM/MASKE/BEZEICHNUNG/INDEX, printable.
QString keyText(const TStoreKey& key);

// The file's top-level object; a syntax error names its line.
QJsonObject readJsonFile(const QString& fileName);
// Written whole or not at all: a failure never leaves half a file.
void writeFileWhole(const QString& fileName, const QByteArray& bytes);

// Where a file's text goes, piece by piece, each of about this size.
inline constexpr qsizetype kOutputPiece = 1 << 16;
using TSink = std::function<void(const QByteArray&)>;
// The same, the pieces written as they come; the file opened with the first
// of them.
void writeFileWhole(const QString& fileName, const std::function<void(const TSink&)>& produce);
// Appends text as a JSON string, quoted and escaped byte for byte as Qt's
// JSON writer writes it: the files written entry by entry are the very files
// a whole document gave, without building one for each entry.
void appendJsonString(QByteArray& out, QStringView text);
// The same for a text known to be printable ASCII (base64).
void appendJsonAscii(QByteArray& out, QByteArrayView text);
// A list of lines, count of them joined by "\n", as Qt's indented form writes
// it as a field's value at nesting level (the field's line indented by
// 4 * level spaces).
void appendJsonLines(QByteArray& out, QStringView joined, qsizetype count, int level);
void appendJsonLines(QByteArray& out, const QStringList& lines, int level);
// Appends bytes at a fraction of the cost of QByteArray's general append.
inline void appendBytes(QByteArray& out, std::string_view bytes)
{
    const qsizetype at = out.size();
    out.resize(at + qsizetype(bytes.size()));
    std::memcpy(out.data() + at, bytes.data(), bytes.size());
}

// A misspelt field would otherwise be dropped without a word.
void refuseUnknownFields(const QJsonObject& object, const QStringList& known, const QString& where);
// A store must move between engines unchanged, and a PostgreSQL text holds no NUL.
void refuseNul(const QStringList& texts, const QString& where);
// The same for an entry read one of many: where() names the place, made only
// for a message.
template <typename Where>
void refuseUnknownFields(const QJsonObject& object, const QStringList& known, const Where& where)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!known.contains(it.key()))
            refuseUnknownFields(object, known, QString(where()));
}
template <typename Where>
void refuseNul(std::initializer_list<const QString*> texts, const Where& where)
{
    for (const QString* text : texts)
        if (text->contains(QChar(0))) {
            QStringList all;
            for (const QString* each : texts)
                all << *each;
            refuseNul(all, QString(where()));
        }
}

// Each key once in a file: a second entry would silently win over the first.
// A key is kept as 128 bits hashed from it, which two keys of a file share
// practically never.
class TKeysSeen
{
public:
    // what: the word for an entry ("Eintrag", "Datensatz"); number counts from 1.
    explicit TKeysSeen(QString what) : m_what(std::move(what)) {}
    void refuseRepeated(const TStoreKey& key, int number);

private:
    QString m_what;
    QHash<std::pair<quint64, quint64>, int> m_seen;
};

// The entries of the list in the field list of a file's top-level object,
// read one by one, and the object's other fields, read whole: memory holds
// one entry, not the file. A file not read so (a fault, or a form this reader
// does not take) is read whole: a fault is named as readJsonFile names it,
// and Whole is thrown for a file that is JSON all the same. A pipe or a
// terminal is refused (Whole) when opened, before anything is read of it.
class TJsonEntries
{
public:
    struct Whole {
    };
    TJsonEntries(const QString& fileName, QString list);
    // The next entry; false after the last, the file read to its end.
    bool next(QJsonValue& entry);
    // Once the file is read: whether the list was there as a list, and the
    // object's other fields.
    bool listSeen() const { return m_listSeen; }
    // Nothing of the file is read yet.
    bool untouched() const { return m_state == State::Start; }
    const QJsonObject& others() const { return m_others; }

private:
    int peek();
    void skipSpace();
    void expect(char c);
    // One value's text as it stands in the file, and the value read from it.
    QJsonValue value();
    [[noreturn]] void notTaken();
    // Reads the object's fields up to the list or to the object's end.
    void members();

    enum class State { Start, Members, InList, Done };
    QString m_fileName;
    QString m_list;
    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    State m_state = State::Start;
    bool m_firstMember = true;
    bool m_firstEntry = true;
    bool m_listSeen = false;
    QJsonObject m_others;
};

// What streamed(entries) gives for a file read entry by entry; for a pipe or
// a terminal, or a file in a form TJsonEntries does not take (nothing that
// streamed wrote is kept then: it threw through its transaction), what
// whole() gives, reading the file whole. A store that fails before the file
// is read: check(entries) reads it through first, so that the file's own
// fault is named before the store's, as when the file was checked before the
// store was touched.
template <typename Streamed, typename Check, typename Whole>
auto withEntries(const QString& fileName, const QString& list, Streamed&& streamed, Check&& check,
                 Whole&& whole)
{
    std::optional<TJsonEntries> entries;
    try {
        entries.emplace(fileName, list);
    } catch (const TJsonEntries::Whole&) {
    }
    if (entries) {
        try {
            try {
                return streamed(*entries);
            } catch (const EQuorException&) {
                if (entries->untouched())
                    check(*entries);
                throw;
            }
        } catch (const TJsonEntries::Whole&) {
        }
    }
    return whole();
}

// Reads every entry of entries with read(value, number), number counting from
// 1, and hands each to take, in the file's order. Once one is refused, the
// rest is read without taking: the file is read to its end so that a fault
// of the whole (its syntax, its other fields, checked by finish) is named
// before the first refused entry, as when the file is read whole. Gives how
// many entries there are.
template <typename Read, typename Take, typename Finish>
int readEntries(TJsonEntries& entries, Read&& read, Take&& take, Finish&& finish)
{
    std::optional<EFileFormatError> fault;
    int number = 0;
    QJsonValue value;
    while (entries.next(value)) {
        ++number;
        if (fault)
            continue;
        try {
            take(read(value, number));
        } catch (const EFileFormatError& e) {
            fault = e;
        }
    }
    finish();
    if (fault)
        throw *fault;
    return number;
}

// Reads a file on a side thread while this one, which holds the store's
// transaction, files what was read before: stream(put) puts each item,
// take(item) takes it here, in the same order, a batch at a time. Gives what
// stream gives; throws what stream threw, once what it put before is taken.
inline constexpr qsizetype kAsideBatch = 1024;

template <typename Item, typename Stream, typename Take> int readAside(Stream&& stream, Take&& take)
{
    struct Stopped {
    };
    THandover<QList<Item>> handover;
    int result = 0;
    TSideThread reader(
        [&] {
            const auto finished = qScopeGuard([&] { handover.finish(); });
            QList<Item> batch;
            result = stream([&](Item&& item) {
                batch.append(std::move(item));
                if (batch.size() == kAsideBatch && !handover.put(std::exchange(batch, {})))
                    throw Stopped{};
            });
            if (!batch.isEmpty())
                handover.put(std::move(batch));
        },
        [&] { handover.stop(); });
    try {
        while (std::optional<QList<Item>> batch = handover.take())
            for (Item& item : *batch)
                take(std::move(item));
    } catch (...) {
        // The rest is read, not taken: a fault of the file is named before
        // the store's, as when the file was checked before the store was
        // touched.
        while (handover.take()) {
        }
        reader.wait();
        throw;
    }
    reader.wait();
    return result;
}

// The other way round: read(put) reads on this thread, which holds the
// store's transaction, while write(item) writes on a side thread what was
// read before, in the same order. Throws what write threw; the reading stops
// with it.
template <typename Item, typename Read, typename Write> void writeAside(Read&& read, Write&& write)
{
    struct Stopped {
    };
    THandover<QList<Item>> handover;
    TSideThread writer(
        [&] {
            try {
                while (std::optional<QList<Item>> batch = handover.take())
                    for (Item& item : *batch)
                        write(std::move(item));
            } catch (...) {
                handover.stop();
                throw;
            }
        },
        [&] { handover.stop(); });
    QList<Item> batch;
    try {
        read([&](Item&& item) {
            batch.append(std::move(item));
            if (batch.size() == kAsideBatch && !handover.put(std::exchange(batch, {})))
                throw Stopped{};
        });
        if (!batch.isEmpty())
            handover.put(std::move(batch));
        handover.finish();
    } catch (const Stopped&) {
        // The writing failed: its failure follows.
    } catch (...) {
        // The writing's own failure, where it failed first, is the one told.
        handover.stop();
        writer.wait();
        throw;
    }
    writer.wait();
}
