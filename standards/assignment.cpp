// SPDX-License-Identifier: GPL-3.0-or-later
#include "assignment.h"

#include "formstore.h"
#include "keys.h"
#include "quorstrings.h"

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

TAssignmentFile::TAssignmentFile(TStoreBackend& store)
    : m_window(store), m_strings(new TQuorStrings(&m_window)),
      m_formStore(new TQuorFormStore(&m_window))
{
    m_window.setObjectName(keys::MainWindow);
    m_strings->setObjectName(QStringLiteral("scStanBez"));
    m_formStore->FormName = {keys::Sprache, keys::Rimdal, keys::Rimdal};
    m_formStore->StoredProperties = {QStringLiteral("scStanBez.Items")};
}

TStringList& TAssignmentFile::Items()
{
    return m_strings->Items;
}
