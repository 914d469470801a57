// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tstringlist.h"

// The assignment list: lines "<setting type>=<name of the named setting last
// made standard for it>", at most one per setting type.

// Replaces the type's line in place, or appends it the first time.
void setAssignment(TStringList& assignments, const QString& type, const QString& name);
// The name recorded for the type; empty when the list has no line for it.
QString assignedName(const TStringList& assignments, const QString& type);
