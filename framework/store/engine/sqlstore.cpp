// SPDX-License-Identifier: GPL-3.0-or-later
#include "sqlstore.h"

#include "quorexception.h"

#include <QSet>
#include <QStringList>
#include <string>
#include <vector>

namespace
{

constexpr int kFirstBatch = 256;
// A scan that reads more than keys is a bulk read, which goes on to its end.
constexpr int kFirstBulkBatch = 2048;
constexpr int kLargestBatch = 16384;
const char* const kColumns[kKeyFieldCount] = {"sprache", "programm", "maske", "bezeichnung", "idx"};
// The first fields of the key, as a list of columns or as a condition on
// parameters $1, $2, ...
QByteArray keyColumns(int fields)
{
    QByteArray list;
    for (int i = 0; i < fields; ++i)
        list += (i ? ", " : "") + QByteArray(kColumns[i]);
    return list;
}
QByteArray keyCondition(int fields)
{
    QByteArray condition;
    for (int i = 0; i < fields; ++i)
        condition +=
            (i ? " AND " : "") + QByteArray(kColumns[i]) + " = $" + QByteArray::number(i + 1);
    return condition;
}
const QByteArray kKeyWhere = keyCondition(kKeyFieldCount);
const QByteArray kOrder = " ORDER BY " + keyColumns(kKeyFieldCount);

// The columns a scan reads after the key's.
QByteArray readColumns(TScanRead read)
{
    switch (read) {
    case TScanRead::Keys:
        break;
    case TScanRead::Summary:
        return ", kurzbeschreibung";
    case TScanRead::Content:
        return ", kurzbeschreibung, daten";
    }
    return {};
}

// The rows from a search key on: those whose first prefix fields are >= (or
// > for exclusive) the key's, in key order, at most limit of them.
QByteArray scanSql(int prefix, bool exclusive, int limit, TScanRead read)
{
    QByteArray sql =
        "SELECT " + keyColumns(kKeyFieldCount) + readColumns(read) + " FROM einstellungen";
    if (prefix > 0) {
        QByteArray marks;
        for (int i = 0; i < prefix; ++i)
            marks += (i ? ", $" : "$") + QByteArray::number(i + 1);
        sql += " WHERE (" + keyColumns(prefix) + (exclusive ? ") > (" : ") >= (") + marks + ")";
    }
    return sql + kOrder + " LIMIT " + QByteArray::number(limit);
}

// The names and indexes of one group (language, program, mask) in key order,
// from its start or after the name and index $4, $5; at most limit of them.
QByteArray groupSql(bool after, int limit, TScanRead read)
{
    return "SELECT bezeichnung, idx" + readColumns(read) + " FROM einstellungen WHERE " +
           keyCondition(3) + (after ? " AND (bezeichnung, idx) > ($4, $5)" : "") + kOrder +
           " LIMIT " + QByteArray::number(limit);
}

} // namespace

static size_t qHash(const TStoreKey& key, size_t seed = 0)
{
    return qHashRange(key.begin(), key.end(), seed);
}

