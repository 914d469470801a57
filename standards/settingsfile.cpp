// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsfile.h"

#include "jsonfile.h"
#include "keys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace
{

const QString kDescription = QStringLiteral("msText.Lines");

EFileFormatError malformed(const QString& message)
{
    return {EFileFormatError::Malformed, message};
}

QStringList stringArray(const QJsonValue& value, const QString& where)
{
    if (!value.isArray())
        throw malformed(QStringLiteral("%1: Zeilenliste erwartet").arg(where));
    QStringList lines;
    for (const QJsonValue line : value.toArray()) {
        if (!line.isString())
            throw malformed(QStringLiteral("%1: jede Zeile muss ein Text sein").arg(where));
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
        throw malformed(
            QStringLiteral("%1: \"%2\" ist kein Text").arg(where, QLatin1String(field)));
    return value.toString();
}

TNamedSetting readSetting(const QJsonValue& entry, const QString& where)
{
    if (!entry.isObject())
        throw malformed(QStringLiteral("%1: Objekt erwartet").arg(where));
    const QJsonObject object = entry.toObject();
    refuseUnknownFields(object,
                        {QStringLiteral("name"), QStringLiteral("index"),
                         QStringLiteral("shortDescription"), QStringLiteral("description"),
                         QStringLiteral("properties")},
                        where);
    if (!object.value(QStringLiteral("name")).isString())
        throw malformed(QStringLiteral("%1: \"name\" fehlt oder ist kein Text").arg(where));
    TNamedSetting setting;
    setting.key = {keys::Sprache, keys::Veskalo, keys::Veskalo,
                   object.value(QStringLiteral("name")).toString(),
                   optionalText(object, "index", where, keys::Index)};
    setting.shortDescription = optionalText(object, "shortDescription", where);
    refuseNul({setting.key[3], setting.key[4], setting.shortDescription}, where);
    // No list could ever offer such a setting: the lists leave out one named
    // "STANDARD", and an empty name is no entry at all.
    if (setting.key[3].isEmpty() || setting.key[3] == keys::Standard)
        throw EFileFormatError{
            EFileFormatError::Refused,
            QStringLiteral("%1: „%2“ kann kein Name einer benannten Einstellung sein.")
                .arg(where, printable(setting.key[3]))};
    const QJsonValue description = object.value(QStringLiteral("description"));
    setting.properties.append(
        {kDescription,
         description.isUndefined()
             ? QStringList()
             : stringArray(description, where + QStringLiteral(", \"description\""))});
    const QJsonValue properties = object.value(QStringLiteral("properties"));
    if (properties.isUndefined())
        return setting;
    if (!properties.isObject())
        throw malformed(QStringLiteral("%1: \"properties\" ist kein Objekt").arg(where));
    const QJsonObject map = properties.toObject();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.key() == kDescription)
            continue;
        setting.properties.append(
            {it.key(), stringArray(it.value(), where + QStringLiteral(", \"%1\"").arg(it.key()))});
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
        TNamedSetting setting =
            readSetting(entry, QStringLiteral("%1, Eintrag %2").arg(fileName).arg(number));
        seen.refuseRepeated(setting.key, number);
        result.append(std::move(setting));
    }
    return result;
}

// Every setting of the file, checked as readWholeFile checks them, handed to
// take: the file's faults in the same order as there, the first one thrown
// once the file is read to its end. How many there are, or nullopt for a file
// to be read whole.
std::optional<TStreamed> streamFile(const QString& fileName,
                                    const std::function<void(const TNamedSetting&)>& take)
{
    std::optional<EFileFormatError> fault;
    TKeysSeen seen(QStringLiteral("Eintrag"));
    int number = 0;
    QByteArray digest;
    try {
        TJsonEntries entries(fileName, QStringLiteral("settings"));
        QJsonValue entry;
        while (entries.next(entry)) {
            ++number;
            if (fault)
                continue;
            try {
                const TNamedSetting setting =
                    readSetting(entry, QStringLiteral("%1, Eintrag %2").arg(fileName).arg(number));
                seen.refuseRepeated(setting.key, number);
                take(setting);
            } catch (const EFileFormatError& e) {
                fault = e;
            }
        }
        if (!entries.listSeen())
            throw malformed(
                QStringLiteral("%1: ein Objekt mit der Liste \"settings\" wird erwartet")
                    .arg(fileName));
        refuseUnknownFields(entries.others(), {QStringLiteral("settings")}, fileName);
        digest = entries.digest();
    } catch (const TJsonEntries::Whole&) {
        return std::nullopt;
    }
    if (fault)
        throw *fault;
    return TStreamed{number, digest};
}
} // namespace

