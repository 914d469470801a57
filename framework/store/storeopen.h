// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storebackend.h"
#include "suiteconfig.h"

#include <QString>
#include <memory>

// Which store a location names, and the engine that opens it: the one place
// that knows every engine.

// The store the suite configuration names (suiteconfig.h: a policy, then
// QUOR_STORE): a SQLite file, a SQLite "file:" URI, or a PostgreSQL address
// (a postgresql:// URI, key=value pairs or service=NAME); named nowhere, the
// suite's settings.sqlite under the user's data folder, with the origin
// Default. Throws EQuorStoreError when that is needed and there is no data
// folder (neither HOME nor XDG_DATA_HOME set).
TSettingValue configuredStore();
QString configuredStoreLocation();
// Whether a location names a PostgreSQL server: an address its client library
// takes (postgresql:// or postgres:// in any case, key=value pairs, service=).
bool isPostgresLocation(const QString& location);
// The file behind a SQLite location (a file name or a "file:" URI); empty for
// a server.
QString storeFileOf(const QString& location);
// A location as messages show it: an address never with its password.
QString displayLocation(const QString& location);

std::unique_ptr<TStoreBackend> openStore(const QString& location, TOpen mode = TOpen::Existing);