namespace
{

TSqlParams keyParams(const TStoreKey& key)
{
    TSqlParams params;
    for (const QString& field : key)
        params.append(sqlText(field));
    return params;
}

// A key as the store holds it, from its parameters.
TStoreKey storedKey(const TSqlParams& params)
{
    TStoreKey key;
    for (int i = 0; i < kKeyFieldCount; ++i)
        key[i] = QString::fromUtf8(params[i].bytes);
    return key;
}

// Rows read ahead into memory, as a statement's rows.
class TBufferedRows final : public TSqlRows
{
public:
    using TRow = std::vector<QByteArray>;
    explicit TBufferedRows(std::vector<TRow> rows) : m_rows(std::move(rows)) {}
    bool next() override { return ++m_index < m_rows.size(); }
    QByteArrayView column(int index) const override { return m_rows[m_index][index]; }

private:
    std::vector<TRow> m_rows;
    std::size_t m_index = std::size_t(-1);
};

// One scan in key order, in batches of growing size (larger from the first
// where it reads more than keys), each one ordered query
// that continues after the last key read, so that a scan left early leaves
// little unread on the server and a statement sent while a batch streams
// holds at most that batch in memory. A scan from a group's start (language,
// program and mask set) reads that group for its names and indexes alone,
// and, where reads go along with the next statement, the first batch after
// it in the same round trip. A key field equal to the same field of the row
// before keeps that row's text instead of decoding a new one: in a scan over
// one group only the names differ.
class TSqlCursor final : public TStoreCursor
{
public:
    TSqlCursor(TSqlStore& store, const TSearchKey& from, TScanRead read)
        : m_store(store), m_read(read),
          m_limit(read == TScanRead::Keys ? kFirstBatch : kFirstBulkBatch)
    {
        m_prefix = 0;
        while (m_prefix < kKeyFieldCount && from[m_prefix])
            ++m_prefix;
        for (int i = 0; i < m_prefix; ++i)
            m_previous[i] = sqlText(*from[i]).bytes.toStdString();
        if (m_prefix == 3) {
            m_first = 3;
            for (int i = 0; i < 3; ++i)
                m_group[i] = QString::fromStdString(m_previous[i]);
            // Elsewhere, and for content that a scan over the group alone
            // would read in vain, the batch after the group is read only if
            // the scan goes on past it.
            if (m_store.sendsReadsAhead() && read != TScanRead::Content) {
                m_afterAhead = true;
                const int columns = kKeyFieldCount + extraColumns();
                m_store.queryLater(scanSql(3, true, kFirstBatch, read), params(3),
                                   [this, columns](TSqlRows& rows) {
                                       while (rows.next()) {
                                           TBufferedRows::TRow row;
                                           row.reserve(std::size_t(columns));
                                           for (int i = 0; i < columns; ++i)
                                               row.push_back(rows.column(i).toByteArray());
                                           m_after.push_back(std::move(row));
                                       }
                                   });
            }
            m_rows = m_store.query(groupSql(false, m_limit, read), params(3));
            return;
        }
        m_rows = m_store.query(scanSql(m_prefix, false, m_limit, read), params(m_prefix));
    }

    bool next(TStoreRow& row) override
    {
        while (!m_rows->next()) {
            const bool full = m_count == m_limit;
            m_count = 0;
            m_rows.reset();
            if (full) {
                // A full batch: more may follow after its last key.
                m_limit = std::min(m_limit * 8, kLargestBatch);
                if (m_first == 3) {
                    m_rows = m_store.query(groupSql(true, m_limit, m_read), params(kKeyFieldCount));
                } else {
                    m_prefix = kKeyFieldCount;
                    m_rows =
                        m_store.query(scanSql(m_prefix, true, m_limit, m_read), params(m_prefix));
                }
                continue;
            }
            if (m_first != 3)
                return false;
            // The group is read to its end: on with the batch after it.
            m_first = 0;
            m_limit = kFirstBatch;
            if (m_afterAhead)
                m_rows = std::make_unique<TBufferedRows>(std::exchange(m_after, {}));
            else
                m_rows = m_store.query(scanSql(3, true, m_limit, m_read), params(3));
        }
        ++m_count;
        const bool sameRow = &row == m_lastRow;
        for (int i = 0; i < m_first; ++i)
            if (!sameRow)
                row.key[i] = m_group[i];
        for (int i = m_first; i < kKeyFieldCount; ++i) {
            const QByteArrayView text = m_rows->column(i - m_first);
            std::string& previous = m_previous[i];
            if (sameRow && QByteArrayView(previous) == text)
                continue;
            previous.assign(text.data() ? text.data() : "", std::size_t(text.size()));
            row.key[i] = QString::fromUtf8(text);
        }
        m_lastRow = &row;
        const int extra = kKeyFieldCount - m_first;
        row.hasKurzbeschreibung = m_read != TScanRead::Keys;
        row.kurzbeschreibung =
            row.hasKurzbeschreibung ? QString::fromUtf8(m_rows->column(extra)) : QString();
        row.blob =
            m_read == TScanRead::Content ? m_rows->column(extra + 1).toByteArray() : QByteArray();
        return true;
    }

private:
    int extraColumns() const
    {
        return m_read == TScanRead::Keys ? 0 : m_read == TScanRead::Summary ? 1 : 2;
    }
    TSqlParams params(int count) const
    {
        TSqlParams values;
        for (int i = 0; i < count; ++i)
            values.append({QByteArray::fromStdString(m_previous[i])});
        return values;
    }

    TSqlStore& m_store;
    const TScanRead m_read;
    int m_limit;
    std::unique_ptr<TSqlRows> m_rows;
    int m_prefix = 0;
    int m_count = 0;
    // Key fields before this one come from the group, not from the statement.
    int m_first = 0;
    std::array<QString, 3> m_group;
    std::vector<TBufferedRows::TRow> m_after;
    bool m_afterAhead = false;
    std::array<std::string, kKeyFieldCount> m_previous;
    const TStoreRow* m_lastRow = nullptr;
};

} // namespace

