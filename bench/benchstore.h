// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTemporaryDir>

struct sqlite3;

// A SQLite settings store made by the framework (its schema), filled fast
// through the C API: named settings between records of other sections.
class BenchStore
{
public:
    BenchStore();
    ~BenchStore();
    QString path() const { return m_path; }

    void addNamedSettings(int count, const QByteArray& blob = QByteArray("x"));
    void put(const QString& programm, const QString& maske, const QString& name,
             const QByteArray& blob);
    // A connection of the C API with the store's journal and sync settings.
    sqlite3* raw();

private:
    QTemporaryDir m_dir;
    QString m_path;
    sqlite3* m_raw = nullptr;
};

QByteArray descriptionBlob(int lines);
