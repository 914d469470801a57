// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formstoretext.h"
#include "storebackend.h"

#include <QList>
#include <functional>

// The exchange file of named settings (quorstore import and export): a JSON
// object whose list "settings" holds, per setting under DEU/VESKALO/VESKALO,
// its name, index (when not "0"), short description, the description's lines
// and the setting's other properties, each as a list of lines.

struct TNamedSetting {
    TStoreKey key;
    QString shortDescription;
    TFormProperties properties;
};

// Every setting of the file, checked whole. Throws EFileFormatError.
QList<TNamedSetting> readSettingsFile(const QString& fileName);

struct TImported {
    int count = 0;
    // The names of those that replaced a setting of their key.
    QStringList replaced;
};
// Files the settings of a file in one transaction, setting by setting as the
// file is read (memory holds a batch, not the file): each one new or in place
// of the setting of its key. A bad file (EFileFormatError) writes nothing.
TImported importSettings(TStoreBackend& store, const QString& fileName);
TImported importSettings(TStoreBackend& store, QList<TNamedSetting> settings);

// The file of every named setting in the store, as of one snapshot, setting
// by setting.
void writeSettingsFile(TStoreBackend& store, const std::function<void(const QByteArray&)>& out);
