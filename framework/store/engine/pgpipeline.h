// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sqlstore.h"

#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

// Round trips to a PostgreSQL server this process has made, on any store,
// connecting left out: on a slow line each one is the cost of a step.
quint64 postgresRoundTrips();
// The stall limit of the process's PostgreSQL stores, in milliseconds (15 s
// unless set): a step whose server sends nothing for that long fails.
void setPostgresStallLimit(int milliseconds);

struct TPgResultDeleter {
    void operator()(pg_result* result) const;
};
using TResult = std::unique_ptr<pg_result, TPgResultDeleter>;

// What a statement in the pipeline is. Each kind expects its own answers,
// and its failure means its own thing.
enum class TPgKind {
    Begin,        // BEGIN, and the writers' lock the transaction takes
    Setting,      // a setting of the transaction alone (set_config(..., true))
    Query,        // rows the caller steps through, streamed one result a row
    Execute,      // run to its end; the caller waits for its answer
    ReadAhead,    // rows handed to a handler when they come
    WriteAhead,   // a write that goes with the commit
    Savepoint,    // SAVEPOINT
    Release,      // RELEASE SAVEPOINT
    RollbackTo,   // ROLLBACK TO SAVEPOINT
    Commit,       // a writer's COMMIT; the caller waits for its answer
    ReaderCommit, // ends a reader's snapshot: sent, never waited for; its failure costs nothing
    Rollback,     // ROLLBACK
};

struct TPgStatement {
    TPgKind kind = TPgKind::Execute;
    QByteArray sql;
    TSqlParams params;
    TStoreStep step = TStoreStep::Write;
    // ReadAhead: given the answer's rows.
    std::function<void(pg_result*)> take;
    // A sync point follows it: it ends a batch.
    bool sync = false;

    static TPgStatement begin(QByteArray sql);
    static TPgStatement query(QByteArray sql, TSqlParams params);
    static TPgStatement execute(QByteArray sql, TSqlParams params, TStoreStep step);
    static TPgStatement readAhead(QByteArray sql, TSqlParams params,
                                  std::function<void(pg_result*)> take);
    static TPgStatement writeAhead(QByteArray sql, TSqlParams params);
    static TPgStatement setting(QByteArray sql);
    static TPgStatement savepoint(TPgKind kind, QByteArray sql);
    static TPgStatement commit();
    static TPgStatement readerCommit();
    static TPgStatement rollback();

    // Its failure is of no account.
    bool quiet() const { return kind == TPgKind::ReaderCommit; }
    // The caller waits for its answer: it closes the round trip.
    bool waited() const
    {
        return kind == TPgKind::Query || kind == TPgKind::Execute || kind == TPgKind::Commit ||
               kind == TPgKind::Rollback;
    }
};

// How a round trip failed, as the pipeline tells its store, which turns it
// into its own failure at its boundary.
struct EPgFailure : std::exception {
    enum class TKind {
        Lost,    // the connection broke, or answered what was not asked
        Stalled, // nothing came back for too long
        Refused, // the server refused a statement; result is the batch's first refusal
        Broken,  // one of the pipeline's rules did not hold: a fault of this program
    };
    EPgFailure(TKind what, TStoreStep at) : kind(what), step(at) {}
    const char* what() const noexcept override { return "PostgreSQL pipeline failure"; }

    TKind kind;
    TStoreStep step;
    // Refused: the refused statement's kind, and the server's answer.
    TPgKind statement = TPgKind::Execute;
    std::shared_ptr<pg_result> result;
    // Broken: the rule, in the words of the list below.
    const char* rule = nullptr;
};

