// SPDX-License-Identifier: GPL-3.0-or-later
// One workstation under load: the window's own cycle through standards/ and
// framework/, without a window, again and again until its time is up. Each
// cycle fills the three lists, shows three entries, posts one type with a
// setting chosen at random, and thinks for a moment.
// Usage: loadstation LOCATION SECONDS SEED
// Prints one JSON object: the duration of every step in microseconds, the
// cycles, the errors, and the postings that waited past the writers' timeout.
#include "assignment.h"
#include "choicelists.h"
#include "description.h"
#include "formstore.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "posting.h"
#include "quorbuchung.h"
#include "quorexception.h"
#include "storebackend.h"
#include "storeopen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>

namespace
{
class NameList final : public TChoiceList
{
public:
    QStringList items;
    void Clear() override { items.clear(); }
    void AddNames(const TCompactStrings& names) override { items += names.toStringList(); }
    void AddMarkerSelected(const QString& marker) override { items << marker; }
};

class Memo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList Lines MEMBER lines)
public:
    using QObject::QObject;
    QStringList lines;
};

class NoView final : public TDescriptionView
{
public:
    void SetName(const QString&) override {}
    void SetShortDescription(const QString&) override {}
    void ClearLongDescription() override {}
};
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const qint64 deadline = args[2].toLongLong() * 1000;
    QRandomGenerator random(args[3].toUInt());
    const std::unique_ptr<TStoreBackend> store = openStore(args[1]);
    TQuorBuchung posting(*store);

    TAssignmentFile assignments(*store);
    TQuorFormStore* fsBez = &assignments.FormStore();
    // The memo and fsText in the same stand-in window as the assignment list.
    QObject* window = fsBez->parent();
    auto* memo = new Memo(window);
    memo->setObjectName(QStringLiteral("msText"));
    auto* fsText = new TQuorFormStore(window);
    fsText->StoredProperties = {QStringLiteral("msText.Lines")};
    Tmaskfile file(*store);
    NameList lists[3];
    NoView view;

    QJsonArray fill, show, post;
    int cycles = 0, errors = 0, lockTimeouts = 0;
    auto timed = [&](QJsonArray& into, auto&& step) {
        QElapsedTimer timer;
        timer.start();
        try {
            step();
            into.append(double(timer.nsecsElapsed()) / 1000.0);
        } catch (const std::exception& e) {
            (storeFailureOf(e) == TStoreFailure::Locked ? lockTimeouts : errors)++;
            std::fprintf(stderr, "%s\n", qUtf8Printable(exceptionText(e)));
        }
    };
    QElapsedTimer clock;
    clock.start();
    fsBez->Restore();
    while (clock.elapsed() < deadline) {
        timed(fill, [&] { fillChoiceLists(file, lists[0], lists[1], lists[2]); });
        for (int i = 0; i < 3 && !lists[i].items.isEmpty(); ++i) {
            const QString entry = lists[i].items.at(random.bounded(int(lists[i].items.size())));
            timed(show, [&] {
                fillDescription(file, *fsText, *fsBez, assignments.Items(), keys::SettingTypes[i],
                                entry, view);
            });
        }
        const int named = int(lists[0].items.size()) - 1;
        if (named > 0) {
            const QString& type = keys::SettingTypes[random.bounded(3)];
            const QString name = lists[0].items.at(random.bounded(named));
            timed(post, [&] {
                const TPostingResult result =
                    postStandards({file, *fsBez, assignments.Items(),
                                   [&]() -> TQuorBuchung& { return posting; }, frontEnds::Window},
                                  TChoices{{type, name}});
                if (result.failure)
                    std::rethrow_exception(result.failure);
                for (const TTypePosting& posted : result.types)
                    if (posted.report)
                        std::rethrow_exception(posted.report);
            });
        }
        ++cycles;
        QThread::msleep(20 + random.bounded(80));
    }
    const QJsonObject result{{QStringLiteral("cycles"), cycles},
                             {QStringLiteral("seconds"), double(clock.elapsed()) / 1000.0},
                             {QStringLiteral("fill"), fill},
                             {QStringLiteral("show"), show},
                             {QStringLiteral("post"), post},
                             {QStringLiteral("errors"), errors},
                             {QStringLiteral("lockTimeouts"), lockTimeouts}};
    std::puts(QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

#include "loadstation.moc"
