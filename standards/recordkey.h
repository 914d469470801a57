// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

class Tmaskfile;

// Sets the search key of one of this tool's records: language and index as
// always, the program and mask given, and the name where one is given. Without
// a name the key sorts before every record of the group, so that Get_ge stands
// on the group's first record.
void setRecordKey(Tmaskfile& file, const QString& program, const QString& mask,
                  const std::optional<QString>& name = std::nullopt);
// The same on a file started afresh: no record, no key, the default key order.
void selectRecordKey(Tmaskfile& file, const QString& program, const QString& mask,
                     const std::optional<QString>& name = std::nullopt);

// Whether the file stands on a record of the group of program and mask.
bool inRecordGroup(const Tmaskfile& file, const QString& program, const QString& mask);
