#include "sqlitestore.h"

#include "quorexception.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <atomic>

namespace {

const QString kColumns = QStringLiteral("sprache, programm, maske, bezeichnung, idx");
const QString kKeyWhere =
    QStringLiteral("sprache = ? AND programm = ? AND maske = ? AND bezeichnung = ? AND idx = ?");
constexpr int kBusyTimeoutMs = 5000;

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("quor-sqlite-%1").arg(++counter);
}

QString sqliteHint(int code)
{
    switch (code & 0xFF) {
    case 5:
    case 6:
        return QStringLiteral("Die Datenbank ist von einem anderen Programm gesperrt. ");
    case 8:
        return QStringLiteral("Die Datenbank ist schreibgeschützt. ");
    case 10:
        return QStringLiteral("Lese- oder Schreibfehler auf dem Datenträger. ");
    case 11:
        return QStringLiteral("Die Datenbankdatei ist beschädigt. ");
    case 13:
        return QStringLiteral("Der Datenträger ist voll. ");
    case 14:
        return QStringLiteral("Die Datei kann nicht geöffnet werden. ");
    case 26:
        return QStringLiteral("Die Datei ist keine Einstellungsdatenbank. ");
    default:
        return {};
    }
}

// A null text would be bound as SQL NULL; the store keeps empty texts instead.
QVariant text(const QString& value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

QVariant bytes(const QByteArray& value)
{
    return value.isNull() ? QVariant(QByteArray("")) : QVariant(value);
}

void bindKey(QSqlQuery& query, const TStoreKey& key)
{
    for (const QString& field : key)
        query.addBindValue(text(field));
}

TStoreKey keyOf(const QSqlQuery& query)
{
    TStoreKey key;
    for (int i = 0; i < kKeyFieldCount; ++i)
        key[i] = query.value(i).toString();
    return key;
}

class TSqliteCursor final : public TStoreCursor {
public:
    TSqliteCursor(const TSqliteStore& store, QSqlQuery query)
        : m_store(store), m_query(std::move(query))
    {
    }

    bool next(TStoreRow& row) override
    {
        if (!m_query.next()) {
            if (m_query.lastError().isValid())
                m_store.fail(QStringLiteral("Lesen der Datensätze fehlgeschlagen"),
                             m_query.lastError());
            return false;
        }
        row.key = keyOf(m_query);
        row.kurzbeschreibung = m_query.value(5).toString();
        return true;
    }

private:
    const TSqliteStore& m_store;
    QSqlQuery m_query;
};

} // namespace

TSqliteStore::TSqliteStore(const QString& location) : m_connection(nextConnectionName())
{
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    QString databaseName = location;
    if (location.startsWith(QLatin1String("file:"))) {
        const QUrl url(location);
        m_file = url.path();
        m_readOnly = QUrlQuery(url).queryItemValue(QStringLiteral("mode")) == QLatin1String("ro");
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    } else {
        m_file = location;
    }
    const QFileInfo info(m_file);
    if (!info.absoluteDir().exists())
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: Der Ordner "
                           "„%2“ existiert nicht.")
                .arg(m_file, info.absolutePath()),
            m_file);
    if (info.exists() && !info.isWritable())
        m_readOnly = true;
    if (m_readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(databaseName);
    db.setConnectOptions(options);
    if (!db.open()) {
        const QSqlError error = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: %2%3")
                .arg(m_file, sqliteHint(error.nativeErrorCode().toInt()), error.databaseText()),
            m_file);
    }
    try {
        ensureSchema();
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        throw;
    }
}

TSqliteStore::~TSqliteStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen()) {
            if (accessDepth() > 0)
                rollbackTransaction();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(m_connection);
}

void TSqliteStore::fail(const QString& what, const QSqlError& error) const
{
    throw EQuorStoreError(QStringLiteral("Einstellungsdatenbank „%1“: %2. %3(%4)")
                              .arg(m_file, what, sqliteHint(error.nativeErrorCode().toInt()),
                                   error.databaseText()),
                          m_file);
}

QSqlQuery TSqliteStore::prepared(const QString& sql)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QStringLiteral("Abfrage kann nicht vorbereitet werden"), query.lastError());
    return query;
}

void TSqliteStore::exec(QSqlQuery& query, const QString& what)
{
    if (!query.exec())
        fail(what, query.lastError());
}

void TSqliteStore::ensureSchema()
{
    QSqlQuery probe = prepared(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'einstellungen'"));
    exec(probe, QStringLiteral("Die Datenbank kann nicht gelesen werden"));
    const bool present = probe.next() && probe.value(0).toInt() > 0;
    probe.finish();
    QSqlQuery pragma = prepared(QStringLiteral("PRAGMA secure_delete = OFF"));
    exec(pragma, QStringLiteral("Einstellung der Verbindung fehlgeschlagen"));
    pragma.finish();
    if (present)
        return;
    if (m_readOnly)
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ ist schreibgeschützt und enthält keine "
                           "Einstellungstabelle.")
                .arg(m_file),
            m_file);
    QSqlQuery create = prepared(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS einstellungen ("
        " sprache TEXT NOT NULL, programm TEXT NOT NULL, maske TEXT NOT NULL,"
        " bezeichnung TEXT NOT NULL, idx TEXT NOT NULL,"
        " kurzbeschreibung TEXT NOT NULL DEFAULT '', daten BLOB NOT NULL DEFAULT x'',"
        " PRIMARY KEY (sprache, programm, maske, bezeichnung, idx))"));
    exec(create, QStringLiteral("Die Einstellungstabelle kann nicht angelegt werden"));
}

