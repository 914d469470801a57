#pragma once

#include "sqlstore.h"

// The settings store in a SQLite file, through Qt's SQLite driver. Keys compare
// byte for byte (binary collation), so the key order is exact and case-sensitive.
class TSqliteStore final : public TSqlStore
{
public:
    // location: a file name, or a SQLite "file:" URI (mode=ro opens it read-only).
    explicit TSqliteStore(const QString& location);
    ~TSqliteStore() override;

    std::unique_ptr<TStoreCursor> scanFrom(const TSearchKey& key) override;
    bool canWrite() override;
    [[noreturn]] void failNative(const QString& what, int code) const;
    struct sqlite3* nativeHandle() const;
    // A statement on the connection's own handle with its parameters bound.
    struct sqlite3_stmt* prepareNative(const QString& sql, const QList<QByteArray>& values) const;

protected:
    void beginTransaction() override;
    QString hint(const QSqlError& error) const override;

private:
    void ensureSchema();
    quint64 fileIdentity() const;
    bool m_readOnly = false;
    quint64 m_identity = 0;
};
