// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sqlstore.h"

#include <deque>
#include <functional>

struct pg_conn;
struct pg_result;
class TPgRows;

// Whether a location is meant for the PostgreSQL client library, by that
// library's own rule: a postgresql:// or postgres:// URI (the scheme in any
// case), or a string of key=value pairs that it can read.
bool isPostgresAddress(const QString& location);
// The address as messages show it: in every form without its password.
QString displayPostgresAddress(const QString& location);

// Round trips to a PostgreSQL server this process has made, on any store,
// connecting left out: on a slow line each one is the cost of a step.
quint64 postgresRoundTrips();

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
    void sendWritesAhead() override;
    bool writesAheadFailed() const override { return m_aheadFailed; }
    bool executeLater(const QByteArray& sql, const TSqlParams& params) override;

protected:
    void beginTransaction(TAccess mode) override;
    void control(TControl what, std::size_t level) override;

private:
    friend class TPgRows;
    // A statement sent in pipeline mode, with others in one round trip.
    struct TPgStatement {
        QByteArray sql;
        TSqlParams params;
        TStoreStep step = TStoreStep::Write;
        // Given each answer with rows.
        std::function<void(pg_result*)> take;
        // A sync point follows: what comes after it is no longer undone
        // together with what came before, and a failure stops at it.
        bool sync = false;
        // Its failure costs nothing (a read's commit).
        bool quiet = false;
        // It begins this transaction.
        bool begin = false;
        // A write sent ahead.
        bool ahead = false;
    };

    void connect();
    void disconnect() noexcept;
    // Sends a statement, with the statements waiting to go along, and reads
    // the answers of those; the statement's own answers are next.
    void send(const QByteArray& sql, const TSqlParams& params, bool rowByRow, TStoreStep step);
    void sendDirect(const QByteArray& sql, const TSqlParams& params, TStoreStep step);
    // One round trip: sends what waits, last behind it, and reads every
    // answer but last's.
    void exchange(TPgStatement* last);
    // Sends what waits in pipeline mode, a statement of its own last.
    void sendWaiting(TPgStatement* last);
    // Reads the answers of sent statements until keep are left.
    void readAnswers(std::size_t keep);
    void readStatement(const TPgStatement& statement, pg_result*& failure, TStoreStep& failedStep,
                       bool& aheadFailed);
    // After the last answer of a statement: its sync point, and pipeline mode
    // left once nothing is outstanding.
    void endStatement();
    // Sends the waiting statements and reads every answer.
    void catchUp() override;
    void queryLater(const QByteArray& sql, const TSqlParams& params,
                    const std::function<void(TSqlRows&)>& take) override;
    void enqueue(TPgStatement statement) { m_waiting.push_back(std::move(statement)); }
    // Drops what waits of the transaction: it never reached the server.
    void dropWaiting();
    void flush(TStoreStep step);
    // Runs a statement, or without parameters several in one text, to the end
    // of its results; gives the rows changed by the last, and the first column
    // of the last answer with rows.
    qint64 runToEnd(const QByteArray& sql, const TSqlParams& params, TStoreStep step,
                    QByteArray* lastValue);
    // The next result of the running statement; waits no longer than a stalled
    // server allows.
    pg_result* nextResult();
    void waitForSocket(bool writing);
    // Reads the results of the statement before to their end.
    void settle();
    [[noreturn]] void connectionFailed(TStoreStep step);
    [[noreturn]] void statementFailed(TStoreStep step, pg_result* result);
    [[noreturn]] void failWith(TStoreStep step, pg_result* result);

    QByteArray m_uri;
    pg_conn* m_conn = nullptr;
    // The statement whose rows are being streamed; another statement first
    // reads the rest of them into its buffer.
    TPgRows* m_stream = nullptr;
    bool m_stalled = false;
    // Statements that need no answer at once: they go along with the next
    // one that does.
    std::deque<TPgStatement> m_waiting;
    // Sent in pipeline mode, their answers not read yet.
    std::deque<TPgStatement> m_sent;
    bool m_inTransaction = false;
    bool m_writesAhead = false;
    bool m_aheadFailed = false;
    bool m_reading = false;
    // Whether the store takes the writes of the open writing transaction.
    std::optional<bool> m_writable;
};
