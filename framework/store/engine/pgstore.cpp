// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgstore.h"

#include "platform.h"
#include "quorexception.h"
#include "quorlogging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>
#include <QUrl>
#include <QVarLengthArray>
#include <algorithm>
#include <cstdlib>
#include <libpq-fe.h>

namespace
{

// Writers queue for the writers' lock at most this long, and a statement runs
// at most that long; both stay below the stall limit, so a long queue is
// reported as such and not as a dead server. A writer's session that waits
// for its workstation, or whose workstation is gone, is ended by the server
// within seconds, and the writers' lock with it: idle in its transaction for
// a third of the stall limit, or its TCP keepalives unanswered. All of it is
// set for the transaction alone: behind a connection pooler the server
// session is another program's next.
QByteArray writerSettings()
{
    const int idleMs = std::max(500, TPgPipeline::stallLimitMs() / 3);
    return "SELECT set_config('lock_timeout', '10s', true), "
           "set_config('idle_in_transaction_session_timeout', '" +
           QByteArray::number(idleMs) +
           "ms', true), "
           "set_config('tcp_keepalives_idle', '5', true), "
           "set_config('tcp_keepalives_interval', '2', true), "
           "set_config('tcp_keepalives_count', '3', true), "
           "set_config('tcp_user_timeout', '15000', true)";
}
const QByteArray kStatementTimeout = "SELECT set_config('statement_timeout', '12s', true)";
// A commit waits for a synchronous standby as long as it must: cancelled by
// a timeout, the server would answer it as done though the standby never
// confirmed it.
const QByteArray kCommitUnbounded = "SELECT set_config('statement_timeout', '0', true)";
// Taken by every writing transaction and held to its end.
constexpr qint64 kWriterLockKey = 7415270358;
const QByteArray kWriterLock =
    "SELECT pg_advisory_xact_lock(" + QByteArray::number(kWriterLockKey) + ")";
// Who holds it: the server lists a lock of one 64-bit key by its two halves.
const QByteArray kLockHolder =
    "SELECT coalesce(a.application_name, ''), coalesce(a.wait_event, ''), "
    "coalesce(extract(epoch FROM now() - a.xact_start)::int, 0)::text FROM pg_locks l "
    "JOIN pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'advisory' AND l.granted AND "
    "l.classid::text = '" +
    QByteArray::number(kWriterLockKey >> 32) + "' AND l.objid::text = '" +
    QByteArray::number(kWriterLockKey & 0xffffffff) + "' AND l.objsubid = 1";
const QByteArray kWritable = "(current_setting('transaction_read_only') = 'off' AND "
                             "has_table_privilege('einstellungen', 'INSERT, UPDATE'))";
const QByteArray kCanWrite = "SELECT " + kWritable + "::text";
// A writer also learns its transaction's id: what became of the transaction
// can be asked by it from any session, whichever server session ran it. An id
// is the transaction's only on the server that handed it out: a server
// started anew since (a restart, a crash, a standby promoted) may hand it out
// again, so the writer learns when its server started too.
const QByteArray kWriterStart =
    "SELECT " + kWritable + "::text, CASE WHEN " + kWritable +
    " THEN pg_current_xact_id()::text ELSE '' END, "
    "extract(epoch FROM pg_postmaster_start_time())::text || ' ' || pg_backend_pid()::text || ' ' "
    "|| (SELECT extract(epoch FROM backend_start)::text FROM pg_stat_activity WHERE pid = "
    "pg_backend_pid())";
// A transaction's outcome, and while it runs, what the one session that holds
// it waits for, where that is the session that began it (the server's start,
// the session's process and its start: after a crash the id may be
// another's); and when the server answering started.
const QByteArray kHolder = "FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid WHERE "
                           "l.locktype = 'transactionid' AND l.transactionid = $1::xid8::xid AND "
                           "l.mode = 'ExclusiveLock' AND l.granted AND "
                           "extract(epoch FROM pg_postmaster_start_time())::text || ' ' || "
                           "a.pid::text || ' ' || extract(epoch FROM a.backend_start)::text = $2";
const QByteArray kTransactionState =
    "SELECT coalesce(pg_xact_status($1::xid8), ''), coalesce((SELECT a.state " + kHolder +
    "), ''), coalesce((SELECT a.wait_event " + kHolder +
    "), ''), extract(epoch FROM pg_postmaster_start_time())::text";
// Ends the session holding the transaction, only while it still waits for
// its workstation: asked and ended in one statement.
const QByteArray kEndWaitingSession = "SELECT pg_terminate_backend(l.pid)::text " + kHolder +
                                      " AND (a.state LIKE 'idle in transaction%' OR "
                                      "a.wait_event = 'ClientRead')";
// Whether the id was handed out before the checkpoint the server started
// from (as long as no other checkpoint followed): then it is not handed out
// again, and its outcome is the writer's.
const QByteArray kHandedOutBefore =
    "SELECT (split_part(c.next_xid, ':', 1)::numeric * 4294967296 + "
    "split_part(c.next_xid, ':', 2)::numeric > $1::numeric AND c.checkpoint_time <= "
    "pg_postmaster_start_time() AND length($2) > 0)::text FROM pg_control_checkpoint() c";
// A transaction id the server has not handed out yet: after a crash, one
// whose work never reached the log.
const QByteArray kFutureTransaction = "22023";
// Warnings the server sends with a COMMIT whose wait for its synchronous
// standby was cancelled, or cut short by the session's end: kept on the
// server, not confirmed by the standby. Told by their code and the server's
// routine that sends them, in any language.
const QByteArray kStandbyWaitCancelled = "01000";
const QByteArray kStandbyWaitEnded = "57P01";
const QByteArray kStandbyWait = "SyncRepWaitForLSN";
// How long a transaction left behind is asked after, a server coming back
// from a restart included, before its outcome is called unknown.
constexpr int kLearnMs = 10000;
constexpr int kLearnPauseMs = 200;

// What this program sets on a connection unless the address says otherwise:
// a bounded wait for the server, a dead network noticed within seconds, and
// the program and workstation in the server's list of sessions.
const char* const kDefaultKeywords[] = {
    "connect_timeout",  "keepalives",       "keepalives_idle",          "keepalives_interval",
    "keepalives_count", "tcp_user_timeout", "fallback_application_name"};
const char* const kDefaultValues[] = {"5", "1", "5", "2", "3", "15000"};
constexpr int kDefaultConnectSeconds = 5;

// The session's name as the server shows it: program and workstation, in
// the ASCII the server keeps of it.
QByteArray applicationName()
{
    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QStringLiteral("quor");
    QByteArray name = (program + QLatin1Char('@') + QSysInfo::machineHostName()).toUtf8();
    for (char& c : name)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    return name.left(63);
}

// The value of one of the connection's options.
QByteArray optionOf(pg_conn* conn, const char* keyword)
{
    QByteArray value;
    PQconninfoOption* options = PQconninfo(conn);
    for (const PQconninfoOption* option = options; option && option->keyword; ++option)
        if (qstrcmp(option->keyword, keyword) == 0 && option->val)
            value = option->val;
    PQconninfoFree(options);
    return value;
}

// The host a connection is made to, or being made to, for the trace.
QByteArray hostOf(pg_conn* conn)
{
    return QByteArray(PQhost(conn)) + ':' + PQport(conn);
}

// The kind of failure behind a SQLSTATE.
TStoreFailure failureOf(QByteArrayView state)
{
    if (state == "28P01")
        return TStoreFailure::LoginRefused;
    if (state.startsWith("28"))
        return TStoreFailure::LoginNotPermitted;
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

// The server's or library's words on one line, for support.
QString engineWords(const char* message)
{
    return QString::fromUtf8(message).simplified();
}

// A failed connection's last server error, from a message made with the
// verbose verbosity: "SEVERITY:  CODE: words" for each error the server sent,
// other lines after them. The severity is in the server's language, the
// other lines' labels in the library's: only the form is relied on, a word
// ending in a colon, two spaces, the five-character code and a colon. No code
// when no server answered; then the library's own words.
struct TConnectFailure {
    QByteArray state;
    QString words;
};

TConnectFailure connectFailure(const char* message)
{
    static const QRegularExpression error(QStringLiteral("[^\\s:]:  ([0-9A-Z]{5}): ([^\\n]*)"));
    const QString text = QString::fromUtf8(message);
    TConnectFailure failure;
    for (const QRegularExpressionMatch& match : error.globalMatch(text)) {
        failure.state = match.captured(1).toLatin1();
        failure.words = match.captured(2).simplified();
    }
    if (failure.state.isEmpty())
        failure.words = text.simplified();
    return failure;
}

QString scheme(const QString& location)
{
    for (const QLatin1String name : {QLatin1String("postgresql://"), QLatin1String("postgres://")})
        if (location.startsWith(name, Qt::CaseInsensitive))
            return name;
    return {};
}

// The address as the client library takes it: a URI's scheme in small letters.
QByteArray libpqForm(const QString& location)
{
    const QString name = scheme(location);
    return (name + location.mid(name.size())).toUtf8();
}

// The address's own options, or nullptr where the library cannot read it.
// Its reason is not kept: it may quote the password.
PQconninfoOption* parseAddress(const QByteArray& address)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(address.constData(), &error);
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

QString uriPart(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value, "/:,[]"));
}

