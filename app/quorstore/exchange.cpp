// SPDX-License-Identifier: GPL-3.0-or-later
// import and export: named settings to and from their exchange file.
#include "jsonfile.h"
#include "settingsfile.h"
#include "tool.h"

namespace quorstore
{

int importFile(TInvocation& call)
{
    const TImported imported = importSettings(call.store, call.args[0]);
    for (const QString& name : imported.replaced)
        call.console.print(QStringLiteral("ersetzt: „%1“\n").arg(printable(name)));
    call.console.print(QStringLiteral("%1 benannte Einstellungen eingelesen, davon %2 ersetzt.\n")
                           .arg(imported.count)
                           .arg(imported.replaced.size()));
    return Ok;
}

int exportFile(TInvocation& call)
{
    call.writeOutput(call.args[0], [&](const TSink& out) { writeSettingsFile(call.store, out); });
    return Ok;
}

} // namespace quorstore
