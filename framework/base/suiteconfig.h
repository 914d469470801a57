// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>

// The suite's configuration: which store a workstation uses and its tenant.
// Each setting is taken from the first place that holds a value, in this
// order:
//   1. the machine's policy: HKLM\SOFTWARE\Policies\Quor on Windows (Group
//      Policy, or the MSI's STORE= and MANDANT=), /etc/quor/quor.conf on Debian;
//   2. the user's policy: HKCU\SOFTWARE\Policies\Quor on Windows,
//      $XDG_CONFIG_HOME/quor/quor.conf (~/.config/quor/quor.conf) on Debian;
//   3. the environment: QUOR_STORE, QUOR_MANDANT;
//   4. the default: the suite's settings.sqlite in the user's data folder, no
//      tenant.
// What an administrator laid down for the machine is not undone by a user's
// environment. An empty value counts as none.

// The key and value names the program reads, which the policy templates name too.
inline constexpr char kSuitePolicyKey[] = "SOFTWARE\\Policies\\Quor";
inline constexpr char kStoreValueName[] = "Store";
inline constexpr char kMandantValueName[] = "Mandant";
inline constexpr char kStoreVariable[] = "QUOR_STORE";
inline constexpr char kMandantVariable[] = "QUOR_MANDANT";

enum class TSuiteSetting { Store, Mandant };
enum class TSettingOrigin { Machine, User, Environment, Default };

// Where the machine's and the user's settings are read, and in which format:
// INI files on Debian, registry keys on Windows. An empty place is left out.
struct TSettingsPlaces {
    QString machine;
    QString user;
    QSettings::Format format = QSettings::IniFormat;
};

struct TSettingValue {
    QString value;
    TSettingOrigin origin = TSettingOrigin::Default;
    // The file, the registry value or the variable the value came from.
    QString place;
};

TSettingValue suiteSetting(TSuiteSetting setting, const TSettingsPlaces& places);
// The same, from this system's places.
TSettingValue suiteSetting(TSuiteSetting setting);

// Where a value came from, as support reads it: "Rechner: /etc/quor/quor.conf".
QString settingOriginText(const TSettingValue& value);
