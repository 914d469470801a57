#include "pgstore.h"

#include "quorexception.h"

#include <QLibrary>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <libpq-fe.h>
#include <type_traits>

namespace
{

constexpr int kConnectTimeoutSeconds = 5;
constexpr int kFirstBatch = 256;
constexpr int kLargestBatch = 16384;

// Reads a scan in batches of growing size, each batch one ordered query that
// continues after the last key read: a few round trips for thousands of rows,
// and nothing left open on the server between them. A section (the same
// language, program and mask) is read for the last two key fields only, the
// three that repeat on every row are not sent; where the client library
// serves, it is streamed as one query per up to 16,384 rows, row by row as the
// server sends them. A statement run in between ends a stream (its rest is
// read and dropped); the scan then goes on in batches.
class TPostgresCursor final : public TStoreCursor
{
public:
    TPostgresCursor(TPostgresStore& store, const TSearchKey& from) : m_store(store), m_from(from)
    {
        // A search from a section's start (language, program and mask set, the
        // name not) reads that section first.
        if (from[0] && from[1] && from[2] && !from[3]) {
            m_inSection = true;
            m_fromSectionStart = true;
            m_last = {*from[0], *from[1], *from[2], QString(), QString()};
        }
    }
    ~TPostgresCursor() override
    {
        if (m_store.streaming(this))
            m_store.finishStream();
    }

    bool next(TStoreRow& row) override
    {
        for (;;) {
            if (m_streamed) {
                if (!m_store.streaming(this)) {
                    m_streamed = false;
                    m_noStream = true;
                    continue;
                }
                if (std::optional<TStoreRow> streamed = m_store.streamNext(m_last)) {
                    m_fromSectionStart = false;
                    m_last = streamed->key;
                    row = std::move(*streamed);
                    ++m_streamCount;
                    return true;
                }
                m_streamed = false;
                if (m_store.streamCut()) {
                    m_noStream = true;
                    continue;
                }
                // A stream that ended at its limit goes on with the next one.
                if (m_streamCount < kLargestBatch)
                    afterSection();
                continue;
            }
            if (m_pos < m_rows.size()) {
                row = std::move(m_rows[m_pos++]);
                return true;
            }
            if (m_done)
                return false;
            fetch();
        }
    }

private:
    void fetch()
    {
        if (m_inSection && !m_noStream &&
            m_store.streamSection(m_last, !m_fromSectionStart, kLargestBatch, this)) {
            m_streamed = true;
            m_streamCount = 0;
            m_rows.clear();
            m_pos = 0;
            return;
        }
        if (m_inSection)
            m_rows = m_store.fetchSection(m_last, !m_fromSectionStart, m_batch);
        else
            m_rows = m_store.fetchBatch(m_from, m_exclusive, m_batch);
        m_pos = 0;
        m_fromSectionStart = false;
        const bool full = m_rows.size() == m_batch;
        m_batch = std::min(m_batch * 8, kLargestBatch);
        if (!m_rows.isEmpty())
            m_last = m_rows.last().key;
        if (full) {
            // More may follow, most likely in the same section.
            m_inSection = true;
            return;
        }
        if (!m_inSection) {
            m_done = true;
            return;
        }
        afterSection();
    }

    // The section is read to its end: go on with the sections after it.
    void afterSection()
    {
        m_inSection = false;
        m_from = {m_last[0], m_last[1], m_last[2], std::nullopt, std::nullopt};
        m_exclusive = true;
    }

    TPostgresStore& m_store;
    TSearchKey m_from;
    bool m_exclusive = false;
    bool m_inSection = false;
    bool m_fromSectionStart = false;
    bool m_streamed = false;
    bool m_noStream = false;
    int m_streamCount = 0;
    bool m_done = false;
    TStoreKey m_last;
    int m_batch = kFirstBatch;
    QList<TStoreRow> m_rows;
    qsizetype m_pos = 0;
};

// The client library's functions, resolved from the copy that Qt's driver has
// loaded: batches are read straight from the driver's results, and a section
// is streamed row by row over the driver's connection, where Qt's driver would
// make a value object per column and wait for a prepared statement's whole
// result. Linking the library instead would load it, and the TLS and Kerberos
// libraries it needs, into every start-up, those on SQLite included.
class TPq
{
public:
    static const TPq& instance()
    {
        static const TPq pq;
        return pq;
    }

