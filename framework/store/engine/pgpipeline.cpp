// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgpipeline.h"

#include "platform.h"

#include <QVarLengthArray>
#include <algorithm>
#include <atomic>
#include <libpq-fe.h>

namespace
{
constexpr Oid kTextType = 25;
constexpr Oid kByteaType = 17;
std::atomic<quint64> g_roundTrips{0};
std::atomic<int> g_stallLimitMs{15000};

} // namespace

void setPostgresStallLimit(int milliseconds)
{
    g_stallLimitMs = milliseconds;
}

int TPgPipeline::stallLimitMs()
{
    return g_stallLimitMs.load(std::memory_order_relaxed);
}

void TPgPipeline::lost(TStoreStep step)
{
    throw EPgFailure(EPgFailure::TKind::Lost, step);
}

void TPgPipeline::require(bool holds, const char* rule)
{
    if (holds)
        return;
    EPgFailure broken(EPgFailure::TKind::Broken, TStoreStep::Wait);
    broken.rule = rule;
    throw broken;
}

namespace
{
// Whether an answer is one the statement's text can have: rows for a
// question, else the command tag of its own first word. An answer doubled or
// lost on the line shifts every answer after it onto the wrong statement;
// this is where that shows.
QByteArray firstWord(const QByteArray& text)
{
    const QByteArray simple = text.simplified();
    const qsizetype space = simple.indexOf(' ');
    return (space < 0 ? simple : simple.first(space)).toUpper();
}

bool answerFits(const TPgStatement& statement, const pg_result* result)
{
    const QByteArray word = firstWord(statement.sql);
    const QByteArray tagWord = firstWord(PQcmdStatus(const_cast<pg_result*>(result)));
    const ExecStatusType status = PQresultStatus(result);
    // A reader's commit after a refusal is answered as a rollback.
    if (statement.kind == TPgKind::ReaderCommit && tagWord == "ROLLBACK")
        return status == PGRES_COMMAND_OK;
    if (word == "SELECT" || word == "SHOW" || word == "VALUES")
        return status == PGRES_TUPLES_OK;
    // A WITH ends in a statement of any kind; a write returning rows answers
    // with rows and its own tag.
    return word == "WITH" || tagWord == word;
}

[[noreturn]] void refused(const TPgStatement& statement, pg_result* result)
{
    EPgFailure failure(EPgFailure::TKind::Refused, statement.step);
    failure.statement = statement.kind;
    failure.result.reset(result, PQclear);
    throw failure;
}
} // namespace

void TPgResultDeleter::operator()(pg_result* result) const
{
    PQclear(result);
}

quint64 postgresRoundTrips()
{
    return g_roundTrips.load(std::memory_order_relaxed);
}

TPgStatement TPgStatement::begin(QByteArray sql)
{
    return {TPgKind::Begin, std::move(sql), {}, TStoreStep::Begin, {}};
}

TPgStatement TPgStatement::query(QByteArray sql, TSqlParams params)
{
    return {TPgKind::Query, std::move(sql), std::move(params), TStoreStep::Read, {}};
}

TPgStatement TPgStatement::execute(QByteArray sql, TSqlParams params, TStoreStep step)
{
    return {TPgKind::Execute, std::move(sql), std::move(params), step, {}};
}

TPgStatement TPgStatement::readAhead(QByteArray sql, TSqlParams params,
                                     std::function<void(pg_result*)> take)
{
    return {TPgKind::ReadAhead, std::move(sql), std::move(params), TStoreStep::Read,
            std::move(take)};
}

TPgStatement TPgStatement::writeAhead(QByteArray sql, TSqlParams params)
{
    return {TPgKind::WriteAhead, std::move(sql), std::move(params), TStoreStep::Write, {}};
}

TPgStatement TPgStatement::setting(QByteArray sql)
{
    return {TPgKind::Setting, std::move(sql), {}, TStoreStep::Begin, {}};
}

TPgStatement TPgStatement::savepoint(TPgKind kind, QByteArray sql)
{
    Q_ASSERT(kind == TPgKind::Savepoint || kind == TPgKind::Release || kind == TPgKind::RollbackTo);
    return {kind, std::move(sql), {}, TStoreStep::Write, {}};
}

TPgStatement TPgStatement::commit()
{
    return {TPgKind::Commit, "COMMIT", {}, TStoreStep::Commit, {}};
}

