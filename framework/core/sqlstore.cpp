#include "sqlstore.h"

#include "quorexception.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QVariant>
#include <atomic>

namespace
{
const QString kKeyWhere =
    QStringLiteral("sprache = ? AND programm = ? AND maske = ? AND bezeichnung = ? AND idx = ?");
}

QVariant sqlText(const QString& value)
{
    if (value.isNull())
        return QVariant(QString(QLatin1String("")));
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
        return QVariant(clean);
    }
    return QVariant(value);
}

QVariant sqlBytes(const QByteArray& value)
{
    return value.isNull() ? QVariant(QByteArray("")) : QVariant(value);
}

void bindKey(QSqlQuery& query, const TStoreKey& key)
{
    for (const QString& field : key)
        query.addBindValue(sqlText(field));
}

TStoreKey keyOfRow(const QSqlQuery& query)
{
    TStoreKey key;
    for (int i = 0; i < kKeyFieldCount; ++i)
        key[i] = query.value(i).toString();
    return key;
}

const QStringList& TSqlStore::keyColumns()
{
    static const QStringList columns{QStringLiteral("sprache"), QStringLiteral("programm"),
                                     QStringLiteral("maske"), QStringLiteral("bezeichnung"),
                                     QStringLiteral("idx")};
    return columns;
}

int TSqlStore::searchPrefix(const TSearchKey& key)
{
    int prefix = 0;
    while (prefix < kKeyFieldCount && key[prefix].has_value())
        ++prefix;
    return prefix;
}

QString TSqlStore::scanSql(int prefix, bool exclusive, int limit)
{
    QString sql =
        QStringLiteral("SELECT %1 FROM einstellungen").arg(keyColumns().join(QLatin1String(", ")));
    if (prefix > 0) {
        QStringList marks;
        for (int i = 0; i < prefix; ++i)
            marks << QStringLiteral("?");
        sql += QStringLiteral(" WHERE (%1) %2 (%3)")
                   .arg(keyColumns().mid(0, prefix).join(QLatin1String(", ")),
                        exclusive ? QStringLiteral(">") : QStringLiteral(">="),
                        marks.join(QLatin1String(", ")));
    }
    sql += QStringLiteral(" ORDER BY %1").arg(keyColumns().join(QLatin1String(", ")));
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    return sql;
}

QString TSqlStore::groupSql(bool after, int limit, bool numbered)
{
    QStringList marks;
    for (int i = 1; i <= (after ? kKeyFieldCount : 3); ++i)
        marks << (numbered ? QStringLiteral("$%1").arg(i) : QStringLiteral("?"));
    QString sql = QStringLiteral("SELECT bezeichnung, idx FROM einstellungen WHERE sprache = %1 "
                                 "AND programm = %2 AND maske = %3")
                      .arg(marks[0], marks[1], marks[2]);
    if (after)
        sql += QStringLiteral(" AND (bezeichnung, idx) > (%1, %2)").arg(marks[3], marks[4]);
    sql += QStringLiteral(" ORDER BY %1").arg(keyColumns().join(QLatin1String(", ")));
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    return sql;
}

QString TSqlStore::keyText(const TStoreKey& key)
{
    return QStringList(key.begin(), key.end()).join(QLatin1Char('/'));
}

TSqlStore::TSqlStore(QString displayName, QString connectionPrefix)
    : m_displayName(std::move(displayName))
{
    static std::atomic<int> counter{0};
    m_connection = QStringLiteral("%1-%2").arg(connectionPrefix).arg(++counter);
}

TSqlStore::~TSqlStore()
{
    closeConnection();
}

void TSqlStore::closeConnection() noexcept
{
    m_statements.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

QSqlDatabase TSqlStore::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

void TSqlStore::fail(const QString& what, const QSqlError& error) const
{
    throw EQuorStoreError(
        QStringLiteral("Einstellungsdatenbank „%1“: %2. %3(%4)")
            .arg(m_displayName, what, hint(error),
                 error.databaseText().isEmpty() ? error.text() : error.databaseText()),
        m_displayName);
}

QSqlQuery TSqlStore::prepared(const QString& sql)
{
    settle();
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QStringLiteral("Abfrage kann nicht vorbereitet werden"), query.lastError());
    return query;
}

