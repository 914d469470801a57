// SPDX-License-Identifier: GPL-3.0-or-later
#include "posting.h"

#include "assignment.h"
#include "formstore.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "quorbuchung.h"
#include "quorexception.h"
#include "tstringlist.h"

#include <QBuffer>

namespace
{
void setKey(Tmaskfile& file, const QString& program, const QString& mask, const QString& name)
{
    file.Sprache.SetKeyWert(keys::Sprache);
    file.Programm.SetKeyWert(program);
    file.Maske.SetKeyWert(mask);
    file.Bezeichnung.SetKeyWert(name);
    file.Index.SetKeyWert(keys::Index);
}
} // namespace

void postStandard(Tmaskfile& file, TStringList& assignments, const QString& type,
                  const std::optional<QString>& selected)
{
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
        file.ResetRecord();
        file.ResetKey();
        file.SelectKey(file.DefaultKeyNumber());
        setKey(file, keys::Veskalo, keys::Veskalo, name);
        QString notCopied;
        if (file.FindEqual()) {
            // The text is copied as lines: same encoding and byte-order mark,
            // every line ended by CR LF.
            TStringList lines;
            {
                const std::unique_ptr<QIODevice> source = file.CreateBlobStream();
                lines.LoadFromStream(*source);
            }
            const QString shortDescription = file.Kurzbeschreibung.GetWert();

            setKey(file, keys::Rimdal, type, keys::Standard);
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
                journalPosting(file, type, name, copy);
            } else {
                notCopied = QStringLiteral("Die Einstellungsdatenbank nimmt keine Änderungen an.");
            }
        } else {
            notCopied = QStringLiteral("Die Einstellung ist nicht mehr vorhanden.");
        }
        setAssignment(assignments, type, name);
        // The choice is recorded all the same; the person learns that the
        // standard itself did not change.
        if (!notCopied.isEmpty())
            throw EQuorException(QStringLiteral("„%1“ wurde nicht als Standard für %2 übernommen: "
                                                "%3 Der Standard für %2 bleibt, wie er war.")
                                     .arg(name, type, notCopied));
    });
}

void runPosting(TQuorFormStore& assignmentStore, const std::function<void()>& postTypes)
{
    qint64 postingNumber = 0;
    QuorBuchung(true).BeginPosting('N', 0, 0, postingNumber);
    try {
        assignmentStore.Restore();
        postTypes();
        assignmentStore.Store();
    } catch (...) {
        QuorBuchung(true).CancelPosting();
        throw;
    }
    QuorBuchung(true).EndPosting(0);
}
