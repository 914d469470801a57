// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"

#include <QJsonObject>
#include <QHash>
#include <QStringList>

// What the store's exchange files (named settings, backups) have in common:
// read whole, checked strictly, refused with a message that names the place.

// A file that cannot be taken. Malformed: unreadable or not in the format;
// Refused: in the format, but holding an entry the store cannot keep. Either
// way nothing was written.
struct EFileFormatError {
    enum Kind { Malformed, Refused };
    Kind kind;
    QString message;
};

// Names as a terminal or a monitoring job can take them: control characters
// are shown as \xNN, never sent raw.
QString printable(const QString& text);
// The same, line by line: a message's own line breaks stay.
QString printableLines(const QString& text);
// A key as SPRACHE/PROGRAMM/MASKE/BEZEICHNUNG/INDEX, printable.
QString keyText(const TStoreKey& key);

// The file's top-level object; a syntax error names its line.
QJsonObject readJsonFile(const QString& fileName);
// Written whole or not at all: a failure never leaves half a file.
void writeFileWhole(const QString& fileName, const QByteArray& bytes);

// A misspelt field would otherwise be dropped without a word.
void refuseUnknownFields(const QJsonObject& object, const QStringList& known, const QString& where);
// A store must move between engines unchanged, and a PostgreSQL text holds no NUL.
void refuseNul(const QStringList& texts, const QString& where);

// Each key once in a file: a second entry would silently win over the first.
class TKeysSeen
{
public:
    // what: the word for an entry ("Eintrag", "Datensatz"); number counts from 1.
    explicit TKeysSeen(QString what) : m_what(std::move(what)) {}
    void refuseRepeated(const TStoreKey& key, int number);

private:
    QString m_what;
    QHash<QStringList, int> m_seen;
};
