// SPDX-License-Identifier: GPL-3.0-or-later
#include "sqlitestore.h"

#include "platform.h"
#include "quorexception.h"
#include "storeopen.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <sqlite3.h>

namespace
{

// How long a step waits for another writer's lock, or for another
// connection's commit, before it fails.
constexpr int kBusyTimeoutMs = 10000;
// The files SQLite keeps beside a database, by the suffix of their names.
constexpr const char* kCompanions[] = {"-journal", "-wal", "-shm"};

// The kind of failure behind SQLite's (extended) result code.
TStoreFailure failureOf(int code)
{
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return TStoreFailure::Locked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return TStoreFailure::ReadOnly;
    case SQLITE_IOERR:
        return TStoreFailure::DiskError;
    case SQLITE_CORRUPT:
        return TStoreFailure::Damaged;
    case SQLITE_FULL:
        return TStoreFailure::DiskFull;
    case SQLITE_CANTOPEN:
        return TStoreFailure::Missing;
    case SQLITE_NOTADB:
        return TStoreFailure::NotAStore;
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
    case SQLITE_RANGE:
        return TStoreFailure::BadValue;
    default:
        return TStoreFailure::Other;
    }
}

class TSqliteRows final : public TSqlRows
{
public:
    // The parameters are bound without a copy of their bytes; the rows keep
    // them alive while the statement runs.
    TSqliteRows(TSqliteStore& store, QByteArray sql, TSqlParams params)
        : m_store(store), m_sql(std::move(sql)), m_params(std::move(params)),
          m_statement(m_store.prepare(m_sql, m_params))
    {
    }
    ~TSqliteRows() override { m_store.giveBack(m_sql, m_statement); }

    bool next() override
    {
        const int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            m_store.failCode(TStoreStep::Read, rc);
        return false;
    }
    QByteArrayView column(int index) const override
    {
        // The bytes as stored: a text's UTF-8 unconverted, a blob as it is.
        const void* data = sqlite3_column_blob(m_statement, index);
        return {static_cast<const char*>(data), sqlite3_column_bytes(m_statement, index)};
    }

private:
    TSqliteStore& m_store;
    QByteArray m_sql;
    TSqlParams m_params;
    sqlite3_stmt* m_statement;
};

} // namespace

TSqliteStore::TSqliteStore(const QString& location, TOpen mode)
    : TSqlStore(displayLocation(storeFileOf(location)), TStoreEngine::File)
{
    const QString file = displayName();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (location.startsWith(QLatin1String("file:"))) {
        m_readOnly =
            QUrlQuery(QUrl(location)).queryItemValue(QStringLiteral("mode")) == QLatin1String("ro");
        flags |= SQLITE_OPEN_URI;
    }
    const QFileInfo info(file);
    if (!info.absoluteDir().exists())
        fail(TStoreFailure::NoFolder, TStoreStep::Open, info.absolutePath());
    const bool newFile = !info.exists();
    if (newFile && mode != TOpen::Create)
        fail(TStoreFailure::Missing, TStoreStep::Open, {});
    if (!newFile && !info.isWritable())
        m_readOnly = true;
    if (!newFile)
        flags &= ~SQLITE_OPEN_CREATE;
    if (m_readOnly)
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;

    const QByteArray name = flags & SQLITE_OPEN_URI ? location.toUtf8() : sqliteFileName(file);
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString detail = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close(m_db);
        fail(failureOf(rc), TStoreStep::Open, detail, TStoreCode::ofSqlite(rc));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    try {
        ensureSchema(newFile);
    } catch (...) {
        for (sqlite3_stmt* statement : std::as_const(m_idle))
            sqlite3_finalize(statement);
        sqlite3_close(m_db);
        throw;
    }
    m_identity = ::fileIdentity(displayName());
}

