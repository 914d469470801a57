// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorinfo.h"

#include "quorexception.h"

#include <cstdio>

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

void TQuorInfo::RegisterException(const QString& method, const std::exception& e, bool show)
{
    const QString message = exceptionText(e);
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(method), qUtf8Printable(message));
    std::fflush(stderr);
    if (!show || !m_sink)
        return;
    const bool storeFailure = dynamic_cast<const EQuorStoreError*>(&e) != nullptr;
    if (storeFailure && message == m_lastStoreFailure && m_sinceStoreFailure.isValid() &&
        m_sinceStoreFailure.elapsed() < kRepeatWindowMs)
        return;
    m_sink(method, message);
    if (storeFailure) {
        m_lastStoreFailure = message;
        m_sinceStoreFailure.start();
    }
}
