// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
// window: a stand-in "frmRimdal" that owns the string container scStanBez and
// the form store fsBez over it.
class TAssignmentFile
{
public:
    // store: the store to file into; the suite's configured one when null.
    explicit TAssignmentFile(TStoreBackend* store = nullptr);
    TStringList& Items();
    TQuorFormStore& FormStore() { return *m_formStore; }

private:
    QObject m_window;
    TQuorStrings* m_strings;
    TQuorFormStore* m_formStore;
};