QList<TNamedSetting> readSettingsFile(const QString& fileName)
{
    QList<TNamedSetting> result;
    if (!streamFile(fileName, [&](const TNamedSetting& setting) { result.append(setting); }))
        return readWholeFile(fileName);
    return result;
}

TSettingsSource::TSettingsSource(QString fileName) : m_fileName(std::move(fileName))
{
    if (const auto streamed = streamFile(m_fileName, [](const TNamedSetting&) {})) {
        m_count = streamed->count;
        m_digest = streamed->digest;
        return;
    }
    m_whole = readWholeFile(m_fileName);
    m_count = int(m_whole->size());
}

void TSettingsSource::forEach(const std::function<void(const TNamedSetting&)>& take) const
{
    if (m_whole) {
        for (const TNamedSetting& setting : *m_whole)
            take(setting);
        return;
    }
    // The file changed since it was checked: nothing of it is kept.
    const auto again = streamFile(m_fileName, take);
    if (!again || again->count != m_count || again->digest != m_digest)
        throw malformed(QStringLiteral("%1: hat sich beim Einlesen geändert").arg(m_fileName));
}

namespace
{
using TEachSetting = std::function<void(const std::function<void(const TNamedSetting&)>&)>;

QStringList importEach(TStoreBackend& store, const TEachSetting& forEach)
{
    QStringList replaced;
    inStoreAccess(
        store,
        [&] {
            requireWritable(store);
            // The names the group holds, in one bulk scan; the writers' lock
            // keeps them so until the commit.
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
            int waiting = 0;
            forEach([&](const TNamedSetting& setting) {
                const QByteArray blob = formStoreBlob(setting.properties);
                const bool exists = held.contains({setting.key[3], setting.key[4]}) ||
                                    (storedOtherwise(setting.key) && store.find(setting.key));
                if (exists) {
                    store.update(setting.key, setting.shortDescription, blob);
                    replaced << setting.key[3];
                } else {
                    store.insert(setting.key, setting.shortDescription, blob);
                }
                if (++waiting == kWriteBatch) {
                    store.sendWritesWaiting();
                    waiting = 0;
                }
            });
        },
        TAccess::Write);
    return replaced;
}

} // namespace

QStringList importSettings(TStoreBackend& store, const TSettingsSource& settings)
{
    return importEach(store, [&](const auto& take) { settings.forEach(take); });
}

QStringList importSettings(TStoreBackend& store, const QList<TNamedSetting>& settings)
{
    return importEach(store, [&](const auto& take) {
        for (const TNamedSetting& setting : settings)
            take(setting);
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
        TStoreRow row;
        QByteArray text = "{\n    \"settings\": [\n";
        bool first = true;
        while (cursor->next(row) && isNamedSetting(row.key)) {
            QJsonObject object{{QStringLiteral("name"), row.key[3]},
                               {QStringLiteral("shortDescription"), row.kurzbeschreibung}};
            if (row.key[4] != keys::Index)
                object.insert(QStringLiteral("index"), row.key[4]);
            QJsonObject others;
            for (const TFormProperty& property : parseFormStoreBlob(row.blob)) {
                const QJsonArray lines = QJsonArray::fromStringList(property.lines.Lines());
                if (property.path == kDescription)
                    object.insert(QStringLiteral("description"), lines);
                else
                    others.insert(property.path, lines);
            }
            if (!others.isEmpty())
                object.insert(QStringLiteral("properties"), others);
            text += (first ? "" : ",\n") + indentedListEntry(object);
            first = false;
            if (text.size() >= kOutputPiece)
                out(std::exchange(text, {}));
        }
        out(text + (first ? "" : "\n") + "    ]\n}\n");
    });
}
