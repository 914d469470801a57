// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

class Tmaskfile;
class TStringList;

// The state of one setting type's standard, for administrators.
struct TStandardStatus {
    QString type;
    bool copyExists = false;
    QString assignedName; // from the assignment list; empty without a line
    bool hasAssignment = false;
    bool sourceExists = false;
    // The copy still equals its named setting: the same short description and
    // the same text as a posting would copy it now, line ends aside.
    bool matches = false;
    // An existing copy whose named setting changed or is gone (or unknown).
    bool drifted() const { return copyExists && !matches; }
};

QList<TStandardStatus> checkStandards(Tmaskfile& file, const TStringList& assignments);
// One German line per type, e.g. "IMPORT: Kopie vorhanden, zugeordnet „X“, stimmt überein".
QString describe(const TStandardStatus& status);
