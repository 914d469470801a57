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
        return nullptr;
    }

    TPostgresStore& m_store;
    PGresult* m_current = nullptr;
    std::deque<PGresult*> m_buffered;
};

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
        // The session's settings and the question for the table in one round
        // trip: with no transaction of its own, the text is one.
        const QByteArray setup = std::exchange(m_owedSetup, {});
        const QByteArray check = "SELECT (to_regclass('einstellungen') IS NOT NULL)::text";
        QByteArray exists;
        runToEnd(setup.isEmpty() ? check : setup + "; " + check, {}, TStoreStep::Open, &exists);
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
    // Sent with the next statement that may carry it.
    if (!setsStatementTimeout(m_conn))
        m_owedSetup = kStatementTimeout;
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
    m_owedReleases.clear();
    m_owedSetup.clear();
    m_writable.reset();
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
    const QString text = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const QByteArray state(code ? code : "");
    PQclear(result);
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK) {
        try {
            while (PGresult* rest = nextResult())
                PQclear(rest);
        } catch (const EQuorStoreError&) {
        }
    }
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

void TPostgresStore::send(const QByteArray& sql, const TSqlParams& params, bool rowByRow,
                          TStoreStep step)
{
    settle();
    if (!m_conn)
        connectionFailed(step);
    sendSetup(step);
    if (!m_owedReleases.isEmpty())
        execute({}, {}, step);
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
    if (rowByRow)
        PQsetSingleRowMode(m_conn);
    g_roundTrips.fetch_add(1, std::memory_order_relaxed);
    flush(step);
}

void TPostgresStore::sendSetup(TStoreStep step)
{
    // A session setting never goes in one text with BEGIN: it would become
    // part of the transaction and be undone with it.
    if (!m_owedSetup.isEmpty())
        runToEnd(std::exchange(m_owedSetup, {}), {}, step, nullptr);
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
    if (!params.isEmpty())
        return runToEnd(sql, params, step, nullptr);
    sendSetup(step);
    // Statements without parameters go in one round trip together with the
    // savepoint releases still owed: as one text, in the simple protocol.
    QByteArray text = std::exchange(m_owedReleases, {});
    if (!sql.isEmpty())
        text += text.isEmpty() ? sql : "; " + sql;
    return text.isEmpty() ? 0 : runToEnd(text, {}, step, nullptr);
}

qint64 TPostgresStore::runToEnd(const QByteArray& sql, const TSqlParams& params, TStoreStep step,
                                QByteArray* lastValue)
{
    settle();
    if (!m_conn)
        connectionFailed(step);
    if (params.isEmpty()) {
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
    return changed;
}

void TPostgresStore::beginTransaction(TAccess mode)
{
    forgetPrefetched();
    // A reader sees one snapshot of the store for the whole step. A writer
    // takes the writers' lock, for a bounded time, and learns whether the store
    // takes its writes, all in the round trip of its BEGIN.
    const QByteArray begin = mode == TAccess::Write
                                 ? "BEGIN ISOLATION LEVEL READ COMMITTED; " + kLockTimeout + "; " +
                                       kWriterLock + "; " + kCanWrite
                                 : QByteArray("BEGIN ISOLATION LEVEL REPEATABLE READ");
    m_stalled = false;
    m_writable.reset();
    m_owedReleases.clear();
    QByteArray writable;
    if (!m_conn) {
        connect();
        sendSetup(TStoreStep::Begin);
        runToEnd(begin, {}, TStoreStep::Begin, &writable);
    } else {
        try {
            runToEnd(begin, {}, TStoreStep::Begin, &writable);
        } catch (const EQuorStoreError&) {
            // The connection was lost since the last step: connect anew once;
            // a server that stopped answering is not waited for a second time.
            if (m_conn || m_stalled)
                throw;
            connect();
            sendSetup(TStoreStep::Begin);
            runToEnd(begin, {}, TStoreStep::Begin, &writable);
        }
    }
    if (mode == TAccess::Write)
        m_writable = writable == "true";
}

void TPostgresStore::control(TControl what, std::size_t level)
{
    const QByteArray savepoint = "quor_" + QByteArray::number(qulonglong(level));
    switch (what) {
    case TControl::ReleaseSavepoint:
        // Owed until the next statement, which takes it along.
        if (!m_owedReleases.isEmpty())
            m_owedReleases += "; ";
        m_owedReleases += "RELEASE SAVEPOINT " + savepoint;
        return;
    case TControl::Rollback:
    case TControl::RollbackToSavepoint:
        // Rolling back undoes what an owed release would have kept, and in an
        // aborted transaction the release would fail and take the rollback
        // with it.
        m_owedReleases.clear();
        break;
    case TControl::Commit:
    case TControl::Savepoint:
        break;
    }
    TSqlStore::control(what, level);
    if (what == TControl::Commit || what == TControl::Rollback)
        m_writable.reset();
}

bool TPostgresStore::transactionOpen() const
{
    // A lost connection takes its transaction with it. A failed statement
    // leaves the transaction open but aborted, until its savepoint is rolled
    // back.
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return false;
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

bool TPostgresStore::canWrite()
{
    // A writing transaction learnt it at its start; it holds to its end.
    if (m_writable && accessDepth() > 0)
        return *m_writable;
    return scalar(kCanWrite) == "true";
}