TPgStatement TPgStatement::readerCommit()
{
    return {TPgKind::ReaderCommit, "COMMIT", {}, TStoreStep::Commit, {}};
}

TPgStatement TPgStatement::rollback()
{
    return {TPgKind::Rollback, "ROLLBACK", {}, TStoreStep::Write, {}};
}

// The rows of a query streamed one result per row, as the server sends them.
class TPgRows final : public TSqlRows
{
public:
    explicit TPgRows(TPgPipeline& pipe) : m_pipe(pipe) {}
    ~TPgRows() override
    {
        PQclear(m_current);
        for (PGresult* row : m_buffered)
            PQclear(row);
        if (streaming()) {
            try {
                drain(false);
            } catch (...) {
                // Nobody is told here: the next round trip is, before it sends.
                m_pipe.m_poisoned = true;
            }
        }
    }

    bool next() override
    {
        PQclear(m_current);
        m_current = nullptr;
        if (!m_buffered.empty()) {
            m_current = m_buffered.front();
            m_buffered.pop_front();
            return true;
        }
        if (m_lost)
            TPgPipeline::lost(TStoreStep::Read);
        if (!streaming())
            return false;
        m_current = take();
        return m_current != nullptr;
    }
    QByteArrayView column(int index) const override
    {
        return {PQgetvalue(m_current, 0, index), PQgetlength(m_current, 0, index)};
    }

    // Reads the rest of the stream, kept for later steps or dropped.
    void drain(bool keep)
    {
        while (PGresult* row = take()) {
            if (keep)
                m_buffered.push_back(row);
            else
                PQclear(row);
        }
    }

    bool m_lost = false;

private:
    bool streaming() const { return m_pipe.m_stream == this; }

    // One row of the stream, or nullptr at its end.
    PGresult* take()
    {
        if (!streaming())
            return nullptr;
        TResult result;
        try {
            result.reset(m_pipe.nextResult());
        } catch (...) {
            // The stream ends with its connection: nothing may point at it.
            m_pipe.m_stream = nullptr;
            m_lost = true;
            throw;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE)
            return result.release();
        m_pipe.m_stream = nullptr;
        const TPgStatement statement = m_pipe.m_sent.front();
        if (!result || PQstatus(m_pipe.m_conn) != CONNECTION_OK)
            TPgPipeline::lost(TStoreStep::Read);
        while (TResult rest{m_pipe.nextResult()})
            if (PQstatus(m_pipe.m_conn) != CONNECTION_OK)
                TPgPipeline::lost(TStoreStep::Read);
        m_pipe.endStatement();
        if (status == PGRES_FATAL_ERROR)
            refused(statement, result.release());
        // Anything but the end of its rows is another statement's answer.
        if (status != PGRES_TUPLES_OK)
            TPgPipeline::lost(TStoreStep::Read);
        return nullptr;
    }

    TPgPipeline& m_pipe;
    PGresult* m_current = nullptr;
    std::deque<PGresult*> m_buffered;
};

TPgPipeline::~TPgPipeline()
{
    reset();
}

void TPgPipeline::reset() noexcept
{
    if (m_stream) {
        m_stream->m_lost = true;
        m_stream = nullptr;
    }
    m_waiting.clear();
    m_sent.clear();
    m_conn = nullptr;
    m_taken = false;
    m_rolledBack = false;
    m_poisoned = false;
}

void TPgPipeline::drop(const std::function<bool(const TPgStatement&)>& which)
{
    std::erase_if(m_waiting, which);
}

bool TPgPipeline::waits(TPgKind kind) const
{
    return std::any_of(m_waiting.begin(), m_waiting.end(),
                       [kind](const TPgStatement& s) { return s.kind == kind; });
}

bool TPgPipeline::waitsForAnswers() const
{
    return waits(TPgKind::ReadAhead);
}

void TPgPipeline::settle()
{
    if (m_poisoned)
        lost(TStoreStep::Read);
    if (m_stream)
        m_stream->drain(true);
}

void TPgPipeline::exchange(const TPgStatement* last)
{
    settle();
    if (!m_conn)
        lost(last ? last->step : TStoreStep::Read);
    require(!last || last->waited(), "a waited statement is the last of its batch");
    m_taken = false;
    g_roundTrips.fetch_add(1, std::memory_order_relaxed);
    sendWaiting(last);
    readAnswers(last ? 1 : 0);
    // Row by row once the query is the one whose answers come next, and only
    // inside the pipeline: set outside it, libpq 15 would keep it for the
    // first statement of the next pipeline.
    if (last && last->kind == TPgKind::Query && !PQsetSingleRowMode(m_conn))
        lost(TStoreStep::Read);
}

