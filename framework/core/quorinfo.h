// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storefailure.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <exception>
#include <functional>

// Where reports go: the window layer shows a message box; tests record them.
// kind is Other for a failure that is not the store's.
using TQuorReportSink =
    std::function<void(const QString& method, const QString& message, TStoreFailure kind)>;

// The error reporter. A report waits for the person to read it, so none is
// shown while this process holds a store transaction open: it would hold
// every other workstation's posting meanwhile. Such reports are kept and
// shown, in their order, as soon as the last open transaction has ended.
class TQuorInfo
{
public:
    TQuorInfo();
    ~TQuorInfo();
    TQuorInfo(const TQuorInfo&) = delete;
    TQuorInfo& operator=(const TQuorInfo&) = delete;

    // Reports the exception under the method's name and returns; with show false
    // it is only logged (quor.report, quorlog.h).
    void RegisterException(const QString& method, const std::exception& e, bool show);

    void SetSink(TQuorReportSink sink) { m_sink = std::move(sink); }

private:
    struct TReport {
        QString method;
        QString message;
        bool storeFailure = false;
        TStoreFailure kind = TStoreFailure::Other;
    };
    void show(const TReport& report);
    void showHeld();

    TQuorReportSink m_sink;
    QList<TReport> m_held;
    bool m_showingHeld = false;
    QString m_lastStoreFailure;
    QElapsedTimer m_sinceStoreFailure;
};

TQuorInfo& QuorInfo();
