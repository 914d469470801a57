// SPDX-License-Identifier: GPL-3.0-or-later
#include "choicelists.h"

#include "keys.h"
#include "maskfile.h"

TCompactStrings scanNamedSettings(Tmaskfile& file, TCompactStrings* partial)
{
    TCompactStrings local;
    TCompactStrings& names = partial ? *partial : local;
    file.ResetRecord();
    file.ResetKey();
    file.SelectKey(file.DefaultKeyNumber());
    file.Sprache.SetKeyWert(keys::Sprache);
    file.Programm.SetKeyWert(keys::Veskalo);
    file.Maske.SetKeyWert(keys::Veskalo);
    file.Index.SetKeyWert(keys::Index);
    // Bezeichnung stays unset: it sorts before every name of the group.
    file.Get_ge();
    while (file.HasRecord() && file.Sprache.GetWert() == keys::Sprache &&
           file.Programm.GetWert() == keys::Veskalo && file.Maske.GetWert() == keys::Veskalo) {
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

        file.Sprache.SetKeyWert(keys::Sprache);
        file.Programm.SetKeyWert(keys::Rimdal);
        file.Bezeichnung.SetKeyWert(keys::Standard);
        file.Index.SetKeyWert(keys::Index);
        for (int i = 0; i < 3; ++i) {
            file.Maske.SetKeyWert(keys::SettingTypes[i]);
            const QString marker =
                file.FindEqual() ? file.Bezeichnung.GetWert() : keys::KeinStandard;
            lists[i]->AddMarkerSelected(marker);
        }
    });
}

bool findNamedSetting(Tmaskfile& file, const QString& name)
{
    file.ResetKey();
    file.Sprache.SetKeyWert(keys::Sprache);
    file.Programm.SetKeyWert(keys::Veskalo);
    file.Maske.SetKeyWert(keys::Veskalo);
    file.Bezeichnung.SetKeyWert(name);
    file.Index.SetKeyWert(keys::Index);
    return file.FindEqual();
}
