// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sqlstore.h"

#include <QHash>

struct sqlite3;
struct sqlite3_stmt;

// The settings store in a SQLite file, on the SQLite library's own API. Keys
// compare byte for byte (binary collation), so the key order is exact and
// case-sensitive.
class TSqliteStore final : public TSqlStore
{
public:
    // location: a file name, or a SQLite "file:" URI (mode=ro opens it
    // read-only). A missing file is made, with its table, only given Create.
    TSqliteStore(const QString& location, TOpen mode);
    ~TSqliteStore() override;

    bool canWrite() override;
    std::unique_ptr<TSqlRows> query(const QByteArray& sql, const TSqlParams& params = {}) override;
    qint64 execute(const QByteArray& sql, const TSqlParams& params = {},
                   TStoreStep step = TStoreStep::Write) override;

    // A statement ready to step, taken from the cache of prepared statements,
    // and given back once its rows are read.
    sqlite3_stmt* prepare(const QByteArray& sql, const TSqlParams& params);
    void giveBack(const QByteArray& sql, sqlite3_stmt* statement) noexcept;
    [[noreturn]] void failCode(TStoreStep step, int code) const;

    bool transactionOpen() const override;
    bool holdsFile(const QString& path) const override;

protected:
    void beginTransaction(TAccess mode) override;

private:
    void ensureSchema(bool newFile);

    sqlite3* m_db = nullptr;
    QHash<QByteArray, sqlite3_stmt*> m_idle;
    bool m_readOnly = false;
    quint64 m_identity = 0;
};
