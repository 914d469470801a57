// SPDX-License-Identifier: GPL-3.0-or-later
// quorstore: the suite's settings store from the command line, for
// administrators and for seeding the demo store.

#include "assignment.h"
#include "choicelists.h"
#include "formstore.h"
#include "formstoretext.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "platform.h"
#include "posting.h"
#include "quorbuchung.h"
#include "quorexception.h"
#include "report.h"
#include "storebackend.h"
#include "tstringlist.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>

namespace
{

// Exit statuses, as --help and the README document them.
enum Status { kOk = 0, kDrift = 1, kUsage = 2, kStoreFailed = 3 };

// Wrong usage or a bad file: nothing was written.
struct UsageError {
    QString message;
};
// An entry the store cannot take: nothing was written.
struct RefusedEntry {
    QString message;
};

const QString kDescription = QStringLiteral("msText.Lines");

struct Command {
    const char* name;
    const char* arguments;
    const char* summary;
    int minArguments;
    int maxArguments;
    // Fills the store as asked, and may therefore make a new one.
    bool creates;
};

const Command kCommands[] = {
    {"list", "[SPRACHE PROGRAMM MASKE]", "Datensätze (einer Gruppe) auflisten", 0, 3, false},
    {"show", "SPRACHE PROGRAMM MASKE BEZEICHNUNG [INDEX]",
     "Kurzbeschreibung und Text eines Datensatzes", 4, 5, false},
    {"import", "DATEI.json", "benannte Einstellungen einlesen (alles oder nichts)", 1, 1, true},
    {"export", "DATEI.json|-", "benannte Einstellungen ausgeben", 1, 1, false},
    {"dump", "DATEI.json|-", "den ganzen Speicher sichern (Blobs Byte für Byte)", 1, 1, false},
    {"restore", "DATEI.json [--replace]",
     "eine Sicherung einspielen; ein Speicher mit Datensätzen wird nur mit --replace ersetzt", 1, 1,
     true},
    {"standards", "", "Stand der Standards je Aufgabe", 0, 0, false},
    {"post", "TYP NAME | TYP=NAME ... | --refresh [TYP ...]",
     "die benannte Einstellung NAME zum Standard für TYP machen, wie Buchen im Fenster; "
     "--refresh kopiert abweichende Standards neu",
     0, 6, false},
    {"history", "[TYP] [--limit N] [--json]", "das Journal der Buchungen, die neueste zuerst", 0, 1,
     false},
};

void out(const QString& text)
{
    std::fputs(qUtf8Printable(text), stdout);
}

void err(const QString& text)
{
    std::fputs(qUtf8Printable(text), stderr);
}

QString help()
{
    QString text = QStringLiteral("Aufruf: quorstore [--store ORT] BEFEHL [ANGABEN]\n\n"
                                  "Befehle:\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  %1 %2\n      %3\n")
                    .arg(QLatin1String(command.name), QString::fromUtf8(command.arguments),
                         QString::fromUtf8(command.summary));
    text += QStringLiteral(
        "\nOptionen:\n"
        "  --store ORT    der Einstellungsspeicher: eine SQLite-Datei oder eine PostgreSQL-\n"
        "                 Adresse (postgresql://, auch mit mehreren Rechnern, Schlüssel=Wert\n"
        "                 oder service=NAME); ohne --store gilt QUOR_STORE. Das Kennwort\n"
        "                 gehört nicht in die Adresse: ~/.pgpass oder PGPASSWORD nehmen.\n"
        "                 Ein genannter Speicher muss bestehen; nur import und restore legen\n"
        "                 ihn an.\n"
        "  --replace      (restore) einen Speicher mit Datensätzen ersetzen\n"
        "  --refresh      (post) abweichende Standards neu kopieren\n"
        "  --limit N      (history) höchstens N Einträge\n"
        "  --json         (history) als JSON\n"
        "  -h, --help     diese Hilfe; BEFEHL --help: die Hilfe zum Befehl\n"
        "  -v, --version  die Version\n"
        "\nUmgebung:\n"
        "  QUOR_STORE     der Einstellungsspeicher, wenn --store fehlt\n"
        "\nTYP: IMPORT, EXPORT oder BRIEF.\n"
        "\nExit-Status:\n"
        "  0  erledigt; bei standards: kein Standard weicht ab\n"
        "  1  ein Standard weicht ab oder hat seine Einstellung verloren (standards,\n"
        "     post --refresh), ein Eintrag wurde abgelehnt (nichts wurde geschrieben), oder\n"
        "     eine Einstellung für post fehlt oder wurde nicht übernommen (ihr Standard\n"
        "     bleibt, die Zuordnung wird wie im Fenster eingetragen)\n"
        "  2  falscher Aufruf oder fehlerhafte Datei; nichts wurde geschrieben\n"
        "  3  der Einstellungsspeicher kann nicht geöffnet oder geschrieben werden\n");
    return text;
}

// Names as a terminal or a monitoring job can take them: control characters
// are shown as \xNN, never sent raw.
QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString keyText(const TStoreKey& key)
{
    QStringList fields;
    for (const QString& field : key)
        fields << printable(field);
    return fields.join(QLatin1Char('/'));
}

// Output never goes onto the store's own file or its journal.
void refuseStoreAsTarget(const QString& location, const QString& target)
{
    const QString file = storeFileOf(location);
    if (file.isEmpty() || target == QLatin1String("-"))
        return;
    const quint64 identity = fileIdentity(file);
    const bool same = identity != 0 && identity == fileIdentity(target);
    const QString canonical = QFileInfo(file).canonicalFilePath();
    const QFileInfo targetInfo(target);
    const QString targetPath = QFileInfo(targetInfo.absolutePath()).canonicalFilePath() +
                               QLatin1Char('/') + targetInfo.fileName();
    bool companion = false;
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        companion = companion || targetPath == canonical + QLatin1String(suffix);
    if (same || companion)
        throw UsageError{
            QStringLiteral("%1: ist der Einstellungsspeicher selbst; die Ausgabe braucht eine "
                           "andere Datei.")
                .arg(target)};
}

// Written whole or not at all: a failure never leaves half a file.
void writeOut(const QString& target, const QByteArray& bytes)
{
    if (target == QLatin1String("-")) {
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
        return;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw UsageError{QStringLiteral("%1: kann nicht geschrieben werden: %2")
                             .arg(target, file.errorString())};
}

int lineOfOffset(const QByteArray& data, int offset)
{
    return static_cast<int>(data.left(offset).count('\n')) + 1;
}

QJsonObject readJson(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw UsageError{
            QStringLiteral("%1: kann nicht gelesen werden: %2").arg(fileName, file.errorString())};
    const QByteArray data = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw UsageError{QStringLiteral("%1, Zeile %2: kein gültiges JSON: %3")
                             .arg(fileName)
                             .arg(lineOfOffset(data, parseError.offset))
                             .arg(parseError.errorString())};
    return document.object();
}

// A misspelt field would otherwise be dropped without a word.
void refuseUnknownFields(const QJsonObject& object, const QStringList& known, const QString& where)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!known.contains(it.key()))
            throw UsageError{QStringLiteral("%1: unbekanntes Feld „%2“").arg(where, it.key())};
}

