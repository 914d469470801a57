// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accessguard.h"
#include "storefailure.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The one seam between the framework and a database: every other part of the
// framework reaches the settings store through this interface only.

inline constexpr int kKeyFieldCount = 5;
using TStoreKey = std::array<QString, kKeyFieldCount>;
// A search key; an unset field (nullopt) counts lower than every text, "" included.
using TSearchKey = std::array<std::optional<QString>, kKeyFieldCount>;

struct TStoreRow {
    TStoreKey key;
    QString kurzbeschreibung;
    // A scan may leave the short description out; it is read when asked for.
    bool hasKurzbeschreibung = true;
    // Set by a scan that reads content.
    QByteArray blob{};
};

// A record's short description and blob, read together in one statement.
struct TStoreContent {
    QString kurzbeschreibung;
    QByteArray blob;
};

struct TStoreRecord {
    TStoreKey key;
    TStoreContent content;
};

// What a scan reads with each key: a step that will use the short
// description or the whole record has it in the scan's batches instead of
// asking record by record.
enum class TScanRead { Keys, Summary, Content };

// Language, program and mask: the first three fields of a key.
using TStoreGroup = std::array<QString, 3>;

// One ordered query streaming rows in key order.
class TStoreCursor
{
public:
    virtual ~TStoreCursor() = default;
    // Fills row with the next record. Given the same row as the call before,
    // a cursor may leave the fields that did not change as they are.
    virtual bool next(TStoreRow& row) = 0;
};

// A record a step is about to read: found or not, with its short description,
// and its blob where content is set.
struct TPrefetch {
    TStoreKey key;
    bool content = false;
};

// A bracket that only reads sees one consistent state of the store and never
// waits for another connection's open write transaction, only for the moment
// of its commit. A writing bracket holds the store's write lock from its start,
// so writers queue (for a bounded time) instead of failing halfway.
enum class TAccess { Read, Write };

class TStoreBackend
{
public:
    virtual ~TStoreBackend() = default;

    // File name or server address (never a password), for messages.
    virtual QString displayName() const = 0;
    // A file on this machine or a server: some reports differ.
    virtual TStoreEngine engine() const { return TStoreEngine::File; }

    // Accesses nest; the outermost one is one transaction, of the kind its mode
    // asks for. Inside a writing transaction each nested access is a savepoint:
    // a nested access in which a store operation failed gives back its own
    // writes and nothing else; a failed outermost access is rolled back whole.
    void beginAccess(TAccess mode = TAccess::Read);
    void endAccess();
    // The innermost access failed.
    void markFailed();
    int accessDepth() const { return int(m_levels.size()); }
    // The engine rolled the open transaction back by itself (a full disk, an
    // I/O error or an interrupt on SQLite, a lost connection on PostgreSQL):
    // everything written in it is gone. Until the outermost access ends,
    // nothing more runs in it, and that end reports the transaction as lost.
    bool transactionLost() const { return m_lost; }

