// quorstore: the suite's settings store from the command line, for
// administrators and for seeding the demo store.

#include "formstore.h"
#include "formstoretext.h"
#include "keys.h"
#include "maskfile.h"
#include "quorexception.h"
#include "quorstrings.h"
#include "report.h"
#include "storebackend.h"
#include "tstringlist.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <cstdio>

namespace
{

const QString kDescription = QStringLiteral("msText.Lines");

struct UsageError {
    QString message;
};

void out(const QString& text)
{
    std::fputs(qUtf8Printable(text), stdout);
}

void err(const QString& text)
{
    std::fputs(qUtf8Printable(text), stderr);
}

void usage()
{
    err(QStringLiteral(
        "Aufruf: quorstore [--store ORT] BEFEHL ...\n"
        "  list [SPRACHE PROGRAMM MASKE]    Datensätze (einer Gruppe) auflisten\n"
        "  show SPRACHE PROGRAMM MASKE BEZEICHNUNG [INDEX]\n"
        "                                   Kurzbeschreibung und Text eines Datensatzes\n"
        "  import DATEI.json                benannte Einstellungen einlesen (alles oder nichts)\n"
        "  export DATEI.json|-              benannte Einstellungen ausgeben\n"
        "  dump DATEI.json|-                den ganzen Speicher sichern (Blobs Byte für Byte)\n"
        "  restore DATEI.json [--replace]   eine Sicherung einspielen; ein Speicher mit\n"
        "                                   Datensätzen wird nur mit --replace ersetzt\n"
        "  standards                        Stand der Standards je Aufgabe; Status 1, wenn\n"
        "                                   ein Standard von seiner Einstellung abweicht\n"
        "ORT: SQLite-Datei oder postgresql://-Adresse; ohne --store gilt QUOR_STORE.\n"));
}

QString keyText(const TStoreKey& key)
{
    return QStringList(key.begin(), key.end()).join(QLatin1Char('/'));
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
            out(keyText(row.key) + QLatin1Char('\t') + kurz + QLatin1Char('\n'));
        }
    });
    return 0;
}

int show(TStoreBackend& store, const QStringList& args)
{
    if (args.size() != 4 && args.size() != 5)
        throw UsageError{QStringLiteral("show erwartet vier oder fünf Angaben")};
    const TStoreKey key{args[0], args[1], args[2], args[3],
                        args.size() == 5 ? args[4] : QStringLiteral("0")};
    int status = 0;
    inStoreAccess(store, [&] {
        const auto row = store.find(key);
        if (!row) {
            err(QStringLiteral("Datensatz „%1“ nicht gefunden.\n").arg(keyText(key)));
            status = 1;
            return;
        }
        out(QStringLiteral("Kurzbeschreibung: %1\n").arg(row->kurzbeschreibung));
        TStringList text;
        text.LoadFromBytes(store.readBlob(key));
        for (const QString& line : text.Lines())
            out(line + QLatin1Char('\n'));
    });
    return status;
}

struct NamedSetting {
    QString name;
    QString index;
    QString shortDescription;
    TFormProperties properties;
};

int lineOfOffset(const QByteArray& data, int offset)
{
    return static_cast<int>(data.left(offset).count('\n')) + 1;
}

QStringList stringArray(const QJsonValue& value, const QString& where)
{
    if (!value.isArray())
        throw UsageError{QStringLiteral("%1: Zeilenliste erwartet").arg(where)};
    QStringList lines;
    for (const QJsonValue& line : value.toArray()) {
        if (!line.isString())
            throw UsageError{QStringLiteral("%1: jede Zeile muss ein Text sein").arg(where)};
        lines.append(line.toString());
    }
    return lines;
}