// Statements sent in libpq's pipeline mode: those that need no answer at once
// wait and go with the next one that does, in one round trip.
//
// Rules it keeps, checked where they are relied on in every build; a rule that
// does not hold fails the round trip as Broken, and the store gives the
// connection up:
// - The connection is in pipeline mode exactly while answers are outstanding.
// - Every batch sent ends with a sync point, and every sync point's answer is
//   read as PGRES_PIPELINE_SYNC; anything else there means the connection no
//   longer speaks to this program, and it is given up.
// - Between a refusal and its batch's sync point every answer is
//   PGRES_PIPELINE_ABORTED; the first refusal is the one reported, once all of
//   what was sent has been read.
// - While a statement's rows stream, nothing else is sent: a new batch first
//   reads the rest of those rows into memory.
// - A waited statement (query, execute, commit) is the last of its batch; a
//   reader's commit ends a batch too, and is the only statement that goes
//   without its answer being waited for.
// - A handler of a read ahead runs once, with the answer of the one batch that
//   carried it.
// - Once the connection is lost, nothing that was waiting or sent on it stays.
class TPgPipeline
{
public:
    TPgPipeline() = default;
    ~TPgPipeline();
    TPgPipeline(const TPgPipeline&) = delete;
    TPgPipeline& operator=(const TPgPipeline&) = delete;

    void attach(pg_conn* conn) { m_conn = conn; }
    // The connection went: everything queued and sent on it is dropped.
    void reset() noexcept;

    void enqueue(TPgStatement statement) { m_waiting.push_back(std::move(statement)); }
    // Drops the waiting statements that match.
    void drop(const std::function<bool(const TPgStatement&)>& which);
    bool waits(TPgKind kind) const;
    bool waitsForAnswers() const;
    std::vector<TPgStatement> waiting() const { return {m_waiting.begin(), m_waiting.end()}; }
    bool idle() const { return m_waiting.empty() && m_sent.empty() && !m_stream; }

    // One round trip: sends what waits, last (if any) behind it, and reads
    // every answer but last's, whose results are next.
    void exchange(const TPgStatement* last);
    // Sends what waits, ending with a sync point, and reads no answer: for a
    // reader's commit, whose answer is read with the next round trip's.
    void sendOnly();
    // The rows of the query just exchanged, streamed.
    std::unique_ptr<TSqlRows> stream();
    // The next result of the statement whose answer is being read; waits no
    // longer than a stalled server allows.
    pg_result* nextResult();
    // Reads the answers of the execute or commit just exchanged to their end:
    // the rows changed by the last, and the first column of the last answer
    // with rows.
    qint64 finish(QByteArray* lastValue);
    // Outside pipeline mode, with nothing outstanding: a text of several
    // statements, without parameters, run to its end.
    qint64 runText(const QByteArray& sql, TStoreStep step, QByteArray* lastValue);
    // After the last result of the waited statement: reads its sync point.
    void endStatement();
    // Reads the rows still streaming into memory.
    void settle();

    // A batch that began a transaction had answers taken: sending it again
    // would run its handlers twice.
    bool answersTaken() const { return m_taken; }
    // The server answered the COMMIT with a rollback: the transaction had failed.
    bool commitRolledBack() const { return m_rolledBack; }

    // Bounded waits for the socket, each no longer than the stall limit.
    void waitForSocket(bool writing);
    static int stallLimitMs();

private:
    friend class TPgRows;
    void sendWaiting(const TPgStatement* last);
    void sendOne(const TPgStatement& statement);
    void readAnswers(std::size_t keep);
    // Reads one sent statement's answers; gives its refusal where it is the
    // batch's first (clean: nothing before it was refused).
    pg_result* readStatement(const TPgStatement& statement, bool clean);
    void readSync(TStoreStep step);
    // single: the answers of one statement, each checked to be its own; else
    // those of a text of several.
    qint64 readToEnd(const TPgStatement& statement, TResult& failure, QByteArray* lastValue,
                     bool single);
    void flush(TStoreStep step);
    void leavePipelineWhenDone();
    [[noreturn]] static void lost(TStoreStep step);
    // Fails the round trip as Broken where a rule does not hold.
    static void require(bool holds, const char* rule);

    pg_conn* m_conn = nullptr;
    std::deque<TPgStatement> m_waiting;
    std::deque<TPgStatement> m_sent;
    class TPgRows* m_stream = nullptr;
    // Answers of the batch just read were handed to a read ahead's handler.
    bool m_taken = false;
    // The last COMMIT's answer was a ROLLBACK: its transaction had failed.
    bool m_rolledBack = false;
    // Rows left streaming could not be read past: the connection is of no use.
    bool m_poisoned = false;
};
