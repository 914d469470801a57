// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorinfo.h"

#include "quorexception.h"
#include "quorlogging.h"
#include "storebackend.h"
#include "storeopen.h"

#include <QScopeGuard>

namespace
{
// A store that cannot be reached makes every step of one user action fail the
// same way; the person is told once, the log gets every report.
constexpr qint64 kRepeatWindowMs = 2000;
} // namespace

TQuorInfo& QuorInfo()
{
    static TQuorInfo info;
    return info;
}

TQuorInfo::TQuorInfo()
{
    setStoreTransactionsEndedHandler([this] { showHeld(); });
}

TQuorInfo::~TQuorInfo()
{
    setStoreTransactionsEndedHandler(nullptr);
}

void TQuorInfo::RegisterException(const QString& method, const std::exception& e, bool show)
{
    const QString message = exceptionText(e);
    // The log names a store failure's kind, the engine's code and the store,
    // for support; the store as messages show it, never with a password.
    QString tag;
    if (const auto* failure = dynamic_cast<const EQuorStoreError*>(&e)) {
        const QString code = failure->Code().text();
        const QString store = displayLocation(failure->Fault().store);
        tag = QStringLiteral(" [%1%2]%3")
                  .arg(storeFailureName(failure->Kind()),
                       code.isEmpty() ? QString() : QStringLiteral(", ") + code,
                       store.isEmpty() ? QString() : QStringLiteral(" ") + store);
    }
    qCCritical(lcReport).noquote() << method + tag + QStringLiteral(": ") + message;
    if (!show || !m_sink)
        return;
    const TReport report{method, message, dynamic_cast<const EQuorStoreError*>(&e) != nullptr,
                         storeFailureOf(e)};
    if (openStoreTransactions() > 0)
        m_held.append(report);
    else
        this->show(report);
}

void TQuorInfo::show(const TReport& report)
{
    if (!m_sink)
        return;
    if (report.storeFailure && report.message == m_lastStoreFailure &&
        m_sinceStoreFailure.isValid() && m_sinceStoreFailure.elapsed() < kRepeatWindowMs)
        return;
    m_sink(report.method, report.message, report.kind);
    if (report.storeFailure) {
        m_lastStoreFailure = report.message;
        m_sinceStoreFailure.start();
    }
}

void TQuorInfo::showHeld()
{
    // While one report is on screen, a step it lets run may end a transaction
    // of its own; the reports still held wait for the first one to be closed.
    if (m_showingHeld)
        return;
    m_showingHeld = true;
    const auto done = qScopeGuard([this] { m_showingHeld = false; });
    while (!m_held.isEmpty() && openStoreTransactions() == 0)
        show(m_held.takeFirst());
}
