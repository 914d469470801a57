// SPDX-License-Identifier: GPL-3.0-or-later
#include "compactstrings.h"

#include "quorexception.h"

#include <limits>

void TCompactStrings::append(QStringView text)
{
    const char16_t* units = text.utf16();
    const qsizetype n = text.size();
    if (!m_isWide) {
        // Narrowed and checked in one pass; undone if a character did not fit.
        const qsizetype at = m_latin1.size();
        m_latin1.resize(at + n);
        char* out = m_latin1.data() + at;
        char16_t seen = 0;
        for (qsizetype i = 0; i < n; ++i) {
            seen |= units[i];
            out[i] = char(units[i]);
        }
        if (seen <= 0xFF) {
            appendEnd(at + n);
            return;
        }
        // The first character beyond Latin-1: from now on two bytes a character.
        m_latin1.resize(at);
        m_wide = QString::fromLatin1(m_latin1);
        m_latin1 = QByteArray();
        m_isWide = true;
    }
    m_wide.append(text);
    appendEnd(m_wide.size());
}

void TCompactStrings::appendEnd(qsizetype end)
{
    if (end > qsizetype(std::numeric_limits<quint32>::max())) {
        m_latin1.truncate(begin(size()));
        m_wide.truncate(begin(size()));
        throw EQuorException(
            QStringLiteral("Die Einträge passen nicht in eine Auswahlliste (zu viel Text)."));
    }
    m_ends.append(quint32(end));
}

QString TCompactStrings::at(qsizetype index) const
{
    const qsizetype from = begin(index);
    const qsizetype length = m_ends.at(index) - from;
    if (m_isWide)
        return m_wide.mid(from, length);
    return QString::fromLatin1(m_latin1.constData() + from, length);
}

QStringList TCompactStrings::toStringList() const
{
    QStringList list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}
