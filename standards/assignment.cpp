// SPDX-License-Identifier: GPL-3.0-or-later
#include "assignment.h"

void setAssignment(TStringList& assignments, const QString& type, const QString& name)
{
    const QString line = type + QLatin1Char('=') + name;
    const int index = assignments.IndexOfName(type);
    if (index >= 0)
        assignments.Put(index, line);
    else
        assignments.Add(line);
}

QString assignedName(const TStringList& assignments, const QString& type)
{
    return assignments.Values(type);
}
