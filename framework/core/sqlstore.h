#pragma once

#include "storebackend.h"

#include <QHash>
#include <QSqlQuery>
#include <QStringList>

class QSqlDatabase;
class QSqlError;

// What the SQLite and the PostgreSQL store share: one table "einstellungen"
// reached through Qt SQL, every key and value a bound parameter.
class TSqlStore : public TStoreBackend
{
public:
    ~TSqlStore() override;

    QString displayName() const override { return m_displayName; }

    std::optional<TStoreRow> find(const TStoreKey& key) override;
    TStoreContent readContent(const TStoreKey& key) override;
    void insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    bool update(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    void removeAll() override;

    [[noreturn]] void fail(const QString& what, const QSqlError& error) const;

    static const QStringList& keyColumns();
    // How many key fields a search key sets before its first unset one.
    static int searchPrefix(const TSearchKey& key);
    // The ordered scan of the key columns from a search key: rows from its
    // first prefix fields on (>=, or > for exclusive); limit 0 reads to the end.
    static QString scanSql(int prefix, bool exclusive, int limit);
    // The names and indexes of one group (language, program, mask), in key
    // order: all of them, or those after a name and index (five parameters
    // then, else three); numbered writes the parameters $1, $2, ... as the
    // PostgreSQL client library takes them, else "?".
    static QString groupSql(bool after, int limit, bool numbered = false);
    static QString keyText(const TStoreKey& key);

protected:
    TSqlStore(QString displayName, QString connectionPrefix);

    QSqlDatabase database() const;
    QSqlQuery prepared(const QString& sql);
    // The same statement prepared once per connection and used again.
    QSqlQuery& cached(const QString& sql);
    void forgetStatements() { m_statements.clear(); }
    void exec(QSqlQuery& query, const QString& what);
    void execSql(const QString& sql, const QString& what);
    void closeConnection() noexcept;
    // Ends whatever the store reads past the driver before the driver sends a
    // statement.
    virtual void settle() noexcept {}
    // A German hint for the database's own error, or "".
    virtual QString hint(const QSqlError& error) const = 0;

    void commitTransaction() override;
    void rollbackTransaction() noexcept override;

    QString m_connection;
    QString m_displayName;
    QHash<QString, QSqlQuery> m_statements;
};

// Binding helpers: the store keeps empty texts and empty blobs, never NULL.
QVariant sqlText(const QString& value);
QVariant sqlBytes(const QByteArray& value);
void bindKey(QSqlQuery& query, const TStoreKey& key);
TStoreKey keyOfRow(const QSqlQuery& query);
