// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Where a program's log goes once it is installed: every message of Qt's
// logging that its rules let through, the reports (quor.report) among them.
// Each goes to the system's log (the journal, the event log), to the
// program's log file where the platform keeps one (Windows), and to
// standard error.

// One entry of the log file, on one line: time, program, workstation, text.
QString logEntry(const QDateTime& time, const QString& program, const QString& workstation,
                 const QString& text);

// A log file that keeps at most its bound: the entry that would pass it first
// moves the file to NAME.1, replacing the one before, and begins it anew.
class TRotatingLogFile
{
public:
    TRotatingLogFile(QString path, qint64 bound);
    void append(const QByteArray& line);

private:
    QString m_path;
    qint64 m_bound;
};

struct TLogSetup {
    QString program;
    // Empty: no file. By default the platform's (reportLogFile).
    QString file;
    qint64 bound = qint64(1024) * 1024;
    // false where the program tells the person its failures itself (the
    // store tool): its reports are not repeated on standard error.
    bool reportsToStandardError = true;
};
TLogSetup defaultLogSetup(const QString& program);
void installLog(const TLogSetup& setup);
