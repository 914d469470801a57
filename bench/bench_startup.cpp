// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the whole process to the first paint, and its peak memory, with
// stores of 0, 10,000 and 100,000 named settings, against a bare main window
// that shows one line of text in the window's font.

#include "benchstore.h"

#include <QByteArray>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace
{

// Runs the program once; returns seconds and the peak resident size in MB.
std::pair<double, double> runOnce(const char* program, const QByteArray& store)
{
    std::vector<QByteArray> variables{"QT_QPA_PLATFORM=offscreen", "QUOR_STORE=" + store,
                                      "QUOR_MANDANT=Benchmark"};
    std::vector<char*> env;
    env.reserve(variables.size());
    for (QByteArray& v : variables)
        env.push_back(v.data());
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUOR_", 5) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.push_back(*e);
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, env.data()) != 0)
        return {-1, 0};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {seconds, double(usage.ru_maxrss) / 1024.0};
}

void measure(benchmark::State& state, const char* program, int settings)
{
    BenchStore store;
    store.addNamedSettings(settings);
    const QByteArray path = store.path().toUtf8();
    runOnce(program, path); // warm the caches
    double peak = 0;
    for (auto _ : state) {
        const auto [seconds, megabytes] = runOnce(program, path);
        if (seconds < 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        state.SetIterationTime(seconds);
        peak = std::max(peak, megabytes);
    }
    state.counters["peak_MB"] = peak;
}

void ours(benchmark::State& state)
{
    measure(state, STARTUP_PROBE, int(state.range(0)));
}

void bare(benchmark::State& state)
{
    measure(state, BARE_PROBE, int(state.range(0)));
}

} // namespace

// Ours and the floor as interleaved pairs for each store size, so that every
// ratio compares two figures taken one right after the other.
int main(int argc, char** argv)
{
    for (int k = 1; k <= 5; ++k) {
        for (int64_t settings : {0, 10000, 100000}) {
            using Run = void (*)(benchmark::State&);
            for (const auto& [side, function] : {std::pair<const char*, Run>{"Ours/", ours},
                                                 std::pair<const char*, Run>{"Floor/", bare}}) {
                benchmark::RegisterBenchmark(
                    (std::string(side) + "Start-up to first paint#" + std::to_string(k)).c_str(),
                    function)
                    ->Arg(settings)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(10);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
