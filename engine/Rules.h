// The two rule sets of the engine, side by side: every behaviour in which
// the flavours differ is a member of both, so this file lists them all.
// AutomationRules are CLQMFC's (and the Calquor_MFC server's): the automation
// runtime's conversions and one catch-all failure in Calculate.
// RuntimeLibraryRules are Calquor_VCL's (and Calquor_Auto's): the runtime
// library's conversions, kinds and errors. Each library selects one set once
// (`Rules`, from CALQUOR_RUNTIME_RULES); code reads `Rules::...` and keeps
// compile-time branches only where the control flow itself differs. The
// members the run path calls are inline or constexpr, so the choice costs
// nothing at run time.
#pragma once

#include "Conversions.h"
#include "Flavour.h"

#include <calquor/oleauto.h>
#include <calquor/rtl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace calquor {

struct AutomationRules {
    // Integers: an integer literal, Mod's result and DayOfWeek's number are
    // VT_INT.
    static _variant_t IntegerValue(int value) { return _variant_t(value); }

    // Evaluator: every failure inside a run (refused conversion, function
    // error, adapter exception, too few values) reads alike to the host as
    // one type-cast failure.
    static constexpr bool kOneFailureForAll = true;
    // A function's failure reports the function's own message
    // (functions/HandlerFrame.h).
    static constexpr bool kFunctionErrorsByCause = false;
    // The result of a failed calculation: false.
    static _variant_t FailureValue() { return _variant_t(false); }
    // A formula that fails its implicit compile, a reference without an
    // adapter and the default adapter's operand: Null.
    static _variant_t MissingValue() {
        _variant_t value;
        value.vt = VT_NULL;
        return value;
    }
    // An adapter's value is copied by the automation runtime's copy.
    static void CopyValue(VARIANT& out, const VARIANT& in) { conv::Check(VariantCopy(&out, &in)); }

    // Operators: the engine's own rules (strict "=", text joining "+",
    // numbers otherwise); two plain numbers or truths are worked in place,
    // without a call.
    static constexpr bool kRuntimeOperators = false;

    // Conversions of the kinds that are not read directly: the automation
    // runtime's VariantChangeType (Conversions.cpp). Text is VT_BSTR; a date
    // that is refused is an invalid date, not an error.
    static double NumberOf(const VARIANT& v);
    static int IntegerOf(const VARIANT& v);
    static bool BooleanOf(const VARIANT& v);
    static std::string TextOf(const VARIANT& v);
    static _variant_t TextValue(std::string_view text);
    static conv::WorkingDate DateOf(const VARIANT& v);

    // String functions (functions/StringFunctions.cpp). SubStr's positions
    // are 32-bit integers; the trims remove the ASCII white space; case maps
    // a to z only; Reverse keeps each multi-byte character whole; Replace
    // replaces every occurrence; Char is the low 8 bits as a signed byte.
    static std::int64_t SubStrPosition(const VARIANT& v) { return conv::ToInteger(v); }
    static _variant_t Trim(const std::string& text);
    static _variant_t TrimLeft(const std::string& text);
    static _variant_t TrimRight(const std::string& text);
    static _variant_t UpperCase(std::string text);
    static _variant_t LowerCase(std::string text);
    static _variant_t Reverse(const std::string& text);
    static constexpr bool kReplaceFirstOnly = false;
    static _variant_t Char(const VARIANT& code);

    // Numeric functions: the C library's, with Round to the nearest
    // (functions/NumericFunctions.cpp); IsZero's bounds are not zero (NaN
    // compares false to both); Log2 and LogN as quotients of common
    // logarithms.
    static double Round(double value, int digits);
    static double Floor(double value) { return std::floor(value); }
    static double Power(double base, double exponent) { return std::pow(base, exponent); }
    static bool IsZero(double value) { return value > -1e-7 && value < 1e-7; }
    static double Log2(double value) { return std::log10(value) / std::log10(2.0); }
    static double Log10(double value) { return std::log10(value); }
    static double LogN(double base, double value) { return std::log10(value) / std::log10(base); }
    static double Tan(double value) { return std::tan(value); }

    // Date functions (functions/DateFunctions.cpp): AddDays and AddWeeks
    // count on the continuous day line; AddMonths and AddYears keep the time
    // of day and clamp a day the target month lacks to its last day; Now
    // drops the milliseconds.
    static DATE AddDays(DATE start, std::int64_t days);
    static constexpr bool kMovedDateClampsDay = true;
    static DATE Now(DATE now, WORD) { return now; }
};

