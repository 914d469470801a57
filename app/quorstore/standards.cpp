// SPDX-License-Identifier: GPL-3.0-or-later
// standards: per setting type, whether its standard still matches its setting.
#include "assignment.h"
#include "formstore.h"
#include "jsonfile.h"
#include "maskfile.h"
#include "report.h"
#include "tool.h"

namespace quorstore
{

int standards(TInvocation& call)
{
    // The assignment list is read the way the window files it.
    TAssignmentFile assignments(call.store);
    assignments.FormStore().Restore();
    Tmaskfile file(call.store);
    int status = Ok;
    for (const TStandardStatus& standard : checkStandards(file, assignments.Items())) {
        call.console.print(printable(describe(standard)) + QLatin1Char('\n'));
        if (standard.drifted())
            status = Drift;
    }
    return status;
}

} // namespace quorstore
