// SPDX-License-Identifier: GPL-3.0-or-later
#include "formstore.h"

#include "formstoretext.h"
#include "quorexception.h"
#include "storebackend.h"
#include "storeowner.h"

#include <QMetaProperty>
#include <QVariant>

TStoreBackend& TQuorFormStore::store()
{
    return m_store ? *m_store : ownerStore(this);
}

QObject* TQuorFormStore::owner() const
{
    QObject* top = const_cast<TQuorFormStore*>(this);
    while (top->parent())
        top = top->parent();
    return top;
}

QString TQuorFormStore::OwnEntryName() const
{
    return owner()->objectName();
}

QObject* TQuorFormStore::component(const QString& path, QString& property) const
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot <= 0 || dot == path.size() - 1)
        throw EQuorException(
            QStringLiteral("Formularspeicher: ungültige Eigenschaft „%1“").arg(path));
    const QString name = path.left(dot);
    property = path.mid(dot + 1);
    QObject* top = owner();
    QObject* target = top->objectName() == name ? top : top->findChild<QObject*>(name);
    if (!target)
        throw EQuorException(
            QStringLiteral("Formularspeicher: Komponente „%1“ nicht gefunden").arg(name));
    // The declared type decides; reading the value only to look at its type
    // would copy a memo's whole text.
    const QByteArray propertyName = property.toUtf8();
    const int index = target->metaObject()->indexOfProperty(propertyName.constData());
    const QMetaType type = index >= 0 ? target->metaObject()->property(index).metaType()
                                      : target->property(propertyName.constData()).metaType();
    if (!type.isValid() || !QMetaType::canConvert(type, QMetaType::fromType<QStringList>()))
        throw EQuorException(
            QStringLiteral("Formularspeicher: „%1“ ist keine Zeilenliste").arg(path));
    return target;
}

void TQuorFormStore::RestoreEntry(const QString& entryName, const QString& qualifier,
                                  const QString& index)
{
    const TStoreKey key = EntryKey(entryName, qualifier, index);
    TStoreBackend& s = store();
    QByteArray blob;
    bool found = false;
    inStoreAccess(s, [&] {
        // Whether the entry is there and what it holds, in one read.
        s.prefetch({{key, true}});
        if (s.find(key)) {
            blob = s.readBlob(key);
            found = true;
        }
    });
    if (!found)
        return;
    const TFormProperties properties = parseFormStoreBlob(blob);
    for (const QString& path : StoredProperties) {
        // A property the entry does not hold is emptied: nothing of another
        // entry stays standing beside this one.
        const TStringList* lines = findFormProperty(properties, path);
        QString property;
        QObject* target = component(path, property);
        target->setProperty(property.toUtf8().constData(),
                            QVariant::fromValue(lines ? *lines : TStringList()));
    }
}

TStoreKey TQuorFormStore::EntryKey(const QString& entryName, const QString& qualifier,
                                   const QString& index) const
{
    // The second qualifier narrows the entry name; this suite files entries without one.
    const QString entry = qualifier.isEmpty() ? entryName : entryName + qualifier;
    return {FormName.Sprache, FormName.Programm, FormName.Maske, entry, index};
}

void TQuorFormStore::Restore()
{
    RestoreEntry(OwnEntryName(), QString(), IndexName);
}

void TQuorFormStore::Store()
{
    TFormProperties properties;
    for (const QString& path : StoredProperties) {
        QString property;
        QObject* target = component(path, property);
        properties.append(
            {path, target->property(property.toUtf8().constData()).value<TStringList>()});
    }
    const QByteArray blob = formStoreBlob(properties);
    const TStoreKey key = OwnEntryKey();
    TStoreBackend& s = store();
    inStoreAccess(
        s,
        [&] {
            requireWritable(s);
            const std::optional<TStoreRow> row = s.find(key);
            if (row)
                s.update(key, row->kurzbeschreibung, blob);
            else
                s.insert(key, QString(), blob);
        },
        TAccess::Write);
}
