// SPDX-License-Identifier: GPL-3.0-or-later
#include "posting.h"

#include "assignment.h"
#include "formstore.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "quorbuchung.h"
#include "quorexception.h"
#include "recordkey.h"
#include "tstringlist.h"

#include <QBuffer>

bool postStandard(Tmaskfile& file, TStringList& assignments, const QString& type,
                  const std::optional<QString>& selected, const QString& frontEnd)
{
    bool copied = false;
    withAccess(file, [&] {
        if (!selected)
            return;
        const QString& name = *selected;
        if (name == keys::Standard || name == keys::KeinStandard)
            return;
        // No store text can hold it, so the choice could not be recorded either.
        if (name.contains(QChar(0)))
            throw EQuorException(
                QStringLiteral("„%1“ enthält ein NUL-Zeichen und kann nicht Standard für %2 "
                               "werden. Der Standard für %2 bleibt, wie er war.")
                    .arg(QString(name).replace(QChar(0), u'?'), type));
        // The setting with its text and the standard it replaces, in one read.
        file.Prefetch({{{keys::Sprache, keys::Veskalo, keys::Veskalo, name, keys::Index}, true},
                       {{keys::Sprache, keys::Rimdal, type, keys::Standard, keys::Index}, false}});
        selectRecordKey(file, keys::Veskalo, keys::Veskalo, name);
        QString notCopied;
        ENotCopied::TReason reason = ENotCopied::TReason::SettingGone;
        if (file.FindEqual()) {
            // The text is copied as lines: same encoding and byte-order mark,
            // every line ended by CR LF.
            TStringList lines;
            {
                const std::unique_ptr<QIODevice> source = file.CreateBlobStream();
                lines.LoadFromStream(*source);
            }
            const QString shortDescription = file.Kurzbeschreibung.GetWert();

            setRecordKey(file, keys::Rimdal, type, keys::Standard);
            TWrdon mode = wrdonUpdate;
            if (!file.FindEqual()) {
                mode = wrdonInsert;
                file.Sprache.SetWert(keys::Sprache);
                file.Programm.SetWert(keys::Rimdal);
                file.Maske.SetWert(type);
                file.Bezeichnung.SetWert(keys::Standard);
                file.Index.SetWert(keys::Index);
            }
            file.Kurzbeschreibung.SetWert(shortDescription);
            if (file.CanPost(mode)) {
                QIODevice* target = file.StartStreamBuchung(mode, false);
                lines.SaveToStream(*target);
                // The bytes as written, for the journal's digest; a copy of
                // megabytes is not made a second time.
                const auto* written = qobject_cast<QBuffer*>(target);
                const QByteArray copy = written ? written->data() : lines.SaveToBytes();
                file.EndStreamBuchung();
                journalPosting(file, frontEnd, type, name, copy);
                copied = true;
            } else {
                reason = ENotCopied::TReason::NoWrites;
                notCopied = QStringLiteral("Die Einstellungsdatenbank nimmt keine Änderungen an.");
            }
        } else {
            notCopied = QStringLiteral("Die Einstellung ist nicht mehr vorhanden.");
        }
        setAssignment(assignments, type, name);
        // The choice is recorded all the same; the person learns that the
        // standard itself did not change.
        if (!notCopied.isEmpty())
            throw ENotCopied(reason,
                             QStringLiteral("„%1“ wurde nicht als Standard für %2 übernommen: "
                                            "%3 Der Standard für %2 bleibt, wie er war.")
                                 .arg(name, type, notCopied));
    });
    return copied;
}

namespace
{
// The failure of a store, or of no store.
TStoreFault faultOf(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const EQuorStoreError& e) {
        return e.Fault();
    } catch (...) {
        return {};
    }
}

// One report for a posting the store ended: what its types did is gone with it.
std::exception_ptr postingLost(const std::exception_ptr& cause)
{
    const TStoreFault behind = faultOf(cause);
    TStoreFault lost{TStoreFailure::TransactionLost, TStoreStep::Commit, behind.engine,
                     behind.store};
    lost.code = behind.code;
    lost.cause = exceptionText(cause);
    lost.postingLost = true;
    return std::make_exception_ptr(EQuorStoreError(std::move(lost)));
}

