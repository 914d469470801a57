// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsfile.h"

#include "jsonfile.h"
#include "keys.h"

#include <QJsonArray>
#include <QSet>
#include <map>

namespace
{

const QString kDescription = QStringLiteral("msText.Lines");

EFileFormatError malformed(const QString& message)
{
    return {EFileFormatError::Malformed, message};
}

// where() names the place in the file; it is made only for a message.
template <typename Where> QStringList stringArray(const QJsonValue& value, const Where& where)
{
    if (!value.isArray())
        throw malformed(QStringLiteral("%1: Zeilenliste erwartet").arg(where()));
    const QJsonArray array = value.toArray();
    QStringList lines;
    lines.reserve(array.size());
    for (const QJsonValue line : array) {
        if (!line.isString())
            throw malformed(QStringLiteral("%1: jede Zeile muss ein Text sein").arg(where()));
        lines.append(line.toString());
    }
    return lines;
}

template <typename Where>
QString optionalText(const QJsonObject& object, QLatin1String field, const Where& where,
                     const QString& otherwise = {})
{
    const QJsonValue value = object.value(field);
    if (value.isUndefined())
        return otherwise;
    if (!value.isString())
        throw malformed(QStringLiteral("%1: \"%2\" ist kein Text").arg(where(), field));
    return value.toString();
}

template <typename Where> TNamedSetting readSetting(const QJsonValue& entry, const Where& where)
{
    if (!entry.isObject())
        throw malformed(QStringLiteral("%1: Objekt erwartet").arg(where()));
    const QJsonObject object = entry.toObject();
    static const QStringList known{QStringLiteral("name"), QStringLiteral("index"),
                                   QStringLiteral("shortDescription"),
                                   QStringLiteral("description"), QStringLiteral("properties")};
    refuseUnknownFields(object, known, where);
    const QJsonValue name = object.value(QLatin1String("name"));
    if (!name.isString())
        throw malformed(QStringLiteral("%1: \"name\" fehlt oder ist kein Text").arg(where()));
    TNamedSetting setting;
    setting.key = {keys::Sprache, keys::Veskalo, keys::Veskalo, name.toString(),
                   optionalText(object, QLatin1String("index"), where, keys::Index)};
    setting.shortDescription = optionalText(object, QLatin1String("shortDescription"), where);
    refuseNul({&setting.key[3], &setting.key[4], &setting.shortDescription}, where);
    // No list could ever offer such a setting: the lists leave out one named
    // "STANDARD", and an empty name is no entry at all.
    if (setting.key[3].isEmpty() || setting.key[3] == keys::Standard)
        throw EFileFormatError{
            EFileFormatError::Refused,
            QStringLiteral("%1: „%2“ kann kein Name einer benannten Einstellung sein.")
                .arg(where(), printable(setting.key[3]))};
    const QJsonValue description = object.value(QLatin1String("description"));
    setting.properties.append(
        {kDescription, description.isUndefined() ? QStringList() : stringArray(description, [&] {
             return where() + QStringLiteral(", \"description\"");
         })});
    const QJsonValue properties = object.value(QLatin1String("properties"));
    if (properties.isUndefined())
        return setting;
    if (!properties.isObject())
        throw malformed(QStringLiteral("%1: \"properties\" ist kein Objekt").arg(where()));
    const QJsonObject map = properties.toObject();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.key() == kDescription)
            continue;
        setting.properties.append({it.key(), stringArray(it.value(), [&] {
                                       return where() + QStringLiteral(", \"%1\"").arg(it.key());
                                   })});
    }
    return setting;
}

bool isNamedSetting(const TStoreKey& key)
{
    return key[0] == keys::Sprache && key[1] == keys::Veskalo && key[2] == keys::Veskalo;
}

// A text with a lone surrogate is stored otherwise than it reads: only the
// store can tell whether such a key is held.
bool storedOtherwise(const TStoreKey& key)
{
    for (const QString& field : key)
        for (const QChar c : field)
            if (c.isSurrogate())
                return true;
    return false;
}

} // namespace

