// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct TSettingsPlaces;

// What differs between Debian and Windows, one small function each; the rest
// of the program is the same on both.

// Names one file whatever path leads to it (a link, another spelling); 0 when
// there is no such file.
quint64 fileIdentity(const QString& path);

// A file name as SQLite's open takes it: the file system's bytes on Debian,
// UTF-8 on Windows (which SQLite turns into the wide name itself).
QByteArray sqliteFileName(const QString& path);

// The account of the person running the program, as the journal records it.
QString accountName();

// The folder the user's data goes under; empty when the system names none.
QString userDataFolder();

// Where the suite's settings are laid down for the machine and for the user
// (suiteconfig.h): /etc/quor/quor.conf and the XDG config folder's
// quor/quor.conf on Debian, the policy key under HKLM and HKCU on Windows.
TSettingsPlaces suiteSettingsPlaces();

// Waits until a socket can be read (or written, given writing) for at most
// timeoutMs.
enum class TSocketWait { Ready, TimedOut, Failed };
TSocketWait waitForSocket(int socket, bool writing, int timeoutMs);

// Standard output and error take bytes as they are: UTF-8 text with its line
// ends unchanged, and a file written to "-" byte for byte.
void prepareStandardStreams();

// Where the PostgreSQL client library looks for the CAs that vouch for a
// server's certificate when the address names no sslrootcert.
QString defaultRootCertificate();

// The folder of the shop's pg_service.conf, for when PGSYSCONFDIR is unset:
// %PROGRAMDATA%\quor on Windows, where the client library's own folder is one
// of the build machine; none on Debian, whose client library looks in
// /etc/postgresql-common itself.
QString serviceFileFolder();

// The SHA-256 digest of bytes, in hex.
QString sha256Hex(const QByteArray& bytes);

// The file a program's reports are kept in besides the system's log: on
// Windows quor\log\PROGRAM.log in the user's data folder; none on Debian,
// where the journal keeps them.
QString reportLogFile(const QString& program);

// Hands a report to the system's log: the journal on Debian, the Application
// event log under the suite's source on Windows. True when that log is where
// standard error goes too, so that the report is not written there twice.
bool writeSystemLog(QtMsgType type, const QString& program, const QString& text);
