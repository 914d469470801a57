// SPDX-License-Identifier: GPL-3.0-or-later
#include "storebackup.h"

#include "jsonfile.h"

#include <QJsonArray>

void writeStoreBackup(TStoreBackend& store, const std::function<void(const QByteArray&)>& out)
{
    // The compact form of one document {"format", "records", "version"},
    // written record by record.
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom({}, TScanRead::Content);
        TStoreRow row;
        QByteArray text = "{\"format\":\"quor-store\",\"records\":[";
        for (bool first = true; cursor->next(row); first = false) {
            // Qt's compact form of the record's object, its fields in order.
            text += first ? "{\"daten\":" : ",{\"daten\":";
            appendJsonAscii(text, row.blob.toBase64());
            text += ",\"key\":[";
            for (int i = 0; i < kKeyFieldCount; ++i) {
                if (i)
                    text += ',';
                appendJsonString(text, row.key[i]);
            }
            text += "],\"kurzbeschreibung\":";
            appendJsonString(text, row.kurzbeschreibung);
            text += '}';
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

// where() names the place in the file; it is made only for a message.
template <typename Where> TBackupRecord readRecord(const QJsonValue& value, const Where& where)
{
    const QJsonObject object = value.toObject();
    const QJsonArray key = object.value(QLatin1String("key")).toArray();
    const QJsonValue daten = object.value(QLatin1String("daten"));
    const QJsonValue kurz = object.value(QLatin1String("kurzbeschreibung"));
    bool ok =
        value.isObject() && key.size() == kKeyFieldCount && daten.isString() && kurz.isString();
    TBackupRecord record;
    for (int i = 0; ok && i < kKeyFieldCount; ++i) {
        ok = key[i].isString();
        record.key[i] = key[i].toString();
    }
    const auto decoded = QByteArray::fromBase64Encoding(daten.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!ok || !decoded)
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1: unvollständig oder beschädigt").arg(where())};
    static const QStringList known{QStringLiteral("key"), QStringLiteral("kurzbeschreibung"),
                                   QStringLiteral("daten")};
    refuseUnknownFields(object, known, where);
    record.content = {kurz.toString(), *decoded};
    refuseNul({&record.key[0], &record.key[1], &record.key[2], &record.key[3], &record.key[4],
               &record.content.kurzbeschreibung},
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
        TBackupRecord record = readRecord(
            value, [&] { return QStringLiteral("%1, Datensatz %2").arg(fileName).arg(number); });
        seen.refuseRepeated(record.key, number);
        records.append(std::move(record));
    }
    return records;
}

// Every record of the file, checked as readWholeFile checks them, handed to
// take as it is read (readEntries). How many there are.
template <typename Take> int streamFile(TJsonEntries& entries, const QString& fileName, Take&& take)
{
    TKeysSeen seen(QStringLiteral("Datensatz"));
    return readEntries(
        entries,
        [&](const QJsonValue& value, int number) {
            TBackupRecord record = readRecord(value, [&] {
                return QStringLiteral("%1, Datensatz %2").arg(fileName).arg(number);
            });
            seen.refuseRepeated(record.key, number);
            return record;
        },
        take,
        [&] {
            if (entries.others().value(QStringLiteral("format")).toString() !=
                    QLatin1String("quor-store") ||
                !entries.listSeen())
                throw notABackup(fileName);
            refuseUnknownFields(entries.others(), kFields, fileName);
        });
}

// Puts records in while forEach hands them on, in batches.
template <typename ForEach>
TRestored restoreEach(TStoreBackend& store, bool replace, ForEach&& forEach)
{
    TRestored result;
    inStoreAccess(
        store,
        [&] {
            requireWritable(store);
            TStoreRow any;
            bool write = true;
            if (store.scanFrom({})->next(any)) {
                // The file is still read through: a bad one is named first.
                write = replace;
                if (replace)
                    store.removeAll();
                else
                    result.outcome = TRestore::StoreNotEmpty;
            }
            store.sendWritesAhead();
            TWriteBatch batch(store);
            result.count = forEach([&](TBackupRecord&& record) {
                if (write)
                    batch.add(std::move(record));
            });
            batch.finish();
        },
        TAccess::Write);
    return result;
}
} // namespace

TRestored restoreBackup(TStoreBackend& store, const QString& fileName, bool replace)
{
    return withEntries(
        fileName, QStringLiteral("records"),
        [&](TJsonEntries& entries) {
            return restoreEach(store, replace, [&](const auto& take) {
                return readAside<TBackupRecord>(
                    [&](const auto& put) { return streamFile(entries, fileName, put); }, take);
            });
        },
        [&](TJsonEntries& entries) { streamFile(entries, fileName, [](TBackupRecord&&) {}); },
        [&] {
            QList<TBackupRecord> records = readWholeFile(fileName);
            return restoreEach(store, replace, [&](const auto& take) {
                for (TBackupRecord& record : records)
                    take(std::move(record));
                return int(records.size());
            });
        });
}
