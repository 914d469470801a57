// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storeowner.h"
#include "tstringlist.h"

#include <QObject>

class TQuorFormStore;
class TQuorStrings;
class TStoreBackend;

// The assignment list: lines "<setting type>=<name of the named setting last
// made standard for it>", at most one per setting type.

// Replaces the type's line in place, or appends it the first time.
void setAssignment(TStringList& assignments, const QString& type, const QString& name);
// The name recorded for the type; empty when the list has no line for it.
QString assignedName(const TStringList& assignments, const QString& type);

// The assignment list filed as the window files it, for programs without the
// window: a stand-in "frmRimdal" over the given store that owns the string
// container scStanBez and the form store fsBez over it.
class TAssignmentFile
{
public:
    explicit TAssignmentFile(TStoreBackend& store);
    TStringList& Items();
    TQuorFormStore& FormStore() { return *m_formStore; }
    // The stand-in window, for more components of the window's.
    QObject& Window() { return m_window; }

private:
    class TStandIn final : public QObject, public TStoreOwner
    {
    public:
        explicit TStandIn(TStoreBackend& store) : m_store(store) {}
        TStoreBackend& OwnStore() override { return m_store; }

    private:
        TStoreBackend& m_store;
    };
    TStandIn m_window;
    TQuorStrings* m_strings;
    TQuorFormStore* m_formStore;
};