    // The driver's result of an executed query, or nullptr.
    const PGresult* result(const QSqlQuery& query) const
    {
        if (!m_canRead || !query.result())
            return nullptr;
        return handle<PGresult>(query.result()->handle(), "pg_result*", "PGresult*");
    }
    // The driver's connection, or nullptr.
    PGconn* connection(const QSqlDatabase& db) const
    {
        if (!m_canStream || !db.driver())
            return nullptr;
        return handle<PGconn>(db.driver()->handle(), "pg_conn*", "PGconn*");
    }
    QByteArrayView value(const PGresult* result, int row, int column) const
    {
        return {getvalue(result, row, column), getlength(result, row, column)};
    }

    decltype(&PQntuples) ntuples = nullptr;
    decltype(&PQgetvalue) getvalue = nullptr;
    decltype(&PQgetlength) getlength = nullptr;
    decltype(&PQsendQueryParams) sendQueryParams = nullptr;
    decltype(&PQsetSingleRowMode) setSingleRowMode = nullptr;
    decltype(&PQgetResult) getResult = nullptr;
    decltype(&PQresultStatus) resultStatus = nullptr;
    decltype(&PQclear) clear = nullptr;
    decltype(&PQresultErrorMessage) resultErrorMessage = nullptr;
    decltype(&PQresultErrorField) resultErrorField = nullptr;
    decltype(&PQerrorMessage) errorMessage = nullptr;

private:
    TPq()
    {
        QLibrary library(QStringLiteral("pq"), 5);
        if (!library.load())
            return;
        const auto resolve = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                library.resolve(name));
            return function != nullptr;
        };
        m_canRead = resolve(ntuples, "PQntuples") && resolve(getvalue, "PQgetvalue") &&
                    resolve(getlength, "PQgetlength");
        m_canStream = m_canRead && resolve(sendQueryParams, "PQsendQueryParams") &&
                      resolve(setSingleRowMode, "PQsetSingleRowMode") &&
                      resolve(getResult, "PQgetResult") &&
                      resolve(resultStatus, "PQresultStatus") && resolve(clear, "PQclear") &&
                      resolve(resultErrorMessage, "PQresultErrorMessage") &&
                      resolve(resultErrorField, "PQresultErrorField") &&
                      resolve(errorMessage, "PQerrorMessage");
    }

    // The driver names the types after the client library's structs.
    template <typename T> static T* handle(const QVariant& value, const char* a, const char* b)
    {
        if (!value.isValid() ||
            (qstrcmp(value.typeName(), a) != 0 && qstrcmp(value.typeName(), b) != 0))
            return nullptr;
        return *static_cast<T* const*>(value.constData());
    }

    bool m_canRead = false;
    bool m_canStream = false;
};

// Reads the key fields from `first` on of a batch query's rows; the fields
// before `first` are the section's. Values are read from the driver's result
// where the client library serves, and fields that repeat from row to row are
// decoded once and shared.
QList<TStoreRow> readRows(QSqlQuery& query, int first, const TStoreKey& section)
{
    QList<TStoreRow> rows;
    const TPq& pq = TPq::instance();
    const PGresult* result = pq.result(query);
    if (!result) {
        while (query.next()) {
            TStoreRow row{section, QString(), false};
            for (int c = first; c < kKeyFieldCount; ++c)
                row.key[c] = query.value(c - first).toString();
            rows.append(std::move(row));
        }
        return rows;
    }
    const int count = pq.ntuples(result);
    rows.reserve(count);
    std::array<QByteArrayView, kKeyFieldCount> previous;
    for (int r = 0; r < count; ++r) {
        TStoreRow row{section, QString(), false};
        for (int c = first; c < kKeyFieldCount; ++c) {
            const QByteArrayView raw = pq.value(result, r, c - first);
            if (r > 0 && raw == previous[c])
                row.key[c] = rows.last().key[c];
            else
                row.key[c] = QString::fromUtf8(raw);
            previous[c] = raw;
        }
        rows.append(std::move(row));
    }
    return rows;
}

} // namespace