// An option never shown: the library marks its secrets (the password, the
// client key's passphrase) for display as such.
bool secretOption(const PQconninfoOption* option)
{
    return qstrcmp(option->keyword, "password") == 0 ||
           (option->dispchar && option->dispchar[0] == '*');
}

// A URI made anew from the options read, without its secrets.
QString shownUri(const QString& schemeName, PQconninfoOption* options)
{
    QMap<QByteArray, QString> values;
    QList<QByteArray> order;
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val || secretOption(option))
            continue;
        values.insert(option->keyword, QString::fromUtf8(option->val));
        order.append(option->keyword);
    }
    const QStringList hosts = values.value("host").split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QStringList ports = values.value("port").split(QLatin1Char(','));
    // Socket folders stay in the query, as the library takes them there.
    const bool inAuthority =
        !hosts.isEmpty() && std::none_of(hosts.begin(), hosts.end(), [](const QString& host) {
            return host.startsWith(QLatin1Char('/')) || host.startsWith(QLatin1Char('@'));
        });
    QString shown = schemeName;
    if (values.contains("user"))
        shown += uriPart(values.value("user")) + QLatin1Char('@');
    if (inAuthority) {
        QStringList parts;
        for (int i = 0; i < hosts.size(); ++i) {
            QString host = hosts[i].contains(QLatin1Char(':'))
                               ? QLatin1Char('[') + hosts[i] + QLatin1Char(']')
                               : uriPart(hosts[i]);
            const QString port = ports.value(ports.size() == 1 ? 0 : i);
            parts << (port.isEmpty() ? host : host + QLatin1Char(':') + port);
        }
        shown += parts.join(QLatin1Char(','));
    }
    if (values.contains("dbname"))
        shown += QLatin1Char('/') + uriPart(values.value("dbname"));
    QStringList query;
    for (const QByteArray& keyword : order) {
        if (keyword == "user" || keyword == "dbname" ||
            (inAuthority && (keyword == "host" || keyword == "port")))
            continue;
        query << QString::fromLatin1(keyword) + QLatin1Char('=') + uriPart(values.value(keyword));
    }
    if (!query.isEmpty())
        shown += QLatin1Char('?') + query.join(QLatin1Char('&'));
    return shown;
}

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

