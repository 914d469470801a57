#include "pgstore.h"

#include "quorexception.h"

#include <QLibrary>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlResult>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

namespace
{

constexpr int kConnectTimeoutSeconds = 5;
constexpr int kFirstBatch = 256;
constexpr int kLargestBatch = 16384;

// Reads a scan in batches of growing size, each batch one ordered query that
// continues after the last key read: a few round trips for thousands of rows,
// and nothing left open on the server between them. Within a section (the
// same language, program and mask) a batch asks for the last two key fields
// only: the server need not send the three that repeat on every row.
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

    bool next(TStoreRow& row) override
    {
        while (m_pos == m_rows.size()) {
            if (m_done)
                return false;
            fetch();
        }
        row = std::move(m_rows[m_pos++]);
        return true;
    }

private:
    void fetch()
    {
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
        // The section is read to its end: go on with the sections after it.
        m_inSection = false;
        m_from = {m_last[0], m_last[1], m_last[2], std::nullopt, std::nullopt};
        m_exclusive = true;
    }

    TPostgresStore& m_store;
    TSearchKey m_from;
    bool m_exclusive = false;
    bool m_inSection = false;
    bool m_fromSectionStart = false;
    bool m_done = false;
    TStoreKey m_last;
    int m_batch = kFirstBatch;
    QList<TStoreRow> m_rows;
    qsizetype m_pos = 0;
};

// Row access of the client library, resolved from the copy that Qt's driver has
// loaded: a batch is read straight from the driver's result, where going
// through one QVariant per column costs several times the query itself.
// Linking the library instead would load it, and the TLS and Kerberos
// libraries it needs, into every start-up, those on SQLite included.
class TPqRows
{
public:
    static const TPqRows& instance()
    {
        static const TPqRows rows;
        return rows;
    }

    // The driver's result of an executed query, or nullptr when it has none
    // of the client library's kind.
    const void* result(const QSqlQuery& query) const
    {
        if (!m_getvalue || !query.result())
            return nullptr;
        const QVariant handle = query.result()->handle();
        if (!handle.isValid() || !isResultType(handle.typeName()))
            return nullptr;
        return *static_cast<const void* const*>(handle.constData());
    }
    int count(const void* result) const { return m_ntuples(result); }
    // The driver names the type after the client library's struct.
    static bool isResultType(const char* name)
    {
        return qstrcmp(name, "pg_result*") == 0 || qstrcmp(name, "PGresult*") == 0;
    }
    QByteArrayView value(const void* result, int row, int column) const
    {
        return {m_getvalue(result, row, column), m_getlength(result, row, column)};
    }

private:
    TPqRows()
    {
        QLibrary library(QStringLiteral("pq"), 5);
        if (!library.load())
            return;
        m_ntuples = reinterpret_cast<Ntuples>(library.resolve("PQntuples"));
        m_getlength = reinterpret_cast<Getlength>(library.resolve("PQgetlength"));
        auto getvalue = reinterpret_cast<Getvalue>(library.resolve("PQgetvalue"));
        if (m_ntuples && m_getlength)
            m_getvalue = getvalue;
    }

    using Ntuples = int (*)(const void*);
    using Getvalue = const char* (*)(const void*, int, int);
    using Getlength = int (*)(const void*, int, int);
    Ntuples m_ntuples = nullptr;
    Getvalue m_getvalue = nullptr;
    Getlength m_getlength = nullptr;
};

// Reads the key fields from `first` on of a batch query's rows; the fields
// before `first` are the section's. Values are read from the driver's result
// where the client library serves, and fields that repeat from row to row are
// decoded once and shared.
QList<TStoreRow> readRows(QSqlQuery& query, int first, const TStoreKey& section, int limit)
{
    QList<TStoreRow> rows;
    rows.reserve(limit);
    const TPqRows& pq = TPqRows::instance();
    const void* result = pq.result(query);
    if (!result) {
        while (query.next()) {
            TStoreRow row{section, QString(), false};
            for (int c = first; c < kKeyFieldCount; ++c)
                row.key[c] = query.value(c - first).toString();
            rows.append(std::move(row));
        }
        return rows;
    }
    const int count = pq.count(result);
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
    int prefix = 0;
    while (prefix < kKeyFieldCount && from[prefix].has_value())
        ++prefix;
    // The key columns alone; a short description is read when asked for.
    QSqlQuery& query =
        cached(scanSql(keyColumns().join(QLatin1String(", ")), prefix, exclusive, limit));
    for (int i = 0; i < prefix; ++i)
        query.addBindValue(sqlText(*from[i]));
    return readBatch(query, 0, {}, limit);
}

QList<TStoreRow> TPostgresStore::fetchSection(const TStoreKey& key, bool after, int limit)
{
    QSqlQuery& query =
        cached(QStringLiteral("SELECT bezeichnung, idx FROM einstellungen WHERE sprache = ? AND "
                              "programm = ? AND maske = ?%1 ORDER BY %2 LIMIT %3")
                   .arg(after ? QStringLiteral(" AND (bezeichnung, idx) > (?, ?)") : QString(),
                        keyColumns().join(QLatin1String(", ")))
                   .arg(limit));
    for (int i = 0; i < (after ? kKeyFieldCount : 3); ++i)
        query.addBindValue(sqlText(key[i]));
    return readBatch(query, 3, key, limit);
}

QList<TStoreRow> TPostgresStore::readBatch(QSqlQuery& query, int first, const TStoreKey& section,
                                           int limit)
{
    // The whole batch in one result: the driver would not stream a prepared
    // statement anyway, and one result is read without a value object per row.
    query.setForwardOnly(false);
    exec(query, QStringLiteral("Lesen der Datensätze fehlgeschlagen"));
    QList<TStoreRow> rows = readRows(query, first, section, limit);
    if (query.lastError().isValid())
        fail(QStringLiteral("Lesen der Datensätze fehlgeschlagen"), query.lastError());
    query.finish();
    return rows;
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