QList<NamedSetting> readSettings(const QString& fileName)
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
    const QJsonValue settings = document.object().value(QStringLiteral("settings"));
    if (!document.isObject() || !settings.isArray())
        throw UsageError{QStringLiteral("%1: ein Objekt mit der Liste \"settings\" wird erwartet")
                             .arg(fileName)};
    QList<NamedSetting> result;
    int number = 0;
    for (const QJsonValue& entry : settings.toArray()) {
        ++number;
        const QString where = QStringLiteral("%1, Eintrag %2").arg(fileName).arg(number);
        if (!entry.isObject())
            throw UsageError{QStringLiteral("%1: Objekt erwartet").arg(where)};
        const QJsonObject object = entry.toObject();
        NamedSetting setting;
        const QJsonValue name = object.value(QStringLiteral("name"));
        if (!name.isString())
            throw UsageError{QStringLiteral("%1: \"name\" fehlt oder ist kein Text").arg(where)};
        setting.name = name.toString();
        const QJsonValue index = object.value(QStringLiteral("index"));
        if (!index.isUndefined() && !index.isString())
            throw UsageError{QStringLiteral("%1: \"index\" ist kein Text").arg(where)};
        setting.index = index.isString() ? index.toString() : QStringLiteral("0");
        const QJsonValue shortDescription = object.value(QStringLiteral("shortDescription"));
        if (!shortDescription.isUndefined() && !shortDescription.isString())
            throw UsageError{QStringLiteral("%1: \"shortDescription\" ist kein Text").arg(where)};
        setting.shortDescription = shortDescription.toString();
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
    if (args.size() != 1)
        throw UsageError{QStringLiteral("import erwartet eine Datei")};
    const QList<NamedSetting> settings = readSettings(args[0]);
    inStoreAccess(
        store,
        [&] {
            if (!store.canWrite())
                throw EQuorStoreError(
                    QStringLiteral("Einstellungsdatenbank „%1“ ist schreibgeschützt.")
                        .arg(store.displayName()),
                    store.displayName());
            for (const NamedSetting& setting : settings) {
                const TStoreKey key{keys::Sprache, keys::Veskalo, keys::Veskalo, setting.name,
                                    setting.index};
                const QByteArray blob = formStoreBlob(setting.properties);
                if (store.find(key))
                    store.update(key, setting.shortDescription, blob);
                else
                    store.insert(key, setting.shortDescription, blob);
            }
        },
        TAccess::Write);
    out(QStringLiteral("%1 benannte Einstellungen eingelesen.\n").arg(settings.size()));
    return 0;
}

void writeOut(const QString& target, const QByteArray& bytes)
{
    if (target == QLatin1String("-")) {
        std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
        return;
    }
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw UsageError{QStringLiteral("%1: kann nicht geschrieben werden: %2")
                             .arg(target, file.errorString())};
}

int exportSettings(TStoreBackend& store, const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError{QStringLiteral("export erwartet eine Datei oder -")};
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
            if (row.key[4] != QLatin1String("0"))
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
    return 0;
}

int dump(TStoreBackend& store, const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError{QStringLiteral("dump erwartet eine Datei oder -")};
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
    return 0;
}