    virtual std::optional<TStoreRow> find(const TStoreKey& key) = 0;
    virtual std::unique_ptr<TStoreCursor> scanFrom(const TSearchKey& key,
                                                   TScanRead read = TScanRead::Keys) = 0;
    // The records of a group whose short description begins with prefix,
    // last in key order first, at most limit of them (every one where limit
    // is 0), with their content: one query, whatever the group holds besides.
    virtual QList<TStoreRecord> lastOfGroup(const TStoreGroup& group, const QString& prefix,
                                            int limit) = 0;
    // Throws when the record is gone.
    virtual TStoreContent readContent(const TStoreKey& key) = 0;
    QByteArray readBlob(const TStoreKey& key) { return readContent(key).blob; }
    virtual bool canWrite() = 0;
    // Reads the records in one go, for find() and readContent() of them until
    // the transaction ends: a step that knows what it will read asks once
    // instead of key by key. A store may do nothing.
    virtual void prefetch(const QList<TPrefetch>& /*records*/) {}
    // The writes of the open writing transaction may go to the store together
    // with its commit instead of one by one: for a posting that runs again,
    // step by step, should one of them be refused. A refused write fails the
    // commit, nothing of the transaction is kept, and writesAheadFailed() is
    // true until the next writing transaction begins. A store may write at
    // once all the same.
    virtual void sendWritesAhead() {}
    virtual bool writesAheadFailed() const { return false; }
    // The writes sent ahead so far go now, in one round trip: a long run of
    // writes goes in batches of bounded size.
    virtual void sendWritesWaiting() {}
    virtual void insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob) = 0;
    // insert() of each record, in as few statements as the engine takes.
    virtual void insertAll(const QList<TStoreRecord>& records);
    // Removes every record (store tool: restoring a backup over a store).
    virtual void removeAll() = 0;
    // false when the record does not exist (anymore).
    virtual bool update(const TStoreKey& key, const QString& kurz, const QByteArray& blob) = 0;

    // Whether the engine still holds a transaction on this connection.
    virtual bool transactionOpen() const = 0;

    // Whether writing a file at path would write onto the store itself or
    // onto a file its engine keeps beside it.
    virtual bool holdsFile(const QString& /*path*/) const { return false; }

protected:
    virtual void beginTransaction(TAccess mode) = 0;
    // Ends the transaction, or sets, rolls back to or releases the savepoint of
    // a nesting level.
    enum class TControl { Commit, Rollback, Savepoint, RollbackToSavepoint, ReleaseSavepoint };
    virtual void control(TControl what, std::size_t level) = 0;
    void rollbackAll() noexcept;
    // Refuses a statement in a transaction the engine has ended, where it
    // would run on its own and be kept.
    void requireLiveTransaction() const;

private:
    struct Level {
        bool failed = false;
        bool savepoint = false;
    };
    void noteFailure();
    void closed() noexcept;
    [[noreturn]] void failLost() const;

    std::vector<Level> m_levels;
    TAccess m_mode = TAccess::Read;
    bool m_lost = false;
    // This store's transaction is one of the process's open ones.
    bool m_counted = false;
};

// How many store transactions this process holds open, on any store. Nothing
// that waits for a person may run while one is open: it would hold every
// other workstation's posting.
int openStoreTransactions();
// Called whenever the last open store transaction of the process has ended,
// committed or rolled back.
void setStoreTransactionsEndedHandler(std::function<void()> handler);

// An open access bracket of a store.
using TStoreAccessGuard = TAccessGuard<TStoreBackend>;

// Runs body in one access bracket of the store: all of its writes, or none.
template <typename Body>
void inStoreAccess(TStoreBackend& store, Body&& body, TAccess mode = TAccess::Read)
{
    store.beginAccess(mode);
    TStoreAccessGuard access(store);
    body();
    access.close();
}

// How many writes a bulk step sends ahead before it sends them on their way.
inline constexpr int kWriteBatch = 1024;

// The writes of a bulk step (import, restore): records put in as insert()
// puts them, gathered and sent on their way kWriteBatch at a time.
class TWriteBatch
{
public:
    explicit TWriteBatch(TStoreBackend& store) : m_store(store) {}
    void add(TStoreRecord&& record)
    {
        m_records.append(std::move(record));
        if (m_records.size() == kWriteBatch) {
            finish();
            m_store.sendWritesWaiting();
        }
    }
    // Puts in what was gathered, to go with the commit: the step's end must
    // call it.
    void finish();

private:
    TStoreBackend& m_store;
    QList<TStoreRecord> m_records;
};

// Throws the store's read-only failure when it takes no writes.
void requireWritable(TStoreBackend& store);

// Whether opening may make a new store: only what the person asked to be
// written (the suite's own default store, an import or a restore) may; a
// named store that is missing, or that holds no settings table, is an error.
enum class TOpen { Existing, Create };