bool isPostgresAddress(const QString& location)
{
    if (!scheme(location).isEmpty())
        return true;
    static const QRegularExpression pairs(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    return pairs.match(location).hasMatch();
}

QString displayPostgresAddress(const QString& location)
{
    const QString schemeName = scheme(location);
    PQconninfoOption* options = parseAddress(libpqForm(location));
    if (!options)
        return schemeName.isEmpty()
                   ? location.section(QLatin1Char('='), 0, 0).trimmed() + QStringLiteral("=…")
                   : schemeName.toLower() + QStringLiteral("…");
    QString shown;
    if (!schemeName.isEmpty()) {
        shown = shownUri(schemeName.toLower(), options);
    } else {
        QStringList pairs;
        for (const PQconninfoOption* option = options; option->keyword; ++option)
            if (option->val && !secretOption(option))
                pairs << QString::fromUtf8(option->keyword) + QLatin1Char('=') +
                             quotedValue(QString::fromUtf8(option->val));
        shown = pairs.join(QLatin1Char(' '));
    }
    PQconninfoFree(options);
    return shown;
}

TPostgresStore::TPostgresStore(const QString& address, TOpen mode)
    : TSqlStore(displayPostgresAddress(address), TStoreEngine::Server),
      m_address(libpqForm(address))
{
    PQconninfoOption* options = parseAddress(m_address);
    if (!options)
        fail(TStoreFailure::BadAddress, TStoreStep::Open, {});
    PQconninfoFree(options);
    connect();
    m_ownTimeout = optionOf(m_conn, "options").contains("statement_timeout");
    try {
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
        moveTo(TState::Lost);
        throw;
    }
}

TPostgresStore::~TPostgresStore()
{
    if (accessDepth() > 0)
        rollbackAll();
    moveTo(TState::Lost);
}

void TPostgresStore::connect()
{
    moveTo(TState::Lost);
    const QByteArray name = applicationName();
    QVarLengthArray<const char*, 10> keywords(std::begin(kDefaultKeywords),
                                              std::end(kDefaultKeywords));
    QVarLengthArray<const char*, 10> values(std::begin(kDefaultValues), std::end(kDefaultValues));
    values << name.constData();
    // The address comes after the defaults, so that what it sets wins.
    keywords << "dbname" << nullptr;
    values << m_address.constData() << nullptr;
    // One connection, made with the verbose verbosity set, so that a failure
    // tells its kind by the server's code and the person the server's words.
    m_conn = PQconnectStartParams(keywords.constData(), values.constData(), 1);
    if (!m_conn)
        fail(TStoreFailure::Other, TStoreStep::Open, storeFindingText(TStoreFinding::NoMemory));
    PQsetErrorVerbosity(m_conn, PQERRORS_VERBOSE);
    const int seconds = optionOf(m_conn, "connect_timeout").toInt();
    const int waitMs = 1000 * (seconds > 0 ? seconds : kDefaultConnectSeconds);
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    // The stage the connection failed in: one that ends in the TLS handshake
    // is the server's certificate's matter, not the network's.
    ConnStatusType stage = PQstatus(m_conn);
    qCDebug(lcStoreConnect).noquote() << "connecting to" << m_displayName;
    QByteArray trying;
    while (PQstatus(m_conn) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
           polling != PGRES_POLLING_FAILED) {
        if (const QByteArray host = hostOf(m_conn); host != std::exchange(trying, host))
            qCDebug(lcStoreConnect).noquote() << "trying" << host;
        if (::waitForSocket(PQsocket(m_conn), polling == PGRES_POLLING_WRITING, waitMs) ==
            TSocketWait::TimedOut) {
            // A host that does not answer: the library's own wait moves on to
            // the address's next host.
            PQreset(m_conn);
            break;
        }
        stage = PQstatus(m_conn);
        polling = PQconnectPoll(m_conn);
    }
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const TConnectFailure failure = connectFailure(PQerrorMessage(m_conn));
        TStoreFailure kind = failureOf(failure.state);
        if (PQconnectionNeedsPassword(m_conn))
            kind = TStoreFailure::LoginRefused;
        else if (failure.state.isEmpty() && stage == CONNECTION_SSL_STARTUP)
            kind = TStoreFailure::CertificateRefused;
        else if (failure.state.isEmpty())
            kind = TStoreFailure::Unreachable;
        QString root = QString::fromUtf8(optionOf(m_conn, "sslrootcert"));
        if (root.isEmpty())
            root = defaultRootCertificate();
        PQfinish(m_conn);
        m_conn = nullptr;
        TStoreFault fault{kind,          TStoreStep::Open, TStoreEngine::Server,
                          m_displayName, failure.words,    TStoreCode::ofSqlstate(failure.state)};
        if (kind == TStoreFailure::CertificateRefused)
            fault.rootCertificate = root;
        qCDebug(lcStoreConnect).noquote() << "no connection:" << storeFailureName(kind);
        throw EQuorStoreError(std::move(fault));
    }
    const QByteArray standby = PQparameterStatus(m_conn, "in_hot_standby");
    qCDebug(lcStoreConnect).noquote()
        << "connected to" << hostOf(m_conn) << "TLS"
        << (PQsslInUse(m_conn) ? PQsslAttribute(m_conn, "protocol") : "off")
        << (standby == "on"    ? "as standby"
            : standby == "off" ? "as primary"
                               : "");
    PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
    // The server's notices are not for the user, but one answering a COMMIT
    // may say that its standby did not confirm it; failures come as results.
    PQsetNoticeReceiver(
        m_conn,
        [](void* store, const PGresult* notice) {
            static_cast<TPostgresStore*>(store)->noticed(notice);
        },
        this);
    if (PQsetnonblocking(m_conn, 1) != 0) {
        const QString words = engineWords(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        fail(TStoreFailure::ConnectionLost, TStoreStep::Open, words);
    }
    m_pipe.attach(m_conn);
    moveTo(TState::Idle);
}

void TPostgresStore::moveTo(TState next)
{
    const TState from = m_state;
    bool allowed = false;
    switch (next) {
    case TState::Lost:
        allowed = true;
        break;
    case TState::Idle:
        allowed = from != TState::Idle;
        break;
    case TState::Reading:
    case TState::Writing:
        allowed = from == TState::Idle;
        break;
    case TState::CommitInDoubt:
        allowed = from == TState::Writing;
        break;
    }
    // The COMMIT's batch came back refused, read to its sync point: the
    // transaction is not kept, and open on the server until rolled back.
    if (from == TState::CommitInDoubt && next == TState::Writing)
        allowed = true;
    if (!allowed) {
        moveTo(TState::Lost);
        fail(TStoreFailure::Other, TStoreStep::Wait,
             storeFindingText(TStoreFinding::StateChange,
                              QStringLiteral("%1 nach %2").arg(int(from)).arg(int(next))));
    }
    m_state = next;
    if (next == TState::Reading || next == TState::Writing || next == TState::Lost) {
        m_writable.reset();
        m_xid.clear();
        m_session.clear();
        m_standbyUnconfirmed = false;
    }
    if (next == TState::Lost) {
        // The transaction goes with the connection.
        m_pipe.reset();
        PQfinish(m_conn);
        m_conn = nullptr;
    }
}

template <typename Step> decltype(auto) TPostgresStore::guarded(Step&& step)
{
    try {
        return step();
    } catch (const EPgFailure& failure) {
        failed(failure);
    }
}

void TPostgresStore::failed(const EPgFailure& failure)
{
    if (failure.kind == EPgFailure::TKind::Refused)
        refused(failure);
    giveUp(failure);
    // Only a commit in doubt can turn out kept, and only commitWriter sends one.
    fail(TStoreFailure::Other, failure.step, storeFindingText(TStoreFinding::CommitOutsidePosting));
}

void TPostgresStore::giveUp(const EPgFailure& failure)
{
    TStoreFailure kind = TStoreFailure::ConnectionLost;
    QString words;
    switch (failure.kind) {
    case EPgFailure::TKind::Stalled:
        // Nothing came for too long: the server or the network stands still.
        kind = TStoreFailure::ServerStalled;
        words = storeFindingText(TStoreFinding::NoAnswer,
                                 QString::number(TPgPipeline::stallLimitMs() / 1000.0, 'g',
                                                 QLocale::FloatingPointShortest));
        break;
    case EPgFailure::TKind::Broken:
        kind = TStoreFailure::Other;
        words = storeFindingText(TStoreFinding::RuleBroken, QString::fromLatin1(failure.rule));
        break;
    default:
        words = m_conn ? engineWords(PQerrorMessage(m_conn))
                       : storeFindingText(TStoreFinding::NoConnection);
        break;
    }
    const TState was = m_state;
    const QByteArray xid = m_xid;
    const QByteArray session = m_session;
    const bool standby = m_standbyUnconfirmed;
    // A writer on a store that takes no writes has nothing to keep.
    const bool wrote = !xid.isEmpty() || m_writable.value_or(true);
    moveTo(TState::Lost);
    const TStoreFault cause{kind, failure.step, TStoreEngine::Server, m_displayName, words};
    if ((was == TState::CommitInDoubt && wrote) || (was == TState::Writing && !xid.isEmpty())) {
        m_xid = xid;
        m_session = session;
        m_standbyUnconfirmed = standby;
        settleTransaction(was == TState::CommitInDoubt, cause);
        return;
    }
    throw EQuorStoreError(cause);
}

void TPostgresStore::refused(const EPgFailure& failure)
{
    pg_result* result = failure.result.get();
    if (failure.statement == TPgKind::WriteAhead)
        m_refusedAhead = m_lastRefusedAhead = true;
    const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const QByteArray state(code ? code : "");
    if (failure.statement == TPgKind::Begin && state == "55P03" && m_state == TState::Writing) {
        TStoreFault fault{TStoreFailure::Locked,
                          TStoreStep::Begin,
                          TStoreEngine::Server,
                          m_displayName,
                          {},
                          TStoreCode::ofSqlstate(state)};
        askLockHolder(fault);
        throw EQuorStoreError(std::move(fault));
    }
    const QString text = engineWords(PQresultErrorMessage(result));
    TStoreFailure kind = failureOf(state);
    if (m_conn && PQstatus(m_conn) != CONNECTION_OK) {
        moveTo(TState::Lost);
        kind = TStoreFailure::ConnectionLost;
    }
    fail(kind, failure.step, text, TStoreCode::ofSqlstate(state));
}

void TPostgresStore::askLockHolder(TStoreFault& fault)
{
    // The question goes with the refused transaction's ROLLBACK; the
    // transaction stays the store's until its access ends it.
    m_pipe.drop([](const TPgStatement&) { return true; });
    m_pipe.enqueue(TPgStatement::rollback());
    try {
        const auto rows = query(kLockHolder);
        if (!rows->next())
            return;
        fault.holder = QString::fromUtf8(rows->column(0));
        fault.heldForStandby = rows->column(1) == "SyncRep";
        fault.heldSeconds = QString::fromUtf8(rows->column(2));
        while (rows->next()) {
        }
    } catch (const EQuorStoreError&) {
    }
}

void TPostgresStore::exchange(const TPgStatement* last)
{
    const bool first = m_pipe.waits(TPgKind::Begin) && !m_pipe.waits(TPgKind::Commit) &&
                       !(last && last->kind == TPgKind::Commit);
    if (!first) {
        guarded([&] { m_pipe.exchange(last); });
        return;
    }
    // Nothing of the transaction has run yet: on a connection found lost, it
    // begins again on a new one, as if nothing had happened.
    const std::vector<TPgStatement> batch = m_pipe.waiting();
    const TState transaction = m_state;
    auto again = [&] {
        connect();
        for (const TPgStatement& statement : batch)
            m_pipe.enqueue(statement);
        moveTo(transaction);
        guarded([&] { m_pipe.exchange(last); });
    };
    if (m_conn && (PQconsumeInput(m_conn), PQstatus(m_conn) != CONNECTION_OK)) {
        again();
        return;
    }
    try {
        m_pipe.exchange(last);
    } catch (const EPgFailure& failure) {
        if (failure.kind != EPgFailure::TKind::Lost || m_pipe.answersTaken())
            failed(failure);
        again();
    }
}

void TPostgresStore::catchUp()
{
    if (m_pipe.waitsForAnswers())
        exchange(nullptr);
}

void TPostgresStore::queryLater(const QByteArray& sql, const TSqlParams& params,
                                const std::function<void(TSqlRows&)>& take)
{
    m_pipe.enqueue(TPgStatement::readAhead(sql, params, [take](PGresult* result) {
        TPgResultRows rows(result);
        take(rows);
    }));
}

namespace
{
// The rows of a streaming query, whose failures are the store's.
class TGuardedRows final : public TSqlRows
{
public:
    TGuardedRows(std::unique_ptr<TSqlRows> rows, std::function<void(const EPgFailure&)> failed)
        : m_rows(std::move(rows)), m_failed(std::move(failed))
    {
    }
    bool next() override
    {
        try {
            return m_rows->next();
        } catch (const EPgFailure& failure) {
            m_failed(failure);
            return false;
        }
    }
    QByteArrayView column(int index) const override { return m_rows->column(index); }

private:
    std::unique_ptr<TSqlRows> m_rows;
    std::function<void(const EPgFailure&)> m_failed;
};
} // namespace

std::unique_ptr<TSqlRows> TPostgresStore::query(const QByteArray& sql, const TSqlParams& params)
{
    const TPgStatement statement = TPgStatement::query(sql, params);
    exchange(&statement);
    return std::make_unique<TGuardedRows>(guarded([&] { return m_pipe.stream(); }),
                                          [this](const EPgFailure& f) { failed(f); });
}

qint64 TPostgresStore::execute(const QByteArray& sql, const TSqlParams& params, TStoreStep step)
{
    return runToEnd(sql, params, step, nullptr);
}

qint64 TPostgresStore::runToEnd(const QByteArray& sql, const TSqlParams& params, TStoreStep step,
                                QByteArray* lastValue)
{
    guarded([&] { m_pipe.settle(); });
    if (!m_conn)
        fail(TStoreFailure::ConnectionLost, step, storeFindingText(TStoreFinding::NoConnection));
    // Without parameters and with nothing outstanding, a text may hold
    // several statements: it goes in the simple protocol.
    if (params.isEmpty() && m_pipe.idle())
        return guarded([&] { return m_pipe.runText(sql, step, lastValue); });
    const TPgStatement statement = TPgStatement::execute(sql, params, step);
    exchange(&statement);
    return guarded([&] { return m_pipe.finish(lastValue); });
}

void TPostgresStore::beginTransaction(TAccess mode)
{
    forgetPrefetched();
    m_refusedAhead = false;
    // A session the server ended since the last step is opened anew, without
    // a round trip: its notice is read if it came.
    if (m_conn) {
        PQconsumeInput(m_conn);
        if (PQstatus(m_conn) != CONNECTION_OK)
            moveTo(TState::Lost);
    }
    if (!m_conn)
        connect();
    if (m_pipe.waits(TPgKind::Begin)) {
        moveTo(TState::Lost);
        fail(TStoreFailure::Other, TStoreStep::Begin,
             storeFindingText(TStoreFinding::AccessInAnother));
    }
    // The BEGIN goes along with the step's first statement. A reader sees one
    // snapshot of the store for the whole step. A writer takes the writers'
    // lock, for a bounded time, and learns whether the store takes its writes
    // and its transaction's id.
    if (mode == TAccess::Write) {
        moveTo(TState::Writing);
        m_pipe.enqueue(TPgStatement::begin("BEGIN ISOLATION LEVEL READ COMMITTED"));
        if (!m_ownTimeout)
            m_pipe.enqueue(TPgStatement::setting(kStatementTimeout));
        m_pipe.enqueue(TPgStatement::setting(writerSettings()));
        m_pipe.enqueue(TPgStatement::begin(kWriterLock));
        m_pipe.enqueue(TPgStatement::readAhead(kWriterStart, {}, [this](PGresult* result) {
            if (PQntuples(result) < 1)
                return;
            m_writable = qstrcmp(PQgetvalue(result, 0, 0), "true") == 0;
            m_xid = PQgetvalue(result, 0, 1);
            m_session = PQgetvalue(result, 0, 2);
        }));
        m_lastRefusedAhead = false;
    } else {
        moveTo(TState::Reading);
        m_pipe.enqueue(TPgStatement::begin("BEGIN ISOLATION LEVEL REPEATABLE READ"));
        if (!m_ownTimeout)
            m_pipe.enqueue(TPgStatement::setting(kStatementTimeout));
    }
    m_writesAhead = false;
}

void TPostgresStore::sendWritesAhead()
{
    if (m_state == TState::Writing)
        m_writesAhead = true;
}

void TPostgresStore::sendWritesWaiting()
{
    if (m_pipe.waits(TPgKind::WriteAhead))
        exchange(nullptr);
}

bool TPostgresStore::executeLater(const QByteArray& sql, const TSqlParams& params)
{
    if (!m_writesAhead || accessDepth() == 0)
        return false;
    m_pipe.enqueue(TPgStatement::writeAhead(sql, params));
    return true;
}

void TPostgresStore::control(TControl what, std::size_t level)
{
    const QByteArray savepoint = savepointName(level);
    switch (what) {
    case TControl::Savepoint:
        m_pipe.enqueue(TPgStatement::savepoint(TPgKind::Savepoint, "SAVEPOINT " + savepoint));
        return;
    case TControl::ReleaseSavepoint:
        m_pipe.enqueue(TPgStatement::savepoint(TPgKind::Release, "RELEASE SAVEPOINT " + savepoint));
        return;
    case TControl::RollbackToSavepoint:
        // Rolling back undoes what a waiting release would have kept, and in
        // an aborted transaction the release would fail and take the rollback
        // with it.
        m_pipe.drop([](const TPgStatement& s) { return s.kind == TPgKind::Release; });
        m_pipe.enqueue(
            TPgStatement::savepoint(TPgKind::RollbackTo, "ROLLBACK TO SAVEPOINT " + savepoint));
        return;
    case TControl::Commit:
    case TControl::Rollback:
        break;
    }
    forgetPrefetched();
    const TState ended = m_state;
    m_writesAhead = false;
    // A transaction that never reached the server has nothing to end there,
    // unless writes wait to go with its commit.
    const bool unsent = m_pipe.waits(TPgKind::Begin);
    const bool writesWait = m_pipe.waits(TPgKind::WriteAhead);
    if (what == TControl::Rollback || m_refusedAhead || (unsent && !writesWait)) {
        m_pipe.drop([](const TPgStatement&) { return true; });
        if (!unsent && m_conn)
            runToEnd("ROLLBACK", {}, TStoreStep::Write, nullptr);
        if (m_conn)
            moveTo(TState::Idle);
        if (what == TControl::Commit && m_refusedAhead)
            fail(TStoreFailure::Other, TStoreStep::Commit,
                 storeFindingText(TStoreFinding::WriteAheadRefused));
        return;
    }
    // Reads put off are of no use any more, but for a writer's id: its
    // commit's outcome is asked by it.
    m_pipe.drop([](const TPgStatement& s) {
        return s.kind == TPgKind::ReadAhead && s.sql != kWriterStart;
    });
    if (ended == TState::Reading) {
        // A reader's commit is sent, not waited for: it ends the snapshot on
        // the server at once, and what it answers costs nothing.
        m_pipe.enqueue(TPgStatement::readerCommit());
        try {
            m_pipe.sendOnly();
            moveTo(TState::Idle);
        } catch (const EPgFailure&) {
            // The snapshot ends with the connection; the step read all it asked.
            moveTo(TState::Lost);
        }
        return;
    }
    commitWriter();
}

void TPostgresStore::commitWriter()
{
    // The transaction's id comes with its first batch: a commit that would
    // go along with it waits for that answer, so that its outcome can be asked.
    if (m_pipe.waits(TPgKind::Begin))
        exchange(nullptr);
    if (!m_ownTimeout)
        m_pipe.enqueue(TPgStatement::setting(kCommitUnbounded));
    const TPgStatement commit = TPgStatement::commit();
    moveTo(TState::CommitInDoubt);
    try {
        m_pipe.exchange(&commit);
        m_pipe.finish(nullptr);
        moveTo(TState::Idle);
    } catch (const EPgFailure& failure) {
        if (failure.kind != EPgFailure::TKind::Refused) {
            // Returns only where the transaction was kept.
            giveUp(failure);
        } else {
            // Refused, its batch read to the end: nothing of the transaction
            // is kept, and the server holds it aborted until it is rolled back.
            moveTo(TState::Writing);
            try {
                runToEnd("ROLLBACK", {}, TStoreStep::Write, nullptr);
                moveTo(TState::Idle);
            } catch (const EQuorStoreError&) {
            }
            refused(failure);
        }
    }
    if (m_pipe.commitRolledBack())
        fail(TStoreFailure::TransactionLost, TStoreStep::Commit, {});
    if (m_standbyUnconfirmed)
        failAwaitingStandby();
}

void TPostgresStore::noticed(const PGresult* notice)
{
    if (m_state != TState::CommitInDoubt)
        return;
    const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
    const char* code = PQresultErrorField(notice, PG_DIAG_SQLSTATE);
    const char* routine = PQresultErrorField(notice, PG_DIAG_SOURCE_FUNCTION);
    if (severity && code && routine && qstrcmp(severity, "WARNING") == 0 &&
        routine == kStandbyWait && (code == kStandbyWaitCancelled || code == kStandbyWaitEnded))
        m_standbyUnconfirmed = true;
}

void TPostgresStore::failAwaitingStandby() const
{
    throw EQuorStoreError(TStoreFailure::AwaitingStandby, TStoreStep::Commit, TStoreEngine::Server,
                          m_displayName);
}

void TPostgresStore::settleTransaction(bool commitSent, const TStoreFault& cause)
{
    const QByteArray xid = std::exchange(m_xid, {});
    const QByteArray session = std::exchange(m_session, {});
    const bool standby = std::exchange(m_standbyUnconfirmed, false);
    auto unknown = [&] {
        qCDebug(lcStoreOutcome) << "outcome of transaction" << xid << "not learned";
        TStoreFault fault{TStoreFailure::OutcomeUnknown, TStoreStep::Commit, TStoreEngine::Server,
                          m_displayName};
        fault.cause = storeFailureText(cause);
        return EQuorStoreError(std::move(fault));
    };
    auto notKept = [&] {
        if (commitSent)
            fail(TStoreFailure::TransactionLost, TStoreStep::Commit, {});
        throw EQuorStoreError(cause);
    };
    auto kept = [&] {
        if (standby)
            failAwaitingStandby();
    };
    // One question on the connection at hand; false where it failed, with
    // the server's code where it refused.
    auto ask = [&](const QByteArray& sql, QList<QByteArray>& answer, QByteArray* refusal) {
        try {
            const TPgStatement statement =
                TPgStatement::query(sql, {TSqlParam{xid}, TSqlParam{session}});
            m_pipe.exchange(&statement);
            const auto rows = m_pipe.stream();
            if (rows->next())
                for (qsizetype i = 0; i < answer.size(); ++i)
                    answer[i] = rows->column(int(i)).toByteArray();
            while (rows->next()) {
            }
            return true;
        } catch (const EPgFailure& failure) {
            *refusal = failure.result
                           ? QByteArray(PQresultErrorField(failure.result.get(), PG_DIAG_SQLSTATE))
                           : QByteArray();
            if (failure.kind != EPgFailure::TKind::Refused)
                moveTo(TState::Lost);
            return false;
        }
    };
    if (xid.isEmpty()) {
        if (commitSent)
            throw unknown();
        notKept();
    }
    const QDeadlineTimer deadline(kLearnMs);
    // A server coming back from a restart, or full for a moment, is asked
    // again until the deadline; one that cannot be reached by then ends an
    // abandoned transaction itself.
    for (bool first = true;; first = false) {
        if (!first) {
            if (deadline.hasExpired() || !commitSent)
                break;
            QThread::msleep(kLearnPauseMs);
        }
        if (!m_conn) {
            try {
                connect();
            } catch (const EQuorStoreError&) {
                continue;
            }
        }
        QList<QByteArray> answer(4);
        QByteArray refusal;
        if (!ask(kTransactionState, answer, &refusal)) {
            // Its id not handed out yet after a crash: it never committed.
            if (refusal == kFutureTransaction)
                notKept();
            continue;
        }
        const QByteArray &status = answer[0], &state = answer[1], &wait = answer[2];
        qCDebug(lcStoreOutcome) << "transaction" << xid << "on the server:" << status << state
                                << wait;
        if (answer[3] != session.split(' ').value(0)) {
            // The server started anew since the transaction began: its own
            // session is gone with it, and its id may be another's now. Only
            // a commit that reached the log keeps the id from being handed
            // out again.
            if (status == "committed") {
                QList<QByteArray> before(1);
                if (!ask(kHandedOutBefore, before, &refusal) || before[0] != "true")
                    break;
                kept();
                if (!commitSent)
                    break;
                return;
            }
            if (status == "aborted" || status == "in progress")
                notKept();
            break;
        }
        if (wait == "SyncRep")
            failAwaitingStandby();
        if (status == "committed") {
            kept();
            if (!commitSent)
                break;
            return;
        }
        if (status == "aborted")
            notKept();
        if (status != "in progress")
            break;
        // Still waiting for this program, which will send nothing more: ended,
        // it takes the transaction and the writers' lock with it.
        if (state.startsWith("idle in transaction") || wait == "ClientRead") {
            QList<QByteArray> ended(1);
            ask(kEndWaitingSession, ended, &refusal);
        }
    }
    if (commitSent)
        throw unknown();
    notKept();
}

bool TPostgresStore::transactionOpen() const
{
    // A lost connection takes its transaction with it. A failed statement
    // leaves the transaction open but aborted, until its savepoint is rolled
    // back. What the server sent meanwhile, its notice that it ended the
    // session included, is read without waiting: statements put off must not
    // go to a session that is gone.
    if (m_state == TState::Lost || m_state == TState::Idle || !m_conn)
        return false;
    // A transaction whose BEGIN still waits has not reached the server: it
    // goes on a new connection should this one be gone.
    if (m_pipe.waits(TPgKind::Begin))
        return true;
    PQconsumeInput(m_conn);
    return PQstatus(m_conn) == CONNECTION_OK;
}

bool TPostgresStore::canWrite()
{
    // A writing transaction learns it with its BEGIN; it holds to its end.
    if (accessDepth() > 0 && m_state == TState::Writing) {
        if (!m_writable)
            catchUp();
        if (m_writable)
            return *m_writable;
    }
    return scalar(kCanWrite) == "true";
}
