// Shared pieces of calquor_bench: the measured formulas, their native
// results, the time book that turns peer times into ratios, the allocation
// counters, and one benchmark body per mode that every engine instantiates.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

namespace calquor::bench {

// ---- operands and formulas ------------------------------------------------

// The four operands every compared formula may use, in this order.
inline constexpr std::array<const char*, 4> kOperandNames = {"a", "b", "c", "d"};
using Values = std::array<double, 4>;

// How a formula's result is compared: numbers within a relative tolerance,
// booleans by truthiness (our engine answers -1/0, the peers 1/0).
enum class ResultKind { Number, Boolean };

// A formula written in this engine's syntax, with the same formula computed
// in C++ as the judge every engine must agree with.
struct Case {
    std::string name;
    std::string text;
    ResultKind kind;
    double (*native)(const Values&);
};

// The compared formulas, in report order.
const std::vector<Case>& Cases();

// Operand values: set 0 for the fixed-value runs; the changing-value runs
// cycle through all of them, one set per calculation.
const std::vector<Values>& ValueSets();

// The peers' syntaxes. Translate rewrites this engine's formula text: {x}
// becomes x, function names go to lower case, and "=", "&&", "||" become
// what the peer writes for them.
enum class Dialect { Calquor, MuParser, MuParserX, FParser };
std::string Translate(const std::string& text, Dialect dialect);

// True when got agrees with want for the kind of result.
bool SameResult(ResultKind kind, double want, double got);

// ---- modes and the time book ----------------------------------------------

enum class Mode { CalcOnly, CalcChanging, CompileOnly, CompileCalc, CompileCalcChanging };
const char* ModeName(Mode mode);

// Every benchmark books its time per call under "engine/case/mode" after its
// timing loop; this engine's benchmarks read the peers' entries (peers run
// first) to set their ratio counters, and the summary prints them all.
void BookTime(const std::string& key, std::int64_t iterations, double nanoseconds);
// The booked time per call: the median of the runs with the most iterations
// (Google Benchmark's reported runs); negative when nothing was booked.
double BookedTime(const std::string& key);
std::string BookKey(const std::string& engine, const std::string& caseName, Mode mode);

// Allocations booked per call by a benchmark.
void BookAllocations(const std::string& key, double newPerCall, double heapPerCall);
// {new, heap}; negative when nothing was booked or counting is unavailable.
std::array<double, 2> BookedAllocations(const std::string& key);

// Prints the tables of the README after the run.
void PrintSummary();

// ---- allocation counting ----------------------------------------------------

// Counts since the start: operator new calls, and every block taken from the
// C heap (malloc, calloc, realloc: operator new's blocks and the platform's
// string blocks alike). Both read -1 when counting is compiled out (sanitizer
// builds, or a C library whose allocator cannot be wrapped).
std::int64_t NewCount();
std::int64_t HeapCount();

// Measures a timing loop: processor time and allocations between Start and
// Stop. Processor time (as Google Benchmark's "CPU" column), not wall time:
// the ratios must not depend on what else the machine runs.
class LoopMeter {
public:
    void Start() {
        m_new = NewCount();
        m_heap = HeapCount();
        m_start = std::clock();
    }
    // Books the time and allocations per call, sets the allocation counters
    // ("new": operator new calls, "heap": all C-heap calls, per call) and
    // returns the time per call in nanoseconds.
    double Stop(benchmark::State& state, const std::string& key) {
        const std::clock_t end = std::clock();
        const std::int64_t newCount = NewCount();
        const std::int64_t heapCount = HeapCount();
        const auto iterations = static_cast<std::int64_t>(state.iterations());
        if (iterations <= 0) return 0.0;
        const double ns = static_cast<double>(end - m_start) * (1e9 / CLOCKS_PER_SEC) / static_cast<double>(iterations);
        BookTime(key, iterations, ns);
        if (newCount >= 0) {
            const double perNew = static_cast<double>(newCount - m_new) / static_cast<double>(iterations);
            const double perHeap =
                heapCount >= 0 ? static_cast<double>(heapCount - m_heap) / static_cast<double>(iterations) : -1.0;
            state.counters["new"] = perNew;
            if (perHeap >= 0) state.counters["heap"] = perHeap;
            BookAllocations(key, perNew, perHeap);
        }
        return ns;
    }

private:
    std::int64_t m_new = 0;
    std::int64_t m_heap = 0;
    std::clock_t m_start = 0;
};

// ---- the benchmark bodies ---------------------------------------------------

// The peers whose ratios this engine's benchmarks report, in column order.
inline constexpr std::array<const char*, 3> kPeerNames = {"muparser", "muparserx", "fparser"};
inline constexpr const char* kOwnName = "calquor";

// Sets "x_<peer>" = our time / the peer's time for every peer booked.
inline void SetRatioCounters(benchmark::State& state, const std::string& caseName, Mode mode, double ownNs) {
    for (const char* peer : kPeerNames) {
        const double peerNs = BookedTime(BookKey(peer, caseName, mode));
        if (peerNs > 0) state.counters[std::string("x_") + peer] = ownNs / peerNs;
    }
}

// An engine under test offers (Engine is a class of one .cpp file):
//   static constexpr const char* kName; static constexpr Dialect kDialect;
//   void SetValues(const Values&)          - operand values for the next call
//   bool Compile(const std::string& text, std::string& error)
//                                          - parse only (never calculates)
//   bool CompileAndCalculate(const std::string& text, double& out, std::string& error)
//   double Calculate()                     - the timed call, compiled beforehand
//   double CalculateFresh(const std::string& text)
//                                          - the timed call: compile, calculate
// Exceptions from a peer are caught by RunCompared and end the benchmark with an error.

// Compares the engine with the native result for every value set the mode
// uses; a mismatch ends the benchmark with an error before any timing.
template <class Engine>
bool Verify(benchmark::State& state, Engine& engine, const Case& c, const std::string& text, bool allSets) {
    const auto& sets = ValueSets();
    const std::size_t count = allSets ? sets.size() : 1;
    std::string error;
    for (std::size_t i = 0; i < count; ++i) {
        engine.SetValues(sets[i]);
        double got = 0;
        if (!engine.CompileAndCalculate(text, got, error)) {
            state.SkipWithError((std::string(Engine::kName) + " failed on " + text + ": " + error).c_str());
            return false;
        }
        const double want = c.native(sets[i]);
        if (!SameResult(c.kind, want, got)) {
            state.SkipWithError((std::string(Engine::kName) + " disagrees on " + text + " (set " + std::to_string(i) +
                                 "): " + std::to_string(got) + " instead of " + std::to_string(want))
                                    .c_str());
            return false;
        }
    }
    return true;
}

template <class Engine>
void RunCompared(benchmark::State& state, const Case& c, Mode mode) {
    try {
        Engine engine;
        const std::string text = Translate(c.text, Engine::kDialect);
        const bool changing = mode == Mode::CalcChanging || mode == Mode::CompileCalcChanging;
        if (!Verify(state, engine, c, text, changing)) return;
        const auto& sets = ValueSets();
        engine.SetValues(sets[0]);
        std::string error;
        if (!engine.Compile(text, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        // The lazily parsing peers build their code on this first call.
        benchmark::DoNotOptimize(engine.Calculate());
        const bool own = std::string(Engine::kName) == kOwnName;
        const std::string key = BookKey(Engine::kName, c.name, mode);
        LoopMeter meter;
        std::size_t next = 0;
        double ns = 0;
        switch (mode) {
        case Mode::CalcOnly:
            meter.Start();
            for (auto _ : state) benchmark::DoNotOptimize(engine.Calculate());
            ns = meter.Stop(state, key);
            break;
        case Mode::CalcChanging:
            meter.Start();
            for (auto _ : state) {
                engine.SetValues(sets[next]);
                next = next + 1 == sets.size() ? 0 : next + 1;
                benchmark::DoNotOptimize(engine.Calculate());
            }
            ns = meter.Stop(state, key);
            break;
        case Mode::CompileOnly:
            meter.Start();
            for (auto _ : state) benchmark::DoNotOptimize(engine.Compile(text, error));
            ns = meter.Stop(state, key);
            break;
        case Mode::CompileCalc:
            meter.Start();
            for (auto _ : state) benchmark::DoNotOptimize(engine.CalculateFresh(text));
            ns = meter.Stop(state, key);
            break;
        case Mode::CompileCalcChanging:
            meter.Start();
            for (auto _ : state) {
                engine.SetValues(sets[next]);
                next = next + 1 == sets.size() ? 0 : next + 1;
                benchmark::DoNotOptimize(engine.CalculateFresh(text));
            }
            ns = meter.Stop(state, key);
            break;
        }
        if (own) SetRatioCounters(state, c.name, mode, ns);
    } catch (const std::exception& error) {
        state.SkipWithError((std::string(Engine::kName) + " threw: " + error.what()).c_str());
    } catch (...) {
        state.SkipWithError((std::string(Engine::kName) + " threw").c_str());
    }
}

// The registration of one engine's compared benchmarks, "<engine>/<case>/<mode>".
template <class Engine>
void RegisterCompared(const Case& c, Mode mode) {
    const std::string name = std::string(Engine::kName) + "/" + c.name + "/" + ModeName(mode);
    benchmark::RegisterBenchmark(name.c_str(), [&c, mode](benchmark::State& state) { RunCompared<Engine>(state, c, mode); });
}

// Each engine's file offers its registration; the peers' exist only when the
// peer library was found at configure time.
void RegisterCalquorCompared(const Case& c, Mode mode);
void RegisterMuParser(const Case& c, Mode mode);
void RegisterMuParserX(const Case& c, Mode mode);
void RegisterFParser(const Case& c, Mode mode);
// A compared formula calculated through an adapter that answers without a
// lookup ("calquor/direct/<case>/calc"): the engine's own share.
void RegisterCalquorDirect(const Case& c);
// This engine's formulas without peer, and the scale series.
void RegisterCalquorOnly();

}  // namespace calquor::bench
