// Shared helpers of the engine tests: an adapter answering from maps, a
// one-call calculation, and the expectations that differ between CLQMFC and
// Calquor_VCL.
#pragma once

#include <calquor/Calquex.h>

#include <gtest/gtest.h>

#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <string>
#include <vector>

#ifndef CALQUOR_TEST_RUNTIME_RULES
#define CALQUOR_TEST_RUNTIME_RULES 0
#endif

namespace calquor::test {

// True when the tests run against Calquor_VCL.
inline constexpr bool kRuntimeRules = CALQUOR_TEST_RUNTIME_RULES != 0;

// The value a failed calculation returns: false, or Empty in Calquor_VCL.
inline bool IsFailureValue(const VARIANT& v) {
    if (kRuntimeRules) return v.vt == VT_EMPTY;
    return v.vt == VT_BOOL && v.boolVal == VARIANT_FALSE;
}

// The kind of text values: VT_BSTR, or the 8-bit kind in Calquor_VCL.
inline constexpr VARTYPE kTextKind = kRuntimeRules ? varString : VARTYPE{VT_BSTR};

// The kind of integer literals: VT_INT, or VT_I4 in Calquor_VCL.
inline constexpr VARTYPE kIntegerKind = kRuntimeRules ? VARTYPE{VT_I4} : VARTYPE{VT_INT};

// The kind "+", "-" and "*" give for two integers: always a double, or an
// integer in Calquor_VCL.
inline constexpr VARTYPE kIntegerArithmeticKind = kRuntimeRules ? VARTYPE{VT_I4} : VARTYPE{VT_R8};

// The message every failure inside an evaluation reads in CLQMFC.
inline constexpr const char* kTypeCastError = "type cast error";

// Calquor_VCL's message for a value its runtime cannot convert, e.g.
// CannotConvert("Null", "String").
inline std::string CannotConvert(const char* from, const char* to) {
    return std::string("Could not convert variant of type (") + from + ") into type (" + to + ")";
}

// The value of a failed implicit compile and of a reference without an
// adapter: Null, or the empty text in Calquor_VCL.
inline bool IsMissingValue(const VARIANT& v) {
    if (kRuntimeRules) return v.vt == varString && (GetStrVal(v) == nullptr || GetStrVal(v)[0] == '\0');
    return v.vt == VT_NULL;
}

// The number an integer or double value holds; NaN for every other kind.
inline double NumberOf(const VARIANT& v) {
    switch (v.vt) {
    case VT_I4: case VT_INT: return v.lVal;
    case VT_R8: return v.dblVal;
    default: return std::numeric_limits<double>::quiet_NaN();
    }
}

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

// The what() of the std::exception that leaves Calculate of text, "" when
// Calculate returns. Other exceptions pass on to the test.
inline std::string CalcThrows(const char* text, DataAdapter* adapter = nullptr) {
    try {
        Calc(text, adapter);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

// CLQMFC's outcome of every failure inside an evaluation: code 1,
// "type cast error" and false.
inline ::testing::AssertionResult IsTypeCastError(const Outcome& out) {
    if (out.code == 1 && out.message == kTypeCastError && out.value.vt == VT_BOOL && out.value.boolVal == VARIANT_FALSE)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "code " << out.code << ", message \"" << out.message << "\", kind "
                                         << out.value.vt;
}

// A conversion refused during the evaluation of text: the type cast error, or
// in Calquor_VCL code 1 with the runtime's own message and Empty.
inline ::testing::AssertionResult FailsToConvert(const char* text, const std::string& runtimeMessage,
                                                 DataAdapter* adapter = nullptr) {
    const Outcome out = Calc(text, adapter);
    if (!kRuntimeRules) return IsTypeCastError(out) << " for " << text;
    if (out.code == 1 && out.message == runtimeMessage && out.value.vt == VT_EMPTY)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text << ": code " << out.code << ", message \"" << out.message
                                         << "\", kind " << out.value.vt;
}

// An error raised inside a built-in function: the type cast error, or in
// Calquor_VCL the function's own error leaving Calculate with `raised`.
inline ::testing::AssertionResult FailsInFunction(const char* text, const std::string& raised,
                                                  DataAdapter* adapter = nullptr) {
    if (!kRuntimeRules) return IsTypeCastError(Calc(text, adapter)) << " for " << text;
    const std::string what = CalcThrows(text, adapter);
    if (what == raised) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text << " raised \"" << what << "\", not \"" << raised << "\"";
}

inline _variant_t Null() {
    _variant_t v;
    v.vt = VT_NULL;
    return v;
}

// The value's text (UTF-8) for VT_BSTR and the 8-bit kind; "" otherwise.
inline std::string TextOf(const VARIANT& v) {
    if (v.vt == VT_BSTR) return static_cast<const char*>(_bstr_t(v.bstrVal, true));
    if (v.vt == varString) return GetStrVal(v) ? std::string(GetStrVal(v), AnsiStrLen(GetStrVal(v))) : std::string();
    return {};
}

}  // namespace calquor::test
