// The built-in function table: each row's name as written in formulas, its
// argument count and its handler. Compile and Calculate share FindFunction.
#pragma once

#include <calquor/oleauto.h>
#include <calquor/version.h>

#include "DateFunctions.h"
#include "NumericFunctions.h"
#include "StringFunctions.h"

#include <cstddef>
#include <string_view>

namespace calquor {

inline constexpr const char* g_szProductName = "Calquor";
inline constexpr const char* g_szVersion = CALQUOR_VERSION_LABEL;

// Handlers take their arguments in the order written in the formula and
// return a new value owned by the caller. They report failure by throwing
// (CQEError, or the variant layer's error where a function has no frame).
using PFNFUNC0 = _variant_t (*)();
using PFNFUNC1 = _variant_t (*)(const _variant_t&);
using PFNFUNC2 = _variant_t (*)(const _variant_t&, const _variant_t&);
using PFNFUNC3 = _variant_t (*)(const _variant_t&, const _variant_t&, const _variant_t&);

// One row: exactly the handler whose number equals nParams is set;
// pfnNumbers for the functions that give a number for any numbers.
struct FUNCTION {
    const char* szName;
    short nParams;
    PFNFUNC0 pfnFunc0;
    PFNFUNC1 pfnFunc1;
    PFNFUNC2 pfnFunc2;
    PFNFUNC3 pfnFunc3;
    PFNNUMBERS pfnNumbers = nullptr;
};

_variant_t FnCalquorInfo();

namespace detail {
constexpr FUNCTION Row0(const char* name, PFNFUNC0 f) { return {name, 0, f, nullptr, nullptr, nullptr}; }
constexpr FUNCTION Row1(const char* name, PFNFUNC1 f, PFNNUMBERS numbers = nullptr) {
    return {name, 1, nullptr, f, nullptr, nullptr, numbers};
}
constexpr FUNCTION Row2(const char* name, PFNFUNC2 f, PFNNUMBERS numbers = nullptr) {
    return {name, 2, nullptr, nullptr, f, nullptr, numbers};
}
constexpr FUNCTION Row3(const char* name, PFNFUNC3 f) { return {name, 3, nullptr, nullptr, nullptr, f}; }
}  // namespace detail

inline constexpr FUNCTION g_FunctionTable[] = {
    detail::Row1("Length", FnLength),
    detail::Row1("Trim", FnTrim),
    detail::Row1("TrimLeft", FnTrimLeft),
    detail::Row1("TrimRight", FnTrimRight),
    detail::Row1("UpperCase", FnUpperCase),
    detail::Row1("LowerCase", FnLowerCase),
    detail::Row1("Reverse", FnReverse),
    detail::Row3("SubStr", FnSubStr),
    detail::Row2("FindSub", FnFindSub),
    detail::Row3("Replace", FnReplace),
    detail::Row1("Char", FnChar),
    detail::Row0("Today", FnToday),
    detail::Row0("Now", FnNow),
    detail::Row2("AddDays", FnAddDays),
    detail::Row2("AddWeeks", FnAddWeeks),
    detail::Row2("AddMonths", FnAddMonths),
    detail::Row2("AddYears", FnAddYears),
    detail::Row3("DateDiff", FnDateDiff),
    detail::Row1("IsLeapYear", FnIsLeapYear),
    detail::Row1("GetMonth", FnGetMonth),
    detail::Row1("GetYear", FnGetYear),
    detail::Row1("DayOfMonth", FnDayOfMonth),
    detail::Row2("DayOfWeek", FnDayOfWeek),
    detail::Row2("Min", FnMin, NumbersMin),
    detail::Row2("Max", FnMax, NumbersMax),
    detail::Row2("Mod", FnMod),
    detail::Row2("Round", FnRound),
    detail::Row1("Floor", FnFloor, NumbersFloor),
    detail::Row2("Power", FnPower, NumbersPower),
    detail::Row1("IsZero", FnIsZero),
    detail::Row1("Log2", FnLog2, NumbersLog2),
    detail::Row1("Log10", FnLog10, NumbersLog10),
    detail::Row2("LogN", FnLogN, NumbersLogN),
    detail::Row1("Cos", FnCos, NumbersCos),
    detail::Row1("Sin", FnSin, NumbersSin),
    detail::Row1("Tan", FnTan, NumbersTan),
    detail::Row0("CalquorInfo", FnCalquorInfo),
};

inline constexpr int g_nFunctionCount = 37;

static_assert(sizeof(g_FunctionTable) / sizeof(g_FunctionTable[0]) == g_nFunctionCount,
              "the table has 37 rows");
static_assert(g_FunctionTable[0].nParams == 1 && g_FunctionTable[7].nParams == 3 &&
                  g_FunctionTable[11].nParams == 0 && g_FunctionTable[22].nParams == 2 &&
                  g_FunctionTable[36].nParams == 0,
              "Length 1, SubStr 3, Today 0, DayOfWeek 2, CalquorInfo 0");

// What people are told of each row (`calquor functions`, completion): its
// arguments as a call writes them and one line on what it gives. One row per
// g_FunctionTable row, in the same order; the static_assert below holds the
// names and the argument counts to that table's, so the two cannot drift.
// No handler reads these rows.
struct FUNCTIONHELP {
    const char* szName;
    const char* szArguments;  // nParams names, separated by ", "; "" for none
    const char* szSummary;    // one line, no final full stop
};

inline constexpr FUNCTIONHELP g_FunctionHelp[] = {
    {"Length", "text", "the length of text in bytes"},
    {"Trim", "text", "text without blanks and control characters at either end"},
    {"TrimLeft", "text", "text without blanks and control characters at its start"},
    {"TrimRight", "text", "text without blanks and control characters at its end"},
    {"UpperCase", "text", "text in upper case"},
    {"LowerCase", "text", "text in lower case"},
    {"Reverse", "text", "the bytes of text in reverse order"},
    {"SubStr", "text, start, end", "the bytes of text from position start through end (1 is the first)"},
    {"FindSub", "text, part", "the byte position of the first part in text (1 is the first), 0 when none"},
    {"Replace", "text, old, new", "text with the first old replaced by new"},
    {"Char", "code", "the low 8 bits of code as a signed byte ('A' + Char(66) gives A66)"},
    {"Today", "", "the current local date at midnight"},
    {"Now", "", "the current local date and time"},
    {"AddDays", "date, n", "the date n days later (earlier when n is negative)"},
    {"AddWeeks", "date, n", "the date 7 * n days later"},
    {"AddMonths", "date, n", "the same day and time n months later"},
    {"AddYears", "date, n", "the same day and time n years later"},
    {"DateDiff", "a, b, unit", "whole units from date a to date b; unit 'D', 'W', 'M' or 'Y' (or Day, Week...)"},
    {"IsLeapYear", "date", "whether the date's year is a leap year"},
    {"GetMonth", "date", "the month of the date, 1 to 12"},
    {"GetYear", "date", "the year of the date"},
    {"DayOfMonth", "date", "the day of the month, 1 to 31"},
    {"DayOfWeek", "date, format", "the weekday: 1 (Sunday) to 7 with format 'N', else its name ('Wed')"},
    {"Min", "a, b", "the smaller of two numbers"},
    {"Max", "a, b", "the larger of two numbers"},
    {"Mod", "a, b", "the remainder of the whole-number division a / b (sign of a)"},
    {"Round", "x, n", "x rounded half up to n decimals"},
    {"Floor", "x", "the largest whole number not greater than x"},
    {"Power", "x, y", "x raised to the power y"},
    {"IsZero", "x", "whether x lies within 1e-7 of zero"},
    {"Log2", "x", "the base-2 logarithm of x"},
    {"Log10", "x", "the base-10 logarithm of x"},
    {"LogN", "base, x", "the logarithm of x to the given base"},
    {"Cos", "x", "the cosine of x (radians)"},
    {"Sin", "x", "the sine of x (radians)"},
    {"Tan", "x", "the tangent of x (radians)"},
    {"CalquorInfo", "", "the engine's product name and version"},
};

namespace detail {
// True when every help row names its table row and lists nParams arguments.
constexpr bool HelpMatchesTable() {
    if (sizeof(g_FunctionHelp) / sizeof(g_FunctionHelp[0]) != g_nFunctionCount) return false;
    for (int i = 0; i < g_nFunctionCount; ++i) {
        const std::string_view arguments = g_FunctionHelp[i].szArguments;
        short count = arguments.empty() ? 0 : 1;
        for (const char c : arguments) count = static_cast<short>(count + (c == ',' ? 1 : 0));
        if (std::string_view(g_FunctionHelp[i].szName) != g_FunctionTable[i].szName ||
            count != g_FunctionTable[i].nParams)
            return false;
    }
    return true;
}
}  // namespace detail

static_assert(detail::HelpMatchesTable(), "g_FunctionHelp follows g_FunctionTable row by row");

// The row whose name equals name exactly (case-sensitive), first match in
// table order; null when there is none.
const FUNCTION* FindFunction(std::string_view name) noexcept;

// How many values a call of the row takes from the value stack: its
// argument count, or none for a count outside 1 to 3.
constexpr std::size_t ArgumentCount(const FUNCTION& row) noexcept {
    return row.nParams >= 1 && row.nParams <= 3 ? static_cast<std::size_t>(row.nParams) : 0;
}

// The name of a row of g_FunctionTable, its length measured at build time.
std::string_view FunctionName(const FUNCTION& row) noexcept;

// Calls the row's handler for its argument count with args[0..nParams).
_variant_t CallFunction(const FUNCTION& row, const _variant_t* args);

}  // namespace calquor