// A store must move between engines unchanged, and a PostgreSQL text holds no NUL.
void refuseNul(const QStringList& texts, const QString& where)
{
    for (const QString& text : texts)
        if (text.contains(QChar(0)))
            throw RefusedEntry{
                QStringLiteral("%1: „%2“ enthält ein NUL-Zeichen; Namen und Kurzbeschreibungen "
                               "dürfen keines enthalten.")
                    .arg(where, printable(text))};
}

// Each key once in a file: a second entry would silently win over the first.
void refuseRepeatedKey(QMap<QStringList, int>& seen, const TStoreKey& key, int number,
                       const QString& what)
{
    const QStringList fields(key.begin(), key.end());
    const auto it = seen.constFind(fields);
    if (it != seen.constEnd())
        throw UsageError{QStringLiteral("%1 %2 und %1 %3 haben denselben Schlüssel „%4“")
                             .arg(what)
                             .arg(*it)
                             .arg(number)
                             .arg(keyText(key))};
    seen.insert(fields, number);
}

void requireWritable(TStoreBackend& store)
{
    if (!store.canWrite())
        throw EQuorStoreError(TStoreFailure::ReadOnly, TStoreStep::Write, TStoreEngine::File,
                              store.displayName());
}

int list(TStoreBackend& store, const QStringList& args)
{
    if (args.size() != 0 && args.size() != 3)
        throw UsageError{QStringLiteral("list erwartet keine oder drei Angaben")};
    TSearchKey from;
    for (int i = 0; i < args.size(); ++i)
        from[i] = args[i];
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom(from);
        TStoreRow row;
        while (cursor->next(row)) {
            bool inGroup = true;
            for (int i = 0; i < args.size(); ++i)
                inGroup = inGroup && row.key[i] == args[i];
            if (!inGroup)
                break;
            const QString kurz = row.hasKurzbeschreibung ? row.kurzbeschreibung
                                                         : store.find(row.key)->kurzbeschreibung;
            out(keyText(row.key) + QLatin1Char('\t') + printable(kurz) + QLatin1Char('\n'));
        }
    });
    return kOk;
}