// What a posting will read, asked for at its start in one read: the
// assignment list and, for each choice known before, the setting with its
// text and the standard it replaces.
void readAhead(const TPostingTarget& target, const TChoices& choices)
{
    QList<TPrefetch> wanted{{target.assignmentStore.OwnEntryKey(), true}};
    for (const auto& [type, choice] : choices) {
        if (!choice || *choice == keys::Standard || *choice == keys::KeinStandard ||
            choice->contains(QChar(0)))
            continue;
        wanted.append({{keys::Sprache, keys::Veskalo, keys::Veskalo, *choice, keys::Index}, true});
        wanted.append({{keys::Sprache, keys::Rimdal, type, keys::Standard, keys::Index}, false});
    }
    withAccess(target.file, [&] { target.file.Prefetch(wanted); });
}

TPostingResult postOnce(const TPostingTarget& target, const TChooser& choose, const TChoices& known)
{
    TStringList& assignments = target.assignments;
    TPostingResult result;
    qint64 postingNumber = 0;
    try {
        target.posting().BeginPosting('N', 0, 0, postingNumber);
    } catch (...) {
        result.failure = std::current_exception();
        return result;
    }
    const TStringList before = assignments;
    // Memory and store agree again after a failed posting: the list as the
    // store holds it, or as it was before where the store cannot be read.
    auto readBack = [&] {
        try {
            target.assignmentStore.Restore();
        } catch (const std::exception&) {
            assignments = before;
        }
    };
    try {
        readAhead(target, known);
        target.assignmentStore.Restore();
        for (const auto& [type, choice] : choose(assignments)) {
            TTypePosting posted{type, choice, TPostOutcome::Unchanged, {}};
            try {
                if (postStandard(target.file, assignments, type, choice, target.frontEnd))
                    posted.outcome = TPostOutcome::Copied;
            } catch (const ENotCopied& e) {
                posted.outcome = e.Reason() == ENotCopied::TReason::SettingGone
                                     ? TPostOutcome::SettingGone
                                     : TPostOutcome::NoWrites;
                posted.report = std::current_exception();
            } catch (...) {
                // The store ended the whole transaction: no later type may run.
                if (target.posting().PostingLost())
                    throw;
                posted.outcome = TPostOutcome::Failed;
                posted.report = std::current_exception();
            }
            result.types.append(posted);
        }
        target.assignmentStore.Store();
    } catch (...) {
        const std::exception_ptr cause = std::current_exception();
        TQuorBuchung& posting = target.posting();
        const bool lost = posting.PostingLost();
        posting.CancelPosting();
        if (lost) {
            result.types.clear();
            result.failure = postingLost(cause);
        } else {
            result.failure = cause;
        }
        readBack();
        return result;
    }
    try {
        target.posting().EndPosting(0);
    } catch (...) {
        result.failure = std::current_exception();
        // Found gone at the commit: the same one report.
        if (storeFailureOf(result.failure) == TStoreFailure::TransactionLost) {
            result.types.clear();
            result.failure = postingLost(result.failure);
        }
        readBack();
    }
    return result;
}

} // namespace

namespace
{
TPostingResult post(const TPostingTarget& target, const TChooser& choose, const TChoices& known)
{
    const TStringList before = target.assignments;
    TPostingResult result;
    // Run once more by the posting context, a posting starts afresh.
    target.posting().Post([&] {
        target.assignments = before;
        result = postOnce(target, choose, known);
    });
    return result;
}
} // namespace

TPostingResult postStandards(const TPostingTarget& target, const TChooser& choose)
{
    return post(target, choose, {});
}

TPostingResult postStandards(const TPostingTarget& target, const TChoices& choices)
{
    return post(
        target, [&](const TStringList&) { return choices; }, choices);
}
