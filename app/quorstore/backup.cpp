// SPDX-License-Identifier: GPL-3.0-or-later
// dump and restore: the whole store, byte for byte.
#include "jsonfile.h"
#include "storebackup.h"
#include "tool.h"

namespace quorstore
{

int dump(TInvocation& call)
{
    call.writeOutput(call.args[0], [&](const TSink& out) { writeStoreBackup(call.store, out); });
    return Ok;
}

int restore(TInvocation& call)
{
    const TRestored restored = restoreBackup(call.store, call.args[0], call.isSet("replace"));
    if (restored.outcome == TRestore::StoreNotEmpty)
        throw EUsage{QStringLiteral("Der Speicher „%1“ enthält schon Datensätze; mit --replace "
                                    "werden sie ersetzt.")
                         .arg(call.store.displayName())};
    call.console.print(QStringLiteral("%1 Datensätze eingespielt.\n").arg(restored.count));
    return Ok;
}

} // namespace quorstore
