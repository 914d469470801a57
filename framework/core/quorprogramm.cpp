// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorprogramm.h"

#include "quorexception.h"
#include "quorinfo.h"

TQuorProgramm& QuorProgramm()
{
    static TQuorProgramm programm;
    return programm;
}

void TQuorProgramm::Init(const QString& programName, TEnumProzessTypen processType,
                         TEnumInstanzen /*instances*/, int /*reserved*/, bool /*flag*/)
{
    if (m_initialised)
        throw EQuorException(
            QStringLiteral("Programmkontext: ist für „%1“ schon eingerichtet").arg(m_programName));
    if (programName.trimmed().isEmpty())
        throw EQuorException(QStringLiteral("Programmkontext: kein Programmname angegeben"));
    m_programName = programName;
    m_processType = processType;
    m_initialised = true;
}

QString TQuorProgramm::GetTextMandant() const
{
    return qEnvironmentVariable("QUOR_MANDANT");
}

void TQuorProgramm::ShowException(const std::exception& e, bool /*flag*/)
{
    QuorInfo().RegisterException(
        m_programName.isEmpty() ? QStringLiteral("Programmstart") : m_programName, e, true);
}
