// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "compactstrings.h"

class Tmaskfile;

// One choice list as the fill sees it.
class TChoiceList
{
public:
    virtual ~TChoiceList() = default;
    virtual void Clear() = 0;
    virtual void AddNames(const TCompactStrings& names) = 0;
    // Adds the marker entry and selects it, the list's last entry.
    virtual void AddMarkerSelected(const QString& marker) = 0;
};

// Fills the three lists in one pass over the store, in one access bracket: every
// named setting of the import/export program in key order (except one named
// "STANDARD"), then per list the marker entry "STANDARD" or "Kein Standard
// zugeordnet", selected. What was added before a failure stays; the failure is
// passed on.
void fillChoiceLists(Tmaskfile& file, TChoiceList& import, TChoiceList& exportList,
                     TChoiceList& brief);

// The names of the named settings as the lists offer them (file inside a bracket).
TCompactStrings scanNamedSettings(Tmaskfile& file, TCompactStrings* partial = nullptr);

// Stands on the named setting called name; false when there is none (file
// inside a bracket).
bool findNamedSetting(Tmaskfile& file, const QString& name);
