// SPDX-License-Identifier: GPL-3.0-or-later
#include "choicelists.h"

#include "keys.h"
#include "maskfile.h"
#include "recordkey.h"

TCompactStrings scanNamedSettings(Tmaskfile& file, TCompactStrings* partial)
{
    TCompactStrings local;
    TCompactStrings& names = partial ? *partial : local;
    selectRecordKey(file, keys::Veskalo, keys::Veskalo);
    file.Get_ge();
    while (inRecordGroup(file, keys::Veskalo, keys::Veskalo)) {
        const QString name = file.Bezeichnung.GetWert();
        if (name != keys::Standard)
            names.append(name);
        file.ReadNext();
    }
    return names;
}

void fillChoiceLists(Tmaskfile& file, TChoiceList& import, TChoiceList& exportList,
                     TChoiceList& brief)
{
    TChoiceList* const lists[] = {&import, &exportList, &brief};
    withAccess(file, [&] {
        for (TChoiceList* list : lists)
            list->Clear();
        // The markers are read along with the names.
        QList<TPrefetch> markers;
        for (const QString& type : keys::SettingTypes)
            markers.append(
                TPrefetch{{keys::Sprache, keys::Rimdal, type, keys::Standard, keys::Index}});
        file.Prefetch(markers);
        TCompactStrings names;
        try {
            scanNamedSettings(file, &names);
        } catch (...) {
            for (TChoiceList* list : lists)
                list->AddNames(names);
            throw;
        }
        for (TChoiceList* list : lists)
            list->AddNames(names);

        for (int i = 0; i < 3; ++i) {
            setRecordKey(file, keys::Rimdal, keys::SettingTypes[i], keys::Standard);
            const QString marker =
                file.FindEqual() ? file.Bezeichnung.GetWert() : keys::KeinStandard;
            lists[i]->AddMarkerSelected(marker);
        }
    });
}

bool findNamedSetting(Tmaskfile& file, const QString& name)
{
    file.ResetKey();
    setRecordKey(file, keys::Veskalo, keys::Veskalo, name);
    return file.FindEqual();
}
