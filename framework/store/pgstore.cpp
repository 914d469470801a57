// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgstore.h"

#include "platform.h"
#include "quorexception.h"

#include <QRegularExpression>
#include <QVarLengthArray>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <libpq-fe.h>

namespace
{

constexpr int kStallMs = 15000;
// Writers queue for the writers' lock at most this long; it stays below the
// stall limit, so a long queue is reported as such and not as a dead server.
const QByteArray kLockTimeout = "SET LOCAL lock_timeout = '10s'";
// Taken by every writing transaction and held to its end.
const QByteArray kWriterLock = "SELECT pg_advisory_xact_lock(7415270358)";
const QByteArray kCanWrite = "SELECT (current_setting('transaction_read_only') = 'off' AND "
                             "has_table_privilege('einstellungen', 'INSERT, UPDATE'))::text";
constexpr Oid kTextType = 25;
std::atomic<quint64> g_roundTrips{0};
constexpr Oid kByteaType = 17;

// What this program sets on a connection unless the address says otherwise:
// a bounded wait for the server, and a dead network noticed within seconds.
const char* const kDefaultKeywords[] = {
    "connect_timeout",     "application_name", "keepalives",      "keepalives_idle",
    "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
const char* const kDefaultValues[] = {"5", "quor", "1", "5", "2", "3", "15000"};
const char* const kStatementTimeout = "SET statement_timeout = '12s'";

// Whether the connection's options (from the address or its service) set
// their own statement timeout.
bool setsStatementTimeout(pg_conn* conn)
{
    bool sets = false;
    PQconninfoOption* options = PQconninfo(conn);
    for (const PQconninfoOption* option = options; option && option->keyword; ++option)
        if (qstrcmp(option->keyword, "options") == 0 && option->val &&
            std::strstr(option->val, "statement_timeout"))
            sets = true;
    PQconninfoFree(options);
    return sets;
}

// The kind of failure behind a SQLSTATE.
TStoreFailure failureOf(QByteArrayView state)
{
    if (state.startsWith("28"))
        return TStoreFailure::LoginRefused;
    if (state == "3D000")
        return TStoreFailure::Missing;
    if (state.startsWith("08") || state == "57P01" || state == "57P02" || state == "57P03")
        return TStoreFailure::ConnectionLost;
    if (state == "25006" || state == "42501")
        return TStoreFailure::ReadOnly;
    if (state == "53100")
        return TStoreFailure::DiskFull;
    if (state == "40P01" || state == "55P03")
        return TStoreFailure::Locked;
    if (state == "57014")
        return TStoreFailure::TimedOut;
    if (state == "58030")
        return TStoreFailure::DiskError;
    if (state == "XX001" || state == "XX002")
        return TStoreFailure::Damaged;
    if (state.startsWith("22"))
        return TStoreFailure::BadValue;
    return TStoreFailure::Other;
}

// The SQLSTATE of a failed connection's last server error, from a message
// made with the SQLSTATE verbosity: "SEVERITY:  CODE" closes each error the
// server sent. Empty when no server answered.
QByteArray connectionState(const char* message)
{
    const QList<QByteArray> lines = QByteArray(message).trimmed().split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QByteArray text = line->trimmed();
        const qsizetype mark = text.lastIndexOf(":  ");
        if (mark < 0 || text.size() - mark - 3 != 5)
            continue;
        QByteArray code = text.mid(mark + 3);
        if (std::all_of(code.begin(), code.end(),
                        [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }))
            return code;
    }
    return {};
}

// The address as the client library takes it: a URI's scheme in small letters.
QByteArray libpqForm(const QString& location)
{
    for (const QLatin1String scheme :
         {QLatin1String("postgresql://"), QLatin1String("postgres://")})
        if (location.startsWith(scheme, Qt::CaseInsensitive))
            return (QString(scheme) + location.mid(scheme.size())).toUtf8();
    return location.toUtf8();
}

bool isUri(const QByteArray& address)
{
    return address.startsWith("postgresql://") || address.startsWith("postgres://");
}

// The address's own settings, or nullptr with the library's reason.
PQconninfoOption* parseAddress(const QByteArray& address, QString* reason = nullptr)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(address.constData(), &error);
    if (reason && error)
        *reason = QString::fromUtf8(error).trimmed();
    PQfreemem(error);
    return options;
}