void TPgPipeline::sendOnly()
{
    settle();
    if (!m_conn || m_waiting.empty())
        return;
    require(m_waiting.back().kind == TPgKind::ReaderCommit,
            "a batch not waited for ends with a reader's commit");
    sendWaiting(nullptr);
}

std::unique_ptr<TSqlRows> TPgPipeline::stream()
{
    require(m_sent.size() == 1 && m_sent.front().kind == TPgKind::Query && !m_stream,
            "rows stream only from the query just exchanged");
    auto rows = std::make_unique<TPgRows>(*this);
    m_stream = rows.get();
    return rows;
}

void TPgPipeline::sendOne(const TPgStatement& statement)
{
    QVarLengthArray<Oid, 8> types;
    QVarLengthArray<const char*, 8> values;
    QVarLengthArray<int, 8> lengths;
    QVarLengthArray<int, 8> formats;
    for (const TSqlParam& param : statement.params) {
        types << (param.blob ? kByteaType : kTextType);
        values << (param.bytes.constData() ? param.bytes.constData() : "");
        lengths << int(param.bytes.size());
        formats << 1;
    }
    if (!PQsendQueryParams(m_conn, statement.sql.constData(), int(statement.params.size()),
                           types.constData(), values.constData(), lengths.constData(),
                           formats.constData(), 1))
        lost(statement.step);
}

void TPgPipeline::sendWaiting(const TPgStatement* last)
{
    require(!m_stream, "nothing is sent while rows stream");
    require(m_sent.empty() == (PQpipelineStatus(m_conn) == PQ_PIPELINE_OFF),
            "the connection is in pipeline mode exactly while answers are outstanding");
    if (PQpipelineStatus(m_conn) == PQ_PIPELINE_OFF && !PQenterPipelineMode(m_conn))
        lost(TStoreStep::Wait);
    if (last)
        m_waiting.push_back(*last);
    if (!m_waiting.empty())
        m_waiting.back().sync = true;
    while (!m_waiting.empty()) {
        TPgStatement& statement = m_waiting.front();
        sendOne(statement);
        if (statement.sync && !PQpipelineSync(m_conn))
            lost(statement.step);
        m_sent.push_back(std::move(statement));
        m_waiting.pop_front();
    }
    flush(TStoreStep::Wait);
}

void TPgPipeline::readAnswers(std::size_t keep)
{
    TResult failure;
    std::optional<TPgStatement> failed;
    // What came after a refusal did not run: its answers are read past, to
    // the end of what was sent.
    while (m_sent.size() > (failure ? 0 : keep)) {
        TPgStatement statement = std::move(m_sent.front());
        m_sent.pop_front();
        if (PGresult* refused = readStatement(statement, !failure)) {
            failure.reset(refused);
            failed = std::move(statement);
        }
    }
    leavePipelineWhenDone();
    if (failure)
        refused(*failed, failure.release());
}

PGresult* TPgPipeline::readStatement(const TPgStatement& statement, bool clean)
{
    TResult failure;
    while (TResult result{nextResult()}) {
        switch (PQresultStatus(result.get())) {
        case PGRES_PIPELINE_ABORTED:
            require(!clean || failure, "only a refusal aborts the rest of its batch");
            break;
        case PGRES_FATAL_ERROR:
            if (PQstatus(m_conn) != CONNECTION_OK)
                lost(statement.step);
            if (!statement.quiet() && clean && !failure)
                failure = std::move(result);
            break;
        case PGRES_TUPLES_OK:
            if (!answerFits(statement, result.get()))
                lost(statement.step);
            if (statement.kind == TPgKind::ReadAhead && clean) {
                m_taken = true;
                if (statement.take)
                    statement.take(result.get());
            }
            break;
        case PGRES_COMMAND_OK:
            if (!answerFits(statement, result.get()))
                lost(statement.step);
            break;
        default:
            // Not an answer this statement can have.
            lost(statement.step);
        }
    }
    if (PQstatus(m_conn) != CONNECTION_OK)
        lost(statement.step);
    if (statement.sync)
        readSync(statement.step);
    return failure.release();
}

