// SPDX-License-Identifier: GPL-3.0-or-later
#include "maskfile.h"

#include "quorexception.h"
#include "storeowner.h"

#include <QBuffer>
#include <QStringList>

namespace
{
QString keyText(const TStoreKey& key)
{
    return QStringList(key.begin(), key.end()).join(QLatin1Char('/'));
}
} // namespace

Tmaskfile::Tmaskfile(QObject* parent) : QObject(parent) {}

Tmaskfile::Tmaskfile(TStoreBackend& store, QObject* parent) : QObject(parent), m_store(&store) {}

const QString& TDatenfeld_Gen::GetWert() const
{
    if (m_pendingFrom)
        m_pendingFrom->loadPending(*this);
    return m_current;
}

void Tmaskfile::loadPending(const TDatenfeld_Gen& field)
{
    auto& pending = const_cast<TDatenfeld_Gen&>(field);
    pending.m_pendingFrom = nullptr;
    TStoreBackend& s = m_accessStore ? *m_accessStore : store();
    std::optional<TStoreRow> row;
    if (m_accessStore)
        row = guarded([&] { return s.find(currentKey()); });
    else
        inStoreAccess(s, [&] { row = s.find(currentKey()); });
    pending.m_current = row ? row->kurzbeschreibung : QString();
}

Tmaskfile::~Tmaskfile()
{
    m_cursor.reset();
    // A bracket left open (the owner died in between) is given back to the store
    // without committing anything half done.
    if (m_accessStore) {
        m_accessStore->markFailed();
        while (m_access-- > 0) {
            try {
                m_accessStore->endAccess();
            } catch (const std::exception&) {
            }
        }
    }
}

TStoreBackend& Tmaskfile::store()
{
    return m_store ? *m_store : ownerStore(this);
}

void Tmaskfile::requireAccess(const char* operation) const
{
    if (m_access == 0)
        throw EQuorException(
            QStringLiteral("Satzdatei: %1 ohne begonnenen Zugriff (BeginAccess) aufgerufen")
                .arg(QLatin1String(operation)));
}

template <typename F> auto Tmaskfile::guarded(F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (...) {
        // A bracket with a failed store operation is rolled back at its end.
        if (m_accessStore)
            m_accessStore->markFailed();
        throw;
    }
}

std::array<TStringDatenKeyFeld*, kKeyFieldCount> Tmaskfile::keyFields()
{
    return {&Sprache, &Programm, &Maske, &Bezeichnung, &Index};
}

void Tmaskfile::BeginAccess(qint32 /*mode*/)
{
    TStoreBackend& s = store();
    if (m_access > 0 && &s != m_accessStore)
        throw EQuorException(QStringLiteral("Satzdatei: Zugriff auf zwei Datenbanken zugleich"));
    s.beginAccess();
    m_accessStore = &s;
    ++m_access;
}

void Tmaskfile::EndAccess()
{
    requireAccess("EndAccess");
    m_cursor.reset();
    m_writeStream.reset();
    m_writeMode.reset();
    TStoreBackend* s = m_accessStore;
    if (--m_access == 0)
        m_accessStore = nullptr;
    s->endAccess();
}

void Tmaskfile::MarkFailed()
{
    if (m_accessStore)
        m_accessStore->markFailed();
}

void Tmaskfile::clearRecord()
{
    for (TStringDatenKeyFeld* field : keyFields())
        field->m_current.clear();
    Kurzbeschreibung.m_current.clear();
    Kurzbeschreibung.m_pendingFrom = nullptr;
    m_hasRecord = false;
}

void Tmaskfile::ResetRecord()
{
    clearRecord();
    for (TStringDatenKeyFeld* field : keyFields())
        field->m_write.reset();
    Kurzbeschreibung.m_write.reset();
    m_cursor.reset();
}

void Tmaskfile::ResetKey()
{
    for (TStringDatenKeyFeld* field : keyFields())
        field->m_key.reset();
}

void Tmaskfile::SelectKey(quint16 keyNumber)
{
    if (keyNumber != DefaultKeyNumber())
        throw EQuorException(
            QStringLiteral("Satzdatei: Schlüssel Nummer %1 ist nicht vorhanden").arg(keyNumber));
}

TStoreKey Tmaskfile::currentKey()
{
    TStoreKey key;
    const auto fields = keyFields();
    for (int i = 0; i < kKeyFieldCount; ++i)
        key[i] = fields[i]->m_current;
    return key;
}

void Tmaskfile::takeRow(const TStoreRow& row)
{
    // In a scan most key fields repeat from record to record: they are shared,
    // and only what changed is assigned.
    const auto fields = keyFields();
    for (int i = 0; i < kKeyFieldCount; ++i)
        if (!fields[i]->m_current.isSharedWith(row.key[i]))
            fields[i]->m_current = row.key[i];
    Kurzbeschreibung.m_current = row.kurzbeschreibung;
    Kurzbeschreibung.m_pendingFrom = row.hasKurzbeschreibung ? nullptr : this;
    m_hasRecord = true;
}