void configurePostgres(QSqlDatabase& db, const QString& uri)
{
    const QUrl url(uri);
    if (!url.host().isEmpty())
        db.setHostName(url.host());
    if (url.port() > 0)
        db.setPort(url.port());
    if (!url.userName().isEmpty())
        db.setUserName(url.userName());
    if (!url.password().isEmpty())
        db.setPassword(url.password());
    db.setDatabaseName(url.path().mid(1));
    QStringList options{QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds),
                        QStringLiteral("application_name=quor")};
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto& [name, value] : items) {
        QString quoted = value;
        quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        quoted.replace(QLatin1Char('\''), QLatin1String("\\'"));
        options << name + QLatin1String("='") + quoted + QLatin1Char('\'');
    }
    db.setConnectOptions(options.join(QLatin1Char(';')));
}

QString postgresDisplayName(const QString& uri)
{
    QUrl url(uri);
    url.setPassword(QString());
    QUrlQuery query(url);
    query.removeAllQueryItems(QStringLiteral("password"));
    url.setQuery(query);
    return url.toString();
}

TPostgresStore::TPostgresStore(const QString& uri)
    : TSqlStore(postgresDisplayName(uri), QStringLiteral("quor-psql"))
{
    const QUrl url(uri);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres")))
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“: keine gültige PostgreSQL-Adresse.")
                .arg(displayName()),
            displayName());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
    if (!db.isValid()) {
        db = QSqlDatabase();
        closeConnection();
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“: Der PostgreSQL-Treiber von Qt ist nicht "
                           "installiert (Paket libqt6sql6-psql).")
                .arg(displayName()),
            displayName());
    }
    configurePostgres(db, uri);
    db = QSqlDatabase();
    try {
        connect();
        ensureSchema();
    } catch (...) {
        closeConnection();
        throw;
    }
}

TPostgresStore::~TPostgresStore()
{
    finishStream();
    if (accessDepth() > 0)
        rollbackTransaction();
}

void TPostgresStore::connect()
{
    forgetStatements();
    QSqlDatabase db = database();
    if (db.isOpen())
        db.close();
    if (!db.open())
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: %2(%3)")
                .arg(displayName(), hint(db.lastError()), db.lastError().text().trimmed()),
            displayName());
}

QString TPostgresStore::hint(const QSqlError& error) const
{
    const QString text = error.text();
    const QString state = error.nativeErrorCode();
    if (text.contains(QLatin1String("password authentication failed")) ||
        text.contains(QLatin1String("no password supplied")) || state == QLatin1String("28P01"))
        return QStringLiteral("Anmeldung abgelehnt: Benutzer oder Kennwort falsch. ");
    if ((text.contains(QLatin1String("database")) &&
         text.contains(QLatin1String("does not exist"))) ||
        state == QLatin1String("3D000"))
        return QStringLiteral("Die Datenbank existiert nicht. ");
    if (text.contains(QLatin1String("Connection refused")) ||
        text.contains(QLatin1String("could not connect")) ||
        text.contains(QLatin1String("timeout expired")) ||
        text.contains(QLatin1String("No such file or directory")) ||
        text.contains(QLatin1String("could not translate host name")))
        return QStringLiteral("Der Datenbankserver ist nicht erreichbar. ");
    if (text.contains(QLatin1String("server closed the connection")) ||
        text.contains(QLatin1String("no connection to the server")) ||
        text.contains(QLatin1String("terminating connection")) ||
        state.startsWith(QLatin1String("08")) || state == QLatin1String("57P01"))
        return QStringLiteral("Die Verbindung zum Datenbankserver ist abgebrochen. ");
    if (state == QLatin1String("25006"))
        return QStringLiteral("Die Datenbank nimmt keine Änderungen an. ");
    if (state == QLatin1String("53100"))
        return QStringLiteral("Der Datenträger des Servers ist voll. ");
    if (state == QLatin1String("40P01") || state == QLatin1String("55P03"))
        return QStringLiteral("Die Daten sind von einer anderen Arbeitsstation gesperrt. ");
    return {};
}

