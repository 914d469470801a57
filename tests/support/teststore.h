// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "faultstore.h"
#include "storebackend.h"
#include "storefailure.h"

#include <QPair>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A fresh settings store put in place as the suite's store for the test's
// lifetime: a SQLite file in a temporary folder, or, where QUOR_TEST_PG names a
// PostgreSQL database, a schema of its own there; where QUOR_TEST_POOLER also
// names a connection pooler in front of that server (as key=value pairs
// without the database), a database of its own reached through it. Records are written through the
// framework, as the import/export program would write them.
class TestStore
{
public:
    TestStore();
    ~TestStore();

    // Where the store is, as QUOR_STORE or --store would name it.
    QString path() const { return m_path; }
    // The same records, opened so that the store takes no writes.
    QString readOnlyLocation();
    bool isPostgres() const { return !m_schema.isEmpty(); }
    // The store itself; the program context (and so every window) reaches it
    // through faults(), where a test can make a call fail.
    TStoreBackend& store() { return *m_store; }
    FaultStore& faults() { return *m_faults; }

    void put(const TStoreKey& key, const QString& kurz, const QByteArray& blob);
    // A named setting of the import/export program, its long description filed
    // as "msText.Lines".
    void putNamedSetting(const QString& name, const QString& kurz,
                         const QStringList& description = {},
                         const QString& index = QStringLiteral("0"));
    void putStandardCopy(const QString& type, const QString& kurz, const QByteArray& blob);
    // Journal entries of a type, numbered from first on: a higher number is newer.
    void putJournalEntries(const QString& type, int first, int count);
    // The named settings "S0".."S4" of the poster workstations: short description
    // "kurz Sn", text "text Sn" CR LF repeated.
    void putPosterSettings(int repeat);
    // A small shop: the named settings Alpha, Beta, Gamma and Delta ("Kurz
    // Alpha", ...), Alpha the standard of every type, as the assignment list
    // records.
    void seedSmallShop();
    // From now on the program context reaches the store at location (the
    // same records by another way, a proxy say); the test's own reads and
    // writes keep their connection.
    void reachThrough(const QString& location);
    std::optional<TStoreRow> find(const TStoreKey& key);
    QByteArray blob(const TStoreKey& key);
    QList<TStoreRow> all();

    // Raw SQL on a connection of its own, for what the tool itself never does
    // (removing a record behind its back, triggers that fail a write).
    void sql(const QString& statement);
    // The first value a query answers on a connection of its own, "?" for none.
    QByteArray value(const QByteArray& query);
    // The same on the server itself, past any pooler, in the database the
    // tests share; name() is the store's schema or database there.
    void serverSql(const QString& statement);
    QString name() const { return m_schema; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_schema;
    QString m_server;
    QString m_pooler;
    std::unique_ptr<TStoreBackend> m_real;
    std::unique_ptr<TStoreBackend> m_through;
    TStoreBackend* m_store = nullptr;
    FaultStore* m_faults = nullptr;
};

TStoreKey namedKey(const QString& name, const QString& index = QStringLiteral("0"));
// An exchange file of the named settings "S0", "S1", ... with a description
// each; a bad entry at number bad (from 1) where it is not 0.
QByteArray settingsFileText(int count, int bad = 0);
TStoreKey standardKey(const QString& type);
TStoreKey assignmentKey();

class Tmaskfile;
// Finds the named setting through the record file (inside a bracket).
bool findNamed(Tmaskfile& file, const QString& name);

// Records what the error reporter shows, in place of message boxes.
class ReportRecorder
{
public:
    ReportRecorder();
    ~ReportRecorder();
    QList<QPair<QString, QString>> reports;
    QList<TStoreFailure> kinds;
    QStringList methods() const;
};
