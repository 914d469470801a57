// SPDX-License-Identifier: GPL-3.0-or-later
#include "tool.h"

#include "jsonfile.h"
#include "quorexception.h"
#include "quorinfo.h"
#include "storeopen.h"

#include <QLoggingCategory>

namespace quorstore
{
namespace
{

const std::vector<TCommand>& commands()
{
    static const std::vector<TCommand> table{
        {"list",
         "[SPRACHE PROGRAMM MASKE]",
         "Datensätze (einer Gruppe) auflisten",
         0,
         3,
         false,
         {},
         nullptr,
         list},
        {"show",
         "SPRACHE PROGRAMM MASKE BEZEICHNUNG [INDEX]",
         "Kurzbeschreibung und Text eines Datensatzes",
         4,
         5,
         false,
         {},
         nullptr,
         show},
        {"import",
         "DATEI.json",
         "benannte Einstellungen einlesen (alles oder nichts)",
         1,
         1,
         true,
         {},
         nullptr,
         importFile},
        {"export",
         "DATEI.json|-",
         "benannte Einstellungen ausgeben",
         1,
         1,
         false,
         {},
         nullptr,
         exportFile},
        {"dump",
         "DATEI.json|-",
         "den ganzen Speicher sichern (Blobs Byte für Byte)",
         1,
         1,
         false,
         {},
         nullptr,
         dump},
        {"restore",
         "DATEI.json [--replace]",
         "eine Sicherung einspielen; ein Speicher mit Datensätzen wird nur mit --replace ersetzt",
         1,
         1,
         true,
         {{"replace", nullptr, "einen Speicher mit Datensätzen ersetzen"}},
         nullptr,
         restore},
        {"standards", "", "Stand der Standards je Aufgabe", 0, 0, false, {}, nullptr, standards},
        {"post",
         "TYP NAME | TYP=NAME ... | --refresh [TYP ...]",
         "die benannte Einstellung NAME zum Standard für TYP machen, wie Buchen im Fenster; "
         "--refresh kopiert abweichende Standards neu",
         0,
         6,
         false,
         {{"refresh", nullptr, "abweichende Standards neu kopieren"}},
         checkPost,
         post},
        {"history",
         "[TYP] [--limit N] [--json]",
         "das Journal der Buchungen, die neueste zuerst",
         0,
         1,
         false,
         {{"limit", "N", "höchstens N Einträge"}, {"json", nullptr, "als JSON"}},
         checkHistory,
         history},
        // Reads no store: it tells what would be opened.
        {"config",
         "",
         "welcher Speicher und welcher Mandant gelten, und woher sie kommen",
         0,
         0,
         false,
         {},
         nullptr,
         nullptr},
    };
    return table;
}

// The options of the tool itself, before those of the commands.
const TOption kStore{"store", "ORT",
                     "der Einstellungsspeicher: eine SQLite-Datei oder eine PostgreSQL-\n"
                     "Adresse (postgresql://, auch mit mehreren Rechnern, Schlüssel=Wert\n"
                     "oder service=NAME); ohne --store gilt die Einstellung der Suite\n"
                     "(Richtlinie, dann QUOR_STORE; siehe config). Das Kennwort\n"
                     "gehört nicht in die Adresse: ~/.pgpass oder PGPASSWORD nehmen.\n"
                     "Ein genannter Speicher muss bestehen; nur import und restore legen\n"
                     "ihn an."};
const TOption kVerbose{"verbose", nullptr,
                       "auf der Standardfehlerausgabe verfolgen, wie der Speicher verbunden\n"
                       "wird (Rechner, TLS, welcher als Primärserver antwortete) und wie\n"
                       "der Ausgang einer Buchung erfragt wurde"};
const TOption kHelp{"help", nullptr, "diese Hilfe; BEFEHL --help: die Hilfe zum Befehl", 'h'};
const TOption kVersion{"version", nullptr, "die Version", 'v'};

const char* const kEpilogue =
    "\nUmgebung:\n"
    "  QUOR_STORE     der Einstellungsspeicher, wenn --store fehlt und keine\n"
    "                 Richtlinie ihn nennt (quorstore config zeigt, was gilt)\n"
    "\nTYP: IMPORT, EXPORT oder BRIEF.\n"
    "\nExit-Status:\n"
    "  0  erledigt; bei standards: kein Standard weicht ab\n"
    "  1  ein Standard weicht ab oder hat seine Einstellung verloren (standards,\n"
    "     post --refresh), ein Eintrag wurde abgelehnt (nichts wurde geschrieben), oder\n"
    "     eine Einstellung für post fehlt oder wurde nicht übernommen (ihr Standard\n"
    "     bleibt, die Zuordnung wird wie im Fenster eingetragen)\n"
    "  2  falscher Aufruf, fehlerhafte Datei oder keine gültige PostgreSQL-Adresse;\n"
    "     nichts wurde geschrieben\n"
    "  3  der Einstellungsspeicher kann nicht geöffnet oder geschrieben werden\n"
    "  4  die Buchung ist auf dem Server gespeichert, sein Standby-Server hat sie\n"
    "     noch nicht bestätigt; oder ob sie gespeichert wurde, ist nicht bekannt\n";

QCommandLineOption parserOption(const TOption& option)
{
    QStringList names{QLatin1String(option.name)};
    if (option.shortName)
        names.prepend(QString(QLatin1Char(option.shortName)));
    return option.valueName ? QCommandLineOption(names, QString::fromUtf8(option.description),
                                                 QLatin1String(option.valueName))
                            : QCommandLineOption(names, QString::fromUtf8(option.description));
}

// One option as the help shows it, its description beside it.
QString optionHelp(const TOption& option, const char* owner)
{
    const QCommandLineOption parsed = parserOption(option);
    QStringList names;
    for (const QString& name : parsed.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString head = QStringLiteral("  ") + names.join(QStringLiteral(", "));
    if (option.valueName)
        head += QLatin1Char(' ') + QLatin1String(option.valueName);
    const QString description =
        (owner ? QStringLiteral("(%1) ").arg(QLatin1String(owner)) : QString()) +
        parsed.description();
    QString text;
    for (const QString& line : description.split(QLatin1Char('\n'))) {
        text += head.leftJustified(17) + line + QLatin1Char('\n');
        head.clear();
    }
    return text;
}

QString usage(const TCommand& command)
{
    return QStringLiteral("quorstore [--store ORT] %1 %2")
        .arg(QLatin1String(command.name), QString::fromUtf8(command.arguments))
        .trimmed();
}

QString help()
{
    QString text = QStringLiteral("Aufruf: quorstore [--store ORT] BEFEHL [ANGABEN]\n\n"
                                  "Befehle:\n");
    for (const TCommand& command : commands())
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(QStringLiteral("%1 %2")
                             .arg(QLatin1String(command.name), QString::fromUtf8(command.arguments))
                             .trimmed(),
                         QString::fromUtf8(command.summary));
    text += QStringLiteral("\nOptionen:\n") + optionHelp(kStore, nullptr);
    for (const TCommand& command : commands())
        for (const TOption& option : command.options)
            text += optionHelp(option, command.name);
    text +=
        optionHelp(kVerbose, nullptr) + optionHelp(kHelp, nullptr) + optionHelp(kVersion, nullptr);
    return text + QString::fromUtf8(kEpilogue);
}

QString commandHelp(const TCommand& command)
{
    QString text = QStringLiteral("Aufruf: %1\n  %2\n")
                       .arg(usage(command), QString::fromUtf8(command.summary));
    if (!command.options.empty()) {
        text += QStringLiteral("\nOptionen:\n");
        for (const TOption& option : command.options)
            text += optionHelp(option, nullptr);
    }
    return text + QStringLiteral("\nSiehe quorstore --help für Speicher und Exit-Status.\n");
}

// The store and the tenant in effect and where each came from, the first
// thing support asks for; an address never with its password.
int printConfiguration(const QCommandLineParser& parser, TConsole& console)
{
    const bool named = parser.isSet(QLatin1String(kStore.name));
    QString shownStore;
    QString storeOrigin;
    if (named) {
        shownStore = displayLocation(parser.value(QLatin1String(kStore.name)));
        storeOrigin = QStringLiteral("Aufruf: --store");
    } else {
        // Nothing names a store and the default has no folder: said, not failed.
        try {
            const TSettingValue store = configuredStore();
            shownStore = displayLocation(store.value);
            storeOrigin = settingOriginText(store);
        } catch (const EQuorStoreError& e) {
            shownStore = QStringLiteral("(keiner)");
            storeOrigin = e.Message();
        }
    }
    const TSettingValue mandant = suiteSetting(TSuiteSetting::Mandant);
    console.print(
        QStringLiteral("Speicher: %1\n  aus %2\nMandant:  %3\n  aus %4\n")
            .arg(printable(shownStore), printable(storeOrigin),
                 mandant.value.isEmpty() ? QStringLiteral("(keiner)") : printable(mandant.value),
                 printable(settingOriginText(mandant))));
    return Ok;
}

const TCommand* findCommand(const QString& name)
{
    for (const TCommand& command : commands())
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

// Each command's options belong to it alone.
void refuseOthersOptions(const TCommand& called, const QCommandLineParser& parser)
{
    for (const TCommand& command : commands())
        for (const TOption& option : command.options)
            if (&command != &called && parser.isSet(QLatin1String(option.name)))
                throw EUsage{QStringLiteral("--%1 gilt nur für %2")
                                 .arg(QLatin1String(option.name), QLatin1String(command.name))};
}

int dispatch(const QCommandLineParser& parser, TConsole& console)
{
    QStringList args = parser.positionalArguments();
    const TCommand* command = args.isEmpty() ? nullptr : findCommand(args.first());
    if (parser.isSet(QLatin1String(kVersion.name))) {
        console.print(QStringLiteral("quorstore " RIMDAL_VERSION "\n"));
        return Ok;
    }
    if (parser.isSet(QLatin1String(kHelp.name))) {
        console.print(command ? commandHelp(*command) : help());
        return Ok;
    }
    if (args.isEmpty()) {
        console.complain(help());
        return Usage;
    }
    if (!command)
        throw EUsage{QStringLiteral("unbekannter Befehl „%1“\nSiehe quorstore --help.")
                         .arg(printable(args.first()))};
    args.removeFirst();
    if (args.size() < command->minArguments || args.size() > command->maxArguments)
        throw EUsage{QStringLiteral("Aufruf: %1").arg(usage(*command))};
    refuseOthersOptions(*command, parser);
    if (command->check)
        command->check(args, parser);

    if (!command->run)
        return printConfiguration(parser, console);
    const QString location = parser.isSet(QLatin1String(kStore.name))
                                 ? parser.value(QLatin1String(kStore.name))
                                 : configuredStoreLocation();
    const std::unique_ptr<TStoreBackend> store =
        openStore(location, command->creates ? TOpen::Create : TOpen::Existing);
    TInvocation call{*store, args, parser, console};
    return command->run(call);
}

} // namespace

void TInvocation::writeOutput(const QString& target, const QByteArray& bytes)
{
    writeOutput(target, [&](const TSink& out) { out(bytes); });
}

void TInvocation::writeOutput(const QString& target,
                              const std::function<void(const TSink&)>& produce)
{
    if (target == QLatin1String("-")) {
        QByteArray whole;
        produce([&](const QByteArray& bytes) { whole += bytes; });
        console.out(whole);
        return;
    }
    if (store.holdsFile(target))
        throw EUsage{QStringLiteral("%1: ist der Einstellungsspeicher selbst; die Ausgabe braucht "
                                    "eine andere Datei.")
                         .arg(target)};
    writeFileWhole(target, produce);
}

int run(const QStringList& arguments, TConsole& console)
{
    // The whole command line is read and checked before any store is opened.
    QCommandLineParser parser;
    parser.addOption(parserOption(kStore));
    for (const TCommand& command : commands())
        for (const TOption& option : command.options)
            parser.addOption(parserOption(option));
    parser.addOptions({parserOption(kVerbose), parserOption(kHelp), parserOption(kVersion)});
    if (!parser.parse(arguments)) {
        console.complain(
            QStringLiteral("quorstore: %1\nSiehe quorstore --help.\n").arg(parser.errorText()));
        return Usage;
    }
    if (parser.isSet(QLatin1String(kVerbose.name)))
        QLoggingCategory::setFilterRules(QStringLiteral("quor.store.*.debug=true"));
    try {
        return dispatch(parser, console);
    } catch (const EUsage& e) {
        console.complain(QStringLiteral("quorstore: %1\n").arg(e.message));
        return Usage;
    } catch (const EFileFormatError& e) {
        console.complain(QStringLiteral("quorstore: %1\n").arg(e.message));
        return e.kind == EFileFormatError::Refused ? Drift : Usage;
    } catch (const EQuorStoreError& e) {
        console.complain(
            QStringLiteral("quorstore: %1\n").arg(printableLines(exceptionSupportText(e))));
        QuorInfo().RegisterException(QStringLiteral("quorstore"), e, false);
        switch (e.Kind()) {
        case TStoreFailure::BadAddress:
            return Usage;
        case TStoreFailure::AwaitingStandby:
        case TStoreFailure::OutcomeUnknown:
            return Unconfirmed;
        default:
            return StoreFailed;
        }
    } catch (const std::exception& e) {
        console.complain(QStringLiteral("quorstore: %1\n").arg(printableLines(exceptionText(e))));
        QuorInfo().RegisterException(QStringLiteral("quorstore"), e, false);
        return StoreFailed;
    }
}

} // namespace quorstore
