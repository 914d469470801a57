// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"

#include <QList>

// A backup of a whole store: every record, its blob byte for byte, in a JSON
// file of the format "quor-store", version 1 (quorstore(1)). It moves a
// store between engines unchanged.

using TBackupRecord = TStoreRecord;

// The backup of the store as it is in one snapshot.
QByteArray storeBackup(TStoreBackend& store);

// The records of a backup file, checked whole before anything is written.
// Throws EFileFormatError.
QList<TBackupRecord> readBackupFile(const QString& fileName);

enum class TRestore { Restored, StoreNotEmpty };
// Puts the records into the store in one transaction. A store that holds
// records is emptied first only given replace; otherwise nothing is written.
TRestore restoreBackup(TStoreBackend& store, const QList<TBackupRecord>& records, bool replace);
