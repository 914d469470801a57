// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"
#include "storefailure.h"

#include <QByteArrayView>
#include <QList>
#include <map>

// A statement's parameter: a text (UTF-8) or a blob's bytes.
struct TSqlParam {
    QByteArray bytes;
    bool blob = false;
};
using TSqlParams = QList<TSqlParam>;

// The store keeps empty texts and empty blobs, never NULL, and a text as the
// database's UTF-8 can hold it.
TSqlParam sqlText(const QString& value);
TSqlParam sqlBlob(const QByteArray& value);

// The rows of one running statement, stepped one at a time. A column is raw
// bytes: a text in UTF-8, a blob as it is; valid until the next step.
class TSqlRows
{
public:
    virtual ~TSqlRows() = default;
    virtual bool next() = 0;
    virtual QByteArrayView column(int index) const = 0;
};

// What the SQLite and the PostgreSQL store share: one table "einstellungen",
// its statements and its scans, written once over each engine's one way to run
// a statement. Parameters are written $1, $2, ... and always bound.
class TSqlStore : public TStoreBackend
{
public:
    QString displayName() const override { return m_displayName; }

    std::optional<TStoreRow> find(const TStoreKey& key) override;
    std::unique_ptr<TStoreCursor> scanFrom(const TSearchKey& key,
                                           TScanRead read = TScanRead::Keys) override;
    QList<TStoreRecord> lastOfGroup(const TStoreGroup& group, const QString& prefix,
                                    int limit) override;
    TStoreContent readContent(const TStoreKey& key) override;
    void insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    void insertAll(const QList<TStoreRecord>& records) override;
    bool update(const TStoreKey& key, const QString& kurz, const QByteArray& blob) override;
    void removeAll() override;
    void prefetch(const QList<TPrefetch>& records) override;

    // A statement's rows; the engine streams them as they are stepped.
    virtual std::unique_ptr<TSqlRows> query(const QByteArray& sql,
                                            const TSqlParams& params = {}) = 0;
    // A statement run to its end; the number of rows it changed. step names
    // what failed when it fails.
    virtual qint64 execute(const QByteArray& sql, const TSqlParams& params = {},
                           TStoreStep step = TStoreStep::Write) = 0;

    // Runs a statement whose rows are wanted later: a store on a server sends
    // it along with the next statement that waits for an answer.
    virtual void queryLater(const QByteArray& sql, const TSqlParams& params,
                            const std::function<void(TSqlRows&)>& take);

    // Whether queryLater puts a read off to go with the next statement, at
    // no cost of its own; elsewhere it runs at once.
    virtual bool sendsReadsAhead() const { return false; }

    // Queues a write to go with the next statement that waits for an answer,
    // where the store sends writes ahead; false where it is to run now.
    virtual bool executeLater(const QByteArray& /*sql*/, const TSqlParams& /*params*/)
    {
        return false;
    }

    static QString keyText(const TStoreKey& key);
    [[noreturn]] void fail(TStoreFailure kind, TStoreStep step, const QString& detail,
                           TStoreCode code = {}) const;
    TStoreEngine engine() const override { return m_engine; }

protected:
    TSqlStore(QString displayName, TStoreEngine engine)
        : m_displayName(std::move(displayName)), m_engine(engine)
    {
    }
    void control(TControl what, std::size_t level) override;
    // The savepoint of a nesting level of a writing transaction.
    static QByteArray savepointName(std::size_t level);
    // The first column of a one-row answer as text ("" without a row).
    QByteArray scalar(const QByteArray& sql);
    // Reads now what was put off.
    virtual void catchUp() {}
    // What a transaction prefetched is forgotten when it ends.
    void forgetPrefetched() { m_prefetched.clear(); }
    void forgetPrefetched(const QList<TStoreRecord>& records);

    QString m_displayName;
    TStoreEngine m_engine;

private:
    struct TPrefetched {
        std::optional<QString> kurzbeschreibung; // unset: no such record
        std::optional<QByteArray> blob;
    };
    // Records read ahead in the open transaction; a write drops its key.
    std::map<TStoreKey, TPrefetched> m_prefetched;
};
