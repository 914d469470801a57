// SPDX-License-Identifier: GPL-3.0-or-later
// post and history: standards posted as the window posts them, and the
// journal of the postings.
#include "posting.h"
#include "assignment.h"
#include "choicelists.h"
#include "journal.h"
#include "jsonfile.h"
#include "keys.h"
#include "maskfile.h"
#include "quorbuchung.h"
#include "quorexception.h"
#include "report.h"
#include "tool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace quorstore
{
namespace
{

bool isSettingType(const QString& type)
{
    return std::find(keys::SettingTypes.begin(), keys::SettingTypes.end(), type) !=
           keys::SettingTypes.end();
}

void requireSettingType(const QString& type)
{
    if (!isSettingType(type))
        throw EUsage{QStringLiteral("„%1“ ist keine Aufgabe; erlaubt sind IMPORT, EXPORT und BRIEF")
                         .arg(printable(type))};
}

// The pairs TYPE NAME, or TYPE=NAME ..., each type once.
QList<QPair<QString, QString>> postPairs(const QStringList& args)
{
    QList<QPair<QString, QString>> pairs;
    if (args.size() == 2 && !args[0].contains(QLatin1Char('=')) && isSettingType(args[0])) {
        pairs.append({args[0], args[1]});
    } else {
        for (const QString& arg : args) {
            const qsizetype equals = arg.indexOf(QLatin1Char('='));
            if (equals < 0)
                throw EUsage{QStringLiteral("post erwartet TYP NAME oder TYP=NAME, nicht „%1“")
                                 .arg(printable(arg))};
            pairs.append({arg.left(equals), arg.mid(equals + 1)});
        }
    }
    if (pairs.isEmpty())
        throw EUsage{QStringLiteral("post erwartet TYP NAME oder TYP=NAME")};
    QStringList types;
    for (const auto& [type, name] : pairs) {
        requireSettingType(type);
        if (types.contains(type))
            throw EUsage{QStringLiteral("%1 ist zweimal genannt").arg(type)};
        types << type;
        if (name.isEmpty() || name == keys::Standard || name == keys::KeinStandard ||
            name.contains(QChar(0)))
            throw EUsage{QStringLiteral("„%1“ kann nicht Standard werden: kein Name einer "
                                        "benannten Einstellung")
                             .arg(printable(name))};
    }
    return pairs;
}

bool refreshing(const QCommandLineParser& parser)
{
    return parser.isSet(QStringLiteral("refresh"));
}

} // namespace

void checkPost(const QStringList& args, const QCommandLineParser& parser)
{
    if (!refreshing(parser))
        postPairs(args);
    else
        std::for_each(args.begin(), args.end(), requireSettingType);
}

// Posting as the window's command does it: the same posting in standards/,
// with the same transaction, merge, outcomes and journal; only the outcomes
// become lines and an exit status instead of reports.
int post(TInvocation& call)
{
    const bool refresh = refreshing(call.parser);
    QStringList types;
    QList<QPair<QString, QString>> pairs;
    if (refresh) {
        types = call.args.isEmpty()
                    ? QStringList(keys::SettingTypes.begin(), keys::SettingTypes.end())
                    : call.args;
    } else {
        pairs = postPairs(call.args);
        for (const auto& pair : pairs)
            types << pair.first;
    }
    TAssignmentFile assignmentFile(call.store);
    Tmaskfile file(call.store);
    TQuorBuchung posting(call.store);

    int status = Ok;
    QHash<QString, QString> lines;
    // A refresh decides inside the posting, from the assignment list as it is
    // stored then, so that a choice another workstation just posted is kept.
    // Called once for each run of the posting: a run again starts afresh.
    const TChooser choose = [&](const TStringList& assignments) {
        lines.clear();
        status = Ok;
        TChoices choices;
        for (const TStandardStatus& standard : checkStandards(file, assignments)) {
            if (!types.contains(standard.type))
                continue;
            if (!standard.drifted()) {
                lines[standard.type] = printable(describe(standard));
            } else if (!standard.sourceExists) {
                lines[standard.type] =
                    QStringLiteral("%1: Einstellung „%2“ fehlt; der Standard bleibt, wie er ist")
                        .arg(standard.type, printable(standard.assignedName));
                status = Drift;
            } else {
                choices.append({standard.type, standard.assignedName});
            }
        }
        return choices;
    };
    const TPostingTarget target{file, assignmentFile.FormStore(), assignmentFile.Items(),
                                [&]() -> TQuorBuchung& { return posting; }, frontEnds::Tool};
    TChoices given;
    for (const auto& [type, name] : pairs)
        given.append({type, name});
    const TPostingResult result =
        refresh ? postStandards(target, choose) : postStandards(target, given);
    if (result.failure)
        std::rethrow_exception(result.failure);
    for (const TTypePosting& posted : result.types) {
        if (posted.outcome == TPostOutcome::Copied) {
            lines[posted.type] =
                QStringLiteral("%1: „%2“ ist Standard").arg(posted.type, printable(*posted.choice));
        } else if (posted.report) {
            lines[posted.type] = QStringLiteral("%1: %2").arg(
                posted.type, printable(exceptionSupportText(posted.report)));
            status = Drift;
        }
    }
    for (const QString& type : types)
        if (lines.contains(type))
            call.console.print(lines[type] + QLatin1Char('\n'));
    return status;
}

void checkHistory(const QStringList& args, const QCommandLineParser& parser)
{
    if (!args.isEmpty())
        requireSettingType(args[0]);
    if (!parser.isSet(QStringLiteral("limit")))
        return;
    bool ok = false;
    if (parser.value(QStringLiteral("limit")).toInt(&ok) <= 0 || !ok)
        throw EUsage{QStringLiteral("--limit erwartet eine Zahl über 0")};
}

int history(TInvocation& call)
{
    Tmaskfile file(call.store);
    const QList<TJournalEntry> entries =
        readJournal(file, call.args.value(0), call.parser.value(QStringLiteral("limit")).toInt());
    if (call.isSet("json")) {
        QJsonArray array;
        for (const TJournalEntry& entry : entries)
            array.append(
                QJsonObject{{QStringLiteral("time"), entry.time.toString(Qt::ISODateWithMs)},
                            {QStringLiteral("user"), entry.user},
                            {QStringLiteral("host"), entry.host},
                            {QStringLiteral("frontEnd"), entry.frontEnd},
                            {QStringLiteral("type"), entry.type},
                            {QStringLiteral("name"), entry.name},
                            {QStringLiteral("sha256"), entry.digest}});
        call.writeOutput(QStringLiteral("-"), QJsonDocument(array).toJson());
        return Ok;
    }
    for (const TJournalEntry& entry : entries)
        call.console.print(QStringLiteral("%1  %2  „%3“  %4@%5  %6  sha256:%7\n")
                               .arg(entry.time.toString(Qt::ISODate), entry.type.leftJustified(6),
                                    printable(entry.name), printable(entry.user),
                                    printable(entry.host), entry.frontEnd, entry.digest.left(12)));
    return Ok;
}

} // namespace quorstore
