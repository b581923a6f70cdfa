// Fuzz target: Calculate on arbitrary formula text, with an adapter whose
// answers come from the fuzz input. Built once against each plain library
// (CALQUOR_FUZZ_RUNTIME_RULES says which one).
//
// Input layout: the text part runs to the first NUL byte (or the end) and is
// split at '\n': line 0 is the formula, lines 1 to 6 are the named formulas
// "a" to "f". Every other name picks one of them, or the empty text, by a
// hash, so that references reach each other and themselves. The bytes after
// the NUL are the adapter's answers, read front to back: for each call a
// control byte (known or not, throw or not) and for a value the bytes the
// value maker reads. When they run out, every operand is known and Empty.
#include "FuzzSupport.h"

#include <calquor/Calquex.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using namespace calquor;
using calquor::fuzz::Require;
using calquor::fuzz::StartsWith;

namespace {

constexpr bool kRuntimeRules = CALQUOR_FUZZ_RUNTIME_RULES != 0;

// Bounds on the adapter's work per calculation. Named formulas are asked
// afresh for every occurrence, so texts that refer several times to the next
// one would otherwise take exponential time; past the budget the adapter
// throws, which is one more error the engine must report cleanly.
constexpr int kMaxCalls = 4096;
constexpr std::size_t kMaxFormulaBytes = 256 * 1024;

// Limits small enough that long texts and deep Replace nests reach them
// within a run of the fuzzer, where the defaults would take it seconds.
constexpr CalculationLimits kLimits{64 * 1024, 1024 * 1024};

// What the adapter throws of its own: no relation to any library type.
struct AdapterFault {
    int kind;
};

class FuzzAdapter : public DataAdapter {
public:
    FuzzAdapter(fuzz::ByteReader answers, fuzz::ValueMaker& maker, const std::vector<std::string>& formulas)
        : m_answers(answers), m_maker(maker), m_formulas(formulas) {}

    bool IsKnown(const char* name) override {
        Spend(name);
        const std::uint8_t control = m_answers.Byte();
        if (control % 16 == 15) return false;
        if (control % 16 == 14) Throw();
        return true;
    }

    _variant_t GetOperantValue(const char* name) override {
        Spend(name);
        if (m_answers.Byte() % 32 == 31) Throw();
        return m_maker.Make(m_answers);
    }

    std::string GetFormulaByName(const char* name) override {
        Spend(name);
        if (m_answers.Byte() % 32 == 31) Throw();
        const std::string& text = Lookup(name);
        m_formulaBytes += text.size();
        if (m_formulaBytes > kMaxFormulaBytes) throw AdapterFault{-1};
        return text;
    }

private:
    void Spend(const char* name) {
        Require(name != nullptr, "the engine passed a null name");
        if (++m_calls > kMaxCalls) throw AdapterFault{-2};
    }

    [[noreturn]] void Throw() {
        switch (m_answers.Byte() % 5) {
        case 0: throw AdapterFault{0};
        case 1: throw std::runtime_error("adapter failure");
        case 2: throw _com_error(E_FAIL);
        case 3: throw std::bad_alloc();
        default: throw 42;
        }
    }

    const std::string& Lookup(const char* name) {
        static const std::string kNone;
        const std::string key(name);
        if (key.size() == 1 && key[0] >= 'a' && key[0] <= 'f') {
            const std::size_t index = static_cast<std::size_t>(key[0] - 'a');
            return index < m_formulas.size() ? m_formulas[index] : kNone;
        }
        if (m_formulas.empty()) return kNone;
        const std::size_t index = std::hash<std::string>{}(key) % (m_formulas.size() + 1);
        return index < m_formulas.size() ? m_formulas[index] : kNone;
    }

