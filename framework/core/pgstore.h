#pragma once

#include "sqlstore.h"

struct pg_conn;
struct pg_result;

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
    // The same as one query of up to limit rows streamed row by row for owner,
    // the only stream of the connection; false when the client library cannot
    // stream.
    bool streamSection(const TStoreKey& key, bool after, int limit, const void* owner);
    bool streaming(const void* owner) const { return owner && m_streamOwner == owner; }
    // The next row of the stream, or nullopt at its end.
    std::optional<TStoreRow> streamNext(const TStoreKey& section);
    // Whether the last stream ended early, its rest read by a statement sent
    // past this store.
    bool streamCut() const { return m_streamCut; }
    // Reads the rest of a stream and drops it.
    void finishStream() noexcept;

protected:
    void beginTransaction() override;
    void settle() noexcept override { finishStream(); }
    QString hint(const QSqlError& error) const override;

private:
    QList<TStoreRow> readBatch(QSqlQuery& query, int first, const TStoreKey& section);
    void connect();
    void ensureSchema();

    pg_conn* m_streamConnection = nullptr;
    const void* m_streamOwner = nullptr;
    pg_result* m_streamResult = nullptr;
    int m_streamRow = 0;
    bool m_streamComplete = false;
    bool m_streamCut = false;
    QByteArray m_streamIndexBytes;
    QString m_streamIndex;
};

// Sets up a Qt PostgreSQL connection from a postgresql:// URI.
void configurePostgres(QSqlDatabase& db, const QString& uri);

// The address of a postgresql:// URI without its password.
QString postgresDisplayName(const QString& uri);
