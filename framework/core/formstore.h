// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>
#include <array>

class TStoreBackend;

struct TQuorFormName {
    QString Sprache;
    QString Programm;
    QString Maske;
    void SetSprache(const QString& value) { Sprache = value; }
    void SetProgramm(const QString& value) { Programm = value; }
    void SetMaske(const QString& value) { Maske = value; }
};

// Keeps string-list properties of its owner window's components ("comp.Prop")
// in the settings store. An entry is the record keyed by the three parts of
// FormName, the entry name and the index; the properties live in its blob.
class TQuorFormStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString FormNameSprache READ formNameSprache WRITE setFormNameSprache)
    Q_PROPERTY(QString FormNameProgramm READ formNameProgramm WRITE setFormNameProgramm)
    Q_PROPERTY(QString FormNameMaske READ formNameMaske WRITE setFormNameMaske)
    Q_PROPERTY(QString IndexName MEMBER IndexName)
    Q_PROPERTY(QStringList StoredProperties MEMBER StoredProperties)
    Q_PROPERTY(bool AutoRestore MEMBER AutoRestore)
    Q_PROPERTY(bool AutoStore MEMBER AutoStore)
    Q_PROPERTY(bool AutoStoreSkip MEMBER AutoStoreSkip)
public:
    // Over the store of the window that owns it.
    explicit TQuorFormStore(QObject* parent = nullptr) : QObject(parent) {}
    // Over this store (programs without a window).
    explicit TQuorFormStore(TStoreBackend& store, QObject* parent = nullptr)
        : QObject(parent), m_store(&store)
    {
    }

    TQuorFormName FormName;
    QString IndexName = QStringLiteral("0");
    QStringList StoredProperties;
    bool AutoRestore = false;
    bool AutoStore = false;
    bool AutoStoreSkip = true;

    // The store's own entry, named after the owner window.
    void Restore();
    void Store();
    // A restore that finds no entry leaves the properties as they were; a
    // property the found entry does not hold is emptied.
    void RestoreEntry(const QString& entryName, const QString& qualifier, const QString& index);

    QString OwnEntryName() const;
    // The record an entry lives in; that of the store's own entry.
    std::array<QString, 5> EntryKey(const QString& entryName, const QString& qualifier,
                                    const QString& index) const;
    std::array<QString, 5> OwnEntryKey() const
    {
        return EntryKey(OwnEntryName(), QString(), IndexName);
    }

    QString formNameSprache() const { return FormName.Sprache; }
    QString formNameProgramm() const { return FormName.Programm; }
    QString formNameMaske() const { return FormName.Maske; }
    void setFormNameSprache(const QString& v) { FormName.SetSprache(v); }
    void setFormNameProgramm(const QString& v) { FormName.SetProgramm(v); }
    void setFormNameMaske(const QString& v) { FormName.SetMaske(v); }

private:
    QObject* owner() const;
    QObject* component(const QString& path, QString& property) const;
    TStoreBackend& store();

    TStoreBackend* m_store = nullptr;
};