QSqlQuery& TSqlStore::cached(const QString& sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end())
        it = m_statements.insert(sql, prepared(sql));
    return *it;
}

void TSqlStore::exec(QSqlQuery& query, const QString& what)
{
    settle();
    if (!query.exec())
        fail(what, query.lastError());
}

void TSqlStore::execSql(const QString& sql, const QString& what)
{
    settle();
    QSqlQuery query(database());
    if (!query.exec(sql))
        fail(what, query.lastError());
}

void TSqlStore::commitTransaction()
{
    execSql(QStringLiteral("COMMIT"), QStringLiteral("Änderungen können nicht gespeichert werden"));
}

void TSqlStore::rollbackTransaction() noexcept
{
    settle();
    QSqlQuery query(database());
    query.exec(QStringLiteral("ROLLBACK"));
}

std::optional<TStoreRow> TSqlStore::find(const TStoreKey& key)
{
    static const QString sql =
        QStringLiteral("SELECT %1, kurzbeschreibung FROM einstellungen WHERE %2")
            .arg(keyColumns().join(QLatin1String(", ")), kKeyWhere);
    QSqlQuery& query = cached(sql);
    bindKey(query, key);
    exec(query, QStringLiteral("Suche nach „%1“ fehlgeschlagen").arg(keyText(key)));
    if (!query.next()) {
        if (query.lastError().isValid())
            fail(QStringLiteral("Suche nach „%1“ fehlgeschlagen").arg(keyText(key)),
                 query.lastError());
        query.finish();
        return std::nullopt;
    }
    TStoreRow row{keyOfRow(query), query.value(5).toString()};
    query.finish();
    return row;
}

TStoreContent TSqlStore::readContent(const TStoreKey& key)
{
    static const QString sql =
        QStringLiteral("SELECT kurzbeschreibung, daten FROM einstellungen WHERE %1").arg(kKeyWhere);
    QSqlQuery& query = cached(sql);
    bindKey(query, key);
    const QString what =
        QStringLiteral("Lesen der Einstellungen „%1“ fehlgeschlagen").arg(keyText(key));
    exec(query, what);
    if (!query.next()) {
        if (query.lastError().isValid())
            fail(what, query.lastError());
        throw EQuorException(
            QStringLiteral("Datensatz „%1“ ist in der Einstellungsdatenbank „%2“ nicht mehr "
                           "vorhanden.")
                .arg(keyText(key), m_displayName));
    }
    TStoreContent content{query.value(0).toString(), query.value(1).toByteArray()};
    query.finish();
    return content;
}

void TSqlStore::insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    // A record inserted by another workstation since this one looked becomes an
    // update instead of a second record or a failure.
    QSqlQuery query = prepared(
        QStringLiteral("INSERT INTO einstellungen (%1, kurzbeschreibung, daten) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (%1) DO UPDATE SET "
                       "kurzbeschreibung = excluded.kurzbeschreibung, daten = excluded.daten")
            .arg(keyColumns().join(QLatin1String(", "))));
    bindKey(query, key);
    query.addBindValue(sqlText(kurz));
    query.addBindValue(sqlBytes(blob));
    exec(query, QStringLiteral("Einfügen von „%1“ fehlgeschlagen").arg(keyText(key)));
}

bool TSqlStore::update(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    QSqlQuery query =
        prepared(QStringLiteral("UPDATE einstellungen SET kurzbeschreibung = ?, daten = ? WHERE %1")
                     .arg(kKeyWhere));
    query.addBindValue(sqlText(kurz));
    query.addBindValue(sqlBytes(blob));
    bindKey(query, key);
    exec(query, QStringLiteral("Ändern von „%1“ fehlgeschlagen").arg(keyText(key)));
    return query.numRowsAffected() > 0;
}

void TSqlStore::removeAll()
{
    execSql(QStringLiteral("DELETE FROM einstellungen"),
            QStringLiteral("Löschen der Datensätze fehlgeschlagen"));
}
