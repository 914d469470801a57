// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formstoretext.h"
#include "storebackend.h"

#include <QList>

// The exchange file of named settings (quorstore import and export): a JSON
// object whose list "settings" holds, per setting under DEU/VESKALO/VESKALO,
// its name, index (when not "0"), short description, the description's lines
// and the setting's other properties, each as a list of lines.

struct TNamedSetting {
    TStoreKey key;
    QString shortDescription;
    TFormProperties properties;
};

// Every setting of the file, checked whole before anything is written.
// Throws EFileFormatError.
QList<TNamedSetting> readSettingsFile(const QString& fileName);

// Files the settings in one transaction: each one new or in place of the
// setting of its key. Gives the names of those it replaced.
QStringList importSettings(TStoreBackend& store, const QList<TNamedSetting>& settings);

// The file of every named setting in the store, as of one snapshot.
QByteArray settingsFileOf(TStoreBackend& store);