qint64 TPgPipeline::finish(QByteArray* lastValue)
{
    require(!m_sent.empty() && m_sent.front().waited() && !m_stream,
            "a statement's answers are read to their end once, after it was exchanged");
    const TPgStatement statement = m_sent.front();
    TResult failure;
    const qint64 changed = readToEnd(statement, failure, lastValue, true);
    endStatement();
    if (failure)
        refused(statement, failure.release());
    return changed;
}

qint64 TPgPipeline::runText(const QByteArray& sql, TStoreStep step, QByteArray* lastValue)
{
    require(idle(), "a text runs with nothing outstanding");
    if (!m_conn)
        lost(step);
    require(PQpipelineStatus(m_conn) == PQ_PIPELINE_OFF,
            "the connection is in pipeline mode exactly while answers are outstanding");
    if (!PQsendQuery(m_conn, sql.constData()))
        lost(step);
    g_roundTrips.fetch_add(1, std::memory_order_relaxed);
    flush(step);
    const TPgStatement statement = TPgStatement::execute(sql, {}, step);
    TResult failure;
    const qint64 changed = readToEnd(statement, failure, lastValue, false);
    if (failure)
        refused(statement, failure.release());
    return changed;
}

qint64 TPgPipeline::readToEnd(const TPgStatement& statement, TResult& failure,
                              QByteArray* lastValue, bool single)
{
    qint64 changed = 0;
    bool answered = false;
    while (TResult result{nextResult()}) {
        answered = true;
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_FATAL_ERROR) {
            if (PQstatus(m_conn) != CONNECTION_OK)
                lost(statement.step);
            if (!failure)
                failure = std::move(result);
        } else if ((status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) ||
                   (single && statement.kind != TPgKind::Commit &&
                    !answerFits(statement, result.get()))) {
            lost(statement.step);
        } else {
            changed = QByteArray(PQcmdTuples(result.get())).toLongLong();
            if (lastValue && status == PGRES_TUPLES_OK && PQntuples(result.get()) > 0)
                *lastValue =
                    QByteArray(PQgetvalue(result.get(), 0, 0), PQgetlength(result.get(), 0, 0));
        }
        if (statement.kind == TPgKind::Commit && status != PGRES_FATAL_ERROR) {
            // Nothing but the COMMIT's own answer may stand for it.
            const char* tag = PQcmdStatus(result.get());
            const bool committed = qstrcmp(tag, "COMMIT") == 0;
            if (status != PGRES_COMMAND_OK || (!committed && qstrcmp(tag, "ROLLBACK") != 0))
                lost(statement.step);
            m_rolledBack = !committed;
        }
    }
    if (!answered || PQstatus(m_conn) != CONNECTION_OK)
        lost(statement.step);
    return changed;
}

void TPgPipeline::readSync(TStoreStep step)
{
    const TResult sync(nextResult());
    if (PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC)
        lost(step);
}

void TPgPipeline::endStatement()
{
    require(!m_sent.empty() && !m_stream, "a statement ends once, after its rows");
    const TPgStatement statement = std::move(m_sent.front());
    m_sent.pop_front();
    if (statement.sync)
        readSync(statement.step);
    leavePipelineWhenDone();
}

void TPgPipeline::leavePipelineWhenDone()
{
    if (m_sent.empty() && m_conn && PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF)
        require(PQexitPipelineMode(m_conn) == 1,
                "the connection is in pipeline mode exactly while answers are outstanding");
}

void TPgPipeline::flush(TStoreStep step)
{
    for (;;) {
        const int pending = PQflush(m_conn);
        if (pending == 0)
            return;
        if (pending < 0)
            lost(step);
        waitForSocket(true);
        if (!PQconsumeInput(m_conn))
            lost(step);
    }
}

void TPgPipeline::waitForSocket(bool writing)
{
    const TSocketWait ready = ::waitForSocket(PQsocket(m_conn), writing, stallLimitMs());
    if (ready == TSocketWait::Ready)
        return;
    if (ready == TSocketWait::Failed)
        lost(TStoreStep::Wait);
    throw EPgFailure(EPgFailure::TKind::Stalled, TStoreStep::Wait);
}

PGresult* TPgPipeline::nextResult()
{
    if (!m_conn)
        lost(TStoreStep::Read);
    while (PQisBusy(m_conn)) {
        waitForSocket(false);
        if (!PQconsumeInput(m_conn))
            lost(TStoreStep::Read);
    }
    return PQgetResult(m_conn);
}
