// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pgpipeline.h"
#include "quorexception.h"
#include "sqlstore.h"

#include <vector>

// Whether a location is written as an address for the PostgreSQL client
// library: a postgresql:// or postgres:// URI (the scheme in any case), or
// key=value pairs (a word and "=" first). Whether the library can read it is
// asked when it is opened.
bool isPostgresAddress(const QString& location);
// The address as messages show it: made from the options the library reads
// from it, never with its password; for one it cannot read, only its form.
QString displayPostgresAddress(const QString& location);

// The settings store on a PostgreSQL server, shared by every workstation of a
// shop, on the PostgreSQL client library. Keys are compared in byte order
// (COLLATE "C"), as on SQLite. Values travel in binary form, blobs byte for
// byte. A step whose server or network stalls fails within seconds; a lost
// connection fails the step at hand and is opened anew at the next one.
class TPostgresStore final : public TSqlStore
{
public:
    // address: any connection string the client library takes: a
    // postgresql:// URI (several hosts allowed), key=value pairs or a
    // service= name; the library reads it, its parameters, the service and
    // password files and PGPASSWORD as usual. The settings table is made
    // only given Create.
    TPostgresStore(const QString& address, TOpen mode);
    ~TPostgresStore() override;

    bool canWrite() override;
    std::unique_ptr<TSqlRows> query(const QByteArray& sql, const TSqlParams& params = {}) override;
    qint64 execute(const QByteArray& sql, const TSqlParams& params = {},
                   TStoreStep step = TStoreStep::Write) override;

    bool transactionOpen() const override;
    bool sendsReadsAhead() const override { return true; }
    void sendWritesAhead() override;
    bool writesAheadFailed() const override { return m_lastRefusedAhead; }
    void sendWritesWaiting() override;
    bool executeLater(const QByteArray& sql, const TSqlParams& params) override;

protected:
    void beginTransaction(TAccess mode) override;
    void control(TControl what, std::size_t level) override;

private:
    // Where the store stands with its server. It changes in moveTo() alone:
    //   Lost -> Idle                   a connection is made
    //   Idle -> Reading | Writing      a transaction begins (its BEGIN may wait to go)
    //   Reading | Writing -> Idle      a reader's commit is sent, or a rollback done
    //   Writing -> CommitInDoubt       the writer's COMMIT is about to leave
    //   CommitInDoubt -> Idle          the sync point of the COMMIT's batch is read
    //   CommitInDoubt -> Writing       ... with a refusal: rolled back next
    //   any -> Lost                    the connection is given up
    // A commit is in doubt until its batch's sync point has been read, whatever
    // came before it: only then is the server's answer the whole answer.
    enum class TState { Lost, Idle, Reading, Writing, CommitInDoubt };
    void moveTo(TState next);

    void connect();
    // One round trip, last (if any) closing it. The first batch of a
    // transaction goes once more on a new connection where the old one is
    // found lost before any of its answers was taken, and it holds no commit.
    void exchange(const TPgStatement* last);
    void catchUp() override;
    void queryLater(const QByteArray& sql, const TSqlParams& params,
                    const std::function<void(TSqlRows&)>& take) override;
    qint64 runToEnd(const QByteArray& sql, const TSqlParams& params, TStoreStep step,
                    QByteArray* lastValue);
    // Ends the open transaction on the server, waiting for nothing more.
    void commitWriter();

    // Runs a step of the pipeline; its failure becomes the store's.
    template <typename Step> decltype(auto) guarded(Step&& step);
    [[noreturn]] void failed(const EPgFailure& failure);
    [[noreturn]] void refused(const EPgFailure& failure);
    // The connection is given up. A writer's transaction that may still be
    // open on the server is settled first; returns only where it was kept.
    void giveUp(const EPgFailure& failure);
    // The writers' lock could not be had in time: who holds it, and since
    // when, where the server tells.
    void askLockHolder(TStoreFault& fault);
    // Learns on a new connection, from the transaction's id, what became of
    // the writer's transaction, and ends it where it still waits for this
    // program. Returns where it was kept; throws the outcome otherwise. With
    // its commit not sent, it only frees what the transaction holds.
    void settleTransaction(bool commitSent, const TStoreFault& cause);
    // The server said, answering the COMMIT, that its standby did not confirm.
    void noticed(const pg_result* notice);
    [[noreturn]] void failAwaitingStandby() const;

    QByteArray m_address;
    pg_conn* m_conn = nullptr;
    TPgPipeline m_pipe;
    TState m_state = TState::Lost;
    // The address sets a statement timeout of its own.
    bool m_ownTimeout = false;
    bool m_writesAhead = false;
    // A write of this transaction sent ahead was refused.
    bool m_refusedAhead = false;
    // ... of the last writing transaction.
    bool m_lastRefusedAhead = false;
    // Whether the store takes the writes of the open writing transaction.
    std::optional<bool> m_writable;
    // The open writing transaction's id on the server, as text; empty until
    // its first batch is answered.
    QByteArray m_xid;
    // The session that began it: when its server started, its process and
    // when that started, as the server shows them.
    QByteArray m_session;
    // The server warned, answering the COMMIT, that its standby has not confirmed it.
    bool m_standbyUnconfirmed = false;
};