QString quotedValue(const QString& value)
{
    static const QRegularExpression plain(QStringLiteral("^[^\\s'\\\\]+$"));
    if (plain.match(value).hasMatch())
        return value;
    return QLatin1Char('\'') +
           QString(value)
               .replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
               .replace(QLatin1Char('\''), QStringLiteral("\\'")) +
           QLatin1Char('\'');
}

} // namespace

bool isPostgresAddress(const QString& location)
{
    const QByteArray address = libpqForm(location);
    if (isUri(address))
        return true; // a URI it cannot read is refused with the library's reason
    if (!address.contains('='))
        return false;
    PQconninfoOption* options = parseAddress(address);
    PQconninfoFree(options);
    return options != nullptr;
}

QString displayPostgresAddress(const QString& location)
{
    const QByteArray address = libpqForm(location);
    if (isUri(address)) {
        // The password may stand in the user part of the authority and in the query.
        static const QRegularExpression userPassword(
            QStringLiteral("^(postgres(?:ql)?://[^:@/?]*):[^@/?]*@"));
        static const QRegularExpression queryPassword(QStringLiteral("([?&])password=[^&]*(&|$)"));
        QString shown = QString::fromUtf8(address);
        shown.replace(userPassword, QStringLiteral("\\1@"));
        while (shown.contains(queryPassword))
            shown.replace(queryPassword, QStringLiteral("\\1"));
        if (shown.endsWith(QLatin1Char('?')) || shown.endsWith(QLatin1Char('&')))
            shown.chop(1);
        return shown;
    }
    PQconninfoOption* options = parseAddress(address);
    if (!options)
        return location;
    QStringList pairs;
    for (const PQconninfoOption* option = options; option->keyword; ++option)
        if (option->val && qstrcmp(option->keyword, "password") != 0)
            pairs << QString::fromUtf8(option->keyword) + QLatin1Char('=') +
                         quotedValue(QString::fromUtf8(option->val));
    PQconninfoFree(options);
    return pairs.join(QLatin1Char(' '));
}

