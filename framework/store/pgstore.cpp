// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgstore.h"

#include "platform.h"
#include "quorexception.h"

#include <QCoreApplication>
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
// reported as such and not as a dead server. Set for the transaction alone:
// behind a connection pooler the server session is another program's next.
const QByteArray kWriterSettings = "SELECT set_config('lock_timeout', '10s', true)";
const QByteArray kStatementTimeout = "SELECT set_config('statement_timeout', '12s', true)";
// A commit waits for a synchronous standby as long as it must: cancelled by
// a timeout, the server would answer it as done though the standby never
// confirmed it.
const QByteArray kCommitUnbounded = "SELECT set_config('statement_timeout', '0', true)";
// Taken by every writing transaction and held to its end.
const QByteArray kWriterLock = "SELECT pg_advisory_xact_lock(7415270358)";
// Who holds it: the lock's two halves as the server lists them.
const QByteArray kLockHolder =
    "SELECT coalesce(a.application_name, ''), coalesce(a.wait_event, ''), "
    "coalesce(extract(epoch FROM now() - a.xact_start)::int, 0)::text FROM pg_locks l "
    "JOIN pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'advisory' AND l.granted AND "
    "l.classid::text = '1' AND l.objid::text = '3120303062' AND l.objsubid = 1";
const QByteArray kWritable = "(current_setting('transaction_read_only') = 'off' AND "
                             "has_table_privilege('einstellungen', 'INSERT, UPDATE'))::text";
const QByteArray kCanWrite = "SELECT " + kWritable;
// A writer also learns its server session: behind a connection pooler it is
// not the one the connection began with.
const QByteArray kWriterStart = "SELECT " + kWritable + ", pg_backend_pid()::text";
const QByteArray kSessionState =
    "SELECT coalesce(state, ''), coalesce(wait_event, '') FROM "
    "pg_stat_activity WHERE pid = $1::int AND application_name = $2 AND "
    "pid <> pg_backend_pid()";
const QByteArray kWitnessSql = "SELECT 1 FROM einstellungen WHERE sprache = $1 AND programm = $2 "
                               "AND maske = $3 AND bezeichnung = $4 AND idx = $5";
// How long a session left behind is waited for before its outcome is
// called unknown.
constexpr int kLearnTries = 50;
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

// The server's or library's words on one line, for support.
QString engineWords(const char* message)
{
    return QString::fromUtf8(message).simplified();
}

// A failed connection's last server error, from a message made with the
// verbose verbosity: "SEVERITY:  CODE: words" for each error the server sent,
// LOCATION lines after them. No code when no server answered; then the
// library's own words.
struct TConnectFailure {
    QByteArray state;
    QString words;
};

