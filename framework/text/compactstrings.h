// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// Many short strings in one buffer: one byte a character while every character
// fits (Latin-1), else UTF-16. Tens of thousands of names held as separate
// strings would cost one allocation and several dozen bytes of bookkeeping
// each. Copies share the buffer.
class TCompactStrings
{
public:
    qsizetype size() const { return m_ends.size(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    void append(QStringView text);
    QString at(qsizetype index) const;
    QStringList toStringList() const;

private:
    qsizetype begin(qsizetype index) const { return index == 0 ? 0 : m_ends.at(index - 1); }
    void appendEnd(qsizetype end);

    QByteArray m_latin1;
    QString m_wide;
    bool m_isWide = false;
    // Where each string ends: four bytes each, for some 4 billion characters.
    QList<quint32> m_ends;
};
