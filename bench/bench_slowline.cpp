// SPDX-License-Identifier: GPL-3.0-or-later
// The window's steps on PostgreSQL over a slow line: a proxy on 127.0.0.1 that
// delays each direction by 10 ms, as a branch office's VPN to the head
// office's server. Each case reports its round trips; what the line costs is
// their number times 20 ms, and a step should take hardly more. The store
// tool's commands follow, each in a connection of its own, on a store of
// 1,000 named settings and a journal of 1,000 postings.

#include "assignment.h"
#include "frmrimdal.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "pgstore.h"
#include "posting.h"
#include "quorbuchung.h"
#include "quorcontrols.h"
#include "quorprogramm.h"
#include "settingsfile.h"
#include "slowline.h"
#include "sqlstore.h"
#include "storeopen.h"
#include "tool.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <optional>

namespace
{

constexpr int kDelayMs = 10;

std::optional<SlowLine>& line()
{
    static std::optional<SlowLine> slow;
    return slow;
}

// The demo data on the server, in a schema of its own, reached through the
// slow line.
QString slowStore()
{
    static QString address;
    if (!address.isEmpty())
        return address;
    const QString server = qEnvironmentVariable("QUOR_BENCH_PG");
    const int port = qEnvironmentVariableIntValue("QUOR_BENCH_PG_PORT");
    if (server.isEmpty() || port == 0)
        return {};
    dynamic_cast<TSqlStore&>(*openStore(server, TOpen::Create))
        .execute("DROP SCHEMA IF EXISTS slowline CASCADE; CREATE SCHEMA slowline");
    line().emplace(quint16(port), kDelayMs);
    address = QStringLiteral("postgresql://postgres@127.0.0.1:%1/quortest"
                             "?options=-csearch_path%3Dslowline")
                  .arg(line()->port());
    auto store = openStore(address, TOpen::Create);
    const QList<TNamedSetting> settings = readSettingsFile(QStringLiteral(DEMO_SETTINGS));
    importSettings(*store, settings);
    // The standards posted as the tool posts them, their assignment list filed.
    TAssignmentFile assignments(*store);
    Tmaskfile file(*store);
    TQuorBuchung posting(*store);
    TChoices choices;
    for (std::size_t i = 0; i < keys::SettingTypes.size(); ++i)
        choices.append({keys::SettingTypes[i], settings[qsizetype(i)].key[3]});
    postStandards({file, assignments.FormStore(), assignments.Items(),
                   [&]() -> TQuorBuchung& { return posting; }, frontEnds::Tool},
                  choices);
    return address;
}

// Runs step as one timed iteration and counts its round trips.
template <typename Step> void timed(benchmark::State& state, quint64& trips, Step&& step)
{
    const quint64 before = postgresRoundTrips();
    QElapsedTimer timer;
    timer.start();
    step();
    state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    trips += postgresRoundTrips() - before;
}

void report(benchmark::State& state, quint64 trips)
{
    state.counters["round_trips"] = double(trips) / double(state.iterations());
}

bool prepared(benchmark::State& state)
{
    if (slowStore().isEmpty()) {
        state.SkipWithError("no PostgreSQL server (QUOR_BENCH_PG, QUOR_BENCH_PG_PORT)");
        return false;
    }
    QuorProgramm().SetStore(openStore(slowStore()));
    return true;
}

TQuorStdComboBox* list(QWidget& window, const char* name)
{
    return window.findChild<TQuorStdComboBox*>(QString::fromLatin1(name));
}

// From the window's creation to its lists filled, the assignment list restored.
void startToFilledLists(benchmark::State& state)
{
    if (!prepared(state))
        return;
    quint64 trips = 0;
    for (auto _ : state) {
        std::optional<TfrmRimdal> window;
        timed(state, trips, [&] {
            window.emplace();
            window->show();
            QCoreApplication::processEvents();
        });
        if (list(*window, "cmbImport")->ItemCount() == 0)
            state.SkipWithError("the lists stayed empty");
    }
    report(state, trips);
    QuorProgramm().SetStore(nullptr);
}

// Runs the iterations of body on a shown window over the slow line.
template <typename Body> void onShownWindow(benchmark::State& state, Body&& body)
{
    if (!prepared(state))
        return;
    quint64 trips = 0;
    {
        TfrmRimdal window;
        window.show();
        QCoreApplication::processEvents();
        int entry = 0;
        for (auto _ : state) {
            entry = 1 - entry;
            body(window, entry, trips);
        }
    }
    report(state, trips);
    QuorProgramm().SetStore(nullptr);
}

// A changed selection to the description shown for it.
void selectionChange(benchmark::State& state)
{
    onShownWindow(state, [&](TfrmRimdal& window, int entry, quint64& trips) {
        TQuorStdComboBox* import = list(window, "cmbImport");
        timed(state, trips, [&] {
            import->SetItemIndex(entry);
            Q_EMIT import->OnChange(import);
            QCoreApplication::processEvents();
        });
        if (window.findChild<QLabel*>(QStringLiteral("lblBezText"))->text() !=
            import->Items()[entry])
            state.SkipWithError("the description was not shown");
    });
}

// F5 with a setting chosen for each of the three types, to the refilled lists.
void postThreeTypes(benchmark::State& state)
{
    onShownWindow(state, [&](TfrmRimdal& window, int entry, quint64& trips) {
        for (const char* name : {"cmbImport", "cmbExport", "cmbBrief"})
            list(window, name)->SetItemIndex(entry);
        timed(state, trips, [&] {
            window.findChild<QAction*>(QStringLiteral("acBuchen"))->trigger();
            QCoreApplication::processEvents();
        });
        if (list(window, "cmbImport")->currentText() != keys::Standard)
            state.SkipWithError("the lists were not refilled");
    });
}

struct Quiet final : quorstore::TConsole {
    void out(const QByteArray&) override {}
    void err(const QByteArray&) override {}
};

constexpr int kToolSettings = 1000;

// 1,000 named settings and 1,000 postings on the server, in a schema of their
// own, reached through the slow line; the settings' file beside them.
struct ToolStore {
    QString address;
    QTemporaryDir dir;
    QString file() const { return dir.filePath(QStringLiteral("settings.json")); }
};

ToolStore* toolStore()
{
    static std::optional<ToolStore> store;
    if (store)
        return store->address.isEmpty() ? nullptr : &*store;
    store.emplace();
    if (slowStore().isEmpty())
        return nullptr;
    const QString server = qEnvironmentVariable("QUOR_BENCH_PG");
    dynamic_cast<TSqlStore&>(*openStore(server, TOpen::Create))
        .execute("DROP SCHEMA IF EXISTS slowtool CASCADE; CREATE SCHEMA slowtool");
    QFile file(store->file());
    file.open(QIODevice::WriteOnly);
    file.write("{\"settings\":[");
    for (int i = 0; i < kToolSettings; ++i)
        file.write(
            QStringLiteral("%1{\"name\":\"Einstellung %2\",\"shortDescription\":\"Kurz %2\","
                           "\"description\":[\"Zeile eins\",\"Zeile zwei\"],"
                           "\"properties\":{\"edtDatei.Lines\":[\"C:\\\\Daten\\\\%2.csv\"]}}")
                .arg(i ? "," : "")
                .arg(i, 4, 10, QLatin1Char('0'))
                .toUtf8());
    file.write("]}");
    file.close();
    const QString direct = server + QStringLiteral("&options=-csearch_path%3Dslowtool");
    Quiet quiet;
    quorstore::run({"quorstore", "--store", direct, "import", store->file()}, quiet);
    for (int i = 0; i < kToolSettings; ++i)
        quorstore::run({"quorstore", "--store", direct, "post",
                        QStringLiteral("%1=Einstellung %2")
                            .arg(keys::SettingTypes[std::size_t(i) % keys::SettingTypes.size()])
                            .arg(i, 4, 10, QLatin1Char('0'))},
                       quiet);
    store->address = QStringLiteral("postgresql://postgres@127.0.0.1:%1/quortest"
                                    "?options=-csearch_path%3Dslowtool")
                         .arg(line()->port());
    return &*store;
}

// One command of the store tool over the slow line, its connection included.
void toolCommand(benchmark::State& state, const QStringList& command)
{
    ToolStore* store = toolStore();
    if (!store) {
        state.SkipWithError("no PostgreSQL server (QUOR_BENCH_PG, QUOR_BENCH_PG_PORT)");
        return;
    }
    QStringList args = command;
    args.replaceInStrings(QStringLiteral("FILE"), store->file());
    args.replaceInStrings(QStringLiteral("OUT"), store->dir.filePath(QStringLiteral("out.json")));
    quint64 trips = 0;
    Quiet quiet;
    for (auto _ : state) {
        int status = 0;
        timed(state, trips, [&] {
            status =
                quorstore::run(QStringList{"quorstore", "--store", store->address} + args, quiet);
        });
        if (status != 0)
            state.SkipWithError("the command failed");
    }
    report(state, trips);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    using Case = std::pair<const char*, void (*)(benchmark::State&)>;
    for (const auto& [name, function] : {Case{"SlowLine/Start to filled lists", startToFilledLists},
                                         Case{"SlowLine/Selection change", selectionChange},
                                         Case{"SlowLine/F5 three types", postThreeTypes}})
        benchmark::RegisterBenchmark(name, function)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(10);
    for (const auto& [name, command] :
         {std::pair<const char*, QStringList>{"SlowTool/history --limit 20",
                                              {"history", "--limit", "20"}},
          {"SlowTool/export", {"export", "OUT"}},
          {"SlowTool/import", {"import", "FILE"}},
          {"SlowTool/list", {"list"}}})
        benchmark::RegisterBenchmark(
            name, [command = command](benchmark::State& state) { toolCommand(state, command); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    line().reset();
    return 0;
}
