#include "sqlitestore.h"

#include "quorexception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>

namespace
{

constexpr int kBusyTimeoutMs = 5000;

QString fileOf(const QString& location)
{
    return location.startsWith(QLatin1String("file:")) ? QUrl(location).path() : location;
}

// One ordered query over the connection's own handle, stepped row by row as it
// is read. A key field equal to the same field of the row before keeps that
// row's text instead of making a new one: in a scan over one group only the
// names differ. A scan from a group's start (language, program and mask set)
// first reads that group for its names and indexes alone, then the groups
// after it. The short description is left to be read when asked for.
class TSqliteCursor final : public TStoreCursor
{
public:
    TSqliteCursor(const TSqliteStore& store, const TSearchKey& from) : m_store(store)
    {
        const int prefix = TSqlStore::searchPrefix(from);
        QList<QByteArray> values;
        for (int i = 0; i < prefix; ++i)
            values << sqlText(*from[i]).toString().toUtf8();
        if (prefix != 3) {
            m_statement = m_store.prepareNative(TSqlStore::scanSql(prefix, false, 0), values);
            return;
        }
        m_first = 3;
        for (int i = 0; i < 3; ++i) {
            m_previous[i] = values.at(i).toStdString();
            m_group[i] = QString::fromUtf8(values.at(i));
        }
        m_statement = m_store.prepareNative(TSqlStore::groupSql(false, 0), values);
    }
    ~TSqliteCursor() override { sqlite3_finalize(m_statement); }

    bool next(TStoreRow& row) override
    {
        int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_DONE && m_first > 0) {
            // The group is read to its end: on with the groups after it.
            sqlite3_finalize(m_statement);
            m_statement = nullptr;
            QList<QByteArray> values;
            for (int i = 0; i < m_first; ++i)
                values << QByteArray::fromStdString(m_previous[i]);
            m_statement = m_store.prepareNative(TSqlStore::scanSql(m_first, true, 0), values);
            m_first = 0;
            rc = sqlite3_step(m_statement);
        }
        if (rc == SQLITE_DONE)
            return false;
        if (rc != SQLITE_ROW)
            m_store.failNative(QStringLiteral("Lesen der Datensätze fehlgeschlagen"), rc);
        const bool sameRow = &row == m_lastRow;
        for (int i = 0; i < m_first; ++i)
            if (!sameRow)
                row.key[i] = m_group[i];
        for (int i = m_first; i < kKeyFieldCount; ++i) {
            const int column = i - m_first;
            const char* text =
                reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
            const int size = sqlite3_column_bytes(m_statement, column);
            std::string& previous = m_previous[i];
            if (sameRow && previous.size() == std::size_t(size) &&
                std::memcmp(previous.data(), text, std::size_t(size)) == 0)
                continue;
            previous.assign(text, std::size_t(size));
            row.key[i] = QString::fromUtf8(text, size);
        }
        m_lastRow = &row;
        row.kurzbeschreibung.clear();
        row.hasKurzbeschreibung = false;
        return true;
    }

private:
    const TSqliteStore& m_store;
    sqlite3_stmt* m_statement = nullptr;
    // Key fields before this one come from the group, not from the statement.
    int m_first = 0;
    std::array<QString, 3> m_group;
    std::array<std::string, kKeyFieldCount> m_previous;
    const TStoreRow* m_lastRow = nullptr;
};

} // namespace

TSqliteStore::TSqliteStore(const QString& location)
    : TSqlStore(fileOf(location), QStringLiteral("quor-sqlite"))
{
    const QString file = displayName();
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (location.startsWith(QLatin1String("file:"))) {
        m_readOnly =
            QUrlQuery(QUrl(location)).queryItemValue(QStringLiteral("mode")) == QLatin1String("ro");
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    }
    const QFileInfo info(file);
    if (!info.absoluteDir().exists())
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: Der Ordner "
                           "„%2“ existiert nicht.")
                .arg(file, info.absolutePath()),
            file);
    if (info.exists() && !info.isWritable())
        m_readOnly = true;
    if (m_readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(location);
        db.setConnectOptions(options);
        if (!db.open()) {
            const QSqlError error = db.lastError();
            db = QSqlDatabase();
            closeConnection();
            throw EQuorStoreError(
                QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: %2%3")
                    .arg(file, hint(error), error.databaseText()),
                file);
        }
    }
    try {
        ensureSchema();
    } catch (...) {
        closeConnection();
        throw;
    }
    m_identity = fileIdentity();
}

