// SPDX-License-Identifier: GPL-3.0-or-later
#include "faultstore.h"

#include "quorexception.h"

#include <algorithm>

namespace
{
class CountingCursor final : public TStoreCursor
{
public:
    CountingCursor(FaultStore& store, std::unique_ptr<TStoreCursor> inner)
        : m_store(store), m_inner(std::move(inner))
    {
    }
    bool next(TStoreRow& row) override
    {
        m_store.hit(FaultStore::Call::Next);
        return m_inner->next(row);
    }

private:
    FaultStore& m_store;
    std::unique_ptr<TStoreCursor> m_inner;
};
} // namespace

void FaultStore::at(Call call, int n, std::function<void()> action)
{
    m_waiting[call].append({m_counts.value(call) + n, std::move(action)});
}

void FaultStore::fail(Call call, int n)
{
    at(call, n, [this] {
        throw EQuorStoreError(TStoreFailure::DiskError, TStoreStep::Write, TStoreEngine::File,
                              displayName(), QStringLiteral("Fehler simuliert"));
    });
}

void FaultStore::clear()
{
    m_counts.clear();
    m_waiting.clear();
}

void FaultStore::hit(Call call)
{
    const int number = ++m_counts[call];
    auto& waiting = m_waiting[call];
    for (qsizetype i = 0; i < waiting.size(); ++i) {
        if (waiting[i].first != number)
            continue;
        const std::function<void()> action = waiting.takeAt(i).second;
        action();
        return;
    }
}

std::optional<TStoreRow> FaultStore::find(const TStoreKey& key)
{
    hit(Call::Find);
    return m_inner.find(key);
}

std::unique_ptr<TStoreCursor> FaultStore::scanFrom(const TSearchKey& key, TScanRead read)
{
    hit(Call::Scan);
    return std::make_unique<CountingCursor>(*this, m_inner.scanFrom(key, read));
}

QList<TStoreRecord> FaultStore::lastOfGroup(const TStoreGroup& group, const QString& prefix,
                                            int limit)
{
    hit(Call::Scan);
    return m_inner.lastOfGroup(group, prefix, limit);
}

TStoreContent FaultStore::readContent(const TStoreKey& key)
{
    hit(Call::Read);
    return m_inner.readContent(key);
}

bool FaultStore::canWrite()
{
    hit(Call::CanWrite);
    return m_inner.canWrite();
}

void FaultStore::insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    hit(Call::Write);
    m_inner.insert(key, kurz, blob);
}

void FaultStore::insertAll(const QList<TStoreRecord>& records)
{
    // As the store takes them, many to a statement, split where an action
    // waits: what comes before it is written first, as one insert() after
    // another would have it.
    QList<TStoreRecord> piece;
    for (const TStoreRecord& record : records) {
        const int number = m_counts.value(Call::Write) + 1;
        const auto& waiting = m_waiting[Call::Write];
        if (!piece.isEmpty() && std::any_of(waiting.begin(), waiting.end(),
                                            [&](const auto& w) { return w.first == number; }))
            m_inner.insertAll(std::exchange(piece, {}));
        hit(Call::Write);
        piece.append(record);
    }
    if (!piece.isEmpty())
        m_inner.insertAll(piece);
}

void FaultStore::removeAll()
{
    hit(Call::Write);
    m_inner.removeAll();
}

bool FaultStore::update(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    hit(Call::Write);
    return m_inner.update(key, kurz, blob);
}

bool FaultStore::transactionOpen() const
{
    if (m_inner.transactionOpen())
        return true;
    // The engine ended the transaction by itself: the store beneath ends its
    // accesses too, as its own user would on being told.
    while (m_inner.accessDepth() > 0) {
        m_inner.markFailed();
        try {
            m_inner.endAccess();
        } catch (const std::exception&) {
        }
    }
    return false;
}

void FaultStore::beginTransaction(TAccess mode)
{
    hit(Call::Begin);
    m_inner.beginAccess(mode);
}

void FaultStore::control(TControl what, std::size_t /*level*/)
{
    switch (what) {
    case TControl::Commit:
        hit(Call::Commit);
        m_inner.endAccess();
        break;
    case TControl::Savepoint:
        m_inner.beginAccess(TAccess::Write);
        break;
    case TControl::RollbackToSavepoint:
        m_inner.markFailed();
        break;
    case TControl::ReleaseSavepoint:
        m_inner.endAccess();
        break;
    case TControl::Rollback:
        // Every level fails, so that nothing of it is kept.
        while (m_inner.accessDepth() > 0) {
            m_inner.markFailed();
            try {
                m_inner.endAccess();
            } catch (const std::exception&) {
            }
        }
        break;
    }
}
