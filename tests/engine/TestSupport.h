// Shared helpers of the engine tests: an adapter answering from maps, and a
// one-call calculation.
#pragma once

#include <calquor/Calquex.h>

#include <map>
#include <string>
#include <vector>

#ifndef CALQUOR_TEST_RUNTIME_RULES
#define CALQUOR_TEST_RUNTIME_RULES 0
#endif

namespace calquor::test {

// True when the tests run against Calquor_VCL (the second flavour's rules).
inline constexpr bool kRuntimeRules = CALQUOR_TEST_RUNTIME_RULES != 0;

// The value a failed calculation returns: false, or Empty in Calquor_VCL.
inline bool IsFailureValue(const VARIANT& v) {
    if (kRuntimeRules) return v.vt == VT_EMPTY;
    return v.vt == VT_BOOL && v.boolVal == VARIANT_FALSE;
}

// The kind of text values: VT_BSTR, or the 8-bit kind in Calquor_VCL.
inline constexpr VARTYPE kTextKind = kRuntimeRules ? varString : VARTYPE{VT_BSTR};

// Answers operands and named formulas from maps and records every call.
class MapAdapter : public DataAdapter {
public:
    std::map<std::string, _variant_t> values;
    std::map<std::string, std::string> formulas;
    std::vector<std::string> calls;

    _variant_t GetOperantValue(const char* name) override {
        calls.push_back(std::string("value:") + name);
        return values.at(name);
    }
    std::string GetFormulaByName(const char* name) override {
        calls.push_back(std::string("formula:") + name);
        auto it = formulas.find(name);
        return it == formulas.end() ? std::string() : it->second;
    }
    bool IsKnown(const char* name) override {
        calls.push_back(std::string("known:") + name);
        return values.count(name) != 0;
    }
};

struct Outcome {
    _variant_t value;
    int code = -1;
    std::string message;
};

// Calculates text once on a fresh engine bound to adapter (or the default).
inline Outcome Calc(const char* text, DataAdapter* adapter = nullptr) {
    Calquex engine(text);
    if (adapter) engine.SetDataAdapter(adapter);
    Outcome out;
    out.value = engine.Calculate(out.code, out.message);
    return out;
}

inline _variant_t Null() {
    _variant_t v;
    v.vt = VT_NULL;
    return v;
}

// The value's text (UTF-8) for VT_BSTR and the 8-bit kind; "" otherwise.
inline std::string TextOf(const VARIANT& v) {
    if (v.vt == VT_BSTR) return static_cast<const char*>(_bstr_t(v.bstrVal, true));
    if (v.vt == varString) return v.strVal ? std::string(v.strVal, AnsiStrLen(v.strVal)) : std::string();
    return {};
}

}  // namespace calquor::test