// The rows of a statement streamed one result per row, as the server sends
// them.
class TPgRows final : public TSqlRows
{
public:
    explicit TPgRows(TPostgresStore& store) : m_store(store) {}
    ~TPgRows() override
    {
        PQclear(m_current);
        for (PGresult* row : m_buffered)
            PQclear(row);
        if (streaming()) {
            try {
                drain(false);
            } catch (const std::exception&) {
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
            m_store.fail(TStoreFailure::ConnectionLost, TStoreStep::Read,
                         QStringLiteral("keine Verbindung"));
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
    bool streaming() const { return m_store.m_stream == this; }

    // One row of the stream, or nullptr at its end.
    PGresult* take()
    {
        if (!streaming())
            return nullptr;
        PGresult* result = m_store.nextResult();
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_SINGLE_TUPLE)
            return result;
        m_store.m_stream = nullptr;
        if (status != PGRES_TUPLES_OK && result)
            m_store.statementFailed(TStoreStep::Read, result);
        PQclear(result);
        while (PGresult* rest = m_store.nextResult())
            PQclear(rest);
        m_store.endStatement();
        return nullptr;
    }

    TPostgresStore& m_store;
    PGresult* m_current = nullptr;
    std::deque<PGresult*> m_buffered;
};

namespace
{
// The rows of a whole answer, as the client library holds it.
class TPgResultRows final : public TSqlRows
{
public:
    explicit TPgResultRows(PGresult* result) : m_result(result) {}
    bool next() override { return ++m_row < PQntuples(m_result); }
    QByteArrayView column(int index) const override
    {
        return {PQgetvalue(m_result, m_row, index), PQgetlength(m_result, m_row, index)};
    }

private:
    PGresult* m_result;
    int m_row = -1;
};
} // namespace

TPostgresStore::TPostgresStore(const QString& address, TOpen mode)
    : TSqlStore(displayPostgresAddress(address), TStoreEngine::Server), m_uri(libpqForm(address))
{
    QString reason;
    PQconninfoOption* options = parseAddress(m_uri, &reason);
    if (!options)
        fail(TStoreFailure::BadAddress, TStoreStep::Open, reason);
    PQconninfoFree(options);
    connect();
    try {
        // The session's settings go along with the question for the table.
        QByteArray exists;
        runToEnd("SELECT (to_regclass('einstellungen') IS NOT NULL)::text", {}, TStoreStep::Open,
                 &exists);
        if (exists == "true")
            return;
        if (mode != TOpen::Create)
            fail(TStoreFailure::NotAStore, TStoreStep::Open, {});
        try {
            execute("CREATE TABLE IF NOT EXISTS einstellungen ("
                    " sprache TEXT COLLATE \"C\" NOT NULL, programm TEXT COLLATE \"C\" NOT NULL,"
                    " maske TEXT COLLATE \"C\" NOT NULL, bezeichnung TEXT COLLATE \"C\" NOT NULL,"
                    " idx TEXT COLLATE \"C\" NOT NULL,"
                    " kurzbeschreibung TEXT NOT NULL DEFAULT '',"
                    " daten BYTEA NOT NULL DEFAULT ''::bytea,"
                    " PRIMARY KEY (sprache, programm, maske, bezeichnung, idx))");
        } catch (const EQuorStoreError&) {
            // Two workstations creating the table at the same moment: one of them wins.
            if (scalar("SELECT (to_regclass('einstellungen') IS NOT NULL)::text") != "true")
                throw;
        }
    } catch (...) {
        disconnect();
        throw;
    }
}

TPostgresStore::~TPostgresStore()
{
    if (accessDepth() > 0)
        rollbackAll();
    disconnect();
}

quint64 postgresRoundTrips()
{
    return g_roundTrips.load(std::memory_order_relaxed);
}

void TPostgresStore::connect()
{
    disconnect();
    const qsizetype defaults = std::size(kDefaultKeywords);
    QVarLengthArray<const char*, 10> keywords(kDefaultKeywords, kDefaultKeywords + defaults);
    QVarLengthArray<const char*, 10> values(kDefaultValues, kDefaultValues + defaults);
    // The address comes after the defaults, so that what it sets wins.
    keywords << "dbname" << nullptr;
    values << m_uri.constData() << nullptr;
    // The connection is made with the SQLSTATE verbosity set, so that a
    // failure tells its kind by the server's code.
    m_conn = PQconnectStartParams(keywords.constData(), values.constData(), 1);
    PQsetErrorVerbosity(m_conn, PQERRORS_SQLSTATE);
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QByteArray state = connectionState(PQerrorMessage(m_conn));
        TStoreFailure kind = failureOf(state);
        if (PQconnectionNeedsPassword(m_conn))
            kind = TStoreFailure::LoginRefused;
        else if (state.isEmpty())
            kind = TStoreFailure::Unreachable;
        if (!state.isEmpty()) {
            // The server answered: once more for its own words, which the
            // person can act on.
            PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
            PQreset(m_conn);
        }
        const QString text = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        if (PQstatus(m_conn) == CONNECTION_OK) {
            // It took the second time after all.
            PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
        } else {
            disconnect();
            fail(kind, TStoreStep::Open, text);
        }
    }
    PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
    // The server's notices are not for the user; failures come as results.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    PQsetnonblocking(m_conn, 1);
    // Sent with the next statement, behind a sync point of its own: as part
    // of a transaction it would be undone with it.
    if (!setsStatementTimeout(m_conn))
        enqueue({kStatementTimeout, {}, TStoreStep::Open, {}, true});
}

void TPostgresStore::disconnect() noexcept
{
    if (m_stream) {
        m_stream->m_lost = true;
        m_stream = nullptr;
    }
    PQfinish(m_conn);
    m_conn = nullptr;
    // The transaction and the session went with the connection.
    m_waiting.clear();
    m_sent.clear();
    m_writable.reset();
    m_inTransaction = false;
}

void TPostgresStore::connectionFailed(TStoreStep step)
{
    const QString text = m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)).trimmed()
                                : QStringLiteral("keine Verbindung");
    disconnect();
    fail(TStoreFailure::ConnectionLost, step, text);
}

