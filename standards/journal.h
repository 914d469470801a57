// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class QByteArray;
class Tmaskfile;

// The journal of postings: one record per setting type that a posting copied,
// kept under this program's key ("DEU", "RIMDAL", "JOURNAL"), so that every
// store and every backup carries it and no other family of records sees it.
// Written in the posting's own transaction: there is an entry exactly when
// there is the copy it tells of.
struct TJournalEntry {
    QDateTime time; // UTC
    QString user;
    QString host;
    QString frontEnd; // "Fenster" or "Werkzeug"
    QString type;
    QString name;
    QString digest; // SHA-256 of the copied text, hex
};

// The front ends that post, as the journal names them.
namespace frontEnds
{
inline const QString Window = QStringLiteral("Fenster");
inline const QString Tool = QStringLiteral("Werkzeug");
} // namespace frontEnds

// Appends the entry for a copy just written (inside the posting's bracket),
// telling which front end posted it.
void journalPosting(Tmaskfile& file, const QString& frontEnd, const QString& type,
                    const QString& name, const QByteArray& copiedText);

// The entries, newest first; of one type when type is not empty; at most
// limit of them when limit > 0 (opens its own bracket).
QList<TJournalEntry> readJournal(Tmaskfile& file, const QString& type = {}, int limit = 0);

// The digest a journal entry records for a text.
QString journalDigest(const QByteArray& text);
