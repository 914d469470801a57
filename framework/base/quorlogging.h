// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// The suite's logging categories, each turned on or off by QT_LOGGING_RULES
// (quorstore --verbose turns on quor.store.*.debug).

// Every report of the window and every failure of the store tool.
Q_DECLARE_LOGGING_CATEGORY(lcReport)
// How a store is connected: the hosts tried, TLS, the host that answered. Debug only.
Q_DECLARE_LOGGING_CATEGORY(lcStoreConnect)
// How a posting's outcome was learned after its answer was lost. Debug only.
Q_DECLARE_LOGGING_CATEGORY(lcStoreOutcome)
