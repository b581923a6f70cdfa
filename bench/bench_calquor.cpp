// This engine under the benchmark: the compared formulas through an adapter
// answering from a small hash map of doubles, the formulas no peer can
// express, and the scale series (formula length, @name reference depth).
#include "bench_support.h"

#include <calquor/Calquex.h>

#include <functional>
#include <string_view>
#include <unordered_map>

namespace calquor::bench {
namespace {

// Lookups by the engine's const char* names without building a std::string.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
};
template <class T>
using NameMap = std::unordered_map<std::string, T, NameHash, std::equal_to<>>;

// The compared formulas' adapter: four doubles by name.
class NumberAdapter : public DataAdapter {
public:
    NumberAdapter() {
        for (std::size_t i = 0; i < kOperandNames.size(); ++i) m_slots[i] = &m_values[kOperandNames[i]];
    }
    void Set(const Values& values) {
        for (std::size_t i = 0; i < values.size(); ++i) *m_slots[i] = values[i];
    }
    bool IsKnown(const char* name) override { return m_values.find(std::string_view(name)) != m_values.end(); }
    _variant_t GetOperantValue(const char* name) override {
        const auto it = m_values.find(std::string_view(name));
        return it == m_values.end() ? _variant_t() : _variant_t(it->second);
    }

private:
    NameMap<double> m_values;
    std::array<double*, 4> m_slots{};
};

// The cheapest adapter the contract allows: the same four doubles, found by
// the name's one letter instead of a hash lookup. The engine still asks
// IsKnown and GetOperantValue for every operand; what remains of a
// calculation is the engine's own share.
class DirectAdapter : public DataAdapter {
public:
    void Set(const Values& values) { m_values = values; }
    bool IsKnown(const char* name) override { return Slot(name) >= 0; }
    _variant_t GetOperantValue(const char* name) override {
        const int slot = Slot(name);
        return slot < 0 ? _variant_t() : _variant_t(m_values[static_cast<std::size_t>(slot)]);
    }

private:
    static int Slot(const char* name) {
        return name[0] >= 'a' && name[0] <= 'd' && name[1] == '\0' ? name[0] - 'a' : -1;
    }
    Values m_values{};
};

// What a host can do with the engine's promise that every occurrence of an
// operand comes with the same name pointer for the life of a compiled form:
// keep the pointers seen in a short table, each with its value's slot, found
// by name (the hash map) only on first sight.
class PointerAdapter : public DataAdapter {
public:
    void Set(const Values& values) {
        for (std::size_t i = 0; i < values.size(); ++i) m_byName[std::string(1, static_cast<char>('a' + i))] = i;
        m_values = values;
    }
    bool IsKnown(const char* name) override { return Slot(name) != kNone; }
    _variant_t GetOperantValue(const char* name) override {
        const std::size_t slot = Slot(name);
        return slot == kNone ? _variant_t() : _variant_t(m_values[slot]);
    }

private:
    static constexpr std::size_t kNone = SIZE_MAX;
    std::size_t Slot(const char* name) {
        for (const auto& [key, slot] : m_seen)
            if (key == name) return slot;
        const auto it = m_byName.find(std::string_view(name));
        const std::size_t slot = it == m_byName.end() ? kNone : it->second;
        m_seen.emplace_back(name, slot);
        return slot;
    }
    NameMap<std::size_t> m_byName;
    std::vector<std::pair<const char*, std::size_t>> m_seen;
    Values m_values{};
};

// Any value kind by name, and named formulas.
class VariantAdapter : public DataAdapter {
public:
    NameMap<_variant_t> values;
    NameMap<std::string> formulas;

    bool IsKnown(const char* name) override { return values.find(std::string_view(name)) != values.end(); }
    _variant_t GetOperantValue(const char* name) override {
        const auto it = values.find(std::string_view(name));
        return it == values.end() ? _variant_t() : it->second;
    }
    std::string GetFormulaByName(const char* name) override {
        const auto it = formulas.find(std::string_view(name));
        return it == formulas.end() ? std::string() : it->second;
    }
};

// A result as a double: numbers as they are, booleans as their -1/0, other
// kinds converted (NaN when they cannot be).
double AsNumber(const VARIANT& value) {
    if (value.vt == VT_R8) return value.dblVal;
    if (value.vt == VT_BOOL) return value.boolVal;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &value, 0, VT_R8))) return std::nan("");
    return converted.dblVal;
}

std::string TextOf(const VARIANT& value) {
    if (value.vt != VT_BSTR) return {};
    return static_cast<const char*>(_bstr_t(value.bstrVal, true));
}

class CalquorEngine {
public:
    static constexpr const char* kName = kOwnName;
    static constexpr Dialect kDialect = Dialect::Calquor;