void TPostgresStore::statementFailed(TStoreStep step, PGresult* result)
{
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK) {
        try {
            while (PGresult* rest = nextResult())
                PQclear(rest);
            endStatement();
        } catch (const EQuorStoreError&) {
            PQclear(result);
            throw;
        }
    }
    failWith(step, result);
}

void TPostgresStore::failWith(TStoreStep step, PGresult* result)
{
    const QString text = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const QByteArray state(code ? code : "");
    PQclear(result);
    TStoreFailure kind = failureOf(state);
    if (m_conn && PQstatus(m_conn) != CONNECTION_OK) {
        disconnect();
        kind = TStoreFailure::ConnectionLost;
    }
    fail(kind, step, text);
}

void TPostgresStore::waitForSocket(bool writing)
{
    const TSocketWait ready = ::waitForSocket(PQsocket(m_conn), writing, kStallMs);
    if (ready == TSocketWait::Ready)
        return;
    if (ready == TSocketWait::Failed)
        connectionFailed(TStoreStep::Wait);
    // Nothing came for too long: the server or the network stands still. The
    // connection is given up; the next step opens a new one.
    disconnect();
    m_stalled = true;
    fail(TStoreFailure::ServerStalled, TStoreStep::Wait,
         QStringLiteral("%1 s ohne Antwort").arg(kStallMs / 1000));
}

void TPostgresStore::settle()
{
    if (m_stream)
        m_stream->drain(true);
}

void TPostgresStore::sendDirect(const QByteArray& sql, const TSqlParams& params, TStoreStep step)
{
    QVarLengthArray<Oid, 8> types;
    QVarLengthArray<const char*, 8> values;
    QVarLengthArray<int, 8> lengths;
    QVarLengthArray<int, 8> formats;
    for (const TSqlParam& param : params) {
        types << (param.blob ? kByteaType : kTextType);
        values << (param.bytes.constData() ? param.bytes.constData() : "");
        lengths << int(param.bytes.size());
        formats << 1;
    }
    if (!PQsendQueryParams(m_conn, sql.constData(), int(params.size()), types.constData(),
                           values.constData(), lengths.constData(), formats.constData(), 1))
        connectionFailed(step);
}

void TPostgresStore::send(const QByteArray& sql, const TSqlParams& params, bool rowByRow,
                          TStoreStep step)
{
    // Always in pipeline mode: row-by-row reading set for a statement outside
    // it would stay set for the first statement of the next pipeline.
    TPgStatement statement{sql, params, step, {}, true};
    exchange(&statement);
    if (rowByRow)
        PQsetSingleRowMode(m_conn);
}

