// SPDX-License-Identifier: GPL-3.0-or-later
#include "report.h"

#include "assignment.h"
#include "keys.h"
#include "maskfile.h"
#include "recordkey.h"
#include "tstringlist.h"

#include <QIODevice>

namespace
{
struct Content {
    QString kurz;
    QByteArray text; // as a posting writes it
};

std::optional<Content> read(Tmaskfile& file, const QString& program, const QString& mask,
                            const QString& name)
{
    selectRecordKey(file, program, mask, name);
    if (!file.FindEqual())
        return std::nullopt;
    TStringList lines;
    const std::unique_ptr<QIODevice> stream = file.CreateBlobStream();
    lines.LoadFromStream(*stream);
    return Content{file.Kurzbeschreibung.GetWert(), lines.SaveToBytes()};
}
} // namespace

QList<TStandardStatus> checkStandards(Tmaskfile& file, const TStringList& assignments)
{
    QList<TStandardStatus> result;
    withAccess(file, [&] {
        // Every copy and every assigned setting, read in one go.
        QList<TPrefetch> wanted;
        for (const QString& type : keys::SettingTypes) {
            wanted.append({{keys::Sprache, keys::Rimdal, type, keys::Standard, keys::Index}, true});
            if (assignments.IndexOfName(type) >= 0)
                wanted.append({{keys::Sprache, keys::Veskalo, keys::Veskalo,
                                assignedName(assignments, type), keys::Index},
                               true});
        }
        file.Prefetch(wanted);
        for (const QString& type : keys::SettingTypes) {
            TStandardStatus status;
            status.type = type;
            status.hasAssignment = assignments.IndexOfName(type) >= 0;
            status.assignedName = assignedName(assignments, type);
            const auto copy = read(file, keys::Rimdal, type, keys::Standard);
            status.copyExists = copy.has_value();
            std::optional<Content> source;
            if (status.hasAssignment)
                source = read(file, keys::Veskalo, keys::Veskalo, status.assignedName);
            status.sourceExists = source.has_value();
            status.matches =
                copy && source && copy->kurz == source->kurz && copy->text == source->text;
            result.append(status);
        }
    });
    return result;
}

QString describe(const TStandardStatus& status)
{
    QString line = status.type + QStringLiteral(": ");
    line +=
        status.copyExists ? QStringLiteral("Standard vorhanden") : QStringLiteral("kein Standard");
    line += status.hasAssignment ? QStringLiteral(", zugeordnet „%1“").arg(status.assignedName)
                                 : QStringLiteral(", keine Zuordnung");
    if (status.hasAssignment)
        line += status.sourceExists ? QStringLiteral(", Einstellung vorhanden")
                                    : QStringLiteral(", Einstellung fehlt");
    if (status.copyExists)
        line += status.matches ? QStringLiteral(", stimmt überein") : QStringLiteral(", weicht ab");
    return line;
}
