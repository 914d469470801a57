// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

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

// The engine's own code for a failure, kept for support: SQLite's extended
// result code or PostgreSQL's SQLSTATE; neither where the engine gave none
// (a line that broke, the program's own finding).
struct TStoreCode {
    int sqlite = 0;
    QByteArray sqlstate;

    static TStoreCode ofSqlite(int code) { return {code, {}}; }
    static TStoreCode ofSqlstate(QByteArray state) { return {0, std::move(state)}; }
    bool isEmpty() const { return sqlite == 0 && sqlstate.isEmpty(); }
    // "SQLSTATE 55P03", "SQLite 517"; empty without a code.
    QString text() const;
};

// Everything a report of a store failure is made from.
struct TStoreFault {
    TStoreFault() = default;
    TStoreFault(TStoreFailure kind_, TStoreStep step_, TStoreEngine engine_, QString store_,
                QString detail_ = {}, TStoreCode code_ = {})
        : kind(kind_), step(step_), engine(engine_), store(std::move(store_)),
          detail(std::move(detail_)), code(std::move(code_))
    {
    }

    TStoreFailure kind = TStoreFailure::Other;
    TStoreStep step = TStoreStep::Open;
    TStoreEngine engine = TStoreEngine::File;
    // The store's shown name (never with a password).
    QString store;
    // The engine's own words, or what the program found (NoFolder: the folder).
    QString detail;
    TStoreCode code;
    // Locked: who holds the writers' lock, since how many seconds, and
    // whether that posting waits for the standby's confirmation.
    QString holder;
    QString heldSeconds;
    bool heldForStandby = false;
    // CertificateRefused: the file of root certificates the library read.
    QString rootCertificate;
    // OutcomeUnknown, a posting found lost (TransactionLost), a failed
    // posting's transaction not kept: the report of the failure behind it.
    QString cause;
    // TransactionLost: the store ended a whole posting, not only an access.
    bool postingLost = false;
};

// The German report of a store failure: the one place its words are made.
QString storeFailureText(const TStoreFault& fault);
// The report with the engine's code for support, on a line of its own after
// the engine's words.
QString storeFailureSupportText(const TStoreFault& fault);
// The kind's name as the log and support read it ("Locked").
QString storeFailureName(TStoreFailure kind);

// What the program itself found about a store, as a report's "Meldung" line
// says it; what is given names the finding's particulars.
enum class TStoreFinding {
    NoMemory,             // the client library could not get memory
    NoConnection,         // no connection to the server is open
    NoAnswer,             // what: seconds without an answer
    RuleBroken,           // what: the program's own rule that was broken
    StateChange,          // what: the change of the connection's state refused
    CommitOutsidePosting, // a commit in doubt outside a posting
    AccessInAnother,      // an access begun while another one's begin waits
    WriteAheadRefused,    // a write sent with the commit was refused
};
QString storeFindingText(TStoreFinding finding, const QString& what = {});

// Reports of one record of a store, by its key as text.
QString recordGoneText(const QString& key, const QString& store);
QString nulInKeyText(const QString& key);
QString nulInShortDescriptionText(const QString& key);
