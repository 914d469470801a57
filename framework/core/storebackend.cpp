#include "storebackend.h"

#include "pgstore.h"
#include "quorexception.h"
#include "sqlitestore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace
{
std::unique_ptr<TStoreBackend>& storeSlot()
{
    static std::unique_ptr<TStoreBackend> store;
    return store;
}

QByteArray savepointStatement(const char* verb, std::size_t level)
{
    return QByteArray(verb) + " quor_" + QByteArray::number(qulonglong(level));
}
} // namespace

void TStoreBackend::beginAccess(TAccess mode)
{
    if (m_levels.empty()) {
        try {
            beginTransaction(mode);
        } catch (...) {
            // A transaction begun but not set up (the writers' lock not had).
            rollbackAll();
            throw;
        }
        m_mode = mode;
        m_levels.push_back({});
        return;
    }
    Level level;
    if (m_mode == TAccess::Write) {
        control(savepointStatement("SAVEPOINT", m_levels.size()).constData());
        level.savepoint = true;
    }
    m_levels.push_back(level);
}

void TStoreBackend::markFailed()
{
    if (!m_levels.empty())
        m_levels.back().failed = true;
}

void TStoreBackend::endAccess()
{
    if (m_levels.empty())
        throw EQuorException(QStringLiteral(
            "Zugriff auf die Einstellungsdatenbank beendet, der nicht begonnen war"));
    const Level level = m_levels.back();
    m_levels.pop_back();
    if (m_levels.empty()) {
        if (level.failed) {
            rollbackAll();
            return;
        }
        try {
            control("COMMIT");
        } catch (...) {
            rollbackAll();
            throw;
        }
        return;
    }
    if (!level.savepoint) {
        // A read gives nothing back; a failure there ends the transaction.
        if (level.failed)
            m_levels.back().failed = true;
        return;
    }
    try {
        if (level.failed)
            control(savepointStatement("ROLLBACK TO SAVEPOINT", m_levels.size()).constData());
        control(savepointStatement("RELEASE SAVEPOINT", m_levels.size()).constData());
    } catch (...) {
        m_levels.back().failed = true;
        throw;
    }
}

void TStoreBackend::rollbackAll() noexcept
{
    m_levels.clear();
    try {
        control("ROLLBACK");
    } catch (const std::exception&) {
        // A transaction that cannot be rolled back is gone with its connection.
    }
}

QString configuredStoreLocation()
{
    const QString configured = qEnvironmentVariable("QUOR_STORE");
    if (!configured.isEmpty())
        return configured;
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(QStringLiteral("quor/settings.sqlite"));
}

bool isPostgresLocation(const QString& location)
{
    // URI schemes compare without regard to case.
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

std::unique_ptr<TStoreBackend> openStore(const QString& location)
{
    if (isPostgresLocation(location))
        return std::make_unique<TPostgresStore>(location);
    return std::make_unique<TSqliteStore>(location);
}

TStoreBackend& quorStore()
{
    auto& store = storeSlot();
    if (!store) {
        // The suite's own folder is created on first use; a configured store is
        // taken as it is, so that a mistyped path fails instead of making a new store.
        if (qEnvironmentVariableIsEmpty("QUOR_STORE"))
            QDir().mkpath(QFileInfo(configuredStoreLocation()).absolutePath());
        store = openStore(configuredStoreLocation());
    }
    return *store;
}

void setQuorStore(std::unique_ptr<TStoreBackend> store)
{
    storeSlot() = std::move(store);
}
