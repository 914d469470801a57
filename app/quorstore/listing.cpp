// SPDX-License-Identifier: GPL-3.0-or-later
// list and show: the store's records as they are.
#include "jsonfile.h"
#include "tool.h"
#include "tstringlist.h"

namespace quorstore
{

int list(TInvocation& call)
{
    const QStringList& group = call.args;
    if (group.size() != 0 && group.size() != 3)
        throw EUsage{QStringLiteral("list erwartet keine oder drei Angaben")};
    TSearchKey from;
    for (int i = 0; i < group.size(); ++i)
        from[i] = group[i];
    TStoreBackend& store = call.store;
    inStoreAccess(store, [&] {
        auto cursor = store.scanFrom(from, TScanRead::Summary);
        TStoreRow row;
        while (cursor->next(row)) {
            for (int i = 0; i < group.size(); ++i)
                if (row.key[i] != group[i])
                    return;
            call.console.print(keyText(row.key) + QLatin1Char('\t') +
                               printable(row.kurzbeschreibung) + QLatin1Char('\n'));
        }
    });
    return Ok;
}

int show(TInvocation& call)
{
    const QStringList& args = call.args;
    const TStoreKey key{args[0], args[1], args[2], args[3],
                        args.size() == 5 ? args[4] : QStringLiteral("0")};
    int status = Ok;
    inStoreAccess(call.store, [&] {
        const auto row = call.store.find(key);
        if (!row) {
            call.console.complain(
                QStringLiteral("Datensatz „%1“ nicht gefunden.\n").arg(keyText(key)));
            status = Drift;
            return;
        }
        call.console.print(
            QStringLiteral("Kurzbeschreibung: %1\n").arg(printable(row->kurzbeschreibung)));
        TStringList text;
        text.LoadFromBytes(call.store.readBlob(key));
        for (const QString& line : text.Lines())
            call.console.print(printable(line) + QLatin1Char('\n'));
    });
    return status;
}

} // namespace quorstore
