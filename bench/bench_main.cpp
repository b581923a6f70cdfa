// calquor_bench: this engine against muparser, muparserx and fparser on the
// same formulas and values, this engine's own formulas, and the scale series.
// Registration order puts the peers before this engine for every formula and
// mode, so one run shows the ratios as counters; a summary in the README's
// table layout follows the run.
#include "bench_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>

// ---- allocation counting ----------------------------------------------------
// Sanitizers bring their own allocator; replacing it would hide their checks.
#if defined(__SANITIZE_ADDRESS__)
#define CALQUOR_BENCH_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CALQUOR_BENCH_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef CALQUOR_BENCH_COUNT_ALLOCATIONS
#define CALQUOR_BENCH_COUNT_ALLOCATIONS 1
#endif

namespace {

// Only the benchmark thread allocates while a loop is measured, so a load and
// a store (no locked instruction in every allocation of every engine) count
// exactly; the atomics keep stray threads from being undefined behaviour.
std::atomic<std::int64_t> g_newCount{0};
std::atomic<std::int64_t> g_heapCount{0};

[[maybe_unused]] inline void Bump(std::atomic<std::int64_t>& counter) noexcept {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

}  // namespace

#if CALQUOR_BENCH_COUNT_ALLOCATIONS
// The replaceable global operator new. The array, nothrow and sized forms of
// the standard library call these two, so every form is counted once.
void* operator new(std::size_t size) {
    Bump(g_newCount);
    if (size == 0) size = 1;
    for (;;) {
        if (void* block = std::malloc(size)) return block;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

#if defined(__GLIBC__)
// The C heap as well: the platform's strings come from malloc, not new. The
// C library's own entry points do the work.
#define CALQUOR_BENCH_COUNT_HEAP 1
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);

void* malloc(std::size_t size) noexcept {
    Bump(g_heapCount);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    Bump(g_heapCount);
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    Bump(g_heapCount);
    return __libc_realloc(block, size);
}
void free(void* block) noexcept { __libc_free(block); }
}
#endif
#endif

#ifndef CALQUOR_BENCH_COUNT_HEAP
#define CALQUOR_BENCH_COUNT_HEAP 0
#endif

namespace calquor::bench {

std::int64_t NewCount() {
    return CALQUOR_BENCH_COUNT_ALLOCATIONS ? g_newCount.load(std::memory_order_relaxed) : -1;
}

std::int64_t HeapCount() {
    return CALQUOR_BENCH_COUNT_HEAP ? g_heapCount.load(std::memory_order_relaxed) : -1;
}

// ---- formulas and values ----------------------------------------------------

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"linear", "{a}*2+{b}/3", ResultKind::Number, [](const Values& v) { return v[0] * 2 + v[1] / 3; }},
        {"rational", "({a}+{b})*({a}-{b})/({a}*{a}+1)", ResultKind::Number,
         [](const Values& v) { return (v[0] + v[1]) * (v[0] - v[1]) / (v[0] * v[0] + 1); }},
        // "=" compares kinds strictly here: the operands are doubles, so the
        // literal is written as a double too.
        {"logic", "{a}>{b} && {b}<3 || {a}=1.0", ResultKind::Boolean,
         [](const Values& v) { return ((v[0] > v[1] && v[1] < 3) || v[0] == 1.0) ? 1.0 : 0.0; }},
        {"functions", "Min({a},{b})+Max({a},{b})*Sin({a})", ResultKind::Number,
         [](const Values& v) { return std::min(v[0], v[1]) + std::max(v[0], v[1]) * std::sin(v[0]); }},
        // 40 operators over four operands.
        {"ops40",
         "({a}+{b})*({c}-{d})/({a}*{a}+1) + ({b}-{c})*({d}+{a})/({b}*{b}+2) - ({c}*{d}-{a})/({d}*{d}+3)"
         " + {a}*{b}*{c}*{d} - ({a}+{b}+{c}+{d})/(4+{a}*{a}) + ({a}-{b})*({c}-{d})*0.5 - {b}/({c}*{c}+1)*{d}",
         ResultKind::Number,
         [](const Values& v) {
             const double a = v[0], b = v[1], c = v[2], d = v[3];
             return (a + b) * (c - d) / (a * a + 1) + (b - c) * (d + a) / (b * b + 2) - (c * d - a) / (d * d + 3) +
                    a * b * c * d - (a + b + c + d) / (4 + a * a) + (a - b) * (c - d) * 0.5 - b / (c * c + 1) * d;
         }},
    };
    return cases;
}

