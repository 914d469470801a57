// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sqlstore.h"

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

protected:
    void beginTransaction(TAccess mode) override;
    void control(TControl what, std::size_t level) override;

private:
    friend class TPgRows;
    void connect();
    void disconnect() noexcept;
    void send(const QByteArray& sql, const TSqlParams& params, bool rowByRow, TStoreStep step);
    void flush(TStoreStep step);
    void sendSetup(TStoreStep step);
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

    QByteArray m_uri;
    pg_conn* m_conn = nullptr;
    // The statement whose rows are being streamed; another statement first
    // reads the rest of them into its buffer.
    TPgRows* m_stream = nullptr;
    bool m_stalled = false;
    // Savepoint releases not sent yet: they go along with the next statement.
    QByteArray m_owedReleases;
    // The settings of a new session, not sent yet.
    QByteArray m_owedSetup;
    // Whether the store takes the writes of the open writing transaction.
    std::optional<bool> m_writable;
};
