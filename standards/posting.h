// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <optional>

class Tmaskfile;
class TQuorFormStore;
class TStringList;

// One posting, as the posting command runs it: the posting is begun (one
// writing transaction that other writers queue behind), the assignment list is
// read back from the store so that what other workstations posted meanwhile is
// kept, postTypes posts the setting types into it, the list is stored and the
// posting ended. A failure of the whole gives back everything it wrote and is
// passed on; a failure inside postTypes that it reports itself gives back that
// type's writes only.
void runPosting(TQuorFormStore& assignmentStore, const std::function<void()>& postTypes);

// Makes the selected entry the standard for the setting type: copies the named
// setting's short description and stored-settings text into the type's standard
// copy (inserted or updated), then records "<type>=<name>" in the assignment list,
// also when the named setting is gone or the store takes no writes; in those two
// cases it then fails with a message that the type's standard stayed as it was.
// No selection and the marker entries leave the type as it is.
void postStandard(Tmaskfile& file, TStringList& assignments, const QString& type,
                  const std::optional<QString>& selected);
