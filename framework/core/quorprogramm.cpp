// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorprogramm.h"

#include "quorexception.h"
#include "quorinfo.h"
#include "storebackend.h"
#include "storeopen.h"
#include "suiteconfig.h"

#include <QDir>
#include <QFileInfo>

TQuorProgramm& QuorProgramm()
{
    static TQuorProgramm programm;
    return programm;
}

TQuorProgramm::TQuorProgramm() = default;
TQuorProgramm::~TQuorProgramm() = default;

TStoreBackend& TQuorProgramm::Store()
{
    if (!m_store) {
        // Only the suite's own default store is made on first use; a configured
        // store must exist, so that a mistyped name fails instead of making a
        // new, empty store.
        const TSettingValue location = configuredStore();
        const bool byDefault = location.origin == TSettingOrigin::Default;
        if (byDefault)
            QDir().mkpath(QFileInfo(location.value).absolutePath());
        m_store = openStore(location.value, byDefault ? TOpen::Create : TOpen::Existing);
    }
    return *m_store;
}

void TQuorProgramm::SetStore(std::unique_ptr<TStoreBackend> store)
{
    m_store = std::move(store);
}

void TQuorProgramm::Init(const QString& programName, TEnumProzessTypen /*processType*/,
                         TEnumInstanzen /*instances*/, int /*reserved*/, bool /*flag*/)
{
    if (m_initialised)
        throw EQuorException(
            QStringLiteral("Programmkontext: ist für „%1“ schon eingerichtet").arg(m_programName));
    if (programName.trimmed().isEmpty())
        throw EQuorException(QStringLiteral("Programmkontext: kein Programmname angegeben"));
    m_programName = programName;
    m_initialised = true;
}

QString TQuorProgramm::GetTextMandant() const
{
    return suiteSetting(TSuiteSetting::Mandant).value;
}

void TQuorProgramm::ShowException(const std::exception& e, bool /*flag*/)
{
    QuorInfo().RegisterException(
        m_programName.isEmpty() ? QStringLiteral("Programmstart") : m_programName, e, true);
}
