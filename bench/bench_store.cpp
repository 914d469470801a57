// SPDX-License-Identifier: GPL-3.0-or-later
// Hot paths of the tool against their floors, measured in the same run:
// Ours/<case> is the tool's code, Floor/<case> the least any code could do.

#include "benchstore.h"
#include "combochoicelist.h"
#include "description.h"
#include "formstore.h"
#include "keys.h"
#include "maskfile.h"
#include "pgstore.h"
#include "posting.h"
#include "sqlstore.h"
#include "storebackend.h"
#include "tstringlist.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace
{

void fillCombos(benchmark::State& state)
{
    BenchStore store;
    store.addNamedSettings(int(state.range(0)));
    setQuorStore(openStore(store.path()));
    Tmaskfile file;
    TQuorStdComboBox a, b, c;
    TComboChoiceList import(&a), exportList(&b), brief(&c);
    for (auto _ : state)
        fillChoiceLists(file, import, exportList, brief);
    if (a.ItemCount() != state.range(0) + 1)
        state.SkipWithError("wrong count");
    setQuorStore(nullptr);
}

void scanNamesWithCApi(benchmark::State& state)
{
    BenchStore store;
    store.addNamedSettings(int(state.range(0)));
    sqlite3* db = store.raw();
    for (auto _ : state) {
        std::vector<std::string> names;
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT maske, bezeichnung FROM einstellungen WHERE (sprache, programm, "
                           "maske) >= ('DEU', 'VESKALO', 'VESKALO') ORDER BY sprache, programm, "
                           "maske, bezeichnung, idx",
                           -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            if (std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) !=
                "VESKALO")
                break;
            names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(names.data());
    }
}

// Stands for the memo, with the same kind of "Lines": fillDescription puts the
// long description here. Laying out the text is the memo widget's own cost.
class LinesTarget : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TStringList Lines READ getLines WRITE setLines)
public:
    TStringList getLines() const { return lines; }
    void setLines(const TStringList& value) { lines = value; }
    TStringList lines;
};

class NullView final : public TDescriptionView
{
public:
    void SetName(const QString&) override {}
    void SetShortDescription(const QString&) override {}
    void ClearLongDescription() override {}
};

void fillDescriptionLong(benchmark::State& state)
{
    BenchStore store;
    store.put(keys::Veskalo, keys::Veskalo, QStringLiteral("Lang"), descriptionBlob(10000));
    setQuorStore(openStore(store.path()));
    QObject window;
    auto* memo = new LinesTarget;
    memo->setParent(&window);
    memo->setObjectName(QStringLiteral("msText"));
    auto* fsText = new TQuorFormStore(&window);
    fsText->StoredProperties = {QStringLiteral("msText.Lines")};
    Tmaskfile file;
    NullView view;
    TStringList assignments;
    for (auto _ : state) {
        fillDescription(file, *fsText, *fsText, assignments, keys::Import, QStringLiteral("Lang"),
                        view);
        benchmark::DoNotOptimize(memo->lines.Count());
    }
    if (memo->lines.Count() != 10000)
        state.SkipWithError("description not shown");
    setQuorStore(nullptr);
}

// The same with the real memo: what the window spends in all, most of it the
// text widget laying out its document.
void fillDescriptionIntoMemo(benchmark::State& state)
{
    BenchStore store;
    store.put(keys::Veskalo, keys::Veskalo, QStringLiteral("Lang"), descriptionBlob(10000));
    setQuorStore(openStore(store.path()));
    QWidget window;
    auto* memo = new TQuorStdMemo(&window);
    memo->setObjectName(QStringLiteral("msText"));
    memo->resize(600, 200);
    auto* fsText = new TQuorFormStore(&window);
    fsText->StoredProperties = {QStringLiteral("msText.Lines")};
    Tmaskfile file;
    NullView view;
    TStringList assignments;
    for (auto _ : state)
        fillDescription(file, *fsText, *fsText, assignments, keys::Import, QStringLiteral("Lang"),
                        view);
    if (memo->document()->blockCount() != 10000)
        state.SkipWithError("description not shown");
    setQuorStore(nullptr);
}

void readBlobWithCApi(benchmark::State& state)
{
    BenchStore store;
    store.put(keys::Veskalo, keys::Veskalo, QStringLiteral("Lang"), descriptionBlob(10000));
    sqlite3* db = store.raw();
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(
            db,
            "SELECT kurzbeschreibung, daten FROM einstellungen WHERE sprache = 'DEU' "
            "AND programm = 'VESKALO' AND maske = 'VESKALO' AND bezeichnung = 'Lang' "
            "AND idx = '0'",
            -1, &st, nullptr);
        std::string blob;
        if (sqlite3_step(st) == SQLITE_ROW)
            blob.assign(static_cast<const char*>(sqlite3_column_blob(st, 1)),
                        std::size_t(sqlite3_column_bytes(st, 1)));
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(blob.data());
    }
}

QByteArray fiveMegabytes()
{
    return descriptionBlob(5 * 1024 * 1024 / 110);
}

// Brings the standard copy into the state a timed copy starts from: gone (for
// an insert) or holding other bytes (for an update, since SQLite would skip
// rewriting pages whose bytes did not change).
void resetTarget(sqlite3* db, bool update)
{
    if (!update) {
        sqlite3_exec(db, "DELETE FROM einstellungen WHERE programm = 'RIMDAL'", nullptr, nullptr,
                     nullptr);
        return;
    }
    sqlite3_exec(db,
                 "INSERT OR REPLACE INTO einstellungen VALUES ('DEU', 'RIMDAL', 'IMPORT', "
                 "'STANDARD', '0', 'alt', zeroblob(5000000))",
                 nullptr, nullptr, nullptr);
}

