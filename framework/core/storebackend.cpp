#include "storebackend.h"

#include "pgstore.h"
#include "quorexception.h"
#include "sqlitestore.h"

#include <QCoreApplication>
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

// The store's connection must be closed while Qt's SQL layer still exists:
// left to the end of the process, its destructor would run after Qt's own
// globals are gone and crash the program on the way out.
void closeWithTheApplication()
{
    static bool registered = false;
    if (registered || !QCoreApplication::instance())
        return;
    qAddPostRoutine([] { storeSlot().reset(); });
    registered = true;
}
} // namespace

void TStoreBackend::beginAccess()
{
    if (m_depth == 0) {
        m_failed = false;
        beginTransaction();
    }
    ++m_depth;
}

void TStoreBackend::endAccess()
{
    if (m_depth == 0)
        throw EQuorException(QStringLiteral(
            "Zugriff auf die Einstellungsdatenbank beendet, der nicht begonnen war"));
    if (--m_depth > 0)
        return;
    if (m_failed) {
        rollbackTransaction();
        return;
    }
    try {
        commitTransaction();
    } catch (...) {
        rollbackTransaction();
        throw;
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

std::unique_ptr<TStoreBackend> openStore(const QString& location)
{
    if (location.startsWith(QLatin1String("postgresql://")) ||
        location.startsWith(QLatin1String("postgres://")))
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
        closeWithTheApplication();
    }
    return *store;
}

void setQuorStore(std::unique_ptr<TStoreBackend> store)
{
    storeSlot() = std::move(store);
    if (storeSlot())
        closeWithTheApplication();
}