void TSqliteStore::beginTransaction()
{
    QSqlQuery query = prepared(QStringLiteral("BEGIN"));
    exec(query, QStringLiteral("Zugriff kann nicht begonnen werden"));
}

void TSqliteStore::commitTransaction()
{
    QSqlQuery query = prepared(QStringLiteral("COMMIT"));
    exec(query, QStringLiteral("Änderungen können nicht gespeichert werden"));
}

void TSqliteStore::rollbackTransaction() noexcept
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.exec(QStringLiteral("ROLLBACK"));
}

std::optional<TStoreRow> TSqliteStore::find(const TStoreKey& key)
{
    QSqlQuery query = prepared(QStringLiteral("SELECT %1, kurzbeschreibung FROM einstellungen "
                                              "WHERE %2")
                                   .arg(kColumns, kKeyWhere));
    bindKey(query, key);
    exec(query, QStringLiteral("Suche nach Datensatz fehlgeschlagen"));
    if (!query.next()) {
        if (query.lastError().isValid())
            fail(QStringLiteral("Suche nach Datensatz fehlgeschlagen"), query.lastError());
        return std::nullopt;
    }
    return TStoreRow{keyOf(query), query.value(5).toString()};
}

std::unique_ptr<TStoreCursor> TSqliteStore::scanFrom(const TSearchKey& key)
{
    static const char* const names[] = {"sprache", "programm", "maske", "bezeichnung", "idx"};
    int prefix = 0;
    while (prefix < kKeyFieldCount && key[prefix].has_value())
        ++prefix;
    QString sql = QStringLiteral("SELECT %1, kurzbeschreibung FROM einstellungen").arg(kColumns);
    if (prefix > 0) {
        QStringList columns, marks;
        for (int i = 0; i < prefix; ++i) {
            columns << QLatin1String(names[i]);
            marks << QStringLiteral("?");
        }
        sql += QStringLiteral(" WHERE (%1) >= (%2)")
                   .arg(columns.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
    }
    sql += QStringLiteral(" ORDER BY %1").arg(kColumns);
    QSqlQuery query = prepared(sql);
    for (int i = 0; i < prefix; ++i)
        query.addBindValue(text(*key[i]));
    exec(query, QStringLiteral("Lesen der Datensätze fehlgeschlagen"));
    return std::make_unique<TSqliteCursor>(*this, std::move(query));
}

QByteArray TSqliteStore::readBlob(const TStoreKey& key)
{
    QSqlQuery query =
        prepared(QStringLiteral("SELECT daten FROM einstellungen WHERE %1").arg(kKeyWhere));
    bindKey(query, key);
    exec(query, QStringLiteral("Lesen der gespeicherten Einstellungen fehlgeschlagen"));
    if (!query.next()) {
        if (query.lastError().isValid())
            fail(QStringLiteral("Lesen der gespeicherten Einstellungen fehlgeschlagen"),
                 query.lastError());
        throw EQuorException(
            QStringLiteral("Datensatz „%1“ ist in der Einstellungsdatenbank „%2“ nicht mehr "
                           "vorhanden.")
                .arg(QStringList(key.begin(), key.end()).join(QLatin1Char('/')), m_file));
    }
    return query.value(0).toByteArray();
}

bool TSqliteStore::canWrite()
{
    if (m_readOnly)
        return false;
    const QFileInfo info(m_file);
    return info.isWritable() && QFileInfo(info.absolutePath()).isWritable();
}

void TSqliteStore::insert(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    QSqlQuery query = prepared(QStringLiteral("INSERT INTO einstellungen (%1, kurzbeschreibung, "
                                              "daten) VALUES (?, ?, ?, ?, ?, ?, ?)")
                                   .arg(kColumns));
    bindKey(query, key);
    query.addBindValue(text(kurz));
    query.addBindValue(bytes(blob));
    exec(query, QStringLiteral("Einfügen des Datensatzes „%1“ fehlgeschlagen")
                    .arg(QStringList(key.begin(), key.end()).join(QLatin1Char('/'))));
}

bool TSqliteStore::update(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    QSqlQuery query = prepared(
        QStringLiteral("UPDATE einstellungen SET kurzbeschreibung = ?, daten = ? WHERE %1")
            .arg(kKeyWhere));
    query.addBindValue(text(kurz));
    query.addBindValue(bytes(blob));
    bindKey(query, key);
    exec(query, QStringLiteral("Ändern des Datensatzes „%1“ fehlgeschlagen")
                    .arg(QStringList(key.begin(), key.end()).join(QLatin1Char('/'))));
    return query.numRowsAffected() > 0;
}
