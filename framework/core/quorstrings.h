// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tstringlist.h"

#include <QObject>

// Non-visual component holding a line list that a form store can file.
class TQuorStrings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList Items READ itemLines WRITE setItemLines)
public:
    explicit TQuorStrings(QObject* parent = nullptr) : QObject(parent) {}

    TStringList Items;

    QStringList itemLines() const { return Items.Lines(); }
    void setItemLines(const QStringList& lines) { Items.SetLines(lines); }
};