const std::vector<Values>& ValueSets() {
    static const std::vector<Values> sets = [] {
        std::vector<Values> out;
        out.push_back({1.5, 0.5, 2.25, -0.75});
        // A fixed linear congruential sequence: the same values on every run,
        // spread over [-4, 4] in quarters so that comparisons go both ways.
        std::uint32_t state = 12345;
        auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return static_cast<double>(static_cast<int>((state >> 16) % 33) - 16) / 4.0;
        };
        for (int i = 1; i < 16; ++i) out.push_back({next(), next(), next(), next()});
        // "=" must be met too.
        out[3][0] = 1.0;
        out[3][1] = 2.0;
        out[9][0] = 1.0;
        out[9][1] = -0.5;
        return out;
    }();
    return sets;
}

std::string Translate(const std::string& text, Dialect dialect) {
    if (dialect == Dialect::Calquor) return text;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const char previous = i ? text[i - 1] : '\0';
        if (c == '{') {
            // An operand: its name as written, without the braces.
            while (++i < text.size() && text[i] != '}') out += text[i];
        } else if (isLetter(c)) {
            // A function name: lower case in every peer.
            while (i < text.size() && (isLetter(text[i]) || isDigit(text[i]))) {
                const char l = text[i++];
                out += (l >= 'A' && l <= 'Z') ? static_cast<char>(l - 'A' + 'a') : l;
            }
            --i;
        } else if (c == '=' && previous != '<' && previous != '>') {
            out += dialect == Dialect::FParser ? "=" : "==";
        } else if ((c == '&' || c == '|') && next == c) {
            out += dialect == Dialect::FParser ? std::string(1, c) : std::string(2, c);
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

bool SameResult(ResultKind kind, double want, double got) {
    if (kind == ResultKind::Boolean) return (want != 0) == (got != 0);
    if (std::isnan(want) || std::isnan(got)) return std::isnan(want) && std::isnan(got);
    return std::fabs(want - got) <= 1e-12 * std::max(1.0, std::fabs(want));
}

const char* ModeName(Mode mode) {
    switch (mode) {
    case Mode::CalcOnly: return "calc";
    case Mode::CalcChanging: return "calc-changing";
    case Mode::CompileOnly: return "compile";
    case Mode::CompileCalc: return "compile-calc";
    case Mode::CompileCalcChanging: return "compile-calc-changing";
    }
    return "?";
}

// ---- the time book ----------------------------------------------------------

namespace {

struct Entry {
    std::vector<std::pair<std::int64_t, double>> runs;
    std::array<double, 2> allocations{-1.0, -1.0};
};

std::map<std::string, Entry>& Book() {
    static std::map<std::string, Entry> book;
    return book;
}

}  // namespace

std::string BookKey(const std::string& engine, const std::string& caseName, Mode mode) {
    return engine + "/" + caseName + "/" + ModeName(mode);
}

void BookTime(const std::string& key, std::int64_t iterations, double nanoseconds) {
    Book()[key].runs.emplace_back(iterations, nanoseconds);
}

double BookedTime(const std::string& key) {
    const auto it = Book().find(key);
    if (it == Book().end() || it->second.runs.empty()) return -1.0;
    // Google Benchmark grows the iteration count until a run is long enough
    // and reports that run (once per repetition): keep those only.
    std::int64_t most = 0;
    for (const auto& run : it->second.runs) most = std::max(most, run.first);
    std::vector<double> times;
    for (const auto& run : it->second.runs)
        if (run.first == most) times.push_back(run.second);
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void BookAllocations(const std::string& key, double newPerCall, double heapPerCall) {
    Book()[key].allocations = {newPerCall, heapPerCall};
}

std::array<double, 2> BookedAllocations(const std::string& key) {
    const auto it = Book().find(key);
    return it == Book().end() ? std::array<double, 2>{-1.0, -1.0} : it->second.allocations;
}

// ---- the summary --------------------------------------------------------------

namespace {

std::string Cell(double value, const char* format = "%.1f") {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Ratio(double own, double peer) {
    if (own < 0 || peer <= 0) return "-";
    return Cell(own / peer, "%.2f");
}

void PrintComparedTable(const char* title, Mode mode) {
    std::printf("\n%s (ns per call; ratio = calquor / peer)\n\n", title);
    std::printf("| formula | calquor | muparser | muparserx | fparser | x muparser | x muparserx | x fparser |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : Cases()) {
        const double own = BookedTime(BookKey(kOwnName, c.name, mode));
        std::array<double, 3> peers{};
        for (std::size_t i = 0; i < kPeerNames.size(); ++i) peers[i] = BookedTime(BookKey(kPeerNames[i], c.name, mode));
        if (own < 0 && peers[0] < 0 && peers[1] < 0 && peers[2] < 0) continue;
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", c.name.c_str(), Cell(own).c_str(),
                    Cell(peers[0]).c_str(), Cell(peers[1]).c_str(), Cell(peers[2]).c_str(),
                    Ratio(own, peers[0]).c_str(), Ratio(own, peers[1]).c_str(), Ratio(own, peers[2]).c_str());
    }
}

void PrintDirectTable() {
    bool any = false;
    for (const Case& c : Cases()) any = any || BookedTime(BookKey(kOwnName, "direct/" + c.name, Mode::CalcOnly)) >= 0;
    if (!any) return;
    std::printf("\nCalculate only, values fixed, through an adapter keyed on the name pointer and through one that "
                "answers without a lookup, and the contract's floor (ns per call; ratio = calquor by pointer, direct or "
                "floor / peer)\n\n");
    std::printf("| formula | calquor | by pointer | direct | floor | muparser | muparserx | fparser | pointer x muparser | "
                "direct x muparser | direct x muparserx | direct x fparser | floor x muparser |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : Cases()) {
        const double own = BookedTime(BookKey(kOwnName, c.name, Mode::CalcOnly));
        const double pointer = BookedTime(BookKey(kOwnName, "pointer/" + c.name, Mode::CalcOnly));
        const double direct = BookedTime(BookKey(kOwnName, "direct/" + c.name, Mode::CalcOnly));
        if (direct < 0) continue;
        std::array<double, 3> peers{};
        for (std::size_t i = 0; i < kPeerNames.size(); ++i)
            peers[i] = BookedTime(BookKey(kPeerNames[i], c.name, Mode::CalcOnly));
        const double floor = BookedTime(BookKey("floor", c.name, Mode::CalcOnly));
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", c.name.c_str(),
                    Cell(own).c_str(), Cell(pointer).c_str(), Cell(direct).c_str(), Cell(floor).c_str(),
                    Cell(peers[0]).c_str(), Cell(peers[1]).c_str(), Cell(peers[2]).c_str(),
                    Ratio(pointer, peers[0]).c_str(), Ratio(direct, peers[0]).c_str(), Ratio(direct, peers[1]).c_str(),
                    Ratio(direct, peers[2]).c_str(), Ratio(floor, peers[0]).c_str());
    }
}

void PrintAllocationTable() {
    std::printf("\nHeap allocations per call (operator new calls / all C-heap calls)\n\n");
    std::printf("| formula | mode | calquor | muparser | muparserx | fparser |\n");
    std::printf("|---|---|---:|---:|---:|---:|\n");
    for (const Case& c : Cases()) {
        for (Mode mode : {Mode::CalcOnly, Mode::CalcChanging, Mode::CompileOnly, Mode::CompileCalc}) {
            std::string row = std::string("| ").append(c.name).append(" | ").append(ModeName(mode)).append(" |");
            bool any = false;
            for (const char* engine : {kOwnName, kPeerNames[0], kPeerNames[1], kPeerNames[2]}) {
                const auto counts = BookedAllocations(BookKey(engine, c.name, mode));
                any = any || counts[0] >= 0;
                row.append(" ").append(Cell(counts[0], "%.2f")).append(" / ").append(Cell(counts[1], "%.2f")).append(" |");
            }
            if (any) std::printf("%s\n", row.c_str());
        }
    }
}

// Rows of this engine's entries whose case starts with prefix, in book order
// of the case's numeric or textual suffix.
std::vector<std::string> CasesUnder(const std::string& prefix) {
    std::vector<std::string> names;
    const std::string start = std::string(kOwnName) + "/" + prefix;
    for (const auto& [key, entry] : Book()) {
        if (key.compare(0, start.size(), start) != 0) continue;
        const std::string rest = key.substr(std::string(kOwnName).size() + 1);
        const std::string name = rest.substr(0, rest.rfind('/'));
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    // Numeric suffixes sort by value: 10, 100, 1000 rather than as text.
    std::stable_sort(names.begin(), names.end(), [&](const std::string& x, const std::string& y) {
        const long nx = std::strtol(x.c_str() + prefix.size(), nullptr, 10);
        const long ny = std::strtol(y.c_str() + prefix.size(), nullptr, 10);
        return nx < ny;
    });
    return names;
}

void PrintOwnTable() {
    const auto names = CasesUnder("only/");
    if (names.empty()) return;
    std::printf("\nFormulas without a peer (ns per call; allocations per call as new / heap)\n\n");
    std::printf("| formula | calc | allocations | compile-calc | allocations |\n|---|---:|---:|---:|---:|\n");
    const auto allocations = [](const std::string& key) {
        const auto counts = BookedAllocations(key);
        return Cell(counts[0], "%.0f").append(" / ").append(Cell(counts[1], "%.0f"));
    };
    for (const auto& name : names) {
        const std::string calc = BookKey(kOwnName, name, Mode::CalcOnly);
        const std::string both = BookKey(kOwnName, name, Mode::CompileCalc);
        std::printf("| %s | %s | %s | %s | %s |\n", name.substr(5).c_str(), Cell(BookedTime(calc)).c_str(),
                    allocations(calc).c_str(), Cell(BookedTime(both)).c_str(), allocations(both).c_str());
    }
    // Cases measured against their inlined equivalent ("<name>-inlined").
    for (const auto& name : names) {
        const std::string inlined = name + "-inlined";
        if (std::find(names.begin(), names.end(), inlined) == names.end()) continue;
        std::printf("\n%s costs %s times its inlined equivalent to calculate, %s times to compile and calculate.\n",
                    name.substr(5).c_str(),
                    Ratio(BookedTime(BookKey(kOwnName, name, Mode::CalcOnly)),
                          BookedTime(BookKey(kOwnName, inlined, Mode::CalcOnly)))
                        .c_str(),
                    Ratio(BookedTime(BookKey(kOwnName, name, Mode::CompileCalc)),
                          BookedTime(BookKey(kOwnName, inlined, Mode::CompileCalc)))
                        .c_str());
    }
}

void PrintScaleTable(const char* prefix, const char* title, const char* unit) {
    const auto names = CasesUnder(prefix);
    if (names.empty()) return;
    // Columns for the modes that were measured (reference depth has no
    // compile of its own: the top formula is one token).
    std::vector<Mode> modes;
    for (Mode mode : {Mode::CompileOnly, Mode::CalcOnly, Mode::CompileCalc}) {
        for (const auto& name : names) {
            if (BookedTime(BookKey(kOwnName, name, mode)) >= 0) {
                modes.push_back(mode);
                break;
            }
        }
    }
    std::printf("\n%s (ns per call, and per %s; allocations per calculation)\n\n| %s |", title, unit, unit);
    std::string rule = "|---:|";
    for (Mode mode : modes) {
        std::printf(" %s | per %s |", ModeName(mode), unit);
        rule += "---:|---:|";
    }
    std::printf(" calc new / heap |\n%s---:|\n", rule.c_str());
    for (const auto& name : names) {
        const double n = std::strtod(name.c_str() + std::string(prefix).size(), nullptr);
        std::printf("| %.0f |", n);
        for (Mode mode : modes) {
            const double ns = BookedTime(BookKey(kOwnName, name, mode));
            std::printf(" %s | %s |", Cell(ns).c_str(), Cell(ns < 0 || n <= 0 ? -1.0 : ns / n, "%.2f").c_str());
        }
        const auto counts = BookedAllocations(BookKey(kOwnName, name, Mode::CalcOnly));
        std::printf(" %s / %s |\n", Cell(counts[0], "%.0f").c_str(), Cell(counts[1], "%.0f").c_str());
    }
}

}  // namespace

void PrintSummary() {
    if (Book().empty()) return;
    std::printf("\n==== Summary ====\n");
    PrintComparedTable("Calculate only, values fixed", Mode::CalcOnly);
    PrintDirectTable();
    PrintComparedTable("Calculate only, values changed between calculations", Mode::CalcChanging);
    PrintComparedTable("Compile only", Mode::CompileOnly);
    PrintComparedTable("Compile and calculate", Mode::CompileCalc);
    PrintComparedTable("Compile and calculate, values changed between calculations", Mode::CompileCalcChanging);
    PrintAllocationTable();
    PrintOwnTable();
    PrintScaleTable("length/", "Scale with formula length", "char");
    PrintScaleTable("depth/", "Scale with @name reference depth", "level");
    std::fflush(stdout);
}

}  // namespace calquor::bench

int main(int argc, char** argv) {
    using namespace calquor::bench;
    constexpr Mode kModes[] = {Mode::CompileOnly, Mode::CompileCalc, Mode::CalcOnly, Mode::CalcChanging,
                               Mode::CompileCalcChanging};
    for (const Case& c : Cases()) {
        for (Mode mode : kModes) {
#ifdef CALQUOR_BENCH_HAVE_MUPARSER
            RegisterMuParser(c, mode);
#endif
#ifdef CALQUOR_BENCH_HAVE_MUPARSERX
            RegisterMuParserX(c, mode);
#endif
#ifdef CALQUOR_BENCH_HAVE_FPARSER
            RegisterFParser(c, mode);
#endif
            RegisterCalquorCompared(c, mode);
        }
    }
    for (const Case& c : Cases()) RegisterCalquorDirect(c);
    RegisterCalquorOnly();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintSummary();
    benchmark::Shutdown();
    return 0;
}
