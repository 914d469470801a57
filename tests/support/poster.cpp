// SPDX-License-Identifier: GPL-3.0-or-later
// A workstation for the concurrency tests: posts random standards, or reads the
// standard copies and checks that each is whole, many times over.
// Usage: poster post|read LOCATION COUNT SEED [REPEAT [TYPE]]
//        poster follow LOCATION SECONDS SEED
// follow posts for SECONDS, one posting every 50 ms, and prints for each
// "<milliseconds since the epoch> ok" or "... failed" as it ends, or
// "... unconfirmed" where it may be kept (its outcome not known, or its
// standby's confirmation outstanding).
// Named settings "S0".."S4" hold the short description "kurz Sn" and the text
// "text Sn" CR LF, REPEAT times (default 2000). A posting also files the
// assignment list, as the window does; given TYPE, it posts that type only.
// Prints "done=N failed=M", and on standard error "ready" once the store is
// open, then each failure.

#include "assignment.h"
#include "faults.h"
#include "formstore.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "posting.h"
#include "quorbuchung.h"
#include "quorexception.h"
#include "storebackend.h"
#include "storeopen.h"
#include "tstringlist.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>

namespace
{
// Named settings "S0".."S4": short description "kurz Sn", text "text Sn".
int g_repeat = 2000;

bool isWhole(const TStoreContent& content)
{
    const QString& kurz = content.kurzbeschreibung;
    const QByteArray& blob = content.blob;
    if (!kurz.startsWith(QLatin1String("kurz S")))
        return false;
    const QString name = kurz.mid(5);
    return blob == QByteArray("\xEF\xBB\xBF") +
                       QStringLiteral("text %1\r\n").arg(name).toUtf8().repeated(g_repeat);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    surviveFileSizeLimit();
    const QStringList args = app.arguments();
    if (args.size() < 5 || args.size() > 7)
        return 2;
    if (args.size() >= 6)
        g_repeat = args[5].toInt();
    const QString onlyType = args.size() == 7 ? args[6] : QString();
    const bool follow = args[1] == QLatin1String("follow");
    const bool post = follow || args[1] == QLatin1String("post");
    const int count = args[3].toInt();
    QElapsedTimer clock;
    clock.start();
    auto tell = [&](const char* outcome) {
        if (!follow)
            return;
        std::printf("%lld %s\n", QDateTime::currentMSecsSinceEpoch(), outcome);
        std::fflush(stdout);
        QThread::msleep(50);
    };
    QRandomGenerator random(args[4].toUInt());
    const std::unique_ptr<TStoreBackend> opened = openStore(args[2]);
    TStoreBackend& store = *opened;
    TQuorBuchung posting(store);
    // The store is open: from here on a posting may be under way.
    std::fputs("ready\n", stderr);
    std::fflush(stderr);
    Tmaskfile file(store);
    TAssignmentFile assignmentFile(store);
    TStringList& assignments = assignmentFile.Items();
    int done = 0, failed = 0;
    for (int i = 0; follow ? clock.elapsed() < count * 1000LL : i < count; ++i) {
        try {
            if (post) {
                const QString type =
                    onlyType.isEmpty() ? keys::SettingTypes[random.bounded(3)] : onlyType;
                const QString name = QStringLiteral("S%1").arg(random.bounded(5));
                const TPostingResult result =
                    postStandards({file, assignmentFile.FormStore(), assignments,
                                   [&]() -> TQuorBuchung& { return posting; }, frontEnds::Window},
                                  TChoices{{type, name}});
                if (result.failure)
                    std::rethrow_exception(result.failure);
                for (const TTypePosting& posted : result.types)
                    if (posted.report)
                        std::rethrow_exception(posted.report);
            } else {
                inStoreAccess(store, [&] {
                    for (const QString& type : keys::SettingTypes) {
                        const TStoreKey key{keys::Sprache, keys::Rimdal, type, keys::Standard,
                                            keys::Index};
                        if (store.find(key) && !isWhole(store.readContent(key)))
                            throw EQuorException(QStringLiteral("halbe Kopie für %1").arg(type));
                    }
                });
            }
            ++done;
            tell("ok");
        } catch (const std::exception& e) {
            ++failed;
            std::fprintf(stderr, "%s\n", qUtf8Printable(exceptionText(e)));
            const auto* refused = dynamic_cast<const EQuorStoreError*>(&e);
            const bool unconfirmed =
                refused && (refused->Kind() == TStoreFailure::AwaitingStandby ||
                            refused->Kind() == TStoreFailure::OutcomeUnknown);
            tell(unconfirmed ? "unconfirmed" : "failed");
        }
    }
    std::printf("done=%d failed=%d\n", done, failed);
    return 0;
}