void TPostgresStore::ensureSchema()
{
    QSqlQuery probe = prepared(QStringLiteral("SELECT to_regclass('einstellungen') IS NOT NULL"));
    exec(probe, QStringLiteral("Die Datenbank kann nicht gelesen werden"));
    const bool present = probe.next() && probe.value(0).toBool();
    probe.finish();
    if (present)
        return;
    QSqlQuery create(database());
    const bool created = create.exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS einstellungen ("
        " sprache TEXT COLLATE \"C\" NOT NULL, programm TEXT COLLATE \"C\" NOT NULL,"
        " maske TEXT COLLATE \"C\" NOT NULL, bezeichnung TEXT COLLATE \"C\" NOT NULL,"
        " idx TEXT COLLATE \"C\" NOT NULL,"
        " kurzbeschreibung TEXT NOT NULL DEFAULT '', daten BYTEA NOT NULL DEFAULT ''::bytea,"
        " PRIMARY KEY (sprache, programm, maske, bezeichnung, idx))"));
    if (created)
        return;
    // Two workstations creating the table at the same moment: one of them wins.
    const QSqlError error = create.lastError();
    QSqlQuery again = prepared(QStringLiteral("SELECT to_regclass('einstellungen') IS NOT NULL"));
    exec(again, QStringLiteral("Die Datenbank kann nicht gelesen werden"));
    if (!(again.next() && again.value(0).toBool()))
        fail(QStringLiteral("Die Einstellungstabelle kann nicht angelegt werden"), error);
}

void TPostgresStore::beginTransaction()
{
    finishStream();
    QSqlQuery begin(database());
    if (begin.exec(QStringLiteral("BEGIN")))
        return;
    // The connection may have been lost since the last step: connect anew once.
    const QSqlError first = begin.lastError();
    begin.finish();
    try {
        connect();
    } catch (const EQuorStoreError&) {
        fail(QStringLiteral("Zugriff kann nicht begonnen werden"), first);
    }
    execSql(QStringLiteral("BEGIN"), QStringLiteral("Zugriff kann nicht begonnen werden"));
}

QList<TStoreRow> TPostgresStore::fetchBatch(const TSearchKey& from, bool exclusive, int limit)
{
    const int prefix = searchPrefix(from);
    // The key columns alone; a short description is read when asked for.
    QSqlQuery& query = cached(scanSql(prefix, exclusive, limit));
    for (int i = 0; i < prefix; ++i)
        query.addBindValue(sqlText(*from[i]));
    return readBatch(query, 0, {});
}

QList<TStoreRow> TPostgresStore::fetchSection(const TStoreKey& key, bool after, int limit)
{
    QSqlQuery& query = cached(groupSql(after, limit));
    for (int i = 0; i < (after ? kKeyFieldCount : 3); ++i)
        query.addBindValue(sqlText(key[i]));
    return readBatch(query, 3, key);
}

QList<TStoreRow> TPostgresStore::readBatch(QSqlQuery& query, int first, const TStoreKey& section)
{
    // The whole batch in one result: the driver would not stream a prepared
    // statement anyway, and one result is read without a value object per row.
    query.setForwardOnly(false);
    exec(query, QStringLiteral("Lesen der Datensätze fehlgeschlagen"));
    QList<TStoreRow> rows = readRows(query, first, section);
    if (query.lastError().isValid())
        fail(QStringLiteral("Lesen der Datensätze fehlgeschlagen"), query.lastError());
    query.finish();
    return rows;
}