void TPostgresStore::exchange(TPgStatement* last)
{
    settle();
    if (!m_conn)
        connectionFailed(last ? last->step : TStoreStep::Read);
    // A batch that begins the transaction may go again on a new connection
    // when the old one is found lost: nothing of the transaction ran yet.
    const bool begins = std::any_of(m_waiting.begin(), m_waiting.end(),
                                    [](const TPgStatement& s) { return s.begin; });
    std::deque<TPgStatement> batch;
    if (begins)
        std::copy_if(m_waiting.begin(), m_waiting.end(), std::back_inserter(batch),
                     [](const TPgStatement& s) { return s.step != TStoreStep::Open; });
    auto roundTrip = [&] {
        g_roundTrips.fetch_add(1, std::memory_order_relaxed);
        sendWaiting(last);
        readAnswers(last ? 1 : 0);
    };
    try {
        roundTrip();
    } catch (const EQuorStoreError&) {
        if (!begins || m_conn || m_stalled)
            throw;
        connect();
        for (TPgStatement& again : batch)
            enqueue(std::move(again));
        roundTrip();
    }
}

void TPostgresStore::sendWaiting(TPgStatement* last)
{
    if (!PQenterPipelineMode(m_conn))
        connectionFailed(TStoreStep::Wait);
    if (last)
        m_waiting.push_back(*last);
    else if (!m_waiting.empty())
        m_waiting.back().sync = true;
    while (!m_waiting.empty()) {
        TPgStatement& statement = m_waiting.front();
        sendDirect(statement.sql, statement.params, statement.step);
        if (statement.sync && !PQpipelineSync(m_conn))
            connectionFailed(statement.step);
        m_sent.push_back(std::move(statement));
        m_waiting.pop_front();
    }
    flush(TStoreStep::Wait);
}

void TPostgresStore::readStatement(const TPgStatement& statement, PGresult*& failure,
                                   TStoreStep& failedStep, bool& aheadFailed)
{
    while (PGresult* result = nextResult()) {
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK && statement.take && !failure)
            statement.take(result);
        if (status == PGRES_FATAL_ERROR && !statement.quiet && !failure) {
            failure = result;
            failedStep = statement.step;
            aheadFailed = statement.ahead;
            continue;
        }
        PQclear(result);
    }
    if (statement.sync)
        PQclear(nextResult());
}

void TPostgresStore::readAnswers(std::size_t keep)
{
    PGresult* failure = nullptr;
    TStoreStep failedStep = TStoreStep::Read;
    bool aheadFailed = false;
    try {
        // What came after a failure did not run: its answers are read past,
        // to the end of what was sent.
        while (m_sent.size() > (failure ? 0 : keep)) {
            const TPgStatement statement = std::move(m_sent.front());
            m_sent.pop_front();
            readStatement(statement, failure, failedStep, aheadFailed);
        }
    } catch (...) {
        PQclear(failure);
        throw;
    }
    if (m_conn && PQstatus(m_conn) != CONNECTION_OK) {
        PQclear(failure);
        connectionFailed(failedStep);
    }
    if (m_sent.empty() && m_conn)
        PQexitPipelineMode(m_conn);
    if (aheadFailed)
        m_aheadFailed = true;
    if (failure)
        failWith(failedStep, failure);
}

void TPostgresStore::endStatement()
{
    if (m_sent.empty() || !m_conn)
        return;
    // The statement's own answers were read; its sync point comes next.
    const bool sync = m_sent.front().sync;
    m_sent.pop_front();
    if (sync)
        PQclear(nextResult());
    if (m_sent.empty())
        PQexitPipelineMode(m_conn);
}

void TPostgresStore::catchUp()
{
    if (std::none_of(m_waiting.begin(), m_waiting.end(),
                     [](const TPgStatement& s) { return bool(s.take); }))
        return;
    exchange(nullptr);
}

void TPostgresStore::queryLater(const QByteArray& sql, const TSqlParams& params,
                                const std::function<void(TSqlRows&)>& take)
{
    enqueue({sql, params, TStoreStep::Read, [take](PGresult* result) {
                 TPgResultRows rows(result);
                 take(rows);
             }});
}

void TPostgresStore::dropWaiting()
{
    // The session's settings stay; what the transaction put off goes.
    std::erase_if(m_waiting, [](const TPgStatement& s) { return s.step != TStoreStep::Open; });
}

