// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"

#include <QList>
#include <functional>
#include <optional>

// A backup of a whole store: every record, its blob byte for byte, in a JSON
// file of the format "quor-store", version 1 (quorstore(1)). It moves a
// store between engines unchanged.

using TBackupRecord = TStoreRecord;

// The backup of the store as it is in one snapshot, record by record.
void writeStoreBackup(TStoreBackend& store, const std::function<void(const QByteArray&)>& out);

// The records of a backup file, checked whole when made (throws
// EFileFormatError) and read again record by record when put in: memory holds
// one record, not the file.
class TBackupSource
{
public:
    explicit TBackupSource(QString fileName);
    int count() const { return m_count; }
    void forEach(const std::function<void(const TBackupRecord&)>& take) const;

private:
    QString m_fileName;
    int m_count = 0;
    // What was checked; the same must be written.
    QByteArray m_digest;
    // A file that is read whole.
    std::optional<QList<TBackupRecord>> m_whole;
};

enum class TRestore { Restored, StoreNotEmpty };
// Puts the records into the store in one transaction. A store that holds
// records is emptied first only given replace; otherwise nothing is written.
TRestore restoreBackup(TStoreBackend& store, const TBackupSource& records, bool replace);
