// SPDX-License-Identifier: GPL-3.0-or-later
// Hot paths of the tool against their floors, measured in the same run:
// Ours/<case> is the tool's code, Floor/<case> the least any code could do.

#include "benchstore.h"
#include "combochoicelist.h"
#include "description.h"
#include "formstore.h"
#include "frmrimdal.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "pgstore.h"
#include "posting.h"
#include "quorcontrols.h"
#include "quorprogramm.h"
#include "sqlstore.h"
#include "storebackend.h"
#include "storeopen.h"
#include "tstringlist.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace
{

// Notes the first paint of the widget it watches.
class PaintWatch : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

void fillCombos(benchmark::State& state)
{
    BenchStore store;
    store.addNamedSettings(int(state.range(0)));
    QuorProgramm().SetStore(openStore(store.path()));
    Tmaskfile file;
    TQuorStdComboBox a, b, c;
    TComboChoiceList import(&a), exportList(&b), brief(&c);
    for (auto _ : state)
        fillChoiceLists(file, import, exportList, brief);
    if (a.ItemCount() != state.range(0) + 1)
        state.SkipWithError("wrong count");
    QuorProgramm().SetStore(nullptr);
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
    QuorProgramm().SetStore(openStore(store.path()));
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
    QuorProgramm().SetStore(nullptr);
}

// What a person waits for: from a changed selection in the real window to the
// memo having painted the new description. Two entries alternate, so that
// every change shows another text.
void selectionToPaintedMemo(benchmark::State& state)
{
    BenchStore store;
    for (const char* name : {"A", "B"})
        store.put(keys::Veskalo, keys::Veskalo, QString::fromLatin1(name),
                  descriptionBlob(int(state.range(0))));
    QuorProgramm().SetStore(openStore(store.path()));
    {
        TfrmRimdal window;
        window.show();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 200)
            QCoreApplication::processEvents();
        auto* list = window.findChild<TQuorStdComboBox*>(QStringLiteral("cmbImport"));
        auto* memo = window.findChild<TQuorStdMemo*>(QStringLiteral("msText"));
        PaintWatch watch;
        memo->viewport()->installEventFilter(&watch);
        int entry = 0;
        for (auto _ : state) {
            entry = 1 - entry;
            watch.painted = false;
            QElapsedTimer limit;
            limit.start();
            list->SetItemIndex(entry);
            Q_EMIT list->OnChange(list);
            while (!watch.painted && limit.elapsed() < 5000)
                QCoreApplication::processEvents();
            if (!watch.painted) {
                state.SkipWithError("the memo was not painted");
                break;
            }
        }
    }
    QuorProgramm().SetStore(nullptr);
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
    QuorProgramm().SetStore(openStore(store.path()));
    Tmaskfile file;
    TStringList assignments;
    for (auto _ : state) {
        state.PauseTiming();
        resetTarget(store.raw(), update);
        state.ResumeTiming();
        postStandard(file, assignments, keys::Import, QStringLiteral("Gross"), frontEnds::Window);
    }
    QuorProgramm().SetStore(nullptr);
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
    QuorProgramm().SetStore(openStore(pgServer()));
    Tmaskfile file;
    for (auto _ : state) {
        TCompactStrings names;
        withAccess(file, [&] { names = scanNamedSettings(file); });
        if (names.size() != 10000)
            state.SkipWithError("wrong count");
    }
    QuorProgramm().SetStore(nullptr);
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

// Each case and its floor as interleaved pairs (ours, floor, ours, floor, ...),
// so that every ratio compares two figures taken one right after the other.
constexpr int kPairs = 5;

void pairs(const std::string& name, void (*ours)(benchmark::State&),
           void (*floor)(benchmark::State&), std::optional<int64_t> arg = {}, int iterations = 0)
{
    for (int k = 1; k <= kPairs; ++k) {
        for (const auto& [side, function] :
             {std::pair{"Ours/", ours}, std::pair{"Floor/", floor}}) {
            if (!function)
                continue;
            auto* run = benchmark::RegisterBenchmark(
                (side + name + "#" + std::to_string(k)).c_str(), function);
            if (arg)
                run->Arg(*arg);
            if (iterations > 0)
                run->Iterations(iterations);
            run->Unit(benchmark::kMillisecond);
        }
    }
}

void registerCases()
{
    for (int64_t count : {1000, 10000, 100000})
        pairs("FillCombos", fillCombos, scanNamesWithCApi, count);
    pairs("FillBeschreibung 10000 lines", fillDescriptionLong, readBlobWithCApi);
    for (int64_t lines : {100, 1000, 10000})
        pairs("Selection to painted memo", selectionToPaintedMemo, nullptr, lines, 20);
    pairs("Posting 5 MB insert", postLargeText, writeLargeBlobWithCApi, 0, 20);
    pairs("Posting 5 MB update", postLargeText, writeLargeBlobWithCApi, 1, 20);
    pairs("PostgreSQL scan 10000", pgScan, pgStreamingQuery);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    registerCases();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "bench_store.moc"