void TPostgresStore::flush(TStoreStep step)
{
    for (;;) {
        const int pending = PQflush(m_conn);
        if (pending == 0)
            return;
        if (pending < 0)
            connectionFailed(step);
        waitForSocket(true);
        if (!PQconsumeInput(m_conn))
            connectionFailed(step);
    }
}

PGresult* TPostgresStore::nextResult()
{
    if (!m_conn)
        connectionFailed(TStoreStep::Read);
    while (PQisBusy(m_conn)) {
        waitForSocket(false);
        if (!PQconsumeInput(m_conn))
            connectionFailed(TStoreStep::Read);
    }
    return PQgetResult(m_conn);
}

std::unique_ptr<TSqlRows> TPostgresStore::query(const QByteArray& sql, const TSqlParams& params)
{
    send(sql, params, true, TStoreStep::Read);
    auto rows = std::make_unique<TPgRows>(*this);
    m_stream = rows.get();
    return rows;
}

qint64 TPostgresStore::execute(const QByteArray& sql, const TSqlParams& params, TStoreStep step)
{
    return runToEnd(sql, params, step, nullptr);
}

qint64 TPostgresStore::runToEnd(const QByteArray& sql, const TSqlParams& params, TStoreStep step,
                                QByteArray* lastValue)
{
    settle();
    if (!m_conn)
        connectionFailed(step);
    // Without parameters and with nothing waiting, a text may hold several
    // statements: it goes in the simple protocol.
    if (params.isEmpty() && m_waiting.empty() && m_sent.empty()) {
        if (!PQsendQuery(m_conn, sql.constData()))
            connectionFailed(step);
        g_roundTrips.fetch_add(1, std::memory_order_relaxed);
        flush(step);
    } else {
        send(sql, params, false, step);
    }
    qint64 changed = 0;
    bool answered = false;
    while (PGresult* result = nextResult()) {
        answered = true;
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            statementFailed(step, result);
        changed = QByteArray(PQcmdTuples(result)).toLongLong();
        if (lastValue && status == PGRES_TUPLES_OK && PQntuples(result) > 0)
            *lastValue = QByteArray(PQgetvalue(result, 0, 0), PQgetlength(result, 0, 0));
        PQclear(result);
    }
    if (!answered)
        connectionFailed(step);
    endStatement();
    return changed;
}

void TPostgresStore::beginTransaction(TAccess mode)
{
    forgetPrefetched();
    m_stalled = false;
    m_writable.reset();
    // A session found gone since the last step is opened anew.
    if (m_conn && PQstatus(m_conn) != CONNECTION_OK)
        disconnect();
    if (!m_conn)
        connect();
    // The BEGIN goes along with the step's first statement. A reader sees one
    // snapshot of the store for the whole step. A writer takes the writers'
    // lock, for a bounded time, and learns whether the store takes its writes.
    const TStoreStep step = TStoreStep::Begin;
    if (mode == TAccess::Write) {
        enqueue({"BEGIN ISOLATION LEVEL READ COMMITTED", {}, step, {}, false, false, true});
        enqueue({kLockTimeout, {}, step, {}});
        enqueue({kWriterLock, {}, step, {}});
        enqueue({kCanWrite, {}, step, [this](PGresult* result) {
                     m_writable =
                         PQntuples(result) > 0 && qstrcmp(PQgetvalue(result, 0, 0), "true") == 0;
                 }});
    } else {
        enqueue({"BEGIN ISOLATION LEVEL REPEATABLE READ", {}, step, {}, false, false, true});
    }
    m_inTransaction = true;
    m_reading = mode == TAccess::Read;
    m_writesAhead = false;
    if (!m_reading)
        m_aheadFailed = false;
}

void TPostgresStore::sendWritesAhead()
{
    if (m_inTransaction && !m_reading)
        m_writesAhead = true;
}