namespace
{
// The file read whole: one that TJsonEntries does not take.
QList<TNamedSetting> readWholeFile(const QString& fileName)
{
    const QJsonObject root = readJsonFile(fileName);
    const QJsonValue settings = root.value(QStringLiteral("settings"));
    if (!settings.isArray())
        throw malformed(QStringLiteral("%1: ein Objekt mit der Liste \"settings\" wird erwartet")
                            .arg(fileName));
    refuseUnknownFields(root, {QStringLiteral("settings")}, fileName);
    QList<TNamedSetting> result;
    TKeysSeen seen(QStringLiteral("Eintrag"));
    int number = 0;
    for (const QJsonValue entry : settings.toArray()) {
        ++number;
        TNamedSetting setting = readSetting(
            entry, [&] { return QStringLiteral("%1, Eintrag %2").arg(fileName).arg(number); });
        seen.refuseRepeated(setting.key, number);
        result.append(std::move(setting));
    }
    return result;
}

// Every setting of the file, checked as readWholeFile checks them, handed to
// take as it is read (readEntries). How many there are.
template <typename Take> int streamFile(TJsonEntries& entries, const QString& fileName, Take&& take)
{
    TKeysSeen seen(QStringLiteral("Eintrag"));
    return readEntries(
        entries,
        [&](const QJsonValue& entry, int number) {
            TNamedSetting setting = readSetting(
                entry, [&] { return QStringLiteral("%1, Eintrag %2").arg(fileName).arg(number); });
            seen.refuseRepeated(setting.key, number);
            return setting;
        },
        take,
        [&] {
            if (!entries.listSeen())
                throw malformed(
                    QStringLiteral("%1: ein Objekt mit der Liste \"settings\" wird erwartet")
                        .arg(fileName));
            refuseUnknownFields(entries.others(), {QStringLiteral("settings")}, fileName);
        });
}

TStoreRecord record(TNamedSetting&& setting)
{
    return {setting.key, {std::move(setting.shortDescription), formStoreBlob(setting.properties)}};
}

// Files the settings' records while forEach hands them on, in one transaction.
template <typename ForEach> TImported importEach(TStoreBackend& store, ForEach&& forEach)
{
    TImported result;
    inStoreAccess(
        store,
        [&] {
            requireWritable(store);
            // The names the group holds, in one bulk scan (a scan that reads
            // more than keys); the writers' lock keeps them so until the commit.
            QSet<QPair<QString, QString>> held;
            {
                auto cursor = store.scanFrom(
                    {keys::Sprache, keys::Veskalo, keys::Veskalo, std::nullopt, std::nullopt},
                    TScanRead::Summary);
                TStoreRow row;
                while (cursor->next(row) && isNamedSetting(row.key))
                    held.insert({row.key[3], row.key[4]});
            }
            store.sendWritesAhead();
            TWriteBatch batch(store);
            result.count = forEach([&](TStoreRecord&& setting) {
                bool replaces = held.contains({setting.key[3], setting.key[4]});
                if (!replaces && storedOtherwise(setting.key)) {
                    // Only the store can tell, once it holds what came before.
                    batch.finish();
                    replaces = store.find(setting.key).has_value();
                }
                if (replaces)
                    result.replaced << setting.key[3];
                batch.add(std::move(setting));
            });
            batch.finish();
        },
        TAccess::Write);
    return result;
}

} // namespace

QList<TNamedSetting> readSettingsFile(const QString& fileName)
{
    QList<TNamedSetting> result;
    const auto take = [&](TNamedSetting&& setting) { result.append(std::move(setting)); };
    return withEntries(
        fileName, QStringLiteral("settings"),
        [&](TJsonEntries& entries) {
            streamFile(entries, fileName, take);
            return result;
        },
        [](TJsonEntries&) {}, [&] { return readWholeFile(fileName); });
}

TImported importSettings(TStoreBackend& store, const QString& fileName)
{
    return withEntries(
        fileName, QStringLiteral("settings"),
        [&](TJsonEntries& entries) {
            return importEach(store, [&](const auto& take) {
                return readAside<TStoreRecord>(
                    [&](const auto& put) {
                        return streamFile(entries, fileName, [&](TNamedSetting&& setting) {
                            put(record(std::move(setting)));
                        });
                    },
                    take);
            });
        },
        [&](TJsonEntries& entries) { streamFile(entries, fileName, [](TNamedSetting&&) {}); },
        [&] { return importSettings(store, readWholeFile(fileName)); });
}

TImported importSettings(TStoreBackend& store, QList<TNamedSetting> settings)
{
    return importEach(store, [&](const auto& take) {
        for (TNamedSetting& setting : settings)
            take(record(std::move(setting)));
        return int(settings.size());
    });
}

void writeSettingsFile(TStoreBackend& store, const std::function<void(const QByteArray&)>& out)
{
    // The indented form of one document {"settings": [...]}, written setting
    // by setting.
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom(
            {keys::Sprache, keys::Veskalo, keys::Veskalo, std::nullopt, std::nullopt},
            TScanRead::Content);
        QByteArray text = "{\n    \"settings\": [\n";
        bool first = true;
        // The records are read here, in the store's transaction, and written
        // out on the side.
        writeAside<TStoreRow>(
            [&](const auto& put) {
                TStoreRow row;
                while (cursor->next(row) && isNamedSetting(row.key))
                    put(TStoreRow(row));
            },
            [&](TStoreRow&& row) {
                // The setting's object as Qt's indented form writes it, its fields
                // in key order; a property given twice counts as given last.
                std::optional<TStringList> description;
                std::map<QString, TStringList> others;
                for (TFormProperty& property : parseFormStoreBlob(row.blob)) {
                    if (property.path == kDescription)
                        description = std::move(property.lines);
                    else
                        others[property.path] = std::move(property.lines);
                }
                auto lines = [&](const TStringList& list, int level) {
                    if (const QString* joined = list.HeldJoinedLines())
                        appendJsonLines(text, *joined, list.Count(), level);
                    else
                        appendJsonLines(text, list.Lines(), level);
                };
                appendBytes(text, first ? "        {\n" : ",\n        {\n");
                bool firstField = true;
                auto field = [&](std::string_view name) {
                    appendBytes(text, firstField ? "            \"" : ",\n            \"");
                    appendBytes(text, name);
                    appendBytes(text, "\": ");
                    firstField = false;
                };
                if (description) {
                    field("description");
                    lines(*description, 3);
                }
                if (row.key[4] != keys::Index) {
                    field("index");
                    appendJsonString(text, row.key[4]);
                }
                field("name");
                appendJsonString(text, row.key[3]);
                if (!others.empty()) {
                    field("properties");
                    appendBytes(text, "{\n");
                    for (auto it = others.begin(); it != others.end(); ++it) {
                        appendBytes(text, it == others.begin() ? "                "
                                                               : ",\n                ");
                        appendJsonString(text, it->first);
                        appendBytes(text, ": ");
                        lines(it->second, 4);
                    }
                    appendBytes(text, "\n            }");
                }
                field("shortDescription");
                appendJsonString(text, row.kurzbeschreibung);
                appendBytes(text, "\n        }");
                first = false;
                if (text.size() >= kOutputPiece)
                    out(std::exchange(text, {}));
            });
        out(text + (first ? "" : "\n") + "    ]\n}\n");
    });
}
