#include "pgstore.h"

#include "quorexception.h"

#include <QSqlDatabase>
#include <QSqlError>
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
// and nothing left open on the server between them.
class TPostgresCursor final : public TStoreCursor
{
public:
    TPostgresCursor(TPostgresStore& store, const TSearchKey& from) : m_store(store), m_from(from) {}

    bool next(TStoreRow& row) override
    {
        if (m_pos == m_rows.size()) {
            if (m_done)
                return false;
            m_rows = m_store.fetchBatch(m_from, m_exclusive, m_batch);
            m_pos = 0;
            m_done = m_rows.size() < m_batch;
            m_batch = std::min(m_batch * 8, kLargestBatch);
            if (m_rows.isEmpty())
                return false;
            for (int i = 0; i < kKeyFieldCount; ++i)
                m_from[i] = m_rows.last().key[i];
            m_exclusive = true;
        }
        row = m_rows.at(m_pos++);
        return true;
    }

private:
    TPostgresStore& m_store;
    TSearchKey m_from;
    bool m_exclusive = false;
    bool m_done = false;
    int m_batch = kFirstBatch;
    QList<TStoreRow> m_rows;
    qsizetype m_pos = 0;
};

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
    const QString sql = scanSql(keyColumns().join(QLatin1String(", ")), prefix, exclusive, limit);
    QSqlQuery& query = cached(sql);
    for (int i = 0; i < prefix; ++i)
        query.addBindValue(sqlText(*from[i]));
    exec(query, QStringLiteral("Lesen der Datensätze fehlgeschlagen"));
    QList<TStoreRow> rows;
    rows.reserve(limit);
    while (query.next())
        rows.append(TStoreRow{keyOfRow(query), QString(), false});
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