bool TPostgresStore::executeLater(const QByteArray& sql, const TSqlParams& params)
{
    if (!m_writesAhead || accessDepth() == 0)
        return false;
    TPgStatement write{sql, params, TStoreStep::Write, {}};
    write.ahead = true;
    enqueue(std::move(write));
    return true;
}

void TPostgresStore::control(TControl what, std::size_t level)
{
    const QByteArray savepoint = "quor_" + QByteArray::number(qulonglong(level));
    const bool unsent = std::any_of(m_waiting.begin(), m_waiting.end(),
                                    [](const TPgStatement& s) { return s.begin; });
    const bool writesWaiting = std::any_of(m_waiting.begin(), m_waiting.end(),
                                           [](const TPgStatement& s) { return s.ahead; });
    switch (what) {
    case TControl::Savepoint:
        enqueue({"SAVEPOINT " + savepoint, {}, TStoreStep::Write, {}});
        return;
    case TControl::ReleaseSavepoint:
        enqueue({"RELEASE SAVEPOINT " + savepoint, {}, TStoreStep::Write, {}});
        return;
    case TControl::RollbackToSavepoint:
        // Rolling back undoes what a waiting release would have kept, and in
        // an aborted transaction the release would fail and take the rollback
        // with it.
        std::erase_if(m_waiting,
                      [](const TPgStatement& s) { return s.sql.startsWith("RELEASE "); });
        enqueue({"ROLLBACK TO SAVEPOINT " + savepoint, {}, TStoreStep::Write, {}});
        return;
    case TControl::Commit:
    case TControl::Rollback:
        break;
    }
    forgetPrefetched();
    m_writable.reset();
    m_inTransaction = false;
    m_writesAhead = false;
    if (what == TControl::Commit && m_aheadFailed) {
        // A write sent ahead was refused: none of the transaction is kept.
        dropWaiting();
        runToEnd("ROLLBACK", {}, TStoreStep::Write, nullptr);
        fail(TStoreFailure::Other, TStoreStep::Commit,
             QStringLiteral("eine vorausgesandte Änderung wurde abgelehnt"));
    }
    if (unsent && (what == TControl::Rollback || !writesWaiting)) {
        // The transaction never reached the server: nothing to end there.
        dropWaiting();
        return;
    }
    if (what == TControl::Rollback) {
        dropWaiting();
        runToEnd("ROLLBACK", {}, TStoreStep::Write, nullptr);
        return;
    }
    // Reads put off are of no use any more.
    std::erase_if(m_waiting, [](const TPgStatement& s) { return bool(s.take); });
    if (m_reading && m_conn) {
        // A reader's commit is sent, not waited for: it ends the snapshot on
        // the server at once, and what it answers costs nothing.
        enqueue({"COMMIT", {}, TStoreStep::Commit, {}, true, true});
        settle();
        sendWaiting(nullptr);
        return;
    }
    runToEnd("COMMIT", {}, TStoreStep::Commit, nullptr);
}

bool TPostgresStore::transactionOpen() const
{
    // A lost connection takes its transaction with it. A failed statement
    // leaves the transaction open but aborted, until its savepoint is rolled
    // back. While statements wait or are on their way, the transaction is
    // what this store began.
    if (!m_conn)
        return false;
    // What the server sent meanwhile, its notice that it ended the session
    // included, is read without waiting: statements put off must not go to
    // a session that is gone.
    PQconsumeInput(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK)
        return false;
    if (!m_waiting.empty() || !m_sent.empty())
        return m_inTransaction;
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

bool TPostgresStore::canWrite()
{
    // A writing transaction learns it with its BEGIN; it holds to its end.
    if (accessDepth() > 0 && m_inTransaction && !m_reading) {
        if (!m_writable)
            catchUp();
        if (m_writable)
            return *m_writable;
    }
    return scalar(kCanWrite) == "true";
}