int restore(TStoreBackend& store, const QStringList& args)
{
    const bool replace = args.contains(QStringLiteral("--replace"));
    QStringList files = args;
    files.removeAll(QStringLiteral("--replace"));
    if (files.size() != 1)
        throw UsageError{QStringLiteral("restore erwartet eine Datei")};
    QFile file(files[0]);
    if (!file.open(QIODevice::ReadOnly))
        throw UsageError{
            QStringLiteral("%1: kann nicht gelesen werden: %2").arg(files[0], file.errorString())};
    const QByteArray data = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw UsageError{QStringLiteral("%1, Zeile %2: kein gültiges JSON: %3")
                             .arg(files[0])
                             .arg(lineOfOffset(data, parseError.offset))
                             .arg(parseError.errorString())};
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String("quor-store") ||
        !root.value(QStringLiteral("records")).isArray())
        throw UsageError{
            QStringLiteral("%1: keine Sicherung eines Einstellungsspeichers").arg(files[0])};
    struct Record {
        TStoreKey key;
        TStoreContent content;
    };
    QList<Record> records;
    int number = 0;
    for (const QJsonValue& value : root.value(QStringLiteral("records")).toArray()) {
        ++number;
        const QJsonObject object = value.toObject();
        const QJsonArray key = object.value(QStringLiteral("key")).toArray();
        const QJsonValue daten = object.value(QStringLiteral("daten"));
        bool ok = key.size() == kKeyFieldCount && daten.isString() &&
                  object.value(QStringLiteral("kurzbeschreibung")).isString();
        Record record;
        for (int i = 0; ok && i < kKeyFieldCount; ++i) {
            ok = key[i].isString();
            record.key[i] = key[i].toString();
        }
        const auto decoded = QByteArray::fromBase64Encoding(
            daten.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!ok || !decoded)
            throw UsageError{QStringLiteral("%1, Datensatz %2: unvollständig oder beschädigt")
                                 .arg(files[0])
                                 .arg(number)};
        record.content = {object.value(QStringLiteral("kurzbeschreibung")).toString(), *decoded};
        records.append(std::move(record));
    }
    inStoreAccess(
        store,
        [&] {
            if (!store.canWrite())
                throw EQuorStoreError(
                    QStringLiteral("Einstellungsdatenbank „%1“ ist schreibgeschützt.")
                        .arg(store.displayName()),
                    store.displayName());
            TStoreRow any;
            if (store.scanFrom({})->next(any)) {
                if (!replace)
                    throw UsageError{
                        QStringLiteral("Der Speicher „%1“ enthält schon Datensätze; mit "
                                       "--replace werden sie ersetzt.")
                            .arg(store.displayName())};
                store.removeAll();
            }
            for (const Record& record : records)
                store.insert(record.key, record.content.kurzbeschreibung, record.content.blob);
        },
        TAccess::Write);
    out(QStringLiteral("%1 Datensätze eingespielt.\n").arg(records.size()));
    return 0;
}

int standards(TStoreBackend& store, const QStringList& args)
{
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("standards erwartet keine Angaben")};
    // The assignment list is read the way the window files it.
    QObject window;
    window.setObjectName(keys::MainWindow);
    auto* strings = new TQuorStrings(&window);
    strings->setObjectName(QStringLiteral("scStanBez"));
    auto* fsBez = new TQuorFormStore(&window);
    fsBez->FormName = {keys::Sprache, keys::Rimdal, keys::Rimdal};
    fsBez->StoredProperties = {QStringLiteral("scStanBez.Items")};
    fsBez->SetStore(&store);
    fsBez->Restore();
    Tmaskfile file;
    file.SetStore(&store);
    int status = 0;
    for (const TStandardStatus& standard : checkStandards(file, strings->Items)) {
        out(describe(standard) + QLatin1Char('\n'));
        if (standard.drifted())
            status = 1;
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString location;
    if (args.size() >= 2 && args[0] == QLatin1String("--store")) {
        location = args[1];
        args = args.mid(2);
    }
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        usage();
        return args.isEmpty() ? 2 : 0;
    }
    const QString command = args.takeFirst();
    try {
        std::unique_ptr<TStoreBackend> store =
            openStore(location.isEmpty() ? configuredStoreLocation() : location);
        if (command == QLatin1String("list"))
            return list(*store, args);
        if (command == QLatin1String("show"))
            return show(*store, args);
        if (command == QLatin1String("import"))
            return importSettings(*store, args);
        if (command == QLatin1String("export"))
            return exportSettings(*store, args);
        if (command == QLatin1String("standards"))
            return standards(*store, args);
        if (command == QLatin1String("dump"))
            return dump(*store, args);
        if (command == QLatin1String("restore"))
            return restore(*store, args);
        err(QStringLiteral("quorstore: unbekannter Befehl „%1“\n").arg(command));
        usage();
        return 2;
    } catch (const UsageError& e) {
        err(QStringLiteral("quorstore: %1\n").arg(e.message));
        return 2;
    } catch (const std::exception& e) {
        err(QStringLiteral("quorstore: %1\n").arg(exceptionText(e)));
        return 1;
    }
}
