// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

class Tmaskfile;
class TQuorFormStore;
class TStringList;

// The three targets of the description view. The long description is loaded into
// the memo by the form store; the view only clears it.
class TDescriptionView
{
public:
    virtual ~TDescriptionView() = default;
    virtual void SetName(const QString& name) = 0;
    virtual void SetShortDescription(const QString& text) = 0;
    virtual void ClearLongDescription() = 0;
};

// Shows what the selected entry of a list stands for, for one setting type:
// nothing for "Kein Standard zugeordnet", the standard copy with the name from
// the assignment list for "STANDARD", else the named setting itself. No selection
// leaves the view as it is and the store untouched. For "STANDARD" the
// assignment list (the one assignmentStore files) is read again in the same
// access, so that the name and the copy shown come from one state of the store.
void fillDescription(Tmaskfile& file, TQuorFormStore& textStore, TQuorFormStore& assignmentStore,
                     const TStringList& assignments, const QString& type,
                     const std::optional<QString>& selected, TDescriptionView& view);