int show(TStoreBackend& store, const QStringList& args)
{
    const TStoreKey key{args[0], args[1], args[2], args[3],
                        args.size() == 5 ? args[4] : QStringLiteral("0")};
    int status = kOk;
    inStoreAccess(store, [&] {
        const auto row = store.find(key);
        if (!row) {
            err(QStringLiteral("Datensatz „%1“ nicht gefunden.\n").arg(keyText(key)));
            status = kDrift;
            return;
        }
        out(QStringLiteral("Kurzbeschreibung: %1\n").arg(printable(row->kurzbeschreibung)));
        TStringList text;
        text.LoadFromBytes(store.readBlob(key));
        for (const QString& line : text.Lines())
            out(printable(line) + QLatin1Char('\n'));
    });
    return status;
}

struct NamedSetting {
    TStoreKey key;
    QString shortDescription;
    TFormProperties properties;
};

QStringList stringArray(const QJsonValue& value, const QString& where)
{
    if (!value.isArray())
        throw UsageError{QStringLiteral("%1: Zeilenliste erwartet").arg(where)};
    QStringList lines;
    for (const QJsonValue line : value.toArray()) {
        if (!line.isString())
            throw UsageError{QStringLiteral("%1: jede Zeile muss ein Text sein").arg(where)};
        lines.append(line.toString());
    }
    return lines;
}

QString optionalText(const QJsonObject& object, const char* field, const QString& where,
                     const QString& otherwise = {})
{
    const QJsonValue value = object.value(QLatin1String(field));
    if (value.isUndefined())
        return otherwise;
    if (!value.isString())
        throw UsageError{
            QStringLiteral("%1: \"%2\" ist kein Text").arg(where, QLatin1String(field))};
    return value.toString();
}

QList<NamedSetting> readSettings(const QString& fileName)
{
    const QJsonObject root = readJson(fileName);
    const QJsonValue settings = root.value(QStringLiteral("settings"));
    if (!settings.isArray())
        throw UsageError{QStringLiteral("%1: ein Objekt mit der Liste \"settings\" wird erwartet")
                             .arg(fileName)};
    refuseUnknownFields(root, {QStringLiteral("settings")}, fileName);
    QList<NamedSetting> result;
    QMap<QStringList, int> seen;
    int number = 0;
    for (const QJsonValue entry : settings.toArray()) {
        ++number;
        const QString where = QStringLiteral("%1, Eintrag %2").arg(fileName).arg(number);
        if (!entry.isObject())
            throw UsageError{QStringLiteral("%1: Objekt erwartet").arg(where)};
        const QJsonObject object = entry.toObject();
        refuseUnknownFields(object,
                            {QStringLiteral("name"), QStringLiteral("index"),
                             QStringLiteral("shortDescription"), QStringLiteral("description"),
                             QStringLiteral("properties")},
                            where);
        if (!object.value(QStringLiteral("name")).isString())
            throw UsageError{QStringLiteral("%1: \"name\" fehlt oder ist kein Text").arg(where)};
        NamedSetting setting;
        setting.key = {keys::Sprache, keys::Veskalo, keys::Veskalo,
                       object.value(QStringLiteral("name")).toString(),
                       optionalText(object, "index", where, keys::Index)};
        setting.shortDescription = optionalText(object, "shortDescription", where);
        refuseNul({setting.key[3], setting.key[4], setting.shortDescription}, where);
        // No list could ever offer such a setting: the lists leave out one
        // named "STANDARD", and an empty name is no entry at all.
        if (setting.key[3].isEmpty() || setting.key[3] == keys::Standard)
            throw RefusedEntry{
                QStringLiteral("%1: „%2“ kann kein Name einer benannten Einstellung sein.")
                    .arg(where, printable(setting.key[3]))};
        refuseRepeatedKey(seen, setting.key, number, QStringLiteral("Eintrag"));
        const QJsonValue description = object.value(QStringLiteral("description"));
        setting.properties.append(
            {kDescription,
             description.isUndefined()
                 ? QStringList()
                 : stringArray(description, where + QStringLiteral(", \"description\""))});
        const QJsonValue properties = object.value(QStringLiteral("properties"));
        if (!properties.isUndefined()) {
            if (!properties.isObject())
                throw UsageError{QStringLiteral("%1: \"properties\" ist kein Objekt").arg(where)};
            const QJsonObject map = properties.toObject();
            for (auto it = map.begin(); it != map.end(); ++it) {
                if (it.key() == kDescription)
                    continue;
                setting.properties.append(
                    {it.key(),
                     stringArray(it.value(), where + QStringLiteral(", \"%1\"").arg(it.key()))});
            }
        }
        result.append(std::move(setting));
    }
    return result;
}

