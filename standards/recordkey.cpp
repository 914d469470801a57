// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordkey.h"

#include "keys.h"
#include "maskfile.h"

void setRecordKey(Tmaskfile& file, const QString& program, const QString& mask,
                  const std::optional<QString>& name)
{
    file.Sprache.SetKeyWert(keys::Sprache);
    file.Programm.SetKeyWert(program);
    file.Maske.SetKeyWert(mask);
    if (name)
        file.Bezeichnung.SetKeyWert(*name);
    file.Index.SetKeyWert(keys::Index);
}

bool inRecordGroup(const Tmaskfile& file, const QString& program, const QString& mask)
{
    return file.HasRecord() && file.Sprache.GetWert() == keys::Sprache &&
           file.Programm.GetWert() == program && file.Maske.GetWert() == mask;
}

void selectRecordKey(Tmaskfile& file, const QString& program, const QString& mask,
                     const std::optional<QString>& name)
{
    file.ResetRecord();
    file.ResetKey();
    file.SelectKey(file.DefaultKeyNumber());
    setRecordKey(file, program, mask, name);
}
