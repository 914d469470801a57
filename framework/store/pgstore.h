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

// Round trips to a PostgreSQL server this process has made, on any store,
// connecting left out: on a slow line each one is the cost of a step.
quint64 postgresRoundTrips();

// The settings store on a PostgreSQL server, shared by every workstation of a
// shop, on the PostgreSQL client library. Keys are compared in byte order
// (COLLATE "C"), as on SQLite. Values travel in binary form, blobs byte for
// byte. A step whose server or network stalls fails within seconds; a lost
// connection fails the step at hand and is opened anew at the next one.
class TPostgresStore final : public TSqlStore, private TPgLine
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
    bool executeLater(const QByteArray& sql, const TSqlParams& params) override;
    void witness(const TStoreKey& key) override;

protected:
    void beginTransaction(TAccess mode) override;
    void control(TControl what, std::size_t level) override;

private:
    // The transaction this store began on its connection.
    enum class TTransaction { None, Reading, Writing };

    void connect();
    void disconnect() noexcept;
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

    [[noreturn]] void lineLost(TStoreStep step) override;
    [[noreturn]] void lineStalled() override;
    [[noreturn]] void statementRefused(const TPgStatement& statement, pg_result* result) override;
    [[noreturn]] void failWith(TStoreStep step, pg_result* result);
    // The writers' lock could not be had in time: the report naming who
    // holds it, empty where the server does not tell.
    QString lockHolder();
    // The answer to a writer's COMMIT did not come: learns on a new
    // connection whether the transaction was kept, and returns when it was.
    void learnCommitOutcome(const EQuorStoreError& cause);

    QByteArray m_address;
    pg_conn* m_conn = nullptr;
    TPgPipeline m_pipe{*this};
    // The address sets a statement timeout of its own.
    bool m_ownTimeout = false;
    TTransaction m_transaction = TTransaction::None;
    bool m_writesAhead = false;
    // A write of this transaction sent ahead was refused.
    bool m_refusedAhead = false;
    // ... of the last writing transaction.
    bool m_lastRefusedAhead = false;
    // Whether the store takes the writes of the open writing transaction.
    std::optional<bool> m_writable;
    // Records the open writing transaction inserted, each unique to it, with
    // the nesting level that wrote it.
    std::vector<std::pair<std::size_t, TStoreKey>> m_witnesses;
    // The server process of the connection, for asking after it from another.
    int m_backendPid = 0;
    // The connection was lost with a COMMIT unanswered.
    bool m_commitUnknown = false;
    // ... after answers of its batch were taken.
    bool m_answersTaken = false;
};
