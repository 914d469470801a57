// SPDX-License-Identifier: GPL-3.0-or-later
#include "storeopen.h"

#include "pgstore.h"
#include "platform.h"
#include "quorexception.h"
#include "sqlitestore.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

TSettingValue configuredStore()
{
    TSettingValue configured = suiteSetting(TSuiteSetting::Store);
    if (configured.origin != TSettingOrigin::Default)
        return configured;
    const QString base = userDataFolder();
    if (base.isEmpty())
        throw EQuorStoreError(TStoreFailure::NoDataFolder, TStoreStep::Open, TStoreEngine::File,
                              QString());
    configured.value = QDir(base).filePath(QStringLiteral("quor/settings.sqlite"));
    return configured;
}

QString configuredStoreLocation()
{
    return configuredStore().value;
}

bool isPostgresLocation(const QString& location)
{
    // A SQLite "file:" URI has parameters too, but is no server's address.
    return !location.startsWith(QLatin1String("file:")) && isPostgresAddress(location);
}

QString storeFileOf(const QString& location)
{
    if (isPostgresLocation(location))
        return {};
    return location.startsWith(QLatin1String("file:")) ? QUrl(location).path() : location;
}

QString displayLocation(const QString& location)
{
    if (isPostgresLocation(location))
        return displayPostgresAddress(location);
    static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (!address.match(location).hasMatch())
        return location;
    const qsizetype colon = location.indexOf(QLatin1Char(':'));
    QUrl url(location.left(colon).toLower() + location.mid(colon));
    if (!url.isValid())
        return location.left(location.indexOf(QLatin1String("://")) + 3) + QStringLiteral("…");
    url.setPassword(QString());
    QUrlQuery query(url);
    query.removeAllQueryItems(QStringLiteral("password"));
    query.removeAllQueryItems(QStringLiteral("sslpassword"));
    url.setQuery(query);
    return url.toString();
}

std::unique_ptr<TStoreBackend> openStore(const QString& location, TOpen mode)
{
    if (isPostgresLocation(location)) {
        // The client library reads pg_service.conf from PGSYSCONFDIR when it
        // connects; one set by the person or the machine stays.
        const QString services = serviceFileFolder();
        if (qEnvironmentVariableIsEmpty("PGSYSCONFDIR") && !services.isEmpty())
            qputenv("PGSYSCONFDIR", services.toLocal8Bit());
        return std::make_unique<TPostgresStore>(location, mode);
    }
    return std::make_unique<TSqliteStore>(location, mode);
}
