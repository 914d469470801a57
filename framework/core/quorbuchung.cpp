#include "quorbuchung.h"

#include "quorexception.h"

#include <QString>

TQuorBuchung& QuorBuchung(bool /*flag*/)
{
    static TQuorBuchung buchung;
    return buchung;
}

void TQuorBuchung::BeginPosting(char kind, int /*a*/, int /*b*/, qint64& postingNumber)
{
    if (m_faultHook)
        m_faultHook("BeginPosting");
    if (kind == '\0')
        throw EQuorException(QStringLiteral("Buchungskontext: keine Buchungsart angegeben"));
    ++m_open;
    ++m_begun;
    postingNumber = ++m_lastNumber;
}

void TQuorBuchung::EndPosting(int /*flag*/)
{
    if (m_faultHook)
        m_faultHook("EndPosting");
    if (m_open == 0)
        throw EQuorException(QStringLiteral("Buchungskontext: keine Buchung begonnen"));
    --m_open;
    ++m_ended;
}
