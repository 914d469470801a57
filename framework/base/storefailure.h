// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What went wrong with the settings store, as a program tells failures apart.
// Each engine derives it from its own result codes (SQLite's extended result
// codes, PostgreSQL's SQLSTATE and connection status), never from the wording
// of a message, which differs by the engine's language and version.
enum class TStoreFailure {
    Other,
    Missing,           // the file or database does not exist
    NoFolder,          // the folder the store's file would be in does not exist
    NoDataFolder,      // no user data folder for the default store
    BadAddress,        // not an address the client library takes
    NotAStore,         // exists, but holds no settings table
    ReadOnly,          // takes no writes
    Locked,            // another program or workstation holds the lock too long
    Unreachable,       // no server answers at the address
    LoginRefused,      // wrong user or password
    LoginNotPermitted, // the user may not log in: no LOGIN right, or the server's access rules
    ConnectionLost,    // the connection broke during a step
    ServerStalled,     // nothing came back for too long
    TimedOut,          // the server cancelled a statement that ran too long
    DiskFull,
    DiskError,          // a read or write error of the medium
    Damaged,            // the database file is corrupt
    BadValue,           // a value the engine cannot store
    Replaced,           // the store's file was removed or replaced while open
    TransactionLost,    // the engine ended the open transaction by itself
    AwaitingStandby,    // committed on the server, not yet confirmed by its standby
    OutcomeUnknown,     // the commit's answer was lost and nobody can be asked
    CertificateRefused, // no encrypted connection: the server's certificate was not accepted
};

// The step of the store that failed, for the report.
enum class TStoreStep { Open, Begin, Read, Write, Commit, Prepare, Wait };

// A store on a server, or one in a file on this machine: some reports differ.
enum class TStoreEngine { File, Server };

// The German report of a store failure, made from its kind, the store's shown
// name and, where there is one, the engine's own message.
QString storeFailureText(TStoreFailure kind, TStoreStep step, TStoreEngine engine,
                         const QString& store, const QString& detail);