bool Tmaskfile::FindEqual()
{
    requireAccess("FindEqual");
    m_cursor.reset();
    TStoreKey key;
    const auto fields = keyFields();
    for (int i = 0; i < kKeyFieldCount; ++i) {
        if (!fields[i]->m_key) {
            clearRecord();
            return false;
        }
        key[i] = *fields[i]->m_key;
    }
    const std::optional<TStoreRow> row = guarded([&] { return m_accessStore->find(key); });
    if (!row) {
        clearRecord();
        return false;
    }
    takeRow(*row);
    return true;
}

void Tmaskfile::advance()
{
    if (guarded([&] { return m_cursor->next(m_scanRow); })) {
        takeRow(m_scanRow);
    } else {
        clearRecord();
        m_cursor.reset();
    }
}

void Tmaskfile::Get_ge()
{
    requireAccess("Get_ge");
    TSearchKey key;
    const auto fields = keyFields();
    for (int i = 0; i < kKeyFieldCount; ++i)
        key[i] = fields[i]->m_key;
    m_cursor = guarded([&] { return m_accessStore->scanFrom(key); });
    advance();
}

void Tmaskfile::ReadNext()
{
    requireAccess("ReadNext");
    if (!m_cursor) {
        clearRecord();
        return;
    }
    advance();
}

std::unique_ptr<QIODevice> Tmaskfile::CreateBlobStream()
{
    requireAccess("CreateBlobStream");
    if (!m_hasRecord)
        throw EQuorException(QStringLiteral("Satzdatei: kein aktueller Datensatz zum Lesen"));
    // The short description is read again with the blob, so the two always
    // belong to the same version of the record, even if another workstation
    // changed it since it was found.
    TStoreContent content = guarded([&] { return m_accessStore->readContent(currentKey()); });
    Kurzbeschreibung.m_current = content.kurzbeschreibung;
    Kurzbeschreibung.m_pendingFrom = nullptr;
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(content.blob);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

bool Tmaskfile::CanPost(TWrdon mode)
{
    requireAccess("CanPost");
    if (mode == wrdonUpdate && !m_hasRecord)
        return false;
    return guarded([&] { return m_accessStore->canWrite(); });
}

QList<TStoreRecord> Tmaskfile::LastOfGroup(const TStoreGroup& group, const QString& prefix,
                                           int limit)
{
    requireAccess("LastOfGroup");
    return guarded([&] { return m_accessStore->lastOfGroup(group, prefix, limit); });
}

void Tmaskfile::Prefetch(const QList<TPrefetch>& records)
{
    requireAccess("Prefetch");
    guarded([&] { m_accessStore->prefetch(records); });
}

QIODevice* Tmaskfile::StartStreamBuchung(TWrdon mode, bool /*flag*/)
{
    requireAccess("StartStreamBuchung");
    if (mode != wrdonInsert && mode != wrdonUpdate)
        throw EQuorException(QStringLiteral("Satzdatei: unbekannte Schreibart"));
    m_writeMode = mode;
    m_writeStream = std::make_unique<QBuffer>();
    m_writeStream->open(QIODevice::WriteOnly);
    return m_writeStream.get();
}

void Tmaskfile::EndStreamBuchung()
{
    requireAccess("EndStreamBuchung");
    if (!m_writeStream || !m_writeMode)
        throw EQuorException(
            QStringLiteral("Satzdatei: EndStreamBuchung ohne StartStreamBuchung aufgerufen"));
    const QByteArray blob = m_writeStream->data();
    const TWrdon mode = *m_writeMode;
    m_writeStream.reset();
    m_writeMode.reset();

    if (mode == wrdonInsert) {
        TStoreKey key;
        const auto fields = keyFields();
        for (int i = 0; i < kKeyFieldCount; ++i) {
            if (!fields[i]->m_write)
                throw EQuorException(
                    QStringLiteral("Satzdatei: Schlüsselfeld %1 ist zum Einfügen nicht gesetzt")
                        .arg(i + 1));
            key[i] = *fields[i]->m_write;
        }
        const QString kurz = Kurzbeschreibung.m_write.value_or(QString());
        guarded([&] { m_accessStore->insert(key, kurz, blob); });
        takeRow(TStoreRow{key, kurz});
    } else {
        if (!m_hasRecord)
            throw EQuorException(QStringLiteral("Satzdatei: kein aktueller Datensatz zum Ändern"));
        const QString kurz = Kurzbeschreibung.m_write.value_or(Kurzbeschreibung.GetWert());
        const bool updated =
            guarded([&] { return m_accessStore->update(currentKey(), kurz, blob); });
        if (!updated) {
            m_accessStore->markFailed();
            throw EQuorException(
                QStringLiteral("Datensatz „%1“ ist nicht mehr vorhanden und wurde nicht geändert")
                    .arg(keyText(currentKey())));
        }
        Kurzbeschreibung.m_current = kurz;
        Kurzbeschreibung.m_pendingFrom = nullptr;
    }
    for (TStringDatenKeyFeld* field : keyFields())
        field->m_write.reset();
    Kurzbeschreibung.m_write.reset();
}