struct RuntimeLibraryRules {
    // Integers: an integer literal, Mod's result and DayOfWeek's number are
    // VT_I4.
    static _variant_t IntegerValue(int value) { return _variant_t(static_cast<long>(value)); }

    // Evaluator: the runtime's own errors keep their messages.
    static constexpr bool kOneFailureForAll = false;
    // A function's failure reports its cause: "Parameter type mismatch" for
    // a conversion the runtime refuses, "Unknown error" for anything else.
    static constexpr bool kFunctionErrorsByCause = true;
    // The result of a failed calculation: Empty.
    static _variant_t FailureValue() { return _variant_t(); }
    // A formula that fails its implicit compile, a reference without an
    // adapter and the default adapter's operand: the empty text.
    static _variant_t MissingValue() { return conv::MakeText(""); }
    // An adapter's value is copied by the runtime library's copy, which
    // refuses kinds it does not know.
    static void CopyValue(VARIANT& out, const VARIANT& in) { conv::Check(rtl::VarCopy(&out, &in)); }

    // Operators: every operation, negation included, follows the runtime's
    // variant arithmetic; nothing is worked in place.
    static constexpr bool kRuntimeOperators = true;

    // Conversions of the kinds that are not read directly: the runtime
    // library's. Text is its 8-bit varString; a date that is refused raises
    // the runtime's conversion error.
    static double NumberOf(const VARIANT& v) { return rtl::VarToDouble(v); }
    static int IntegerOf(const VARIANT& v) { return rtl::VarToInteger(v); }
    static bool BooleanOf(const VARIANT& v) { return rtl::VarToBoolean(v); }
    static std::string TextOf(const VARIANT& v);
    static _variant_t TextValue(std::string_view text);
    static conv::WorkingDate DateOf(const VARIANT& v) { return {rtl::VarToDateTime(v), true}; }

    // String functions: SubStr's positions are 16-bit integers; the trims
    // remove every code from 0 to 32; case maps by the user locale, so
    // letters beyond a to z change too; Reverse goes byte by byte; Replace
    // replaces the first occurrence only; Char is an unsigned byte by the
    // runtime's conversion.
    static std::int64_t SubStrPosition(const VARIANT& v) { return rtl::VarToSmallint(v); }
    static _variant_t Trim(const std::string& text) { return conv::MakeText(rtl::Trim(text)); }
    static _variant_t TrimLeft(const std::string& text) { return conv::MakeText(rtl::TrimLeft(text)); }
    static _variant_t TrimRight(const std::string& text) { return conv::MakeText(rtl::TrimRight(text)); }
    static _variant_t UpperCase(const std::string& text) { return conv::MakeText(rtl::AnsiUpperCase(text)); }
    static _variant_t LowerCase(const std::string& text) { return conv::MakeText(rtl::AnsiLowerCase(text)); }
    static _variant_t Reverse(std::string text) {
        std::reverse(text.begin(), text.end());
        return conv::MakeText(text);
    }
    static constexpr bool kReplaceFirstOnly = true;
    static _variant_t Char(const VARIANT& code) { return _variant_t(static_cast<unsigned char>(rtl::VarToByte(code))); }

    // Numeric functions: the runtime's. Round goes to a power of ten given
    // as a signed 8-bit count, so the digit count is negated and wraps to 8
    // bits; Floor yields a 32-bit integer; IsZero counts its bounds as zero.
    static double Round(double value, int digits) {
        return rtl::SimpleRoundTo(value, static_cast<signed char>(-static_cast<std::int64_t>(digits)));
    }
    static double Floor(double value) { return static_cast<double>(rtl::Floor(value)); }
    static double Power(double base, double exponent) { return rtl::Power(base, exponent); }
    static bool IsZero(double value) { return rtl::IsZero(value, 1e-7); }
    static double Log2(double value) { return rtl::Log2(value); }
    static double Log10(double value) { return rtl::Log10(value); }
    static double LogN(double base, double value) { return rtl::LogN(base, value); }
    static double Tan(double value) { return rtl::Tan(value); }

    // Date functions: AddDays and AddWeeks add to the DATE value itself;
    // AddMonths and AddYears give the new date at midnight and refuse a day
    // the target month lacks; Now keeps the milliseconds (today's dates are
    // positive, so the fraction simply grows).
    static DATE AddDays(DATE start, std::int64_t days) { return start + static_cast<double>(days); }
    static constexpr bool kMovedDateClampsDay = false;
    static DATE Now(DATE now, WORD milliseconds) { return now + milliseconds / 86400000.0; }
};

// This library's rule set, chosen once.
using Rules = std::conditional_t<flavour::kRuntimeRules, RuntimeLibraryRules, AutomationRules>;

}  // namespace calquor