bool TPostgresStore::streamSection(const TStoreKey& key, bool after, int limit, const void* owner)
{
    finishStream();
    const TPq& pq = TPq::instance();
    PGconn* connection = pq.connection(database());
    if (!connection)
        return false;
    QList<QByteArray> values;
    for (int i = 0; i < (after ? kKeyFieldCount : 3); ++i)
        values << sqlText(key[i]).toString().toUtf8();
    const char* data[kKeyFieldCount];
    int lengths[kKeyFieldCount];
    for (qsizetype i = 0; i < values.size(); ++i) {
        data[i] = values.at(i).constData();
        lengths[i] = int(values.at(i).size());
    }
    const QByteArray sql = groupSql(after, limit, true).toUtf8();
    // What the driver left unread of its last statement would refuse a new one.
    while (PGresult* left = pq.getResult(connection))
        pq.clear(left);
    if (!pq.sendQueryParams(connection, sql.constData(), int(values.size()), nullptr, data, lengths,
                            nullptr, 0))
        fail(QStringLiteral("Lesen der Datensätze fehlgeschlagen"),
             QSqlError(QString(), QString::fromUtf8(pq.errorMessage(connection)).trimmed(),
                       QSqlError::ConnectionError));
    // Without row-by-row mode the rows come in one result, which serves as well.
    pq.setSingleRowMode(connection);
    m_streamConnection = connection;
    m_streamOwner = owner;
    m_streamRow = 0;
    m_streamComplete = false;
    m_streamCut = false;
    return true;
}

std::optional<TStoreRow> TPostgresStore::streamNext(const TStoreKey& section)
{
    const TPq& pq = TPq::instance();
    for (;;) {
        if (m_streamResult && m_streamRow < pq.ntuples(m_streamResult)) {
            TStoreRow row{
                {section[0], section[1], section[2], QString(), QString()}, QString(), false};
            row.key[3] = QString::fromUtf8(pq.value(m_streamResult, m_streamRow, 0));
            // The index is the same on nearly every row: decoded once.
            const QByteArrayView index = pq.value(m_streamResult, m_streamRow, 1);
            if (index != m_streamIndexBytes) {
                m_streamIndexBytes = index.toByteArray();
                m_streamIndex = QString::fromUtf8(index);
            }
            row.key[4] = m_streamIndex;
            ++m_streamRow;
            return row;
        }
        if (m_streamResult) {
            pq.clear(m_streamResult);
            m_streamResult = nullptr;
        }
        if (!m_streamOwner)
            return std::nullopt;
        PGresult* result = pq.getResult(m_streamConnection);
        if (!result) {
            // A stream ends with a result that says so; without it, something
            // else read the rest away, and the stream is cut short, not done.
            if (!m_streamComplete)
                m_streamCut = true;
            m_streamOwner = nullptr;
            m_streamConnection = nullptr;
            return std::nullopt;
        }
        const ExecStatusType status = pq.resultStatus(result);
        if (status == PGRES_TUPLES_OK)
            m_streamComplete = true;
        if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
            m_streamResult = result;
            m_streamRow = 0;
            continue;
        }
        const QSqlError error(QString(), QString::fromUtf8(pq.resultErrorMessage(result)).trimmed(),
                              QSqlError::StatementError,
                              QString::fromLatin1(pq.resultErrorField(result, PG_DIAG_SQLSTATE)));
        pq.clear(result);
        finishStream();
        fail(QStringLiteral("Lesen der Datensätze fehlgeschlagen"), error);
    }
}

void TPostgresStore::finishStream() noexcept
{
    const TPq& pq = TPq::instance();
    if (m_streamResult) {
        pq.clear(m_streamResult);
        m_streamResult = nullptr;
    }
    if (!m_streamOwner)
        return;
    // The rest of the stream is read and dropped: the connection takes no
    // other statement before.
    while (PGresult* result = pq.getResult(m_streamConnection))
        pq.clear(result);
    m_streamOwner = nullptr;
    m_streamConnection = nullptr;
}

std::unique_ptr<TStoreCursor> TPostgresStore::scanFrom(const TSearchKey& key)
{
    return std::make_unique<TPostgresCursor>(*this, key);
}

bool TPostgresStore::canWrite()
{
    QSqlQuery query =
        prepared(QStringLiteral("SELECT current_setting('transaction_read_only') = 'off' AND "
                                "has_table_privilege('einstellungen', 'INSERT, UPDATE')"));
    exec(query, QStringLiteral("Schreibrecht kann nicht geprüft werden"));
    return query.next() && query.value(0).toBool();
}