    CalquorEngine() { m_engine.SetDataAdapter(&m_adapter); }

    void SetValues(const Values& values) { m_adapter.Set(values); }

    bool Compile(const std::string& text, std::string& error) {
        m_engine.SetFormulaStr(text.c_str());
        int pos = 0;
        if (m_engine.Compile(pos, m_message)) return true;
        error = m_message + " at " + std::to_string(pos);
        return false;
    }

    bool CompileAndCalculate(const std::string& text, double& out, std::string& error) {
        if (!Compile(text, error)) return false;
        const _variant_t value = m_engine.Calculate(m_code, m_message);
        if (m_code != 0) {
            error = m_message;
            return false;
        }
        out = AsNumber(value);
        return true;
    }

    double Calculate() { return AsNumber(m_engine.Calculate(m_code, m_message)); }

    double CalculateFresh(const std::string& text) {
        m_engine.SetFormulaStr(text.c_str());
        int pos = 0;
        m_engine.Compile(pos, m_message);
        return Calculate();
    }

private:
    NumberAdapter m_adapter;
    Calquex m_engine;
    int m_code = 0;
    std::string m_message;
};

// ---- formulas without a peer ------------------------------------------------

DATE Serial(int year, int month, int day) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    DATE date = 0;
    SystemTimeToVariantTime(&st, &date);
    return date;
}

_variant_t DateValue(DATE date) { return _variant_t(date, VT_DATE); }

struct OwnCase {
    std::string name;
    std::string text;
    // The expected result; compared by kind and value (text by its UTF-8).
    std::function<_variant_t()> expected;
};

bool SameValue(const VARIANT& want, const VARIANT& got) {
    if (want.vt == VT_BSTR) return got.vt == VT_BSTR && TextOf(want) == TextOf(got);
    if (want.vt == VT_DATE) return got.vt == VT_DATE && want.date == got.date;
    return SameResult(ResultKind::Number, AsNumber(want), AsNumber(got));
}

std::string Describe(const VARIANT& value) {
    if (value.vt == VT_BSTR) return std::string("\"").append(TextOf(value)).append("\"");
    return std::to_string(AsNumber(value)) + " (kind " + std::to_string(value.vt) + ")";
}

VariantAdapter& OwnAdapter() {
    static VariantAdapter adapter = [] {
        VariantAdapter a;
        a.values["first"] = _variant_t("Ada");
        a.values["last"] = _variant_t("Lovelace");
        a.values["s"] = _variant_t("Hello world, hello formula");
        a.values["d1"] = DateValue(Serial(2024, 1, 31));
        a.values["d2"] = DateValue(Serial(2024, 3, 15));
        a.values["a"] = _variant_t(1.5);
        a.values["b"] = _variant_t(2.0);
        a.formulas["L1"] = "@L2*2";
        a.formulas["L2"] = "@L3+1";
        a.formulas["L3"] = "{a}*{b}";
        return a;
    }();
    return adapter;
}

const std::vector<OwnCase>& OwnCases() {
    static const std::vector<OwnCase> cases = {
        {"concat", "{first}+\" \"+{last}", [] { return _variant_t("Ada Lovelace"); }},
        {"substr-replace", "Replace(SubStr({s},1,11),\"o\",\"0\")", [] { return _variant_t("Hell0 w0rld"); }},
        {"datediff", "DateDiff({d1},{d2},\"Day\")", [] { return _variant_t(44L); }},
        // 31 January + 1 month clamps to 29 February in a leap year.
        {"addmonths", "AddMonths({d1},1)", [] { return DateValue(Serial(2024, 2, 29)); }},
        // The same calculation written out in one formula: ref3 is measured
        // against it (counter x_inlined).
        {"ref3-inlined", "({a}*{b}+1)*2", [] { return _variant_t(8.0); }},
        {"ref3", "@L1", [] { return _variant_t(8.0); }},
    };
    return cases;
}

// Calculates engine once and checks its value; false after SkipWithError.
bool CheckOwn(benchmark::State& state, Calquex& engine, const _variant_t& want) {
    int code = 0;
    std::string message;
    const _variant_t got = engine.Calculate(code, message);
    if (code != 0) {
        state.SkipWithError(("calculation failed: " + message).c_str());
        return false;
    }
    if (!SameValue(want, got)) {
        state.SkipWithError((std::string("wrong result ").append(Describe(got)).append(" instead of ").append(Describe(want))).c_str());
        return false;
    }
    return true;
}

// The timing loops shared by the own cases and the scale series.
double TimeCalc(benchmark::State& state, Calquex& engine, const std::string& key) {
    int code = 0;
    std::string message;
    LoopMeter meter;
    meter.Start();
    for (auto _ : state) benchmark::DoNotOptimize(engine.Calculate(code, message));
    return meter.Stop(state, key);
}