TConnectFailure connectFailure(const char* message)
{
    static const QRegularExpression error(
        QStringLiteral("(?:FATAL|ERROR|PANIC):  ([0-9A-Z]{5}): ([^\\n]*)"));
    const QString text = QString::fromUtf8(message);
    TConnectFailure failure;
    for (const QRegularExpressionMatch& match : error.globalMatch(text)) {
        failure.state = match.captured(1).toLatin1();
        failure.words = match.captured(2).simplified();
    }
    if (failure.state.isEmpty()) {
        static const QRegularExpression location(QStringLiteral("(?m)^LOCATION:.*$"));
        failure.words = QString(text).remove(location).simplified();
    }
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

// A URI made anew from the options read, without the password.
QString shownUri(const QString& schemeName, PQconninfoOption* options)
{
    QMap<QByteArray, QString> values;
    QList<QByteArray> order;
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val || qstrcmp(option->keyword, "password") == 0)
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
            if (option->val && qstrcmp(option->keyword, "password") != 0)
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

void TPostgresStore::connect()
{
    disconnect();
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
        fail(TStoreFailure::Other, TStoreStep::Open, QStringLiteral("kein Speicher"));
    PQsetErrorVerbosity(m_conn, PQERRORS_VERBOSE);
    const int seconds = optionOf(m_conn, "connect_timeout").toInt();
    const int waitMs = 1000 * (seconds > 0 ? seconds : kDefaultConnectSeconds);
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    // The stage the connection failed in: one that ends in the TLS handshake
    // is the server's certificate's matter, not the network's.
    ConnStatusType stage = PQstatus(m_conn);
    while (PQstatus(m_conn) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
           polling != PGRES_POLLING_FAILED) {
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
        disconnect();
        if (kind == TStoreFailure::CertificateRefused)
            throw EQuorStoreError(kind,
                                  storeFailureText(kind, TStoreStep::Open, TStoreEngine::Server,
                                                   m_displayName, failure.words) +
                                      QStringLiteral("\nStammzertifikat: ") + root,
                                  m_displayName);
        fail(kind, TStoreStep::Open, failure.words);
    }
    PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
    // The server's notices are not for the user; failures come as results.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    PQsetnonblocking(m_conn, 1);
    m_pipe.attach(m_conn);
    m_backendPid = PQbackendPID(m_conn);
}

void TPostgresStore::disconnect() noexcept
{
    m_pipe.reset();
    PQfinish(m_conn);
    m_conn = nullptr;
    // The transaction went with the connection.
    m_writable.reset();
    m_transaction = TTransaction::None;
}

void TPostgresStore::lineLost(TStoreStep step)
{
    const QString words =
        m_conn ? engineWords(PQerrorMessage(m_conn)) : QStringLiteral("keine Verbindung");
    m_commitUnknown = m_pipe.commitUnanswered();
    m_answersTaken = m_pipe.answersTaken();
    disconnect();
    fail(TStoreFailure::ConnectionLost, step, words);
}

void TPostgresStore::lineStalled()
{
    // Nothing came for too long: the server or the network stands still. The
    // connection is given up; the next step opens a new one.
    m_commitUnknown = m_pipe.commitUnanswered();
    m_answersTaken = true;
    disconnect();
    fail(TStoreFailure::ServerStalled, TStoreStep::Wait,
         QStringLiteral("%1 s ohne Antwort").arg(TPgPipeline::kStallMs / 1000));
}

void TPostgresStore::statementRefused(const TPgStatement& statement, PGresult* result)
{
    if (statement.kind == TPgKind::WriteAhead)
        m_refusedAhead = m_lastRefusedAhead = true;
    const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (statement.kind == TPgKind::Begin && code && qstrcmp(code, "55P03") == 0 &&
        m_transaction == TTransaction::Writing) {
        PQclear(result);
        QString message = lockHolder();
        if (message.isEmpty())
            message = storeFailureText(TStoreFailure::Locked, TStoreStep::Begin,
                                       TStoreEngine::Server, m_displayName, {});
        throw EQuorStoreError(TStoreFailure::Locked, message, m_displayName);
    }
    failWith(statement.step, result);
}

void TPostgresStore::failWith(TStoreStep step, PGresult* result)
{
    const QString text = engineWords(PQresultErrorMessage(result));
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

QString TPostgresStore::lockHolder()
{
    // The question goes with the refused transaction's ROLLBACK; the
    // transaction stays the store's until its access ends it.
    m_pipe.drop([](const TPgStatement&) { return true; });
    m_pipe.enqueue(TPgStatement::rollback());
    QString text;
    try {
        const auto rows = query(kLockHolder);
        if (!rows->next())
            return {};
        const QString holder = QString::fromUtf8(rows->column(0));
        const QString seconds = QString::fromUtf8(rows->column(2));
        const QString who = holder.isEmpty() ? QStringLiteral("einer anderen Arbeitsstation")
                                             : QStringLiteral("„%1“").arg(holder);
        text = QStringLiteral("Einstellungsdatenbank „%1“: Zugriff kann nicht begonnen werden. ")
                   .arg(m_displayName);
        if (rows->column(1) == "SyncRep")
            text += QStringLiteral("Der Datenbankserver wartet seit %1 s darauf, dass sein "
                                   "Standby-Server eine Buchung von %2 bestätigt; bis dahin nimmt "
                                   "er keine weitere Buchung an.")
                        .arg(seconds, who);
        else
            text += QStringLiteral("Die Daten sind gesperrt: Eine Buchung von %1 läuft seit %2 s.")
                        .arg(who, seconds);
        while (rows->next()) {
        }
    } catch (const EQuorStoreError&) {
    }
    return text;
}

void TPostgresStore::exchange(const TPgStatement* last)
{
    const bool first = m_pipe.waits(TPgKind::Begin) && !m_pipe.waits(TPgKind::Commit) &&
                       !(last && last->kind == TPgKind::Commit);
    if (!first) {
        m_pipe.exchange(last);
        return;
    }
    // Nothing of the transaction has run yet: on a connection found lost, it
    // begins again on a new one, as if nothing had happened.
    const std::vector<TPgStatement> batch = m_pipe.waiting();
    const TTransaction transaction = m_transaction;
    auto again = [&] {
        connect();
        for (const TPgStatement& statement : batch)
            m_pipe.enqueue(statement);
        m_transaction = transaction;
        m_pipe.exchange(last);
    };
    if (m_conn && (PQconsumeInput(m_conn), PQstatus(m_conn) != CONNECTION_OK)) {
        again();
        return;
    }
    try {
        m_pipe.exchange(last);
    } catch (const EQuorStoreError& e) {
        if (m_conn || m_answersTaken || e.Kind() != TStoreFailure::ConnectionLost)
            throw;
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

std::unique_ptr<TSqlRows> TPostgresStore::query(const QByteArray& sql, const TSqlParams& params)
{
    const TPgStatement statement = TPgStatement::query(sql, params);
    exchange(&statement);
    return m_pipe.stream();
}

qint64 TPostgresStore::execute(const QByteArray& sql, const TSqlParams& params, TStoreStep step)
{
    return runToEnd(sql, params, step, nullptr);
}

qint64 TPostgresStore::runToEnd(const QByteArray& sql, const TSqlParams& params, TStoreStep step,
                                QByteArray* lastValue)
{
    m_pipe.settle();
    if (!m_conn)
        lineLost(step);
    // Without parameters and with nothing outstanding, a text may hold
    // several statements: it goes in the simple protocol.
    if (params.isEmpty() && m_pipe.idle())
        return m_pipe.runText(sql, step, lastValue);
    const TPgStatement statement = TPgStatement::execute(sql, params, step);
    exchange(&statement);
    return m_pipe.finish(lastValue);
}

void TPostgresStore::beginTransaction(TAccess mode)
{
    forgetPrefetched();
    m_writable.reset();
    m_witnesses.clear();
    m_refusedAhead = false;
    m_commitUnknown = false;
    m_answersTaken = false;
    // A session the server ended since the last step is opened anew, without
    // a round trip: its notice is read if it came.
    if (m_conn) {
        PQconsumeInput(m_conn);
        if (PQstatus(m_conn) != CONNECTION_OK)
            disconnect();
    }
    if (!m_conn)
        connect();
    Q_ASSERT(!m_pipe.waits(TPgKind::Begin));
    // The BEGIN goes along with the step's first statement. A reader sees one
    // snapshot of the store for the whole step. A writer takes the writers'
    // lock, for a bounded time, and learns whether the store takes its writes.
    if (mode == TAccess::Write) {
        m_pipe.enqueue(TPgStatement::begin("BEGIN ISOLATION LEVEL READ COMMITTED"));
        if (!m_ownTimeout)
            m_pipe.enqueue(TPgStatement::setting(kStatementTimeout));
        m_pipe.enqueue(TPgStatement::setting(kWriterSettings));
        m_pipe.enqueue(TPgStatement::begin(kWriterLock));
        m_pipe.enqueue(TPgStatement::readAhead(kWriterStart, {}, [this](PGresult* result) {
            if (PQntuples(result) < 1)
                return;
            m_writable = qstrcmp(PQgetvalue(result, 0, 0), "true") == 0;
            m_backendPid = std::atoi(PQgetvalue(result, 0, 1));
        }));
        m_lastRefusedAhead = false;
    } else {
        m_pipe.enqueue(TPgStatement::begin("BEGIN ISOLATION LEVEL REPEATABLE READ"));
        if (!m_ownTimeout)
            m_pipe.enqueue(TPgStatement::setting(kStatementTimeout));
    }
    m_transaction = mode == TAccess::Write ? TTransaction::Writing : TTransaction::Reading;
    m_writesAhead = false;
}

void TPostgresStore::sendWritesAhead()
{
    if (m_transaction == TTransaction::Writing)
        m_writesAhead = true;
}

bool TPostgresStore::executeLater(const QByteArray& sql, const TSqlParams& params)
{
    if (!m_writesAhead || accessDepth() == 0)
        return false;
    m_pipe.enqueue(TPgStatement::writeAhead(sql, params));
    return true;
}

void TPostgresStore::witness(const TStoreKey& key)
{
    if (m_transaction == TTransaction::Writing)
        m_witnesses.emplace_back(std::size_t(accessDepth()), key);
}

void TPostgresStore::control(TControl what, std::size_t level)
{
    const QByteArray savepoint = "quor_" + QByteArray::number(qulonglong(level));
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
        std::erase_if(m_witnesses, [level](const auto& w) { return w.first > level; });
        m_pipe.enqueue(
            TPgStatement::savepoint(TPgKind::RollbackTo, "ROLLBACK TO SAVEPOINT " + savepoint));
        return;
    case TControl::Commit:
    case TControl::Rollback:
        break;
    }
    forgetPrefetched();
    m_writable.reset();
    const TTransaction ended = std::exchange(m_transaction, TTransaction::None);
    m_writesAhead = false;
    // A transaction that never reached the server has nothing to end there,
    // unless writes wait to go with its commit.
    const bool unsent = m_pipe.waits(TPgKind::Begin);
    const bool writesWait = m_pipe.waits(TPgKind::WriteAhead);
    if (what == TControl::Rollback || m_refusedAhead || (unsent && !writesWait)) {
        m_pipe.drop([](const TPgStatement&) { return true; });
        if (!unsent && m_conn)
            runToEnd("ROLLBACK", {}, TStoreStep::Write, nullptr);
        if (what == TControl::Commit && m_refusedAhead)
            fail(TStoreFailure::Other, TStoreStep::Commit,
                 QStringLiteral("eine vorausgesandte Änderung wurde abgelehnt"));
        return;
    }
    // Reads put off are of no use any more.
    m_pipe.drop([](const TPgStatement& s) { return s.kind == TPgKind::ReadAhead; });
    if (ended == TTransaction::Reading) {
        // A reader's commit is sent, not waited for: it ends the snapshot on
        // the server at once, and what it answers costs nothing.
        m_pipe.enqueue(TPgStatement::readerCommit());
        m_pipe.sendOnly();
        return;
    }
    commitWriter();
}

void TPostgresStore::commitWriter()
{
    if (!m_ownTimeout)
        m_pipe.enqueue(TPgStatement::setting(kCommitUnbounded));
    const TPgStatement commit = TPgStatement::commit();
    try {
        exchange(&commit);
        m_pipe.finish(nullptr);
    } catch (const EQuorStoreError& e) {
        m_refusedAhead = false;
        if (m_commitUnknown) {
            learnCommitOutcome(e);
            m_witnesses.clear();
            return;
        }
        // Refused before the commit ran: the server holds the aborted
        // transaction until it is rolled back.
        if (m_conn)
            runToEnd("ROLLBACK", {}, TStoreStep::Write, nullptr);
        throw;
    }
    m_witnesses.clear();
    if (m_pipe.commitRolledBack())
        fail(TStoreFailure::TransactionLost, TStoreStep::Commit, {});
}

void TPostgresStore::learnCommitOutcome(const EQuorStoreError& cause)
{
    const int pid = m_backendPid;
    const auto witnesses = std::exchange(m_witnesses, {});
    m_commitUnknown = false;
    const QString check =
        QStringLiteral(" Prüfen mit „quorstore history“, sobald der Datenbankserver wieder "
                       "erreichbar ist. Ursache: %1")
            .arg(cause.Message());
    auto unknown = [&] {
        return EQuorStoreError(
            TStoreFailure::OutcomeUnknown,
            QStringLiteral("Ob die Buchung gespeichert wurde, ist nicht bekannt: Die Antwort des "
                           "Datenbankservers „%1“ auf ihren Abschluss ist ausgeblieben.")
                    .arg(m_displayName) +
                check,
            m_displayName);
    };
    try {
        connect();
        // The old session may still be at its commit, or waiting for a
        // synchronous standby's confirmation; one that never got its commit
        // is ended, and its transaction with it.
        const TSqlParams session{sqlText(QString::number(pid)),
                                 {PQparameterStatus(m_conn, "application_name")}};
        // Behind a pooler whose session the posting never learned, nobody
        // can say whether the commit still waits.
        bool gone = false;
        for (int i = 0; pid != 0 && i < kLearnTries && !gone; ++i) {
            const auto rows = query(kSessionState, session);
            if (!rows->next()) {
                gone = true;
                break;
            }
            const QByteArray state = rows->column(0).toByteArray();
            const QByteArray wait = rows->column(1).toByteArray();
            while (rows->next()) {
            }
            if (wait == "SyncRep")
                throw EQuorStoreError(
                    TStoreFailure::AwaitingStandby,
                    QStringLiteral("Die Buchung ist auf dem Datenbankserver „%1“ gespeichert, "
                                   "aber sein Standby-Server hat sie noch nicht bestätigt. Sie "
                                   "gilt, sobald er sie bestätigt; bis dahin nimmt der Server "
                                   "keine weitere Buchung an.")
                        .arg(m_displayName),
                    m_displayName);
            // Idle, its transaction has ended one way or the other.
            if (state == "idle") {
                gone = true;
                break;
            }
            if (state.startsWith("idle in transaction"))
                scalar("SELECT pg_terminate_backend(" + QByteArray::number(pid) + ")::text");
            else
                QThread::msleep(kLearnPauseMs);
        }
        if (witnesses.empty())
            throw unknown();
        TSqlParams key;
        for (const QString& field : witnesses.back().second)
            key << sqlText(field);
        const auto rows = query(kWitnessSql, key);
        const bool kept = rows->next();
        while (rows->next()) {
        }
        if (kept)
            return;
        // Not there yet while its session may still be at the commit.
        if (!gone)
            throw unknown();
        fail(TStoreFailure::TransactionLost, TStoreStep::Commit, {});
    } catch (const EQuorStoreError& e) {
        if (e.Kind() == TStoreFailure::AwaitingStandby ||
            e.Kind() == TStoreFailure::OutcomeUnknown || e.Kind() == TStoreFailure::TransactionLost)
            throw;
        throw unknown();
    }
}

bool TPostgresStore::transactionOpen() const
{
    // A lost connection takes its transaction with it. A failed statement
    // leaves the transaction open but aborted, until its savepoint is rolled
    // back. What the server sent meanwhile, its notice that it ended the
    // session included, is read without waiting: statements put off must not
    // go to a session that is gone.
    if (m_transaction == TTransaction::None || !m_conn)
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
    if (accessDepth() > 0 && m_transaction == TTransaction::Writing) {
        if (!m_writable)
            catchUp();
        if (m_writable)
            return *m_writable;
    }
    return scalar(kCanWrite) == "true";
}
