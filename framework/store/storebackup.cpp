// SPDX-License-Identifier: GPL-3.0-or-later
#include "storebackup.h"

#include "jsonfile.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray storeBackup(TStoreBackend& store)
{
    QJsonArray records;
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom({}, TScanRead::Content);
        TStoreRow row;
        while (cursor->next(row)) {
            QJsonArray key;
            for (const QString& field : row.key)
                key.append(field);
            records.append(QJsonObject{
                {QStringLiteral("key"), key},
                {QStringLiteral("kurzbeschreibung"), row.kurzbeschreibung},
                {QStringLiteral("daten"), QString::fromLatin1(row.blob.toBase64())}});
        }
    });
    return QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("quor-store")},
                                     {QStringLiteral("version"), 1},
                                     {QStringLiteral("records"), records}})
        .toJson(QJsonDocument::Compact);
}

QList<TBackupRecord> readBackupFile(const QString& fileName)
{
    const QJsonObject root = readJsonFile(fileName);
    if (root.value(QStringLiteral("format")).toString() != QLatin1String("quor-store") ||
        !root.value(QStringLiteral("records")).isArray())
        throw EFileFormatError{
            EFileFormatError::Malformed,
            QStringLiteral("%1: keine Sicherung eines Einstellungsspeichers").arg(fileName)};
    refuseUnknownFields(
        root, {QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("records")},
        fileName);
    QList<TBackupRecord> records;
    TKeysSeen seen(QStringLiteral("Datensatz"));
    int number = 0;
    for (const QJsonValue value : root.value(QStringLiteral("records")).toArray()) {
        ++number;
        const QString where = QStringLiteral("%1, Datensatz %2").arg(fileName).arg(number);
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
        const auto decoded = QByteArray::fromBase64Encoding(
            daten.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!ok || !decoded)
            throw EFileFormatError{EFileFormatError::Malformed,
                                   QStringLiteral("%1: unvollständig oder beschädigt").arg(where)};
        refuseUnknownFields(
            object,
            {QStringLiteral("key"), QStringLiteral("kurzbeschreibung"), QStringLiteral("daten")},
            where);
        record.content = {object.value(QStringLiteral("kurzbeschreibung")).toString(), *decoded};
        refuseNul(QStringList(record.key.begin(), record.key.end())
                      << record.content.kurzbeschreibung,
                  where);
        seen.refuseRepeated(record.key, number);
        records.append(std::move(record));
    }
    return records;
}

TRestore restoreBackup(TStoreBackend& store, const QList<TBackupRecord>& records, bool replace)
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
            for (const TBackupRecord& record : records) {
                store.insert(record.key, record.content.kurzbeschreibung, record.content.blob);
                if (++waiting == kWriteBatch) {
                    store.sendWritesWaiting();
                    waiting = 0;
                }
            }
        },
        TAccess::Write);
    return result;
}
