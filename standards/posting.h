// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quorexception.h"

#include <QList>
#include <QPair>
#include <QString>
#include <exception>
#include <functional>
#include <optional>

class Tmaskfile;
class TQuorBuchung;
class TQuorFormStore;
class TStringList;

// Why a posting made no copy for a setting type although it recorded the choice.
class ENotCopied : public EQuorException
{
public:
    enum class TReason { SettingGone, NoWrites };
    ENotCopied(TReason reason, QString message)
        : EQuorException(std::move(message)), m_reason(reason)
    {
    }
    TReason Reason() const { return m_reason; }

private:
    TReason m_reason;
};

// Makes the selected entry the standard for the setting type: copies the named
// setting's short description and stored-settings text into the type's standard
// copy (inserted or updated), then records "<type>=<name>" in the assignment list,
// also when the named setting is gone or the store takes no writes; in those two
// cases it then throws ENotCopied, saying that the type's standard stayed as it
// was. No selection and the marker entries leave the type as it is. True when
// it copied. The journal entry of a copy names frontEnd.
bool postStandard(Tmaskfile& file, TStringList& assignments, const QString& type,
                  const std::optional<QString>& selected, const QString& frontEnd);

// What a posting did for one setting type.
enum class TPostOutcome {
    Unchanged,   // no selection or a marker entry
    Copied,      // the named setting is the type's standard now
    SettingGone, // no such named setting: the choice is recorded, the standard stays
    NoWrites,    // the store takes no writes: the choice is recorded, the standard stays
    Failed,      // the type's step failed: its writes are given back, its line stays
};

struct TTypePosting {
    QString type;
    std::optional<QString> choice;
    TPostOutcome outcome = TPostOutcome::Unchanged;
    // What the person is told, for every outcome but Unchanged and Copied.
    std::exception_ptr report;
};

struct TPostingResult {
    // In the order posted; empty when the posting could not begin or was lost.
    QList<TTypePosting> types;
    // The posting as a whole failed: nothing of it is in the store, and the
    // assignment list was read back from the store.
    std::exception_ptr failure;
};

// The setting types to post and the entry chosen for each, in this order.
using TChoices = QList<QPair<QString, std::optional<QString>>>;
// Decides the choices inside the posting, from the assignment list as the
// store holds it at the posting's start; once for each run of the posting.
using TChooser = std::function<TChoices(const TStringList& assignments)>;

// Where a posting writes, and who posts: the record file, the assignment list
// with its form store, the posting context that brackets the posting (all over
// one store; asked for at its beginning and again at its end, as the suite's
// own is reached), and the front end the journal names.
struct TPostingTarget {
    Tmaskfile& file;
    TQuorFormStore& assignmentStore;
    TStringList& assignments;
    std::function<TQuorBuchung&()> posting;
    QString frontEnd;
};

// One posting, for the window and the store tool alike. The posting is begun
// (one writing transaction that other writers queue behind), the assignment
// list is read back from the store so that what other workstations posted
// meanwhile is kept, each type is posted in its own savepoint, the list is
// stored and the posting ended. A type that fails gives back its own writes
// only, and the others go on. Where the store itself ended the transaction,
// no later step runs: the posting has failed whole, with one report. Nothing
// is shown from inside: the caller turns the outcomes into its reports once
// the store is free again.
TPostingResult postStandards(const TPostingTarget& target, const TChooser& choose);
TPostingResult postStandards(const TPostingTarget& target, const TChoices& choices);
