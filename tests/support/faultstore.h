// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"

#include <QHash>
#include <functional>

// A store that passes every call on to another, and lets a test step in
// before the n-th call of a kind: to count calls, to fail one, or to break
// the store beneath at that moment.
class FaultStore final : public TStoreBackend
{
public:
    enum class Call { Begin, Commit, Find, Scan, Next, Read, Write, CanWrite };

    explicit FaultStore(TStoreBackend& inner) : m_inner(inner) {}

    // Runs action before the n-th call of the kind from now on (1: the next one).
    void at(Call call, int n, std::function<void()> action);
    // Fails the n-th call of the kind from now on, as the store would.
    void fail(Call call, int n = 1);
    // Calls of the kind since the last clear.
    int count(Call call) const { return m_counts.value(call); }
    void clear();

    QString displayName() const override { return m_inner.displayName(); }
    std::optional<TStoreRow> find(const TStoreKey& key) override;
    std::unique_ptr<TStoreCursor> scanFrom(const TSearchKey& key,
                                           TScanRead read = TScanRead::Keys) override;
    QList<TStoreRecord> lastOfGroup(const TStoreGroup& group, const QString& prefix,
                                    int limit) override;
    TStoreContent readContent(const TStoreKey& key) override;
    bool canWrite() override;
    void prefetch(const QList<TPrefetch>& records) override { m_inner.prefetch(records); }
    void sendWritesAhead() override { m_inner.sendWritesAhead(); }
    bool writesAheadFailed() const override { return m_inner.writesAheadFailed(); }
    void sendWritesWaiting() override { m_inner.sendWritesWaiting(); }
    void insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    void insertAll(const QList<TStoreRecord>& records) override;
    void removeAll() override;
    bool update(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    bool transactionOpen() const override;

    // Counts a call and runs what waits for it.
    void hit(Call call);

protected:
    void beginTransaction(TAccess mode) override;
    void control(TControl what, std::size_t level) override;

private:
    TStoreBackend& m_inner;
    QHash<Call, int> m_counts;
    QHash<Call, QList<QPair<int, std::function<void()>>>> m_waiting;
};
