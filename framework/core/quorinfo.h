// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <exception>
#include <functional>

// Where reports go: the window layer shows a message box; tests record them.
using TQuorReportSink = std::function<void(const QString& method, const QString& message)>;

// The error reporter.
class TQuorInfo
{
public:
    // Reports the exception under the method's name and returns; with show false
    // it is only written to standard error.
    void RegisterException(const QString& method, const std::exception& e, bool show);

    void SetSink(TQuorReportSink sink) { m_sink = std::move(sink); }

private:
    TQuorReportSink m_sink;
    QString m_lastStoreFailure;
    QElapsedTimer m_sinceStoreFailure;
};

TQuorInfo& QuorInfo();
