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

// One row: exactly the handler whose number equals nParams is set.
struct FUNCTION {
    const char* szName;
    short nParams;
    PFNFUNC0 pfnFunc0;
    PFNFUNC1 pfnFunc1;
    PFNFUNC2 pfnFunc2;
    PFNFUNC3 pfnFunc3;
};

_variant_t FnCalquorInfo();

namespace detail {
constexpr FUNCTION Row0(const char* name, PFNFUNC0 f) { return {name, 0, f, nullptr, nullptr, nullptr}; }
constexpr FUNCTION Row1(const char* name, PFNFUNC1 f) { return {name, 1, nullptr, f, nullptr, nullptr}; }
constexpr FUNCTION Row2(const char* name, PFNFUNC2 f) { return {name, 2, nullptr, nullptr, f, nullptr}; }
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
    detail::Row2("Min", FnMin),
    detail::Row2("Max", FnMax),
    detail::Row2("Mod", FnMod),
    detail::Row2("Round", FnRound),
    detail::Row1("Floor", FnFloor),
    detail::Row2("Power", FnPower),
    detail::Row1("IsZero", FnIsZero),
    detail::Row1("Log2", FnLog2),
    detail::Row1("Log10", FnLog10),
    detail::Row2("LogN", FnLogN),
    detail::Row1("Cos", FnCos),
    detail::Row1("Sin", FnSin),
    detail::Row1("Tan", FnTan),
    detail::Row0("CalquorInfo", FnCalquorInfo),
};

inline constexpr int g_nFunctionCount = 37;

static_assert(sizeof(g_FunctionTable) / sizeof(g_FunctionTable[0]) == g_nFunctionCount,
              "the table has 37 rows");
static_assert(g_FunctionTable[0].nParams == 1 && g_FunctionTable[7].nParams == 3 &&
                  g_FunctionTable[11].nParams == 0 && g_FunctionTable[22].nParams == 2 &&
                  g_FunctionTable[36].nParams == 0,
              "Length 1, SubStr 3, Today 0, DayOfWeek 2, CalquorInfo 0");

// The row whose name equals name exactly (case-sensitive), first match in
// table order; null when there is none.
const FUNCTION* FindFunction(std::string_view name) noexcept;

// How many values a call of the row takes from the value stack: its
// argument count, or none for a count outside 1 to 3.
constexpr std::size_t ArgumentCount(const FUNCTION& row) noexcept {
    return row.nParams >= 1 && row.nParams <= 3 ? static_cast<std::size_t>(row.nParams) : 0;
}

// Calls the row's handler for its argument count with args[0..nParams).
_variant_t CallFunction(const FUNCTION& row, const _variant_t* args);

}  // namespace calquor
