// SPDX-License-Identifier: GPL-3.0-or-later
#include "suiteconfig.h"

#include "platform.h"

#include <QStringList>

namespace
{

QString readPlace(const QString& place, QSettings::Format format, const char* name)
{
    if (place.isEmpty())
        return {};
    const QSettings settings(place, format);
    const QVariant value = settings.value(QLatin1String(name));
    // An INI value with commas unquoted (a PostgreSQL URI with several hosts)
    // comes back as a list of its parts.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QString placeName(const QString& place, QSettings::Format format, const char* name)
{
    return format == QSettings::NativeFormat ? place + QLatin1Char('\\') + QLatin1String(name)
                                             : place;
}

} // namespace

TSettingValue suiteSetting(TSuiteSetting setting, const TSettingsPlaces& places)
{
    const bool store = setting == TSuiteSetting::Store;
    const char* name = store ? kStoreValueName : kMandantValueName;
    const struct {
        const QString& place;
        TSettingOrigin origin;
    } layers[] = {{places.machine, TSettingOrigin::Machine}, {places.user, TSettingOrigin::User}};
    for (const auto& layer : layers) {
        QString value = readPlace(layer.place, places.format, name);
        if (!value.isEmpty())
            return {std::move(value), layer.origin, placeName(layer.place, places.format, name)};
    }
    const char* variable = store ? kStoreVariable : kMandantVariable;
    QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty())
        return {std::move(value), TSettingOrigin::Environment, QLatin1String(variable)};
    return {};
}

TSettingValue suiteSetting(TSuiteSetting setting)
{
    return suiteSetting(setting, suiteSettingsPlaces());
}

QString settingOriginText(const TSettingValue& value)
{
    QString origin;
    switch (value.origin) {
    case TSettingOrigin::Machine:
        origin = QStringLiteral("Rechner");
        break;
    case TSettingOrigin::User:
        origin = QStringLiteral("Benutzer");
        break;
    case TSettingOrigin::Environment:
        origin = QStringLiteral("Umgebung");
        break;
    case TSettingOrigin::Default:
        origin = QStringLiteral("Voreinstellung");
        break;
    }
    return value.place.isEmpty() ? origin : origin + QStringLiteral(": ") + value.place;
}
