#pragma once

#include "storebackend.h"

#include <QSqlDatabase>
#include <QSqlQuery>

class QSqlError;

// The settings store in a SQLite file, through Qt's SQLite driver. Keys compare
// byte for byte (binary collation), so the key order is exact and case-sensitive.
class TSqliteStore final : public TStoreBackend {
public:
    // location: a file name, or a SQLite "file:" URI (mode=ro opens it read-only).
    explicit TSqliteStore(const QString& location);
    ~TSqliteStore() override;

    QString displayName() const override { return m_file; }

    std::optional<TStoreRow> find(const TStoreKey& key) override;
    std::unique_ptr<TStoreCursor> scanFrom(const TSearchKey& key) override;
    QByteArray readBlob(const TStoreKey& key) override;
    bool canWrite() override;
    void insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    bool update(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;

    [[noreturn]] void fail(const QString& what, const QSqlError& error) const;

protected:
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() noexcept override;

private:
    QSqlQuery prepared(const QString& sql);
    void exec(QSqlQuery& query, const QString& what);
    void ensureSchema();

    QString m_connection;
    QString m_file;
    bool m_readOnly = false;
};
