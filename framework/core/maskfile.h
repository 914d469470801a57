// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"

#include <QObject>
#include <QString>
#include <array>
#include <memory>
#include <optional>

class QBuffer;
class QIODevice;
class Tmaskfile;

// Write modes: two-character codes.
using TWrdon = std::array<char, 2>;
inline constexpr TWrdon wrdonInsert{'I', 'N'};
inline constexpr TWrdon wrdonUpdate{'U', 'P'};

// A text field of the record file: GetWert reads the current record's value,
// SetWert sets the value to write.
class TDatenfeld_Gen
{
public:
    const QString& GetWert() const;
    void SetWert(const QString& value) { m_write = value; }

private:
    friend class Tmaskfile;
    mutable QString m_current;
    std::optional<QString> m_write;
    // Set while the current record's value is still in the store.
    Tmaskfile* m_pendingFrom = nullptr;
};

// A key field; SetKeyWert sets its search value, which stays until set again or reset.
class TStringDatenKeyFeld : public TDatenfeld_Gen
{
public:
    void SetKeyWert(const QString& value) { m_key = value; }

private:
    friend class Tmaskfile;
    std::optional<QString> m_key;
};

// The record file over the suite's settings store. Every use is bracketed by
// BeginAccess/EndAccess, which is one transaction of the store.
class Tmaskfile : public QObject
{
    Q_OBJECT
public:
    // Over the store of the window that owns it.
    explicit Tmaskfile(QObject* parent = nullptr);
    // Over this store (programs without a window).
    explicit Tmaskfile(TStoreBackend& store, QObject* parent = nullptr);
    ~Tmaskfile() override;

    TStringDatenKeyFeld Sprache;
    TStringDatenKeyFeld Programm;
    TStringDatenKeyFeld Maske;
    TStringDatenKeyFeld Bezeichnung;
    TStringDatenKeyFeld Index;
    TDatenfeld_Gen Kurzbeschreibung;

    void BeginAccess(qint32 mode);
    void EndAccess();
    // The step inside the open bracket failed: its writes are given back at EndAccess.
    void MarkFailed();

    void ResetRecord();
    void ResetKey();
    quint16 DefaultKeyNumber() const { return 1; }
    void SelectKey(quint16 keyNumber);

    bool FindEqual();
    void Get_ge();
    void ReadNext();
    bool HasRecord() const { return m_hasRecord; }

    // The last records of a group, with their content, in one go (see
    // TStoreBackend::lastOfGroup); the current record stays as it is.
    QList<TStoreRecord> LastOfGroup(const TStoreGroup& group, const QString& prefix, int limit);

    // A new read stream over the current record's blob; the caller frees it.
    std::unique_ptr<QIODevice> CreateBlobStream();

    bool CanPost(TWrdon mode);
    // The records the step will look for next, read in one go.
    void Prefetch(const QList<TPrefetch>& records);
    // The returned stream belongs to the file; write the whole blob into it.
    QIODevice* StartStreamBuchung(TWrdon mode, bool flag);
    void EndStreamBuchung();

private:
    TStoreBackend& store();
    void requireAccess(const char* operation) const;
    std::array<TStringDatenKeyFeld*, kKeyFieldCount> keyFields();
    void takeRow(const TStoreRow& row);
    void clearRecord();
    void advance();
    friend class TDatenfeld_Gen;
    void loadPending(const TDatenfeld_Gen& field);
    template <typename F> auto guarded(F&& f) -> decltype(f());

    TStoreBackend* m_store = nullptr;
    TStoreBackend* m_accessStore = nullptr;
    int m_access = 0;
    bool m_hasRecord = false;
    TStoreKey currentKey();
    TStoreRow m_scanRow;
    std::unique_ptr<TStoreCursor> m_cursor;
    std::unique_ptr<QBuffer> m_writeStream;
    std::optional<TWrdon> m_writeMode;
};

// An open BeginAccess/EndAccess bracket of the file.
using TFileAccessGuard = TAccessGuard<Tmaskfile, &Tmaskfile::MarkFailed, &Tmaskfile::EndAccess>;

// Runs body inside one BeginAccess(-1)/EndAccess bracket of the file. EndAccess
// runs also when body fails; the first failure is the one passed on.
template <typename Body> void withAccess(Tmaskfile& file, Body&& body)
{
    file.BeginAccess(-1);
    TFileAccessGuard access(file);
    body();
    access.close();
}
