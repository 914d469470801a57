// SPDX-License-Identifier: GPL-3.0-or-later
#include "teststore.h"

#include "choicelists.h"
#include "formstoretext.h"
#include "keys.h"
#include "maskfile.h"
#include "quorinfo.h"
#include "quorprogramm.h"
#include "sqlstore.h"
#include "storeopen.h"

#include <QCoreApplication>
#include <QFile>
#include <QUrl>
#include <algorithm>

#include <QStandardPaths>
#include <QTest>
#include <QVariant>

namespace
{
QString withOptions(const QString& uri, const QString& options)
{
    return uri + (uri.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) +
           QStringLiteral("options=") + QString::fromLatin1(QUrl::toPercentEncoding(options));
}

// A statement on a connection of its own, as another program would send it.
void rawSql(const QString& location, const QString& statement)
{
    auto store = openStore(location, TOpen::Create);
    auto* sql = dynamic_cast<TSqlStore*>(store.get());
    QVERIFY(sql);
    sql->execute(statement.toUtf8());
}
} // namespace

TestStore::TestStore()
{
    QStandardPaths::setTestModeEnabled(true);
    m_server = qEnvironmentVariable("QUOR_TEST_PG");
    m_pooler = qEnvironmentVariable("QUOR_TEST_POOLER");
    static int counter = 0;
    m_schema = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    if (m_server.isEmpty()) {
        m_schema.clear();
        m_path = m_dir.filePath(QStringLiteral("settings.sqlite"));
    } else if (!m_pooler.isEmpty()) {
        // A pooler takes no options at the start of a session: the store is
        // a database of its own, reached through the pooler.
        rawSql(m_server, QStringLiteral("CREATE DATABASE %1").arg(m_schema));
        m_path = QStringLiteral("%1 dbname=%2").arg(m_pooler, m_schema);
    } else {
        rawSql(m_server, QStringLiteral("CREATE SCHEMA %1").arg(m_schema));
        m_path = withOptions(m_server, QStringLiteral("-csearch_path=%1").arg(m_schema));
    }
    m_real = openStore(m_path, TOpen::Create);
    m_store = m_real.get();
    auto faults = std::make_unique<FaultStore>(*m_real);
    m_faults = faults.get();
    QuorProgramm().SetStore(std::move(faults));
}

TestStore::~TestStore()
{
    QuorProgramm().SetStore(nullptr);
    m_through.reset();
    m_real.reset();
    if (!m_pooler.isEmpty())
        rawSql(m_server, QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(m_schema));
    else if (isPostgres())
        rawSql(m_server, QStringLiteral("DROP SCHEMA %1 CASCADE").arg(m_schema));
}

QString TestStore::readOnlyLocation()
{
    if (!m_pooler.isEmpty())
        return m_path + QStringLiteral(" user=quorreader");
    if (isPostgres())
        return withOptions(
            m_server,
            QStringLiteral("-csearch_path=%1 -cdefault_transaction_read_only=on").arg(m_schema));
    const QString copy = m_dir.filePath(QStringLiteral("readonly.sqlite"));
    QFile::remove(copy);
    QFile::copy(m_path, copy);
    return QStringLiteral("file:%1?mode=ro").arg(copy);
}

void TestStore::put(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    // What this tool never writes (a NUL in a text) another program might
    // have written: such a record goes in past the store's own checks.
    if (std::any_of(key.begin(), key.end(),
                    [](const QString& f) { return f.contains(QChar(0)); }) ||
        kurz.contains(QChar(0))) {
        TSqlParams params;
        for (const QString& field : key)
            params << sqlText(field);
        params << sqlText(kurz) << sqlBlob(blob);
        dynamic_cast<TSqlStore&>(*m_store).execute(
            "INSERT INTO einstellungen VALUES ($1, $2, $3, $4, $5, $6, $7)", params);
        return;
    }
    inStoreAccess(
        *m_store,
        [&] {
            if (m_store->find(key))
                m_store->update(key, kurz, blob);
            else
                m_store->insert(key, kurz, blob);
        },
        TAccess::Write);
}

void TestStore::putNamedSetting(const QString& name, const QString& kurz,
                                const QStringList& description, const QString& index)
{
    put(namedKey(name, index), kurz,
        formStoreBlob({{QStringLiteral("msText.Lines"), description}}));
}