int importSettings(TStoreBackend& store, const QStringList& args)
{
    const QList<NamedSetting> settings = readSettings(args[0]);
    QStringList replaced;
    inStoreAccess(
        store,
        [&] {
            requireWritable(store);
            for (const NamedSetting& setting : settings) {
                const QByteArray blob = formStoreBlob(setting.properties);
                if (store.find(setting.key)) {
                    store.update(setting.key, setting.shortDescription, blob);
                    replaced << setting.key[3];
                } else {
                    store.insert(setting.key, setting.shortDescription, blob);
                }
            }
        },
        TAccess::Write);
    for (const QString& name : replaced)
        out(QStringLiteral("ersetzt: „%1“\n").arg(printable(name)));
    out(QStringLiteral("%1 benannte Einstellungen eingelesen, davon %2 ersetzt.\n")
            .arg(settings.size())
            .arg(replaced.size()));
    return kOk;
}

int exportSettings(TStoreBackend& store, const QStringList& args)
{
    QJsonArray settings;
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom(
            {keys::Sprache, keys::Veskalo, keys::Veskalo, std::nullopt, std::nullopt});
        TStoreRow row;
        while (cursor->next(row)) {
            if (row.key[0] != keys::Sprache || row.key[1] != keys::Veskalo ||
                row.key[2] != keys::Veskalo)
                break;
            const TStoreContent content = store.readContent(row.key);
            const TFormProperties properties = parseFormStoreBlob(content.blob);
            QJsonObject object{{QStringLiteral("name"), row.key[3]},
                               {QStringLiteral("shortDescription"), content.kurzbeschreibung}};
            if (row.key[4] != keys::Index)
                object.insert(QStringLiteral("index"), row.key[4]);
            QJsonObject others;
            for (const TFormProperty& property : properties) {
                const QJsonArray lines = QJsonArray::fromStringList(property.lines.Lines());
                if (property.path == kDescription)
                    object.insert(QStringLiteral("description"), lines);
                else
                    others.insert(property.path, lines);
            }
            if (!others.isEmpty())
                object.insert(QStringLiteral("properties"), others);
            settings.append(object);
        }
    });
    writeOut(args[0], QJsonDocument(QJsonObject{{QStringLiteral("settings"), settings}}).toJson());
    return kOk;
}

int dump(TStoreBackend& store, const QStringList& args)
{
    QJsonArray records;
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom({});
        TStoreRow row;
        while (cursor->next(row)) {
            const TStoreContent content = store.readContent(row.key);
            QJsonArray key;
            for (const QString& field : row.key)
                key.append(field);
            records.append(QJsonObject{
                {QStringLiteral("key"), key},
                {QStringLiteral("kurzbeschreibung"), content.kurzbeschreibung},
                {QStringLiteral("daten"), QString::fromLatin1(content.blob.toBase64())}});
        }
    });
    writeOut(args[0],
             QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("quor-store")},
                                       {QStringLiteral("version"), 1},
                                       {QStringLiteral("records"), records}})
                 .toJson(QJsonDocument::Compact));
    return kOk;
}

