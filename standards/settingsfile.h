// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formstoretext.h"
#include "storebackend.h"

#include <QList>
#include <functional>
#include <optional>

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

// The settings of a file, checked whole when made (throws EFileFormatError)
// and read again setting by setting when filed: memory holds one setting, not
// the file.
class TSettingsSource
{
public:
    explicit TSettingsSource(QString fileName);
    int count() const { return m_count; }
    void forEach(const std::function<void(const TNamedSetting&)>& take) const;

private:
    QString m_fileName;
    int m_count = 0;
    // What was checked; the same must be written.
    QByteArray m_digest;
    // A file that is read whole.
    std::optional<QList<TNamedSetting>> m_whole;
};

// Files the settings in one transaction: each one new or in place of the
// setting of its key. Gives the names of those it replaced.
QStringList importSettings(TStoreBackend& store, const TSettingsSource& settings);
QStringList importSettings(TStoreBackend& store, const QList<TNamedSetting>& settings);

// The file of every named setting in the store, as of one snapshot, setting
// by setting.
void writeSettingsFile(TStoreBackend& store, const std::function<void(const QByteArray&)>& out);