void TestStore::putJournalEntries(const QString& type, int first, int count)
{
    inStoreAccess(
        *m_store,
        [&] {
            for (int i = first; i < first + count; ++i) {
                const QString name = QStringLiteral("S%1").arg(i);
                m_store->insert({"DEU", "RIMDAL", "JOURNAL",
                                 QStringLiteral("2026-01-01T00:00:00.000Z test/1/%1")
                                     .arg(i, 9, 10, QLatin1Char('0')),
                                 "0"},
                                type + QLatin1Char('=') + name,
                                ("Zeit=2026-01-01T00:00:00.000Z\r\nAufgabe=" + type +
                                 "\r\nEinstellung=" + name + "\r\n")
                                    .toUtf8());
            }
        },
        TAccess::Write);
}

QByteArray settingsFileText(int count, int bad)
{
    QByteArray json = "{\"settings\":[";
    for (int i = 1; i <= count; ++i)
        json += (i > 1 ? ",\n" : "\n") +
                (i == bad ? QByteArray("{\"shortDescription\":\"ohne Namen\"}")
                          : "{\"name\":\"S" + QByteArray::number(i) +
                                "\",\"shortDescription\":\"Kurz\",\"description\":[\"Zeile " +
                                QByteArray::number(i) + "\"]}");
    return json + "]}";
}

void TestStore::putStandardCopy(const QString& type, const QString& kurz, const QByteArray& blob)
{
    put(standardKey(type), kurz, blob);
}

void TestStore::putPosterSettings(int repeat)
{
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("S%1").arg(i);
        put(namedKey(name), QStringLiteral("kurz ") + name,
            QByteArray("\xEF\xBB\xBF") +
                QStringLiteral("text %1\r\n").arg(name).toUtf8().repeated(repeat));
    }
}

void TestStore::seedSmallShop()
{
    for (const char* name : {"Alpha", "Beta", "Gamma", "Delta"})
        putNamedSetting(QString::fromLatin1(name), QStringLiteral("Kurz ") + name, {"x"});
    for (const QString& type : keys::SettingTypes)
        putStandardCopy(type, QStringLiteral("Kurz Alpha"), blob(namedKey("Alpha")));
    put(assignmentKey(), QString(),
        formStoreBlob({{"scStanBez.Items", {"IMPORT=Alpha", "EXPORT=Alpha", "BRIEF=Alpha"}}}));
}

void TestStore::reachThrough(const QString& location)
{
    QuorProgramm().SetStore(nullptr);
    m_through = openStore(location);
    auto faults = std::make_unique<FaultStore>(*m_through);
    m_faults = faults.get();
    QuorProgramm().SetStore(std::move(faults));
}

bool findNamed(Tmaskfile& file, const QString& name)
{
    return findNamedSetting(file, name);
}

std::optional<TStoreRow> TestStore::find(const TStoreKey& key)
{
    std::optional<TStoreRow> row;
    inStoreAccess(*m_store, [&] { row = m_store->find(key); });
    return row;
}

QByteArray TestStore::blob(const TStoreKey& key)
{
    QByteArray bytes;
    inStoreAccess(*m_store, [&] { bytes = m_store->readBlob(key); });
    return bytes;
}

QList<TStoreRow> TestStore::all()
{
    QList<TStoreRow> rows;
    inStoreAccess(*m_store, [&] {
        auto cursor = m_store->scanFrom({});
        TStoreRow row;
        while (cursor->next(row)) {
            if (!row.hasKurzbeschreibung)
                row.kurzbeschreibung = m_store->find(row.key)->kurzbeschreibung;
            rows.append(row);
        }
    });
    return rows;
}

void TestStore::sql(const QString& statement)
{
    rawSql(m_path, statement);
}

QByteArray TestStore::value(const QByteArray& query)
{
    auto other = openStore(m_path);
    const auto rows = dynamic_cast<TSqlStore&>(*other).query(query);
    QByteArray first("?");
    if (rows->next())
        first = rows->column(0).toByteArray();
    while (rows->next()) {
    }
    return first;
}

void TestStore::serverSql(const QString& statement)
{
    rawSql(m_server, statement);
}

TStoreKey namedKey(const QString& name, const QString& index)
{
    return {keys::Sprache, keys::Veskalo, keys::Veskalo, name, index};
}

TStoreKey standardKey(const QString& type)
{
    return {keys::Sprache, keys::Rimdal, type, keys::Standard, keys::Index};
}

TStoreKey assignmentKey()
{
    return {keys::Sprache, keys::Rimdal, keys::Rimdal, QStringLiteral("frmRimdal"), keys::Index};
}

ReportRecorder::ReportRecorder()
{
    QuorInfo().SetSink([this](const QString& method, const QString& message, TStoreFailure kind) {
        reports.append({method, message});
        kinds.append(kind);
    });
}

ReportRecorder::~ReportRecorder()
{
    QuorInfo().SetSink(nullptr);
}

QStringList ReportRecorder::methods() const
{
    QStringList names;
    for (const auto& report : reports)
        names.append(report.first);
    return names;
}