    fuzz::ByteReader m_answers;
    fuzz::ValueMaker& m_maker;
    const std::vector<std::string>& m_formulas;
    int m_calls = 0;
    std::size_t m_formulaBytes = 0;
};

struct Outcome {
    bool escaped = false;  // an exception left Calculate (Calquor_VCL only)
    int code = -1;
    std::string message;
    _variant_t value;
};

// Kinds whose whole value is in the variant's bits (no pointer).
bool IsPlain(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_DECIMAL: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    if (a.vt == VT_DECIMAL) return std::memcmp(&a.decVal, &b.decVal, sizeof a.decVal) == 0;
    if (IsPlain(a.vt)) return a.llVal == b.llVal;
    if (a.vt == VT_BSTR) {
        const UINT n = SysStringByteLen(a.bstrVal);
        return n == SysStringByteLen(b.bstrVal) && (n == 0 || std::memcmp(a.bstrVal, b.bstrVal, n) == 0);
    }
    if (a.vt == varString) {
        const UINT n = AnsiStrLen(a.strVal);
        return n == AnsiStrLen(b.strVal) && (n == 0 || std::memcmp(a.strVal, b.strVal, n) == 0);
    }
    return true;  // references and objects point into each run's own maker
}

Outcome Run(Calquex& engine) {
    Outcome out;
    try {
        out.value = engine.Calculate(out.code, out.message);
    } catch (const AdapterFault&) {
        out.escaped = true;
    } catch (const std::exception&) {
        out.escaped = true;
    } catch (const _com_error&) {
        out.escaped = true;
    } catch (int) {
        out.escaped = true;
    }
    Require(!out.escaped || kRuntimeRules, "an exception left Calculate");
    return out;
}

void CheckOutcome(const Outcome& out, bool compiled, int compilePos, const std::string& compileMessage) {
    if (out.escaped) return;
    if (!compiled) {
        Require(out.code == compilePos && out.message == compileMessage, "Calculate hid the compile error");
        Require(out.value.vt == (kRuntimeRules ? varString : VT_NULL), "a failed compile gave a value");
        return;
    }
    if (out.code == 0) return;
    Require(out.code > 0, "negative result code");
    Require(!out.message.empty(), "a failure without message");
    if (kRuntimeRules) {
        Require(out.value.vt == VT_EMPTY, "Calquor_VCL's failure value is not Empty");
        return;
    }
    Require(out.value.vt == VT_BOOL && out.value.boolVal == VARIANT_FALSE, "the failure value is not false");
    if (out.message == "type cast error") {
        Require(out.code == 1, "type cast error with a code other than 1");
        return;
    }
    // Otherwise: an unknown operand, a reference chain too deep, or a named
    // formula that did not compile (its position is the code).
    Require(StartsWith(out.message, "Unrecognized element:") ||
                StartsWith(out.message, "Formula reference too deep:") || fuzz::IsCompileMessage(out.message),
            "Calculate failed with an unexpected message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t textEnd = 0;
    while (textEnd < size && data[textEnd] != 0) ++textEnd;
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < textEnd; ++i) {
        if (data[i] == '\n') {
            if (lines.size() == 7) break;
            lines.emplace_back();
        } else {
            lines.back().push_back(static_cast<char>(data[i]));
        }
    }
    const std::string formula = lines.front();
    const std::vector<std::string> named(lines.begin() + 1, lines.end());
    const std::size_t answerStart = textEnd < size ? textEnd + 1 : size;
    const fuzz::ByteReader answers(data + answerStart, size - answerStart);

    // The clock functions differ between two runs; everything else must not.
    bool repeatable = true;
    for (const std::string& line : lines)
        if (line.find("Now") != std::string::npos || line.find("Today") != std::string::npos) repeatable = false;

    int compilePos = -1;
    std::string compileMessage;
    const bool compiled = Calquex(formula.c_str()).Compile(compilePos, compileMessage) || formula.empty();

    // Makers first: every value below must be gone before its maker checks
    // its objects' references.
    fuzz::ValueMaker firstMaker;
    fuzz::ValueMaker secondMaker;
    Outcome first;
    Outcome second;
    {
        FuzzAdapter adapter(answers, firstMaker, named);
        Calquex engine(formula.c_str());
        engine.SetDataAdapter(&adapter);
        engine.SetLimits(kLimits);
        first = Run(engine);
        CheckOutcome(first, compiled, compilePos, compileMessage);
    }
    {
        // The same answers again, through a compiled copy whose source is
        // gone (the copy takes its limits).
        FuzzAdapter adapter(answers, secondMaker, named);
        auto source = std::make_unique<Calquex>(formula.c_str());
        source->SetDataAdapter(&adapter);
        source->SetLimits(kLimits);
        int pos = 0;
        std::string message;
        source->Compile(pos, message);
        Calquex copy(*source);
        source.reset();
        second = Run(copy);
        CheckOutcome(second, compiled, compilePos, compileMessage);
    }
    if (repeatable) {
        Require(first.escaped == second.escaped, "two runs ended differently");
        Require(first.code == second.code, "two runs gave different codes");
        // A compiled copy keeps the caller's message on success.
        if (first.code != 0 || !compiled) Require(first.message == second.message, "two runs gave different messages");
        Require(SameValue(first.value, second.value), "two runs gave different values");
    }
    // Whatever came back can be copied and cleared like any variant.
    _variant_t copy;
    VariantCopy(&copy, &first.value);
    return 0;
}