int restore(TStoreBackend& store, const QStringList& args, bool replace)
{
    const QJsonObject root = readJson(args[0]);
    if (root.value(QStringLiteral("format")).toString() != QLatin1String("quor-store") ||
        !root.value(QStringLiteral("records")).isArray())
        throw UsageError{
            QStringLiteral("%1: keine Sicherung eines Einstellungsspeichers").arg(args[0])};
    refuseUnknownFields(
        root, {QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("records")},
        args[0]);
    struct Record {
        TStoreKey key;
        TStoreContent content;
    };
    QList<Record> records;
    QMap<QStringList, int> seen;
    int number = 0;
    for (const QJsonValue value : root.value(QStringLiteral("records")).toArray()) {
        ++number;
        const QString where = QStringLiteral("%1, Datensatz %2").arg(args[0]).arg(number);
        const QJsonObject object = value.toObject();
        const QJsonArray key = object.value(QStringLiteral("key")).toArray();
        const QJsonValue daten = object.value(QStringLiteral("daten"));
        bool ok = value.isObject() && key.size() == kKeyFieldCount && daten.isString() &&
                  object.value(QStringLiteral("kurzbeschreibung")).isString();
        Record record;
        for (int i = 0; ok && i < kKeyFieldCount; ++i) {
            ok = key[i].isString();
            record.key[i] = key[i].toString();
        }
        const auto decoded = QByteArray::fromBase64Encoding(
            daten.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!ok || !decoded)
            throw UsageError{QStringLiteral("%1: unvollständig oder beschädigt").arg(where)};
        refuseUnknownFields(
            object,
            {QStringLiteral("key"), QStringLiteral("kurzbeschreibung"), QStringLiteral("daten")},
            where);
        record.content = {object.value(QStringLiteral("kurzbeschreibung")).toString(), *decoded};
        refuseNul(QStringList(record.key.begin(), record.key.end())
                      << record.content.kurzbeschreibung,
                  where);
        refuseRepeatedKey(seen, record.key, number, QStringLiteral("Datensatz"));
        records.append(std::move(record));
    }
    inStoreAccess(
        store,
        [&] {
            requireWritable(store);
            TStoreRow any;
            if (store.scanFrom({})->next(any)) {
                if (!replace)
                    throw UsageError{QStringLiteral("Der Speicher „%1“ enthält schon Datensätze; "
                                                    "mit --replace werden sie ersetzt.")
                                         .arg(store.displayName())};
                store.removeAll();
            }
            for (const Record& record : records)
                store.insert(record.key, record.content.kurzbeschreibung, record.content.blob);
        },
        TAccess::Write);
    out(QStringLiteral("%1 Datensätze eingespielt.\n").arg(records.size()));
    return kOk;
}

int standards(TStoreBackend& store)
{
    // The assignment list is read the way the window files it.
    TAssignmentFile assignments(store);
    assignments.FormStore().Restore();
    Tmaskfile file(store);
    int status = kOk;
    for (const TStandardStatus& standard : checkStandards(file, assignments.Items())) {
        out(printable(describe(standard)) + QLatin1Char('\n'));
        if (standard.drifted())
            status = kDrift;
    }
    return status;
}

bool isSettingType(const QString& type)
{
    return std::find(keys::SettingTypes.begin(), keys::SettingTypes.end(), type) !=
           keys::SettingTypes.end();
}

void requireSettingType(const QString& type)
{
    if (!isSettingType(type))
        throw UsageError{QStringLiteral("„%1“ ist keine Aufgabe; erlaubt sind IMPORT, EXPORT "
                                        "und BRIEF")
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
                throw UsageError{QStringLiteral("post erwartet TYP NAME oder TYP=NAME, nicht „%1“")
                                     .arg(printable(arg))};
            pairs.append({arg.left(equals), arg.mid(equals + 1)});
        }
    }
    if (pairs.isEmpty())
        throw UsageError{QStringLiteral("post erwartet TYP NAME oder TYP=NAME")};
    QStringList types;
    for (const auto& [type, name] : pairs) {
        requireSettingType(type);
        if (types.contains(type))
            throw UsageError{QStringLiteral("%1 ist zweimal genannt").arg(type)};
        types << type;
        if (name.isEmpty() || name == keys::Standard || name == keys::KeinStandard ||
            name.contains(QChar(0)))
            throw UsageError{QStringLiteral("„%1“ kann nicht Standard werden: kein Name einer "
                                            "benannten Einstellung")
                                 .arg(printable(name))};
    }
    return pairs;
}