TSqliteStore::~TSqliteStore()
{
    if (accessDepth() > 0)
        rollbackAll();
    for (sqlite3_stmt* statement : std::as_const(m_idle))
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

void TSqliteStore::failCode(TStoreStep step, int code) const
{
    fail(failureOf(code), step, QString::fromUtf8(sqlite3_errmsg(m_db)),
         TStoreCode::ofSqlite(code));
}

sqlite3_stmt* TSqliteStore::prepare(const QByteArray& sql, const TSqlParams& params)
{
    sqlite3_stmt* statement = m_idle.take(sql);
    int rc = SQLITE_OK;
    if (!statement) {
        // SQLite numbers its parameters ?1, ?2, ...
        QByteArray text = sql;
        text.replace('$', '?');
        rc = sqlite3_prepare_v3(m_db, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT,
                                &statement, nullptr);
    }
    for (int i = 0; rc == SQLITE_OK && i < params.size(); ++i) {
        const QByteArray& value = params[i].bytes;
        // An empty value is bound as an empty text or blob, never as NULL.
        const char* data = value.constData() ? value.constData() : "";
        rc = params[i].blob
                 ? sqlite3_bind_blob(statement, i + 1, data, int(value.size()), SQLITE_STATIC)
                 : sqlite3_bind_text(statement, i + 1, data, int(value.size()), SQLITE_STATIC);
    }
    if (rc != SQLITE_OK) {
        const int code = sqlite3_extended_errcode(m_db);
        sqlite3_finalize(statement);
        failCode(TStoreStep::Prepare, code);
    }
    return statement;
}

void TSqliteStore::giveBack(const QByteArray& sql, sqlite3_stmt* statement) noexcept
{
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (m_idle.contains(sql))
        sqlite3_finalize(statement);
    else
        m_idle.insert(sql, statement);
}

std::unique_ptr<TSqlRows> TSqliteStore::query(const QByteArray& sql, const TSqlParams& params)
{
    return std::make_unique<TSqliteRows>(*this, sql, params);
}

qint64 TSqliteStore::execute(const QByteArray& sql, const TSqlParams& params, TStoreStep step)
{
    sqlite3_stmt* statement = prepare(sql, params);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    const qint64 changed = sqlite3_changes64(m_db);
    giveBack(sql, statement);
    if (rc != SQLITE_DONE)
        failCode(step, rc);
    return changed;
}

void TSqliteStore::ensureSchema(bool newFile)
{
    const bool present = scalar("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                "name = 'einstellungen'") != "0";
    // Updating a large blob would otherwise overwrite the freed pages with zeros first.
    execute("PRAGMA secure_delete = OFF", {}, TStoreStep::Open);
    if (present)
        return;
    // Another program's database, or an empty file, is left as it is.
    if (!newFile || m_readOnly)
        fail(TStoreFailure::NotAStore, TStoreStep::Open, {});
    execute("CREATE TABLE IF NOT EXISTS einstellungen ("
            " sprache TEXT NOT NULL, programm TEXT NOT NULL, maske TEXT NOT NULL,"
            " bezeichnung TEXT NOT NULL, idx TEXT NOT NULL,"
            " kurzbeschreibung TEXT NOT NULL DEFAULT '', daten BLOB NOT NULL DEFAULT x'',"
            " PRIMARY KEY (sprache, programm, maske, bezeichnung, idx))");
}

void TSqliteStore::beginTransaction(TAccess mode)
{
    forgetPrefetched();
    // An open connection goes on working on a file that was deleted or replaced,
    // and what it writes would be lost: refuse instead.
    const quint64 identity = ::fileIdentity(displayName());
    if (identity == 0 || identity != m_identity)
        fail(TStoreFailure::Replaced, TStoreStep::Begin, {});
    // A writer takes the write lock at its start, so that writers queue up (for
    // the busy timeout) instead of failing halfway. A reader takes no lock
    // before it reads, and reads while another connection's write is open.
    execute(mode == TAccess::Write && !m_readOnly ? "BEGIN IMMEDIATE" : "BEGIN", {},
            TStoreStep::Begin);
}

bool TSqliteStore::transactionOpen() const
{
    // SQLite rolls the whole transaction back by itself on some errors (a full
    // disk, an I/O error, an interrupt); the connection is then in autocommit.
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

bool TSqliteStore::holdsFile(const QString& path) const
{
    const quint64 identity = ::fileIdentity(path);
    if (identity != 0 && identity == m_identity)
        return true;
    // The rollback journal and the write-ahead log come and go with the
    // transactions: compared by name, in the store's own folder.
    const QString store = QFileInfo(displayName()).canonicalFilePath();
    const QFileInfo target(path);
    const QString targetPath =
        QFileInfo(target.absolutePath()).canonicalFilePath() + QLatin1Char('/') + target.fileName();
    return std::any_of(std::begin(kCompanions), std::end(kCompanions), [&](const char* suffix) {
        return targetPath == store + QLatin1String(suffix);
    });
}

bool TSqliteStore::canWrite()
{
    if (m_readOnly || sqlite3_db_readonly(m_db, "main") == 1)
        return false;
    const QFileInfo info(displayName());
    return info.isWritable() && QFileInfo(info.absolutePath()).isWritable();
}
