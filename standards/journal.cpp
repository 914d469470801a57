// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal.h"

#include "keys.h"
#include "maskfile.h"
#include "tstringlist.h"

#include "platform.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSysInfo>
#include <algorithm>

namespace
{
const QString kJournal = QStringLiteral("JOURNAL");
const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ");

TJournalEntry parse(const QByteArray& blob)
{
    TStringList lines;
    lines.LoadFromBytes(blob);
    TJournalEntry entry;
    entry.time = QDateTime::fromString(lines.Values(QStringLiteral("Zeit")), kTimeFormat);
    entry.time.setTimeSpec(Qt::UTC);
    entry.user = lines.Values(QStringLiteral("Benutzer"));
    entry.host = lines.Values(QStringLiteral("Rechner"));
    entry.frontEnd = lines.Values(QStringLiteral("Programm"));
    entry.type = lines.Values(QStringLiteral("Aufgabe"));
    entry.name = lines.Values(QStringLiteral("Einstellung"));
    entry.digest = lines.Values(QStringLiteral("SHA-256"));
    return entry;
}
} // namespace

QString journalDigest(const QByteArray& text)
{
    return sha256Hex(text);
}

void journalPosting(Tmaskfile& file, const QString& frontEnd, const QString& type,
                    const QString& name, const QByteArray& copiedText)
{
    static int counter = 0;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString host = QSysInfo::machineHostName();
    // Names sort by time; host, process and a counter keep two entries of
    // the same millisecond apart.
    const QString id = QStringLiteral("%1 %2/%3/%4")
                           .arg(now.toString(kTimeFormat), host)
                           .arg(QCoreApplication::applicationPid())
                           .arg(++counter, 9, 10, QLatin1Char('0'));
    const QStringList lines{QStringLiteral("Zeit=") + now.toString(kTimeFormat),
                            QStringLiteral("Benutzer=") + accountName(),
                            QStringLiteral("Rechner=") + host,
                            QStringLiteral("Programm=") + frontEnd,
                            QStringLiteral("Aufgabe=") + type,
                            QStringLiteral("Einstellung=") + name,
                            QStringLiteral("SHA-256=") + journalDigest(copiedText)};
    file.Sprache.SetWert(keys::Sprache);
    file.Programm.SetWert(keys::Rimdal);
    file.Maske.SetWert(kJournal);
    file.Bezeichnung.SetWert(id);
    file.Index.SetWert(keys::Index);
    file.Kurzbeschreibung.SetWert(type + QLatin1Char('=') + name);
    QIODevice* target = file.StartStreamBuchung(wrdonInsert, false);
    target->write("\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    file.EndStreamBuchung();
}

QList<TJournalEntry> readJournal(Tmaskfile& file, const QString& type, int limit)
{
    QList<TJournalEntry> entries;
    withAccess(file, [&] {
        // Names sort by time: the last of the group are the newest.
        const QString prefix = type.isEmpty() ? QString() : type + QLatin1Char('=');
        for (const TStoreRecord& record :
             file.LastOfGroup({keys::Sprache, keys::Rimdal, kJournal}, prefix, std::max(limit, 0)))
            entries << parse(record.content.blob);
    });
    return entries;
}