// Posting as the window's command does it: the same posting in standards/,
// with the same transaction, merge, outcomes and journal; only the outcomes
// become lines and an exit status instead of reports.
int post(TStoreBackend& store, const QStringList& args, bool refresh)
{
    QStringList types;
    QList<QPair<QString, QString>> pairs;
    if (refresh) {
        for (const QString& type : args)
            requireSettingType(type);
        types = args.isEmpty() ? QStringList(keys::SettingTypes.begin(), keys::SettingTypes.end())
                               : args;
    } else {
        pairs = postPairs(args);
        for (const auto& pair : pairs)
            types << pair.first;
    }
    TAssignmentFile assignmentFile(store);
    Tmaskfile file(store);
    TQuorBuchung posting(store);

    int status = kOk;
    QHash<QString, QString> lines;
    // A refresh decides inside the posting, from the assignment list as it is
    // stored then, so that a choice another workstation just posted is kept.
    const TChooser choose = [&](const TStringList& assignments) {
        TChoices choices;
        if (!refresh) {
            for (const auto& [type, name] : pairs)
                choices.append({type, name});
            return choices;
        }
        for (const TStandardStatus& standard : checkStandards(file, assignments)) {
            if (!types.contains(standard.type))
                continue;
            if (!standard.drifted()) {
                lines[standard.type] = printable(describe(standard));
            } else if (!standard.sourceExists) {
                lines[standard.type] =
                    QStringLiteral("%1: Einstellung „%2“ fehlt; der Standard bleibt, wie er ist")
                        .arg(standard.type, printable(standard.assignedName));
                status = kDrift;
            } else {
                choices.append({standard.type, standard.assignedName});
            }
        }
        return choices;
    };
    const TPostingResult result =
        postStandards({file, assignmentFile.FormStore(), assignmentFile.Items(),
                       [&]() -> TQuorBuchung& { return posting; }, frontEnds::Tool},
                      choose);
    if (result.failure)
        std::rethrow_exception(result.failure);
    for (const TTypePosting& posted : result.types) {
        if (posted.outcome == TPostOutcome::Copied) {
            lines[posted.type] =
                QStringLiteral("%1: „%2“ ist Standard").arg(posted.type, printable(*posted.choice));
        } else if (posted.report) {
            lines[posted.type] =
                QStringLiteral("%1: %2").arg(posted.type, printable(exceptionText(posted.report)));
            status = kDrift;
        }
    }
    for (const QString& type : types)
        if (lines.contains(type))
            out(lines[type] + QLatin1Char('\n'));
    return status;
}

int history(TStoreBackend& store, const QStringList& args, int limit, bool json)
{
    const QString type = args.value(0);
    if (!type.isEmpty())
        requireSettingType(type);
    Tmaskfile file(store);
    const QList<TJournalEntry> entries = readJournal(file, type, limit);
    if (json) {
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
        writeOut(QStringLiteral("-"), QJsonDocument(array).toJson());
        return kOk;
    }
    for (const TJournalEntry& entry : entries)
        out(QStringLiteral("%1  %2  „%3“  %4@%5  %6  sha256:%7\n")
                .arg(entry.time.toString(Qt::ISODate), entry.type.leftJustified(6),
                     printable(entry.name), printable(entry.user), printable(entry.host),
                     entry.frontEnd, entry.digest.left(12)));
    return kOk;
}

