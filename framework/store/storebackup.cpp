// SPDX-License-Identifier: GPL-3.0-or-later
#include "storebackup.h"

#include "jsonfile.h"

#include <QJsonArray>
#include <QJsonDocument>

void writeStoreBackup(TStoreBackend& store, const std::function<void(const QByteArray&)>& out)
{
    // The compact form of one document {"format", "records", "version"},
    // written record by record.
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom({}, TScanRead::Content);
        TStoreRow row;
        QByteArray text = "{\"format\":\"quor-store\",\"records\":[";
        for (bool first = true; cursor->next(row); first = false) {
            QJsonArray key;
            for (const QString& field : row.key)
                key.append(field);
            if (!first)
                text += ',';
            text += QJsonDocument(
                        QJsonObject{
                            {QStringLiteral("key"), key},
                            {QStringLiteral("kurzbeschreibung"), row.kurzbeschreibung},
                            {QStringLiteral("daten"), QString::fromLatin1(row.blob.toBase64())}})
                        .toJson(QJsonDocument::Compact);
            if (text.size() >= kOutputPiece)
                out(std::exchange(text, {}));
        }
        out(text + "],\"version\":1}");
    });
}

namespace
{
EFileFormatError notABackup(const QString& fileName)
{
    return {EFileFormatError::Malformed,
            QStringLiteral("%1: keine Sicherung eines Einstellungsspeichers").arg(fileName)};
}

const QStringList kFields{QStringLiteral("format"), QStringLiteral("version"),
                          QStringLiteral("records")};

TBackupRecord readRecord(const QJsonValue& value, const QString& where)
{
    const QJsonObject object = value.toObject();
    const QJsonArray key = object.value(QStringLiteral("key")).toArray();
    const QJsonValue daten = object.value(QStringLiteral("daten"));
    bool ok = value.isObject() && key.size() == kKeyFieldCount && daten.isString() &&
              object.value(QStringLiteral("kurzbeschreibung")).isString();
    TBackupRecord record;
    for (int i = 0; ok && i < kKeyFieldCount; ++i) {
        ok = key[i].isString();
        record.key[i] = key[i].toString();
    }
    const auto decoded = QByteArray::fromBase64Encoding(daten.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!ok || !decoded)
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1: unvollständig oder beschädigt").arg(where)};
    refuseUnknownFields(
        object,
        {QStringLiteral("key"), QStringLiteral("kurzbeschreibung"), QStringLiteral("daten")},
        where);
    record.content = {object.value(QStringLiteral("kurzbeschreibung")).toString(), *decoded};
    refuseNul(QStringList(record.key.begin(), record.key.end()) << record.content.kurzbeschreibung,
              where);
    return record;
}

// The file read whole: one that TJsonEntries does not take.
QList<TBackupRecord> readWholeFile(const QString& fileName)
{
    const QJsonObject root = readJsonFile(fileName);
    if (root.value(QStringLiteral("format")).toString() != QLatin1String("quor-store") ||
        !root.value(QStringLiteral("records")).isArray())
        throw notABackup(fileName);
    refuseUnknownFields(root, kFields, fileName);
    QList<TBackupRecord> records;
    TKeysSeen seen(QStringLiteral("Datensatz"));
    int number = 0;
    for (const QJsonValue value : root.value(QStringLiteral("records")).toArray()) {
        ++number;
        TBackupRecord record =
            readRecord(value, QStringLiteral("%1, Datensatz %2").arg(fileName).arg(number));
        seen.refuseRepeated(record.key, number);
        records.append(std::move(record));
    }
    return records;
}

// Every record of the file, checked as readWholeFile checks them, handed to
// take; the faults in the same order as there, the first one thrown once the
// file is read to its end. How many there are, or nullopt for a file to be
// read whole.
std::optional<TStreamed> streamFile(const QString& fileName,
                                    const std::function<void(const TBackupRecord&)>& take)
{
    std::optional<EFileFormatError> fault;
    TKeysSeen seen(QStringLiteral("Datensatz"));
    int number = 0;
    QByteArray digest;
    try {
        TJsonEntries entries(fileName, QStringLiteral("records"));
        QJsonValue value;
        while (entries.next(value)) {
            ++number;
            if (fault)
                continue;
            try {
                const TBackupRecord record =
                    readRecord(value, QStringLiteral("%1, Datensatz %2").arg(fileName).arg(number));
                seen.refuseRepeated(record.key, number);
                take(record);
            } catch (const EFileFormatError& e) {
                fault = e;
            }
        }
        if (entries.others().value(QStringLiteral("format")).toString() !=
                QLatin1String("quor-store") ||
            !entries.listSeen())
            throw notABackup(fileName);
        refuseUnknownFields(entries.others(), kFields, fileName);
        digest = entries.digest();
    } catch (const TJsonEntries::Whole&) {
        return std::nullopt;
    }
    if (fault)
        throw *fault;
    return TStreamed{number, digest};
}
} // namespace

TBackupSource::TBackupSource(QString fileName) : m_fileName(std::move(fileName))
{
    if (const auto streamed = streamFile(m_fileName, [](const TBackupRecord&) {})) {
        m_count = streamed->count;
        m_digest = streamed->digest;
        return;
    }
    m_whole = readWholeFile(m_fileName);
    m_count = int(m_whole->size());
}

void TBackupSource::forEach(const std::function<void(const TBackupRecord&)>& take) const
{
    if (m_whole) {
        for (const TBackupRecord& record : *m_whole)
            take(record);
        return;
    }
    // The file changed since it was checked: nothing of it is kept.
    const auto again = streamFile(m_fileName, take);
    if (!again || again->count != m_count || again->digest != m_digest)
        throw EFileFormatError{
            EFileFormatError::Malformed,
            QStringLiteral("%1: hat sich beim Einlesen geändert").arg(m_fileName)};
}

TRestore restoreBackup(TStoreBackend& store, const TBackupSource& records, bool replace)
{
    TRestore result = TRestore::Restored;
    inStoreAccess(
        store,
        [&] {
            requireWritable(store);
            TStoreRow any;
            if (store.scanFrom({})->next(any)) {
                if (!replace) {
                    result = TRestore::StoreNotEmpty;
                    return;
                }
                store.removeAll();
            }
            store.sendWritesAhead();
            int waiting = 0;
            records.forEach([&](const TBackupRecord& record) {
                store.insert(record.key, record.content.kurzbeschreibung, record.content.blob);
                if (++waiting == kWriteBatch) {
                    store.sendWritesWaiting();
                    waiting = 0;
                }
            });
        },
        TAccess::Write);
    return result;
}
