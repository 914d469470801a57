// SPDX-License-Identifier: GPL-3.0-or-later
#include "description.h"

#include "assignment.h"
#include "formstore.h"
#include "keys.h"
#include "maskfile.h"

void fillDescription(Tmaskfile& file, TQuorFormStore& textStore, TQuorFormStore& assignmentStore,
                     const TStringList& assignments, const QString& type,
                     const std::optional<QString>& selected, TDescriptionView& view)
{
    if (!selected)
        return;
    withAccess(file, [&] {
        file.ResetRecord();
        file.ResetKey();
        file.SelectKey(file.DefaultKeyNumber());
        const QString& text = *selected;
        if (text == keys::KeinStandard) {
            view.SetName(QString());
            view.SetShortDescription(QString());
            view.ClearLongDescription();
            return;
        }
        const bool standard = text == keys::Standard;
        const QString& program = standard ? keys::Rimdal : keys::Veskalo;
        const QString& mask = standard ? type : keys::Veskalo;
        // The record with its text and, for the standard, the assignment
        // list, in one read.
        QList<TPrefetch> wanted{{{keys::Sprache, program, mask, text, keys::Index}, true}};
        if (standard)
            wanted.append({assignmentStore.OwnEntryKey(), true});
        file.Prefetch(wanted);
        file.Sprache.SetKeyWert(keys::Sprache);
        file.Programm.SetKeyWert(program);
        file.Maske.SetKeyWert(mask);
        file.Index.SetKeyWert(keys::Index);
        if (standard)
            assignmentStore.Restore();
        view.SetName(standard ? assignedName(assignments, type) : text);
        textStore.FormName.SetSprache(keys::Sprache);
        textStore.FormName.SetProgramm(program);
        textStore.FormName.SetMaske(mask);

        file.Bezeichnung.SetKeyWert(text);
        if (file.FindEqual()) {
            view.SetShortDescription(file.Kurzbeschreibung.GetWert());
            textStore.RestoreEntry(text, QString(), keys::Index);
        } else {
            view.SetName(QString());
            view.SetShortDescription(QString());
            view.ClearLongDescription();
        }
    });
}