const Command* findCommand(const QString& name)
{
    for (const Command& command : kCommands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

struct Options {
    bool replace = false;
    bool refresh = false;
    bool json = false;
    int limit = 0;
};

int run(const Command& command, const QString& location, const QStringList& args,
        const Options& options)
{
    const QString name = QLatin1String(command.name);
    if (name == QLatin1String("export") || name == QLatin1String("dump"))
        refuseStoreAsTarget(location, args[0]);
    std::unique_ptr<TStoreBackend> store =
        openStore(location, command.creates ? TOpen::Create : TOpen::Existing);
    if (name == QLatin1String("list"))
        return list(*store, args);
    if (name == QLatin1String("show"))
        return show(*store, args);
    if (name == QLatin1String("import"))
        return importSettings(*store, args);
    if (name == QLatin1String("export"))
        return exportSettings(*store, args);
    if (name == QLatin1String("dump"))
        return dump(*store, args);
    if (name == QLatin1String("restore"))
        return restore(*store, args, options.replace);
    if (name == QLatin1String("post"))
        return post(*store, args, options.refresh);
    if (name == QLatin1String("history"))
        return history(*store, args, options.limit, options.json);
    return standards(*store);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    prepareStandardStreams();
    QCoreApplication::setApplicationName(QStringLiteral("quorstore"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RIMDAL_VERSION));

    // The whole command line is read and checked before any store is opened.
    QCommandLineParser parser;
    const QCommandLineOption storeOption(QStringLiteral("store"), QString(), QStringLiteral("ORT"));
    const QCommandLineOption replaceOption(QStringLiteral("replace"));
    const QCommandLineOption refreshOption(QStringLiteral("refresh"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption limitOption(QStringLiteral("limit"), QString(), QStringLiteral("N"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({storeOption, replaceOption, refreshOption, jsonOption, limitOption,
                       helpOption, versionOption});
    if (!parser.parse(QCoreApplication::arguments())) {
        err(QStringLiteral("quorstore: %1\nSiehe quorstore --help.\n").arg(parser.errorText()));
        return kUsage;
    }
    QStringList args = parser.positionalArguments();
    const Command* command = args.isEmpty() ? nullptr : findCommand(args.first());
    if (parser.isSet(versionOption)) {
        out(QStringLiteral("quorstore %1\n").arg(QCoreApplication::applicationVersion()));
        return kOk;
    }
    if (parser.isSet(helpOption) && command) {
        out(QStringLiteral("Aufruf: quorstore [--store ORT] %1 %2\n  %3\n\nSiehe quorstore "
                           "--help für Speicher und Exit-Status.\n")
                .arg(QLatin1String(command->name), QString::fromUtf8(command->arguments),
                     QString::fromUtf8(command->summary)));
        return kOk;
    }
    if (parser.isSet(helpOption)) {
        out(help());
        return kOk;
    }
    if (args.isEmpty()) {
        err(help());
        return kUsage;
    }
    if (!command) {
        err(QStringLiteral("quorstore: unbekannter Befehl „%1“\nSiehe quorstore --help.\n")
                .arg(printable(args.first())));
        return kUsage;
    }
    args.removeFirst();
    const QString name = QLatin1String(command->name);
    if (args.size() < command->minArguments || args.size() > command->maxArguments) {
        err(QStringLiteral("quorstore: Aufruf: quorstore [--store ORT] %1 %2\n")
                .arg(name, QString::fromUtf8(command->arguments)));
        return kUsage;
    }
    // Each option belongs to one command.
    const std::pair<const QCommandLineOption*, const char*> owners[] = {{&replaceOption, "restore"},
                                                                        {&refreshOption, "post"},
                                                                        {&jsonOption, "history"},
                                                                        {&limitOption, "history"}};
    for (const auto& [option, owner] : owners) {
        if (parser.isSet(*option) && name != QLatin1String(owner)) {
            err(QStringLiteral("quorstore: --%1 gilt nur für %2\n")
                    .arg(option->names().first(), QLatin1String(owner)));
            return kUsage;
        }
    }
    Options options;
    options.replace = parser.isSet(replaceOption);
    options.refresh = parser.isSet(refreshOption);
    options.json = parser.isSet(jsonOption);
    if (parser.isSet(limitOption)) {
        bool ok = false;
        options.limit = parser.value(limitOption).toInt(&ok);
        if (!ok || options.limit <= 0) {
            err(QStringLiteral("quorstore: --limit erwartet eine Zahl über 0\n"));
            return kUsage;
        }
    }
    try {
        const QString location =
            parser.isSet(storeOption) ? parser.value(storeOption) : configuredStoreLocation();
        return run(*command, location, args, options);
    } catch (const UsageError& e) {
        err(QStringLiteral("quorstore: %1\n").arg(e.message));
        return kUsage;
    } catch (const RefusedEntry& e) {
        err(QStringLiteral("quorstore: %1\n").arg(e.message));
        return kDrift;
    } catch (const EQuorStoreError& e) {
        err(QStringLiteral("quorstore: %1\n").arg(printable(e.Message())));
        return kStoreFailed;
    } catch (const std::exception& e) {
        err(QStringLiteral("quorstore: %1\n").arg(printable(exceptionText(e))));
        return kStoreFailed;
    }
}
