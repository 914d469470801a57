// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"

#include <QList>
#include <functional>

// A backup of a whole store: every record, its blob byte for byte, in a JSON
// file of the format "quor-store", version 1 (quorstore(1)). It moves a
// store between engines unchanged.

using TBackupRecord = TStoreRecord;

// The backup of the store as it is in one snapshot, record by record.
void writeStoreBackup(TStoreBackend& store, const std::function<void(const QByteArray&)>& out);

enum class TRestore { Restored, StoreNotEmpty };
struct TRestored {
    TRestore outcome = TRestore::Restored;
    int count = 0;
};
// Puts the records of a backup file into the store in one transaction, record
// by record as the file is read: memory holds a batch, not the file. A bad
// file (EFileFormatError) writes nothing. A store that holds records is
// emptied first only given replace; otherwise nothing is written.
TRestored restoreBackup(TStoreBackend& store, const QString& fileName, bool replace);
