// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorlogging.h"

Q_LOGGING_CATEGORY(lcReport, "quor.report", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStoreConnect, "quor.store.connect", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStoreOutcome, "quor.store.outcome", QtInfoMsg)
