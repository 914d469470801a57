// SPDX-License-Identifier: GPL-3.0-or-later
#include "storebackend.h"

#include "quorexception.h"

#include <atomic>

namespace
{
std::atomic<int> g_openTransactions{0};

std::function<void()>& endedHandler()
{
    static std::function<void()> handler;
    return handler;
}
} // namespace

int openStoreTransactions()
{
    return g_openTransactions.load();
}

void setStoreTransactionsEndedHandler(std::function<void()> handler)
{
    endedHandler() = std::move(handler);
}

void TStoreBackend::beginAccess(TAccess mode)
{
    if (m_levels.empty()) {
        try {
            beginTransaction(mode);
        } catch (...) {
            // A transaction begun but not set up (the writers' lock not had).
            rollbackAll();
            throw;
        }
        m_mode = mode;
        m_lost = false;
        m_levels.push_back({});
        m_counted = true;
        ++g_openTransactions;
        return;
    }
    requireLiveTransaction();
    Level level;
    if (m_mode == TAccess::Write) {
        try {
            control(TControl::Savepoint, m_levels.size());
        } catch (...) {
            markFailed();
            throw;
        }
        level.savepoint = true;
    }
    m_levels.push_back(level);
}

void TStoreBackend::markFailed()
{
    if (m_levels.empty())
        return;
    m_levels.back().failed = true;
    noteFailure();
}

void TStoreBackend::noteFailure()
{
    if (!m_lost && !transactionOpen())
        m_lost = true;
}

void TStoreBackend::requireLiveTransaction() const
{
    if (m_levels.empty())
        return;
    if (m_lost || !transactionOpen())
        failLost();
}

void TStoreBackend::failLost() const
{
    throw EQuorStoreError(TStoreFailure::TransactionLost, TStoreStep::Commit, engine(),
                          displayName());
}

void TStoreBackend::endAccess()
{
    if (m_levels.empty())
        throw EQuorException(QStringLiteral(
            "Zugriff auf die Einstellungsdatenbank beendet, der nicht begonnen war"));
    const Level level = m_levels.back();
    m_levels.pop_back();
    if (level.failed)
        noteFailure();
    if (m_levels.empty()) {
        if (level.failed) {
            rollbackAll();
            return;
        }
        // A transaction the engine ended by itself has nothing left to commit:
        // that is a failure, never a success.
        if (m_lost || !transactionOpen()) {
            rollbackAll();
            failLost();
        }
        try {
            control(TControl::Commit, 0);
        } catch (...) {
            rollbackAll();
            throw;
        }
        closed();
        return;
    }
    // No savepoint statement runs in a transaction that is gone: outside a
    // transaction it would begin one of its own and commit it.
    if (m_lost || !level.savepoint) {
        // A read gives nothing back; a failure there ends the transaction.
        if (level.failed || m_lost)
            m_levels.back().failed = true;
        return;
    }
    try {
        if (level.failed)
            control(TControl::RollbackToSavepoint, m_levels.size());
        control(TControl::ReleaseSavepoint, m_levels.size());
    } catch (...) {
        markFailed();
        throw;
    }
}

void TStoreBackend::rollbackAll() noexcept
{
    m_levels.clear();
    try {
        if (transactionOpen())
            control(TControl::Rollback, 0);
    } catch (const std::exception&) {
        // A transaction that cannot be rolled back is gone with its connection.
    }
    closed();
}

void TStoreBackend::closed() noexcept
{
    m_levels.clear();
    m_lost = false;
    if (!m_counted)
        return;
    m_counted = false;
    if (g_openTransactions.fetch_sub(1) == 1 && endedHandler()) {
        try {
            endedHandler()();
        } catch (...) {
        }
    }
}

void requireWritable(TStoreBackend& store)
{
    if (!store.canWrite())
        throw EQuorStoreError(TStoreFailure::ReadOnly, TStoreStep::Write, store.engine(),
                              store.displayName());
}

void TStoreBackend::insertAll(const QList<TStoreRecord>& records)
{
    for (const TStoreRecord& record : records)
        insert(record.key, record.content.kurzbeschreibung, record.content.blob);
}

void TWriteBatch::finish()
{
    if (m_records.isEmpty())
        return;
    m_store.insertAll(m_records);
    m_records.clear();
}
