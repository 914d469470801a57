#pragma once

#include <QString>
#include <optional>

class Tmaskfile;
class TStringList;

// Makes the selected entry the standard for the setting type: copies the named
// setting's short description and stored-settings text into the type's standard
// copy (inserted or updated), then records "<type>=<name>" in the assignment list,
// also when the named setting is gone or the store takes no writes. No selection
// and the marker entries leave the type as it is.
void postStandard(Tmaskfile& file, TStringList& assignments, const QString& type,
                  const std::optional<QString>& selected);