double TimeCompileCalc(benchmark::State& state, Calquex& engine, const std::string& text, const std::string& key) {
    int code = 0;
    int pos = 0;
    std::string message;
    LoopMeter meter;
    meter.Start();
    for (auto _ : state) {
        engine.SetFormulaStr(text.c_str());
        engine.Compile(pos, message);
        benchmark::DoNotOptimize(engine.Calculate(code, message));
    }
    return meter.Stop(state, key);
}

double TimeCompile(benchmark::State& state, Calquex& engine, const std::string& text, const std::string& key) {
    int pos = 0;
    std::string message;
    LoopMeter meter;
    meter.Start();
    for (auto _ : state) {
        engine.SetFormulaStr(text.c_str());
        benchmark::DoNotOptimize(engine.Compile(pos, message));
    }
    return meter.Stop(state, key);
}

void RunOwn(benchmark::State& state, const OwnCase& c, Mode mode) {
    Calquex engine(c.text.c_str());
    engine.SetDataAdapter(&OwnAdapter());
    if (!CheckOwn(state, engine, c.expected())) return;
    const std::string key = BookKey(kOwnName, "only/" + c.name, mode);
    const double ns = mode == Mode::CalcOnly ? TimeCalc(state, engine, key) : TimeCompileCalc(state, engine, c.text, key);
    // A case with an inlined equivalent (registered before it) reports how
    // many times that equivalent's cost it takes.
    const double inlined = BookedTime(BookKey(kOwnName, "only/" + c.name + "-inlined", mode));
    if (inlined > 0) state.counters["x_inlined"] = ns / inlined;
}

// ---- scale series -------------------------------------------------------------

// A formula of exactly length characters: operands and literals joined by
// the four arithmetic operators, padded with blanks to the length.
std::string FormulaOfLength(std::size_t length) {
    static constexpr const char* kPieces[] = {"+{b}", "*2", "-{c}", "/{d}", "+{a}", "*{b}", "-3", "/{c}"};
    std::string text = "{a}";
    for (std::size_t i = 0;; ++i) {
        const std::string_view piece = kPieces[i % std::size(kPieces)];
        if (text.size() + piece.size() > length) break;
        text += piece;
    }
    text.resize(std::max(length, text.size()), ' ');
    return text;
}

void RunLength(benchmark::State& state, Mode mode) {
    const auto length = static_cast<std::size_t>(state.range(0));
    const std::string text = FormulaOfLength(length);
    NumberAdapter adapter;
    adapter.Set(ValueSets()[0]);
    Calquex engine(text.c_str());
    engine.SetDataAdapter(&adapter);
    int code = 0;
    std::string message;
    const _variant_t first = engine.Calculate(code, message);
    if (code != 0 || std::isnan(AsNumber(first))) {
        state.SkipWithError(("length formula failed: " + message).c_str());
        return;
    }
    const std::string key = BookKey(kOwnName, std::string("length/").append(std::to_string(text.size())), mode);
    double ns = 0;
    if (mode == Mode::CalcOnly) {
        ns = TimeCalc(state, engine, key);
    } else if (mode == Mode::CompileOnly) {
        ns = TimeCompile(state, engine, text, key);
    } else {
        ns = TimeCompileCalc(state, engine, text, key);
    }
    state.SetComplexityN(static_cast<benchmark::IterationCount>(text.size()));
    state.counters["ns/char"] = ns / static_cast<double>(text.size());
}

// A chain of depth @name references: R1 = @R2+1, ..., R<depth> = {a}+1, so
// the top formula @R1 equals a + depth.
VariantAdapter ChainAdapter(int depth) {
    VariantAdapter adapter;
    adapter.values["a"] = _variant_t(1.5);
    // Built by append: GCC 12 warns falsely (-Wrestrict) on "text" + std::string.
    const auto name = [](int i) { return std::string("R").append(std::to_string(i)); };
    for (int i = 1; i < depth; ++i) adapter.formulas[name(i)] = std::string("@").append(name(i + 1)).append("+1");
    adapter.formulas[name(depth)] = "{a}+1";
    return adapter;
}

void RunDepth(benchmark::State& state, Mode mode) {
    const int depth = static_cast<int>(state.range(0));
    VariantAdapter adapter = ChainAdapter(depth);
    const std::string text = "@R1";
    Calquex engine(text.c_str());
    engine.SetDataAdapter(&adapter);
    if (!CheckOwn(state, engine, _variant_t(1.5 + depth))) return;
    const std::string key = BookKey(kOwnName, std::string("depth/").append(std::to_string(depth)), mode);
    double ns = 0;
    if (mode == Mode::CalcOnly) {
        ns = TimeCalc(state, engine, key);
    } else {
        ns = TimeCompileCalc(state, engine, text, key);
    }
    state.SetComplexityN(depth);
    state.counters["ns/level"] = ns / depth;
}