quint64 TSqliteStore::fileIdentity() const
{
    struct stat status {
    };
    if (::stat(QFile::encodeName(displayName()).constData(), &status) != 0)
        return 0;
    return (quint64(status.st_dev) << 32) ^ quint64(status.st_ino);
}

TSqliteStore::~TSqliteStore()
{
    if (accessDepth() > 0)
        rollbackTransaction();
}

QString TSqliteStore::hint(const QSqlError& error) const
{
    switch (error.nativeErrorCode().toInt() & 0xFF) {
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

void TSqliteStore::ensureSchema()
{
    QSqlQuery probe = prepared(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'einstellungen'"));
    exec(probe, QStringLiteral("Die Datenbank kann nicht gelesen werden"));
    const bool present = probe.next() && probe.value(0).toInt() > 0;
    probe.finish();
    // Updating a large blob would otherwise overwrite the freed pages with zeros first.
    execSql(QStringLiteral("PRAGMA secure_delete = OFF"),
            QStringLiteral("Einstellung der Verbindung fehlgeschlagen"));
    if (present)
        return;
    if (m_readOnly)
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ ist schreibgeschützt und enthält keine "
                           "Einstellungstabelle.")
                .arg(displayName()),
            displayName());
    execSql(QStringLiteral(
                "CREATE TABLE IF NOT EXISTS einstellungen ("
                " sprache TEXT NOT NULL, programm TEXT NOT NULL, maske TEXT NOT NULL,"
                " bezeichnung TEXT NOT NULL, idx TEXT NOT NULL,"
                " kurzbeschreibung TEXT NOT NULL DEFAULT '', daten BLOB NOT NULL DEFAULT x'',"
                " PRIMARY KEY (sprache, programm, maske, bezeichnung, idx))"),
            QStringLiteral("Die Einstellungstabelle kann nicht angelegt werden"));
}

void TSqliteStore::beginTransaction()
{
    // An open connection goes on working on a file that was deleted or replaced,
    // and what it writes would be lost: refuse instead.
    const quint64 identity = fileIdentity();
    if (identity == 0 || identity != m_identity)
        throw EQuorStoreError(
            QStringLiteral("Einstellungsdatenbank „%1“ wurde entfernt oder ersetzt, während das "
                           "Programm lief. Bitte das Programm neu starten.")
                .arg(displayName()),
            displayName());
    // Writers take the write lock at the start of their bracket, so two
    // workstations posting at once queue up (up to the busy timeout) instead of
    // failing halfway; readers are not blocked by it.
    execSql(m_readOnly ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"),
            QStringLiteral("Zugriff kann nicht begonnen werden"));
}

std::unique_ptr<TStoreCursor> TSqliteStore::scanFrom(const TSearchKey& key)
{
    return std::make_unique<TSqliteCursor>(*this, key);
}

// Qt's driver would make a value object for every column of every row; for a
// scan of many thousand rows the statement is stepped on the connection's own
// handle instead, its keys bound as parameters all the same.
sqlite3_stmt* TSqliteStore::prepareNative(const QString& sql, const QList<QByteArray>& values) const
{
    sqlite3* handle = nativeHandle();
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    int rc = sqlite3_prepare_v2(handle, text.constData(), int(text.size()), &statement, nullptr);
    for (int i = 0; rc == SQLITE_OK && i < values.size(); ++i)
        rc = sqlite3_bind_text(statement, i + 1, values.at(i).constData(), int(values.at(i).size()),
                               SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        failNative(QStringLiteral("Lesen der Datensätze fehlgeschlagen"), rc);
    }
    return statement;
}

sqlite3* TSqliteStore::nativeHandle() const
{
    const QVariant handle = database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw EQuorStoreError(QStringLiteral("Einstellungsdatenbank „%1“: keine SQLite-Verbindung")
                                  .arg(displayName()),
                              displayName());
    return *static_cast<sqlite3* const*>(handle.constData());
}

void TSqliteStore::failNative(const QString& what, int code) const
{
    sqlite3* handle = nativeHandle();
    fail(what, QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(handle)),
                         QSqlError::StatementError, QString::number(code)));
}

bool TSqliteStore::canWrite()
{
    if (m_readOnly)
        return false;
    const QFileInfo info(displayName());
    return info.isWritable() && QFileInfo(info.absolutePath()).isWritable();
}
