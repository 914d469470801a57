#include "teststore.h"

#include "formstoretext.h"
#include "keys.h"
#include "quorinfo.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>
#include <QVariant>

TestStore::TestStore()
{
    QStandardPaths::setTestModeEnabled(true);
    m_path = m_dir.filePath(QStringLiteral("settings.sqlite"));
    auto store = openStore(m_path);
    m_store = store.get();
    setQuorStore(std::move(store));
}

TestStore::~TestStore()
{
    setQuorStore(nullptr);
}

void TestStore::put(const TStoreKey& key, const QString& kurz, const QByteArray& blob)
{
    inStoreAccess(*m_store, [&] {
        if (m_store->find(key))
            m_store->update(key, kurz, blob);
        else
            m_store->insert(key, kurz, blob);
    });
}

void TestStore::putNamedSetting(const QString& name, const QString& kurz,
                                const QStringList& description, const QString& index)
{
    put(namedKey(name, index), kurz,
        formStoreBlob({{QStringLiteral("msText.Lines"), description}}));
}

void TestStore::putStandardCopy(const QString& type, const QString& kurz, const QByteArray& blob)
{
    put(standardKey(type), kurz, blob);
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
        while (cursor->next(row))
            rows.append(row);
    });
    return rows;
}

void TestStore::sql(const QString& statement, const QVariantList& values)
{
    const QString name = QStringLiteral("teststore-raw");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_path);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY(query.prepare(statement));
        for (const QVariant& value : values)
            query.addBindValue(value);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
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
    QuorInfo().SetSink([this](const QString& method, const QString& message) {
        reports.append({method, message});
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
