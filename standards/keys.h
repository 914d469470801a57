// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>

// Key values of the settings-store records this tool reads and writes.
namespace keys
{

inline const QString Sprache = QStringLiteral("DEU");
inline const QString Index = QStringLiteral("0");
// This program's own key and that of the customer-data import/export program
// whose named settings are offered.
inline const QString Rimdal = QStringLiteral("RIMDAL");
inline const QString Veskalo = QStringLiteral("VESKALO");

// Bezeichnung of a standard copy, and the list entry standing for it.
inline const QString Standard = QStringLiteral("STANDARD");
// List entry of a setting type without standard copy; never stored.
inline const QString KeinStandard = QStringLiteral("Kein Standard zugeordnet");

// The main window, under whose name the assignment list is filed.
inline const QString MainWindow = QStringLiteral("frmRimdal");

inline const QString Import = QStringLiteral("IMPORT");
inline const QString Export = QStringLiteral("EXPORT");
inline const QString Brief = QStringLiteral("BRIEF");
inline const std::array<QString, 3> SettingTypes{Import, Export, Brief};

} // namespace keys