void postLargeText(benchmark::State& state)
{
    const bool update = state.range(0) != 0;
    BenchStore store;
    store.put(keys::Veskalo, keys::Veskalo, QStringLiteral("Gross"), fiveMegabytes());
    setQuorStore(openStore(store.path()));
    Tmaskfile file;
    TStringList assignments;
    for (auto _ : state) {
        state.PauseTiming();
        resetTarget(store.raw(), update);
        state.ResumeTiming();
        postStandard(file, assignments, keys::Import, QStringLiteral("Gross"));
    }
    setQuorStore(nullptr);
}

void writeLargeBlobWithCApi(benchmark::State& state)
{
    const bool update = state.range(0) != 0;
    BenchStore store;
    const QByteArray blob = fiveMegabytes();
    store.put(keys::Veskalo, keys::Veskalo, QStringLiteral("Gross"), blob);
    sqlite3* db = store.raw();
    for (auto _ : state) {
        state.PauseTiming();
        resetTarget(db, update);
        state.ResumeTiming();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           update
                               ? "UPDATE einstellungen SET kurzbeschreibung = ?, daten = ? WHERE "
                                 "programm = 'RIMDAL' AND maske = 'IMPORT'"
                               : "INSERT INTO einstellungen VALUES ('DEU', 'RIMDAL', 'IMPORT', "
                                 "'STANDARD', '0', ?, ?)",
                           -1, &st, nullptr);
        sqlite3_bind_text(st, 1, "Kurz Gross", -1, SQLITE_STATIC);
        sqlite3_bind_blob(st, 2, blob.constData(), int(blob.size()), SQLITE_STATIC);
        sqlite3_step(st);
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
}

QString pgServer()
{
    return qEnvironmentVariable("QUOR_BENCH_PG");
}

void pgSeed()
{
    static bool seeded = false;
    if (seeded)
        return;
    auto store = openStore(pgServer(), TOpen::Create);
    inStoreAccess(*store, [&] {
        store->removeAll();
        for (int i = 0; i < 10000; ++i)
            store->insert({keys::Sprache, keys::Veskalo, keys::Veskalo,
                           QStringLiteral("Einstellung %1").arg(i, 6, 10, QLatin1Char('0')),
                           keys::Index},
                          QStringLiteral("Kurz"), QByteArray("x"));
    });
    // As the server's autovacuum would soon do for a table of this size.
    dynamic_cast<TSqlStore&>(*store).execute("ANALYZE einstellungen");
    seeded = true;
}

void pgScan(benchmark::State& state)
{
    if (pgServer().isEmpty()) {
        state.SkipWithError("no PostgreSQL server (QUOR_BENCH_PG)");
        return;
    }
    pgSeed();
    setQuorStore(openStore(pgServer()));
    Tmaskfile file;
    for (auto _ : state) {
        TCompactStrings names;
        withAccess(file, [&] { names = scanNamedSettings(file); });
        if (names.size() != 10000)
            state.SkipWithError("wrong count");
    }
    setQuorStore(nullptr);
}

// One query streamed row by row on the client library alone.
void pgStreamingQuery(benchmark::State& state)
{
    if (pgServer().isEmpty()) {
        state.SkipWithError("no PostgreSQL server (QUOR_BENCH_PG)");
        return;
    }
    pgSeed();
    PGconn* connection = PQconnectdb(pgServer().toUtf8().constData());
    for (auto _ : state) {
        PQclear(PQexec(connection, "BEGIN"));
        PQsendQuery(connection,
                    "SELECT bezeichnung FROM einstellungen WHERE (sprache, programm, maske) >= "
                    "('DEU', 'VESKALO', 'VESKALO') AND maske = 'VESKALO' ORDER BY sprache, "
                    "programm, maske, bezeichnung, idx");
        PQsetSingleRowMode(connection);
        QStringList names;
        while (PGresult* result = PQgetResult(connection)) {
            if (PQresultStatus(result) == PGRES_SINGLE_TUPLE)
                names << QString::fromUtf8(PQgetvalue(result, 0, 0), PQgetlength(result, 0, 0));
            PQclear(result);
        }
        PQclear(PQexec(connection, "COMMIT"));
        benchmark::DoNotOptimize(names.size());
    }
    PQfinish(connection);
}

} // namespace

BENCHMARK(fillCombos)
    ->Name("Ours/FillCombos")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(scanNamesWithCApi)
    ->Name("Floor/FillCombos")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(fillDescriptionLong)
    ->Name("Ours/FillBeschreibung 10000 lines")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(readBlobWithCApi)
    ->Name("Floor/FillBeschreibung 10000 lines")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(fillDescriptionIntoMemo)
    ->Name("Ours/Memo shows 10000 lines")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(readBlobWithCApi)->Name("Floor/Memo shows 10000 lines")->Unit(benchmark::kMillisecond);
BENCHMARK(postLargeText)
    ->Name("Ours/Posting 5 MB")
    ->ArgName("update")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(writeLargeBlobWithCApi)
    ->Name("Floor/Posting 5 MB")
    ->ArgName("update")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(pgScan)->Name("Ours/PostgreSQL scan 10000")->Unit(benchmark::kMillisecond);
BENCHMARK(pgStreamingQuery)->Name("Floor/PostgreSQL scan 10000")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "bench_store.moc"