// A compared formula calculated through DirectAdapter or PointerAdapter,
// booked as "<label>/<case>" and compared with the peers' plain calculation.
template <class Adapter>
void RunDirect(benchmark::State& state, const Case& c, const std::string& label) {
    Adapter adapter;
    adapter.Set(ValueSets()[0]);
    Calquex engine(c.text.c_str());
    engine.SetDataAdapter(&adapter);
    int code = 0;
    std::string message;
    const double got = AsNumber(engine.Calculate(code, message));
    const double want = c.native(ValueSets()[0]);
    if (code != 0 || !SameResult(c.kind, want, got)) {
        state.SkipWithError((label + " calculation disagrees: " + message + " " + std::to_string(got)).c_str());
        return;
    }
    const double ns = TimeCalc(state, engine, BookKey(kOwnName, label + "/" + c.name, Mode::CalcOnly));
    SetRatioCounters(state, c.name, Mode::CalcOnly, ns);
}

// The contract's floor for a compared formula: what any engine that keeps the
// adapter contract spends at the least. Every operand occurrence, in order, is
// asked through DirectAdapter's IsKnown and GetOperantValue (virtual calls
// through the base class, the value a variant), then the formula is computed
// by the C++ that checks the engines' results. Booked as "floor/<case>".
void RunFloor(benchmark::State& state, const Case& c) {
    DirectAdapter direct;
    direct.Set(ValueSets()[0]);
    DataAdapter* adapter = &direct;
    std::vector<std::string> names;
    for (std::size_t open = c.text.find('{'); open != std::string::npos; open = c.text.find('{', open + 1))
        names.push_back(c.text.substr(open + 1, c.text.find('}', open) - open - 1));
    LoopMeter meter;
    meter.Start();
    for (auto _ : state) {
        benchmark::DoNotOptimize(adapter);  // no devirtualised calls
        Values values{};
        for (const std::string& name : names) {
            if (!adapter->IsKnown(name.c_str())) {
                state.SkipWithError("floor: an operand is unknown");
                break;
            }
            const _variant_t value = adapter->GetOperantValue(name.c_str());
            values[static_cast<std::size_t>(name[0] - 'a')] = value.dblVal;
        }
        benchmark::DoNotOptimize(c.native(values));
    }
    meter.Stop(state, BookKey("floor", c.name, Mode::CalcOnly));
}

}  // namespace

void RegisterCalquorCompared(const Case& c, Mode mode) { RegisterCompared<CalquorEngine>(c, mode); }

void RegisterCalquorDirect(const Case& c) {
    const std::string direct = std::string(kOwnName) + "/direct/" + c.name + "/calc";
    benchmark::RegisterBenchmark(direct.c_str(),
                                 [&c](benchmark::State& state) { RunDirect<DirectAdapter>(state, c, "direct"); });
    const std::string floor = "floor/" + c.name + "/calc";
    benchmark::RegisterBenchmark(floor.c_str(), [&c](benchmark::State& state) { RunFloor(state, c); });
    const std::string pointer = std::string(kOwnName) + "/pointer/" + c.name + "/calc";
    benchmark::RegisterBenchmark(pointer.c_str(),
                                 [&c](benchmark::State& state) { RunDirect<PointerAdapter>(state, c, "pointer"); });
}

void RegisterCalquorOnly() {
    for (const OwnCase& c : OwnCases()) {
        for (Mode mode : {Mode::CalcOnly, Mode::CompileCalc}) {
            const std::string name = std::string(kOwnName) + "/only/" + c.name + "/" + ModeName(mode);
            benchmark::RegisterBenchmark(name.c_str(), [&c, mode](benchmark::State& state) { RunOwn(state, c, mode); });
        }
    }
    for (Mode mode : {Mode::CompileOnly, Mode::CalcOnly, Mode::CompileCalc}) {
        const std::string name = std::string(kOwnName) + "/length/" + ModeName(mode);
        benchmark::RegisterBenchmark(name.c_str(), [mode](benchmark::State& state) { RunLength(state, mode); })
            ->Arg(10)
            ->Arg(100)
            ->Arg(1000)
            ->Complexity(benchmark::oN);
    }
    for (Mode mode : {Mode::CalcOnly, Mode::CompileCalc}) {
        const std::string name = std::string(kOwnName) + "/depth/" + ModeName(mode);
        benchmark::RegisterBenchmark(name.c_str(), [mode](benchmark::State& state) { RunDepth(state, mode); })
            ->Arg(1)
            ->Arg(10)
            ->Arg(50)
            ->Complexity(benchmark::oN);
    }
}

}  // namespace calquor::bench
