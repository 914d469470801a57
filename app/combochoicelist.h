// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "choicelists.h"
#include "quorcontrols.h"

// A choice list of the window: each batch of names goes into the list's model
// at once, the marker entry is added and selected by program (no change event).
class TComboChoiceList final : public TChoiceList
{
public:
    explicit TComboChoiceList(TQuorStdComboBox* combo) : m_combo(combo) {}
    void Clear() override { m_combo->ClearItems(); }
    void AddNames(const TCompactStrings& names) override { m_combo->AddItems(names); }
    void AddMarkerSelected(const QString& marker) override
    {
        m_combo->AddItem(marker);
        m_combo->SetItemIndex(m_combo->ItemCount() - 1);
    }

private:
    TQuorStdComboBox* m_combo;
};
