// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorbuchung.h"

#include "quorexception.h"
#include "quorprogramm.h"
#include "storebackend.h"

#include <QString>

TQuorBuchung& QuorBuchung(bool /*flag*/)
{
    static TQuorBuchung buchung;
    return buchung;
}

void TQuorBuchung::BeginPosting(char kind, int /*a*/, int /*b*/, qint64& postingNumber)
{
    if (kind == '\0')
        throw EQuorException(QStringLiteral("Buchungskontext: keine Buchungsart angegeben"));
    TStoreBackend& store = m_store ? *m_store : QuorProgramm().Store();
    m_last = nullptr;
    store.beginAccess(TAccess::Write);
    if (m_writesAhead && m_stores.empty())
        store.sendWritesAhead();
    m_stores.push_back(&store);
    m_last = &store;
    ++m_begun;
    postingNumber = ++m_lastNumber;
}

void TQuorBuchung::EndPosting(int /*flag*/)
{
    if (m_stores.empty())
        throw EQuorException(QStringLiteral("Buchungskontext: keine Buchung begonnen"));
    TStoreBackend* store = m_stores.back();
    m_stores.pop_back();
    ++m_ended;
    store->endAccess();
}

bool TQuorBuchung::PostingLost() const
{
    return !m_stores.empty() && m_stores.back()->transactionLost();
}

void TQuorBuchung::CancelPosting() noexcept
{
    if (m_stores.empty())
        return;
    ++m_ended;
    TStoreBackend* store = m_stores.back();
    m_stores.pop_back();
    TStoreAccessGuard(*store).giveBack();
}

void TQuorBuchung::Post(const std::function<void()>& body)
{
    m_writesAhead = true;
    try {
        body();
    } catch (...) {
        m_writesAhead = false;
        throw;
    }
    m_writesAhead = false;
    if (m_last && m_last->writesAheadFailed())
        body();
}