TSqlParam sqlText(const QString& value)
{
    // A lone surrogate has no form in the database's UTF-8: each engine would
    // turn it into something else on the way in, and a name so stored could not
    // be found again by the name it is listed under. It is stored as U+FFFD,
    // the same way on every write and every search.
    const qsizetype size = value.size();
    const QChar* data = value.constData();
    for (qsizetype i = 0; i < size; ++i) {
        if (!data[i].isSurrogate())
            continue;
        if (data[i].isHighSurrogate() && i + 1 < size && data[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        QString clean = value;
        for (qsizetype k = i; k < size; ++k) {
            if (clean[k].isHighSurrogate() && k + 1 < size && clean[k + 1].isLowSurrogate())
                ++k;
            else if (clean[k].isSurrogate())
                clean[k] = QChar::ReplacementCharacter;
        }
        return {clean.toUtf8()};
    }
    return {value.toUtf8()};
}

TSqlParam sqlBlob(const QByteArray& value)
{
    return {value, true};
}

QByteArray TSqlStore::savepointName(std::size_t level)
{
    return "quor_" + QByteArray::number(qulonglong(level));
}

QString TSqlStore::keyText(const TStoreKey& key)
{
    return QStringList(key.begin(), key.end()).join(QLatin1Char('/'));
}

void TSqlStore::fail(TStoreFailure kind, TStoreStep step, const QString& detail,
                     TStoreCode code) const
{
    throw EQuorStoreError(kind, step, m_engine, m_displayName, detail, std::move(code));
}

void TSqlStore::control(TControl what, std::size_t level)
{
    const QByteArray savepoint = " " + savepointName(level);
    switch (what) {
    case TControl::Commit:
        forgetPrefetched();
        execute("COMMIT", {}, TStoreStep::Commit);
        break;
    case TControl::Rollback:
        forgetPrefetched();
        execute("ROLLBACK");
        break;
    case TControl::Savepoint:
        execute("SAVEPOINT" + savepoint);
        break;
    case TControl::RollbackToSavepoint:
        execute("ROLLBACK TO SAVEPOINT" + savepoint);
        break;
    case TControl::ReleaseSavepoint:
        execute("RELEASE SAVEPOINT" + savepoint);
        break;
    }
}

QByteArray TSqlStore::scalar(const QByteArray& sql)
{
    const std::unique_ptr<TSqlRows> rows = query(sql);
    return rows->next() ? rows->column(0).toByteArray() : QByteArray();
}

std::unique_ptr<TStoreCursor> TSqlStore::scanFrom(const TSearchKey& key, TScanRead read)
{
    requireLiveTransaction();
    return std::make_unique<TSqlCursor>(*this, key, read);
}

QList<TStoreRecord> TSqlStore::lastOfGroup(const TStoreGroup& group, const QString& prefix,
                                           int limit)
{
    requireLiveTransaction();
    const QByteArray sql = "SELECT bezeichnung, idx, kurzbeschreibung, daten FROM einstellungen "
                           "WHERE " +
                           keyCondition(3) +
                           " AND substr(kurzbeschreibung, 1, length($4)) = $4 ORDER BY "
                           "bezeichnung DESC, idx DESC" +
                           (limit > 0 ? " LIMIT " + QByteArray::number(limit) : QByteArray());
    TSqlParams params;
    for (const QString& field : group)
        params.append(sqlText(field));
    params.append(sqlText(prefix));
    QList<TStoreRecord> records;
    const std::unique_ptr<TSqlRows> rows = query(sql, params);
    while (rows->next())
        records.append(
            TStoreRecord{{group[0], group[1], group[2], QString::fromUtf8(rows->column(0)),
                          QString::fromUtf8(rows->column(1))},
                         {QString::fromUtf8(rows->column(2)), rows->column(3).toByteArray()}});
    return records;
}

std::optional<TStoreRow> TSqlStore::find(const TStoreKey& key)
{
    requireLiveTransaction();
    static const QByteArray sql = "SELECT kurzbeschreibung FROM einstellungen WHERE " + kKeyWhere;
    const TSqlParams params = keyParams(key);
    catchUp();
    const auto ahead = m_prefetched.find(storedKey(params));
    if (ahead != m_prefetched.end()) {
        if (!ahead->second.kurzbeschreibung)
            return std::nullopt;
        return TStoreRow{ahead->first, *ahead->second.kurzbeschreibung};
    }
    const std::unique_ptr<TSqlRows> rows = query(sql, params);
    if (!rows->next())
        return std::nullopt;
    TStoreRow row{{}, QString::fromUtf8(rows->column(0))};
    for (int i = 0; i < kKeyFieldCount; ++i)
        row.key[i] = QString::fromUtf8(params[i].bytes);
    return row;
}

TStoreContent TSqlStore::readContent(const TStoreKey& key)
{
    static const QByteArray sql =
        "SELECT kurzbeschreibung, daten FROM einstellungen WHERE " + kKeyWhere;
    requireLiveTransaction();
    const TSqlParams params = keyParams(key);
    catchUp();
    const auto ahead = m_prefetched.find(storedKey(params));
    if (ahead != m_prefetched.end() && ahead->second.blob)
        return {*ahead->second.kurzbeschreibung, *ahead->second.blob};
    const std::unique_ptr<TSqlRows> rows = query(sql, params);
    if (!rows->next())
        throw EQuorException(recordGoneText(keyText(key), m_displayName));
    return {QString::fromUtf8(rows->column(0)), rows->column(1).toByteArray()};
}

// A PostgreSQL text holds no NUL, and a store must move between engines
// unchanged: no engine is given one.
static void refuseNul(const TStoreKey& key, const QString& kurz)
{
    for (const QString& text : key)
        if (text.contains(QChar(0)))
            throw EQuorException(nulInKeyText(TSqlStore::keyText(key).replace(QChar(0), u'?')));
    if (kurz.contains(QChar(0)))
        throw EQuorException(nulInShortDescriptionText(TSqlStore::keyText(key)));
}

// An insert of rows records, each new or in place of the record of its key.
static QByteArray insertRowsSql(qsizetype rows)
{
    QByteArray sql = "INSERT INTO einstellungen (" + keyColumns(kKeyFieldCount) +
                     ", kurzbeschreibung, daten) VALUES ";
    for (qsizetype row = 0; row < rows; ++row) {
        sql += row ? ", ($" : "($";
        for (int column = 1; column <= 7; ++column)
            sql += QByteArray::number(row * 7 + column) + (column < 7 ? ", $" : ")");
    }
    return sql + " ON CONFLICT (" + keyColumns(kKeyFieldCount) +
           ") DO UPDATE SET kurzbeschreibung = excluded.kurzbeschreibung, daten = excluded.daten";
}

void TSqlStore::insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    requireLiveTransaction();
    refuseNul(key, kurz);
    // A record inserted by another writer since this one looked becomes an
    // update instead of a second record or a failure.
    static const QByteArray sql = insertRowsSql(1);
    TSqlParams params = keyParams(key);
    const TStoreKey stored = storedKey(params);
    m_prefetched.erase(stored);
    params << sqlText(kurz) << sqlBlob(blob);
    if (!executeLater(sql, params))
        execute(sql, params);
    // A read put off until this write may have brought the record back.
    m_prefetched.erase(stored);
}

void TSqlStore::forgetPrefetched(const QList<TStoreRecord>& records)
{
    if (!m_prefetched.empty())
        for (const TStoreRecord& record : records)
            m_prefetched.erase(storedKey(keyParams(record.key)));
}

void TSqlStore::insertAll(const QList<TStoreRecord>& records)
{
    requireLiveTransaction();
    // Many rows to a statement: the engine parses and plans one statement for
    // each of them, not one for each record. A key twice in one statement
    // would fail it on PostgreSQL: the second one starts the next.
    constexpr qsizetype kRowsPerStatement = 256;
    TSqlParams params;
    params.reserve(7 * kRowsPerStatement);
    QSet<TStoreKey> inStatement;
    auto send = [&] {
        if (params.isEmpty())
            return;
        static const QByteArray full = insertRowsSql(kRowsPerStatement);
        const qsizetype rows = params.size() / 7;
        const QByteArray sql = rows == kRowsPerStatement ? full : insertRowsSql(rows);
        if (!executeLater(sql, params))
            execute(sql, params);
        params.clear();
        inStatement.clear();
    };
    forgetPrefetched(records);
    for (const TStoreRecord& record : records) {
        refuseNul(record.key, record.content.kurzbeschreibung);
        TSqlParams key = keyParams(record.key);
        TStoreKey stored = storedKey(key);
        if (inStatement.size() == kRowsPerStatement || inStatement.contains(stored))
            send();
        inStatement.insert(std::move(stored));
        params << key << sqlText(record.content.kurzbeschreibung) << sqlBlob(record.content.blob);
    }
    send();
    // A read put off until these writes may have brought a record back.
    forgetPrefetched(records);
}

bool TSqlStore::update(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    requireLiveTransaction();
    refuseNul(key, kurz);
    static const QByteArray sql =
        "UPDATE einstellungen SET kurzbeschreibung = $6, daten = $7 WHERE " + kKeyWhere;
    TSqlParams params = keyParams(key);
    const TStoreKey stored = storedKey(params);
    m_prefetched.erase(stored);
    params << sqlText(kurz) << sqlBlob(blob);
    // Sent ahead, a record gone meanwhile fails the statement, and with it
    // the commit, instead of changing nothing unnoticed.
    static const QByteArray ahead = "WITH changed AS (UPDATE einstellungen SET kurzbeschreibung = "
                                    "$6, daten = $7 WHERE " +
                                    kKeyWhere + " RETURNING 1) SELECT 1 / count(*) FROM changed";
    const bool updated = executeLater(ahead, params) || execute(sql, params) > 0;
    m_prefetched.erase(stored);
    return updated;
}

void TSqlStore::removeAll()
{
    requireLiveTransaction();
    m_prefetched.clear();
    execute("DELETE FROM einstellungen");
    m_prefetched.clear();
}

void TSqlStore::prefetch(const QList<TPrefetch>& asked)
{
    requireLiveTransaction();
    if (accessDepth() == 0)
        return;
    // What this transaction already read ahead is not asked for again.
    QList<TPrefetch> records;
    for (const TPrefetch& record : asked) {
        const auto known = m_prefetched.find(storedKey(keyParams(record.key)));
        if (known == m_prefetched.end() ||
            (record.content && known->second.kurzbeschreibung && !known->second.blob))
            records.append(record);
    }
    if (records.isEmpty())
        return;
    // Each record's key as a condition on its own parameters; those whose
    // content is wanted first, so that their numbers are the first in the
    // text (as SQLite numbers its parameters) and the same in both places.
    TSqlParams params;
    QByteArray content, all;
    auto condition = [&](const TStoreKey& key) {
        QByteArray text = "(";
        for (int i = 0; i < kKeyFieldCount; ++i) {
            params.append(sqlText(key[i]));
            text += (i ? " AND " : "") + QByteArray(kColumns[i]) + " = $" +
                    QByteArray::number(params.size());
        }
        return text + ")";
    };
    for (const TPrefetch& record : records)
        if (record.content)
            content += (content.isEmpty() ? "" : " OR ") + condition(record.key);
    all = content;
    for (const TPrefetch& record : records)
        if (!record.content)
            all += (all.isEmpty() ? "" : " OR ") + condition(record.key);
    const QByteArray wanted = content.isEmpty() ? QByteArray("1 = 0") : content;
    const QByteArray sql = "SELECT sprache, programm, maske, bezeichnung, idx, kurzbeschreibung, "
                           "CASE WHEN " +
                           wanted + " THEN daten END, CASE WHEN " + wanted +
                           " THEN 'j' ELSE 'n' END FROM einstellungen WHERE " + all;
    std::map<TStoreKey, TPrefetched> found;
    for (const TPrefetch& record : records)
        found[storedKey(keyParams(record.key))] = {};
    queryLater(sql, params, [this, found = std::move(found)](TSqlRows& rows) mutable {
        while (rows.next()) {
            TStoreKey key;
            for (int i = 0; i < kKeyFieldCount; ++i)
                key[i] = QString::fromUtf8(rows.column(i));
            TPrefetched& record = found[key];
            record.kurzbeschreibung = QString::fromUtf8(rows.column(5));
            if (rows.column(7) == "j")
                record.blob = rows.column(6).toByteArray();
        }
        found.merge(m_prefetched);
        m_prefetched = std::move(found);
    });
}

void TSqlStore::queryLater(const QByteArray& sql, const TSqlParams& params,
                           const std::function<void(TSqlRows&)>& take)
{
    const std::unique_ptr<TSqlRows> rows = query(sql, params);
    take(*rows);
}
