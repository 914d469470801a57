#pragma once

#include "sqlstore.h"

// The settings store on a PostgreSQL server, shared by every workstation of a
// shop, through Qt's PostgreSQL driver. Keys are compared in byte order
// (COLLATE "C"), as on SQLite.
class TPostgresStore final : public TSqlStore
{
public:
    // uri: postgresql://[user[:password]@][host][:port]/database[?param=value&...];
    // parameters go to the client library (host=/socket/dir, sslmode, ...).
    // The password file and PGPASSWORD are honoured as usual.
    explicit TPostgresStore(const QString& uri);
    ~TPostgresStore() override;

    std::unique_ptr<TStoreCursor> scanFrom(const TSearchKey& key) override;
    bool canWrite() override;

    // The rows of one batch of a scan; cursors ask for growing batches.
    QList<TStoreRow> fetchBatch(const TSearchKey& from, bool exclusive, int limit);
    // The rows of the section of key (language, program, mask): all of them,
    // or those after key.
    QList<TStoreRow> fetchSection(const TStoreKey& key, bool after, int limit);

protected:
    void beginTransaction() override;
    QString hint(const QSqlError& error) const override;

private:
    QList<TStoreRow> readBatch(QSqlQuery& query, int first, const TStoreKey& section, int limit);
    void connect();
    void ensureSchema();
};

// Sets up a Qt PostgreSQL connection from a postgresql:// URI.
void configurePostgres(QSqlDatabase& db, const QString& uri);

// The address of a postgresql:// URI without its password.
QString postgresDisplayName(const QString& uri);
