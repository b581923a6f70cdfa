// The runtime library's variant layer: type names, conversions with their
// error classes and messages, and the generic operators.
#include "PlatformSupport.h"

#include <calquor/rtl.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace calquor::rtl {
namespace {

// ---- Building values ----------------------------------------------------------

VARIANT Raw(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

_variant_t Of(VARTYPE vt) {
    _variant_t v;
    v.vt = vt;
    return v;
}
_variant_t Null() { return Of(VT_NULL); }
_variant_t Empty() { return _variant_t(); }
_variant_t I1(signed char x) { _variant_t v = Of(VT_I1); v.cVal = static_cast<CHAR>(x); return v; }
_variant_t I2(short x) { _variant_t v = Of(VT_I2); v.iVal = x; return v; }
_variant_t I4(LONG x) { _variant_t v = Of(VT_I4); v.lVal = x; return v; }
_variant_t UI1(BYTE x) { _variant_t v = Of(VT_UI1); v.bVal = x; return v; }
_variant_t UI2(USHORT x) { _variant_t v = Of(VT_UI2); v.uiVal = x; return v; }
_variant_t UI4(ULONG x) { _variant_t v = Of(VT_UI4); v.ulVal = x; return v; }
_variant_t I8(LONGLONG x) { _variant_t v = Of(VT_I8); v.llVal = x; return v; }
_variant_t UI8(ULONGLONG x) { _variant_t v = Of(VT_UI8); v.ullVal = x; return v; }
_variant_t R4(float x) { _variant_t v = Of(VT_R4); v.fltVal = x; return v; }
_variant_t R8(double x) { _variant_t v = Of(VT_R8); v.dblVal = x; return v; }
_variant_t Dt(double x) { _variant_t v = Of(VT_DATE); v.date = x; return v; }
_variant_t Cy(LONGLONG units) { _variant_t v = Of(VT_CY); v.cyVal.int64 = units; return v; }
_variant_t Bool(bool b) { _variant_t v = Of(VT_BOOL); v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; return v; }
_variant_t Str(const std::string& s) { return VarFromString(s); }
_variant_t Ole(const OLECHAR* s) { return _variant_t(s); }
_variant_t Dec(ULONGLONG digits, BYTE scale) {
    _variant_t v;
    v.decVal.Lo64 = digits;
    v.decVal.scale = scale;
    v.vt = VT_DECIMAL;
    return v;
}
_variant_t Dispatch() { return Of(VT_DISPATCH); }  // a null interface
_variant_t ErrorValue() { _variant_t v = Of(VT_ERROR); v.scode = DISP_E_PARAMNOTFOUND; return v; }

// Kinds _variant_t cannot own (its destructor would refuse them).
VARIANT RefTo(LONG* target) {
    VARIANT v = Raw(VT_I4 | VT_BYREF);
    v.plVal = target;
    return v;
}
VARIANT ArrayOfDouble() { return Raw(VT_ARRAY | VT_R8); }

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr LONGLONG kMax64 = LLONG_MAX;
constexpr LONGLONG kMin64 = LLONG_MIN;
constexpr ULONGLONG kMaxU64 = ULLONG_MAX;
constexpr ULONGLONG kTwo63 = 1ULL << 63;
const double kTwo63d = std::ldexp(1.0, 63);
const double kTwo64d = std::ldexp(1.0, 64);

// "ok", or the error class and message a call threw.
template <typename F>
std::string Outcome(F f) {
    try {
        f();
    } catch (const EVariantTypeCastError& e) {
        return std::string("cast: ") + e.what();
    } catch (const EVariantOverflowError& e) {
        return std::string("overflow: ") + e.what();
    } catch (const EVariantInvalidOpError& e) {
        return std::string("invalid: ") + e.what();
    } catch (...) {
        return "other";
    }
    return "ok";
}

std::string Cast(const char* from, const char* to) {
    return std::string("cast: Could not convert variant of type (") + from + ") into type (" + to + ")";
}
std::string Overflow(const char* from, const char* to) {
    return std::string("overflow: Overflow while converting variant of type (") + from + ") into type (" + to + ")";
}
const std::string kInvalidOp = "invalid: Invalid variant operation";

// Runs a conversion over table rows {label, value, expected, error}.
template <typename T, typename Row, typename F>
void CheckRows(const std::vector<Row>& rows, F convert) {
    for (const auto& row : rows) {
        T got{};
        EXPECT_EQ(Outcome([&] { got = convert(row.value); }), row.error.empty() ? "ok" : row.error) << row.label;
        if (row.error.empty()) {
            EXPECT_EQ(got, row.expected) << row.label;
        }
    }
}

// ---- Type names -------------------------------------------------------------------

TEST(RtlTypeNames, NamesOfEveryKind) {
    const std::vector<std::pair<VARTYPE, std::string>> rows = {
        {VT_EMPTY, "Empty"},      {VT_NULL, "Null"},         {VT_I2, "Smallint"},     {VT_I4, "Integer"},
        {VT_R4, "Single"},        {VT_R8, "Double"},         {VT_CY, "Currency"},     {VT_DATE, "Date"},
        {VT_BSTR, "OleStr"},      {VT_DISPATCH, "Dispatch"}, {VT_ERROR, "Error"},     {VT_BOOL, "Boolean"},
        {VT_VARIANT, "Variant"},  {VT_UNKNOWN, "Unknown"},   {VT_DECIMAL, "Decimal"}, {VT_I1, "ShortInt"},
        {VT_UI1, "Byte"},         {VT_UI2, "Word"},          {VT_UI4, "LongWord"},    {VT_I8, "Int64"},
        {VT_UI8, "UInt64"},       {VT_INT, "Integer"},       {VT_UINT, "LongWord"},   {varString, "String"},
        {0x101, "Any"},           {0x102, "UnicodeString"},  {15, "$000F"},           {VT_VOID, "$0018"},
        {VT_ARRAY | VT_R8, "Array Double"},                  {VT_BYREF | VT_I4, "Ref to Integer"},
    };
    for (const auto& [vt, name] : rows) EXPECT_EQ(VarTypeAsText(vt), name) << vt;
}

// ---- Conversions ---------------------------------------------------------------

struct DoubleCase {
    const char* label;
    _variant_t value;
    double expected;
    std::string error;  // empty: converts to `expected`
};

TEST(RtlConvert, ToDouble) {
    const std::vector<DoubleCase> rows = {
        {"empty", Empty(), 0.0, ""},
        {"int", I4(7), 7.0, ""},
        {"true", Bool(true), -1.0, ""},
        {"false", Bool(false), 0.0, ""},
        {"currency", Cy(25000), 2.5, ""},
        {"date", Dt(38000.5), 38000.5, ""},
        {"text", Str("12.5"), 12.5, ""},
        {"wide text", Ole(OLESTR(" -3 ")), -3.0, ""},
        {"null", Null(), 0, Cast("Null", "Double")},
        {"word", Str("abc"), 0, Cast("String", "Double")},
        {"wide word", Ole(OLESTR("abc")), 0, Cast("OleStr", "Double")},
        {"empty text", Str(""), 0, Cast("String", "Double")},
        {"object", Dispatch(), 0, Cast("Dispatch", "Double")},
        {"error", ErrorValue(), 0, Cast("Error", "Double")},
        {"huge text", Str("1e309"), 0, Overflow("String", "Double")},
    };
    CheckRows<double>(rows, [](const VARIANT& v) { return VarToDouble(v); });
}

TEST(RtlConvert, ReferencesAndArrays) {
    LONG target = 42;
    const VARIANT ref = RefTo(&target);
    EXPECT_EQ(VarToDouble(ref), 42.0);
    EXPECT_EQ(VarToString(ref), "42");
    const VARIANT arr = ArrayOfDouble();
    EXPECT_EQ(Outcome([&] { VarToDouble(arr); }), Cast("Array Double", "Double"));
}

struct IntCase {
    const char* label;
    _variant_t value;
    LONG expected;
    std::string error;
};

TEST(RtlConvert, ToIntegerRoundsHalfToEven) {
    const std::vector<IntCase> rows = {
        {"2.5", R8(2.5), 2, ""},
        {"3.5", R8(3.5), 4, ""},
        {"-2.5", R8(-2.5), -2, ""},
        {"0.6", R8(0.6), 1, ""},
        {"date", Dt(38000.5), 38000, ""},
        {"currency", Cy(25000), 2, ""},
        // Text is read as a number and rounded, not truncated.
        {"text 2.5", Str("2.5"), 2, ""},
        {"text 2.6", Str("2.6"), 3, ""},
        {"text -1.5", Str("-1.5"), -2, ""},
        {"true", Bool(true), -1, ""},
        {"empty", Empty(), 0, ""},
        {"max", R8(2147483647.0), INT_MAX, ""},
        {"min", R8(-2147483648.5), INT_MIN, ""},
        {"above", R8(2147483647.5), 0, Overflow("Double", "Integer")},
        {"int64", I8(2147483648LL), 0, Overflow("Int64", "Integer")},
        {"longword", UI4(4294967295u), 0, Overflow("LongWord", "Integer")},
        {"uint64", UI8(~0ULL), 0, Overflow("UInt64", "Integer")},
        {"text above", Str("2147483648"), 0, Overflow("String", "Integer")},
        {"infinity", R8(kInf), 0, Overflow("Double", "Integer")},
        {"nan", R8(kNaN), 0, Overflow("Double", "Integer")},
        {"word", Str("abc"), 0, Cast("String", "Integer")},
        {"null", Null(), 0, Cast("Null", "Integer")},
    };
    CheckRows<LONG>(rows, [](const VARIANT& v) { return VarToInteger(v); });
}

// Byte and Smallint keep the low bits without a range check.
TEST(RtlConvert, ByteAndSmallintKeepLowBits) {
    EXPECT_EQ(VarToByte(I4(321)), 65);
    EXPECT_EQ(VarToByte(Str("321")), 65);
    EXPECT_EQ(VarToByte(R8(320.5)), 64);  // rounded to 320 first
    EXPECT_EQ(VarToByte(UI8(321)), 65);
    EXPECT_EQ(VarToSmallint(I8(kMin64 + 65)), 65);
    // A UInt64 above INT64_MAX is not read as the negative Int64 of its bits.
    EXPECT_EQ(Outcome([] { VarToByte(UI8(kTwo63 + 65)); }), Overflow("UInt64", "Byte"));
    EXPECT_EQ(Outcome([] { VarToSmallint(UI8(kMaxU64)); }), Overflow("UInt64", "Smallint"));
    EXPECT_EQ(VarToByte(R8(321.5)), 66);
    EXPECT_EQ(VarToByte(Bool(true)), 255);
    EXPECT_EQ(VarToByte(I4(-1)), 255);
    EXPECT_EQ(VarToByte(I8(0x100000041LL)), 65);
    EXPECT_EQ(VarToSmallint(I4(70000)), 4464);
    EXPECT_EQ(VarToSmallint(I4(32768)), -32768);
    EXPECT_EQ(VarToSmallint(R8(-2.5)), -2);
    EXPECT_EQ(VarToSmallint(Empty()), 0);
    EXPECT_EQ(Outcome([] { VarToByte(R8(1e300)); }), Overflow("Double", "Byte"));
    EXPECT_EQ(Outcome([] { VarToByte(Null()); }), Cast("Null", "Byte"));
    EXPECT_EQ(Outcome([] { VarToSmallint(Str("x")); }), Cast("String", "Smallint"));
}

struct BoolCase {
    const char* label;
    _variant_t value;
    bool expected;
    std::string error;
};

TEST(RtlConvert, ToBoolean) {
    const std::vector<BoolCase> rows = {
        {"TRUE", Str("TRUE"), true, ""},
        {"false", Str("false"), false, ""},
        {"wide True", Ole(OLESTR("True")), true, ""},
        {"zero text", Str("0"), false, ""},
        {"minus one text", Str("-1"), true, ""},
        {"fraction text", Str("0.1"), true, ""},
        {"zero", R8(0.0), false, ""},
        {"two", I4(2), true, ""},
        {"empty", Empty(), false, ""},
        {"word", Str("yes"), false, Cast("String", "Boolean")},
        {"hash form", Str("#TRUE#"), false, Cast("String", "Boolean")},
        {"empty text", Str(""), false, Cast("String", "Boolean")},
        {"null", Null(), false, Cast("Null", "Boolean")},
    };
    CheckRows<bool>(rows, [](const VARIANT& v) { return VarToBoolean(v); });
}

TEST(RtlConvert, ToDateTime) {
    const std::vector<DoubleCase> rows = {
        {"day count", I4(38000), 38000.0, ""},
        {"real", R8(38000.75), 38000.75, ""},
        {"text", Str("1/14/2004"), 38000.0, ""},
        {"text with time", Ole(OLESTR("1/14/2004 6:00 PM")), 38000.75, ""},
        {"empty", Empty(), 0.0, ""},
        {"number text", Str("38000"), 0, Cast("String", "Date")},
        {"null", Null(), 0, Cast("Null", "Date")},
        {"far", R8(1e10), 0, Overflow("Double", "Date")},
    };
    CheckRows<double>(rows, [](const VARIANT& v) { return VarToDateTime(v); });
}

struct TextCase {
    const char* label;
    _variant_t value;
    std::string expected;
    std::string error;
};

TEST(RtlConvert, ToString) {
    const std::vector<TextCase> rows = {
        {"half", R8(0.5), "0.5", ""},
        {"big", R8(1e20), "1E+20", ""},
        {"int", I4(-42), "-42", ""},
        {"currency", Cy(15000), "1.5", ""},
        {"true", Bool(true), "True", ""},
        {"false", Bool(false), "False", ""},
        {"date", Dt(38000.75), "1/14/2004 6:00:00 PM", ""},
        {"empty", Empty(), "", ""},
        {"wide", Ole(OLESTR("caf\u00e9")), "caf\xc3\xa9", ""},
        {"ansi", Str("abc"), "abc", ""},
        {"null", Null(), "", Cast("Null", "String")},
        {"object", Dispatch(), "", Cast("Dispatch", "String")},
    };
    CheckRows<std::string>(rows, [](const VARIANT& v) { return VarToString(v); });
}

TEST(RtlConvert, FromStringKeepsEveryByte) {
    const std::string text("a\0\xc3\xa9", 4);
    const _variant_t v = VarFromString(text);
    EXPECT_EQ(v.vt, varString);
    EXPECT_EQ(AnsiStrLen(GetStrVal(v)), 4u);
    EXPECT_EQ(VarToString(v), text);
    const _variant_t copy = v;  // deep copy through the variant services
    EXPECT_NE(GetStrVal(copy), GetStrVal(v));
    EXPECT_EQ(VarToString(copy), text);
}

// ---- Arithmetic -------------------------------------------------------------------

struct ArithCase {
    const char* label;
    VarOp op;
    _variant_t left;
    _variant_t right;
    VARTYPE vt;            // kind of the result
    double number;         // its value for numeric kinds
    std::string text;      // its text for text kinds, or the error
};

// Checks a result against a row: kind, then value (NaN matches NaN).
void ExpectResult(const _variant_t& got, VARTYPE vt, double number, const std::string& text, const char* label) {
    ASSERT_EQ(got.vt, vt) << label;
    if (vt == VT_NULL) return;
    if (vt == VT_BSTR || vt == varString) {
        EXPECT_EQ(VarToString(got), text) << label;
    } else if (std::isnan(number)) {
        EXPECT_TRUE(std::isnan(VarToDouble(got))) << label;
    } else {
        EXPECT_EQ(VarToDouble(got), number) << label;
    }
}

TEST(RtlArith, KindsAndValues) {
    using enum VarOp;
    const std::vector<ArithCase> rows = {
        // Integers combine in 64 bits and widen only when needed.
        {"int add", Add, I4(2), I4(3), VT_I4, 5, ""},
        {"int overflow", Add, I4(INT_MAX), I4(1), VT_I8, 2147483648.0, ""},
        {"int underflow", Subtract, I4(INT_MIN), I4(1), VT_I8, -2147483649.0, ""},
        {"smallint product", Multiply, I2(100), I2(1000), VT_I4, 100000, ""},
        {"byte sum", Add, UI1(200), UI1(100), VT_I4, 300, ""},
        {"shortint", Subtract, I1(-100), UI2(100), VT_I4, -200, ""},
        {"longword product", Multiply, UI4(4294967295u), UI4(4294967295u), VT_R8, 18446744065119617025.0, ""},
        {"int64 stays", Add, I8(5), I4(1), VT_I8, 6, ""},
        {"int64 overflow", Add, I8(LLONG_MAX), I4(1), VT_R8, 9223372036854775808.0, ""},
        {"divide", Divide, I4(7), I4(2), VT_R8, 3.5, ""},
        {"divide exact", Divide, I4(6), I4(2), VT_R8, 3, ""},
        {"by zero", Divide, I4(1), I4(0), VT_R8, kInf, ""},
        {"negative by zero", Divide, I4(-1), I4(0), VT_R8, -kInf, ""},
        {"zero by zero", Divide, I4(0), I4(0), VT_R8, kNaN, ""},
        {"real", Add, I4(1), R8(1234.5678), VT_R8, 1235.5678, ""},
        {"singles", Add, R4(1.5f), R4(1.5f), VT_R8, 3, ""},
        {"decimal", Add, Dec(15, 1), I4(1), VT_R8, 2.5, ""},
        {"booleans", Add, Bool(true), I4(1), VT_I4, 0, ""},
        {"boolean product", Multiply, Bool(true), Bool(true), VT_I4, 1, ""},
        {"boolean real", Add, Bool(true), R8(0.5), VT_R8, -0.5, ""},
        // Text.
        {"text times int", Multiply, Str("10"), I4(2), VT_R8, 20, ""},
        {"wide text times int", Multiply, Ole(OLESTR("10")), I4(2), VT_R8, 20, ""},
        {"int plus text", Add, I4(1), Str("2"), VT_R8, 3, ""},
        {"text minus text", Subtract, Str("10"), Str("4"), VT_R8, 6, ""},
        {"join", Add, Str("ab"), Str("cd"), varString, 0, "abcd"},
        {"join wide", Add, Str("ab"), Ole(OLESTR("cd")), VT_BSTR, 0, "abcd"},
        {"join wide left", Add, Ole(OLESTR("\u00e9")), Str("x"), VT_BSTR, 0, "\xc3\xa9x"},
        {"not a number", Multiply, Str("abc"), I4(2), VT_EMPTY, 0, Cast("String", "Double")},
        {"not a number wide", Subtract, I4(2), Ole(OLESTR("abc")), VT_EMPTY, 0, Cast("OleStr", "Double")},
        // Dates.
        {"date plus", Add, Dt(38000), I4(1), VT_DATE, 38001, ""},
        {"plus date", Add, R8(0.5), Dt(38000), VT_DATE, 38000.5, ""},
        {"date minus date", Subtract, Dt(38001), Dt(38000), VT_R8, 1, ""},
        {"date minus", Subtract, Dt(38000), I4(1), VT_DATE, 37999, ""},
        {"date times", Multiply, Dt(38000), I4(2), VT_R8, 76000, ""},
        {"date plus text", Add, Dt(38000), Str("2"), VT_DATE, 38002, ""},
        // Currency.
        {"currency plus int", Add, Cy(15000), I4(2), VT_CY, 3.5, ""},
        {"currency times real", Multiply, Cy(15000), R8(2.5), VT_CY, 3.75, ""},
        {"currency squared", Multiply, Cy(10001), Cy(10001), VT_CY, 1.0002, ""},
        {"currency half even", Multiply, Cy(5), R8(0.5), VT_CY, 0.0002, ""},
        {"currency divided", Divide, Cy(100000), Cy(40000), VT_CY, 2.5, ""},
        {"currency by int", Divide, Cy(100000), I4(4), VT_CY, 2.5, ""},
        {"int by currency", Divide, I4(10), Cy(40000), VT_R8, 2.5, ""},
        {"currency by zero", Divide, Cy(10000), I4(0), VT_R8, kInf, ""},
        {"currency overflow", Add, Cy(LLONG_MAX), Cy(1), VT_EMPTY, 0, Overflow("Currency", "Currency")},
        {"currency product overflow", Multiply, Cy(LLONG_MAX), R8(2), VT_EMPTY, 0,
         Overflow("Currency", "Currency")},
        // Null and Empty.
        {"null plus", Add, Null(), I4(3), VT_NULL, 0, ""},
        {"times null", Multiply, I4(3), Null(), VT_NULL, 0, ""},
        {"null text", Add, Null(), Str("abc"), VT_NULL, 0, ""},
        {"null null", Divide, Null(), Null(), VT_NULL, 0, ""},
        {"null empty", Add, Empty(), Null(), VT_NULL, 0, ""},
        {"empty plus", Add, Empty(), I4(3), VT_I4, 3, ""},
        {"empty empty", Add, Empty(), Empty(), VT_I4, 0, ""},
        {"empty real", Multiply, Empty(), R8(2.5), VT_R8, 0, ""},
        {"empty date", Add, Empty(), Dt(38000), VT_DATE, 38000, ""},
        {"empty joins", Add, Empty(), Str("abc"), varString, 0, "abc"},
        {"joins empty", Add, Ole(OLESTR("abc")), Empty(), VT_BSTR, 0, "abc"},
        {"empty minus text", Subtract, Empty(), Str("5"), VT_R8, -5, ""},
        {"by empty", Divide, I4(5), Empty(), VT_R8, kInf, ""},
        // Kinds without arithmetic.
        {"object", Add, Dispatch(), I4(1), VT_EMPTY, 0, kInvalidOp},
        {"error", Add, I4(1), ErrorValue(), VT_EMPTY, 0, kInvalidOp},
        {"null object", Add, Null(), Dispatch(), VT_EMPTY, 0, kInvalidOp},
    };
    for (const auto& row : rows) {
        _variant_t got;
        const std::string outcome = Outcome([&] { got = VarArith(row.op, row.left, row.right); });
        if (row.vt == VT_EMPTY) {
            EXPECT_EQ(outcome, row.text) << row.label;
            continue;
        }
        ASSERT_EQ(outcome, "ok") << row.label;
        ExpectResult(got, row.vt, row.number, row.text, row.label);
    }
}

// The language guide's example: 1 + 1234.5678 + '1000' = 2235.5678.
TEST(RtlArith, GuideExample) {
    const _variant_t sum = VarArith(VarOp::Add, VarArith(VarOp::Add, I4(1), R8(1234.5678)), Str("1000"));
    EXPECT_EQ(sum.vt, VT_R8);
    EXPECT_DOUBLE_EQ(sum.dblVal, 2235.5678);
}

TEST(RtlArith, ReferencesAndArraysAreInvalid) {
    LONG target = 1;
    const VARIANT ref = RefTo(&target);
    const VARIANT arr = ArrayOfDouble();
    EXPECT_EQ(Outcome([&] { VarArith(VarOp::Add, ref, I4(1)); }), kInvalidOp);
    EXPECT_EQ(Outcome([&] { VarArith(VarOp::Add, I4(1), arr); }), kInvalidOp);
    EXPECT_EQ(Outcome([&] { VarNeg(ref); }), kInvalidOp);
}

TEST(RtlArith, Negation) {
    const std::vector<ArithCase> rows = {
        {"integer", VarOp::Add, I4(5), {}, VT_I4, -5, ""},
        {"lowest integer", VarOp::Add, I4(INT_MIN), {}, VT_I8, 2147483648.0, ""},
        {"smallint", VarOp::Add, I2(7), {}, VT_I2, -7, ""},
        {"lowest smallint", VarOp::Add, I2(-32768), {}, VT_I4, 32768, ""},
        {"shortint", VarOp::Add, I1(5), {}, VT_I1, -5, ""},
        {"lowest shortint", VarOp::Add, I1(-128), {}, VT_I2, 128, ""},
        {"byte", VarOp::Add, UI1(200), {}, VT_I2, -200, ""},
        {"word", VarOp::Add, UI2(65535), {}, VT_I4, -65535, ""},
        {"longword", VarOp::Add, UI4(4294967295u), {}, VT_I8, -4294967295.0, ""},
        {"int64", VarOp::Add, I8(-5), {}, VT_I8, 5, ""},
        {"lowest int64", VarOp::Add, I8(LLONG_MIN), {}, VT_R8, 9223372036854775808.0, ""},
        {"uint64", VarOp::Add, UI8(1ULL << 63), {}, VT_I8, -9223372036854775808.0, ""},
        {"double", VarOp::Add, R8(2.5), {}, VT_R8, -2.5, ""},
        {"single", VarOp::Add, R4(2.5f), {}, VT_R4, -2.5, ""},
        {"date", VarOp::Add, Dt(38000), {}, VT_DATE, -38000, ""},
        {"currency", VarOp::Add, Cy(15000), {}, VT_CY, -1.5, ""},
        {"decimal", VarOp::Add, Dec(15, 1), {}, VT_DECIMAL, -1.5, ""},
        {"empty", VarOp::Add, Empty(), {}, VT_I2, 0, ""},
        {"true", VarOp::Add, Bool(true), {}, VT_I2, 1, ""},
        {"text", VarOp::Add, Str("12"), {}, VT_R8, -12, ""},
        {"wide text", VarOp::Add, Ole(OLESTR("1.5")), {}, VT_R8, -1.5, ""},
        {"null", VarOp::Add, Null(), {}, VT_NULL, 0, ""},
        {"word text", VarOp::Add, Str("abc"), {}, VT_EMPTY, 0, Cast("String", "Double")},
        {"lowest currency", VarOp::Add, Cy(LLONG_MIN), {}, VT_EMPTY, 0, Overflow("Currency", "Currency")},
        {"object", VarOp::Add, Dispatch(), {}, VT_EMPTY, 0, kInvalidOp},
    };
    for (const auto& row : rows) {
        _variant_t got;
        const std::string outcome = Outcome([&] { got = VarNeg(row.left); });
        if (row.vt == VT_EMPTY) {
            EXPECT_EQ(outcome, row.text) << row.label;
            continue;
        }
        ASSERT_EQ(outcome, "ok") << row.label;
        ExpectResult(got, row.vt, row.number, row.text, row.label);
    }
}

// Results at the edges of 64 bits, checked exactly (reading them back as a
// Double would hide the last digits).
struct ExactCase {
    const char* label;
    VarOp op;
    _variant_t left;
    _variant_t right;  // unused by negation rows
    VARTYPE vt;        // kind of the result; VT_EMPTY: the call fails with `error`
    LONGLONG exact;    // an Integer or Int64 result, or a Currency in ten-thousandths
    double real;       // a Double result
    std::string error;
};

template <typename F>
void CheckExactRows(const std::vector<ExactCase>& rows, F compute) {
    for (const auto& row : rows) {
        _variant_t got;
        const std::string outcome = Outcome([&] { got = compute(row); });
        if (row.vt == VT_EMPTY) {
            EXPECT_EQ(outcome, row.error) << row.label;
            continue;
        }
        ASSERT_EQ(outcome, "ok") << row.label;
        ASSERT_EQ(got.vt, row.vt) << row.label;
        switch (row.vt) {
        case VT_I4: EXPECT_EQ(got.lVal, row.exact) << row.label; break;
        case VT_I8: EXPECT_EQ(got.llVal, row.exact) << row.label; break;
        case VT_CY: EXPECT_EQ(got.cyVal.int64, row.exact) << row.label; break;
        default: EXPECT_EQ(got.dblVal, row.real) << row.label; break;
        }
    }
}

TEST(RtlArith, SixtyFourBitEdges) {
    using enum VarOp;
    const std::string cyOverflow = Overflow("Currency", "Currency");
    const std::vector<ExactCase> rows = {
        // Sums that fit 64 bits stay Int64 even where an operand is an
        // UInt64 above INT64_MAX; the others are redone in Double, where
        // -2^63 - 1 rounds to -2^63 (doubles step by 2048 there).
        {"max plus min", Add, I8(kMax64), I8(kMin64), VT_I8, -1, 0, ""},
        {"min minus min", Subtract, I8(kMin64), I8(kMin64), VT_I8, 0, 0, ""},
        {"min plus minus one", Add, I8(kMin64), I8(-1), VT_R8, 0, -kTwo63d, ""},
        {"min minus one", Subtract, I8(kMin64), I4(1), VT_R8, 0, -kTwo63d, ""},
        {"max minus minus one", Subtract, I8(kMax64), I8(-1), VT_R8, 0, kTwo63d, ""},
        {"min plus min", Add, I8(kMin64), I8(kMin64), VT_R8, 0, -kTwo64d, ""},
        {"max plus max", Add, I8(kMax64), I8(kMax64), VT_R8, 0, kTwo64d, ""},
        {"uint64 high plus minus one", Add, UI8(kTwo63), I8(-1), VT_I8, kMax64, 0, ""},
        {"uint64 max plus min", Add, UI8(kMaxU64), I8(kMin64), VT_I8, kMax64, 0, ""},
        {"uint64 max plus one", Add, UI8(kMaxU64), I4(1), VT_R8, 0, kTwo64d, ""},
        {"uint64 max minus itself", Subtract, UI8(kMaxU64), UI8(kMaxU64), VT_I8, 0, 0, ""},
        {"zero minus uint64 high", Subtract, I4(0), UI8(kTwo63), VT_I8, kMin64, 0, ""},
        {"uint64 high minus one", Subtract, UI8(kTwo63), I4(1), VT_I8, kMax64, 0, ""},
        // Products: 3037000499² = 9223372030926249001 is the largest square
        // below 2^63; 3037000500² = 9223372037000250000 is above it and
        // rounds to the double 2^63 + 71032·2048.
        {"largest square", Multiply, I8(3037000499LL), I8(3037000499LL), VT_I8, 9223372030926249001LL, 0, ""},
        {"square beyond", Multiply, I8(3037000500LL), I8(3037000500LL), VT_R8, 0, 9223372037000249344.0, ""},
        {"exactly min", Multiply, I8(1LL << 32), I8(-(1LL << 31)), VT_I8, kMin64, 0, ""},
        {"exactly two to 63", Multiply, I8(1LL << 32), I8(1LL << 31), VT_R8, 0, kTwo63d, ""},
        {"min times minus one", Multiply, I8(kMin64), I4(-1), VT_R8, 0, kTwo63d, ""},
        {"uint64 high times minus one", Multiply, I4(-1), UI8(kTwo63), VT_I8, kMin64, 0, ""},
        {"uint64 high times one", Multiply, UI8(kTwo63), I4(1), VT_R8, 0, kTwo63d, ""},
        {"uint64 high times zero", Multiply, UI8(kTwo63), I4(0), VT_I8, 0, 0, ""},
        {"min squared", Multiply, I8(kMin64), I8(kMin64), VT_R8, 0, std::ldexp(1.0, 126), ""},
        // (2^64 - 1)² exceeds even 128 signed bits; in Double it is (2^64)².
        {"uint64 max squared", Multiply, UI8(kMaxU64), UI8(kMaxU64), VT_R8, 0, std::ldexp(1.0, 128), ""},
        {"integer min squared", Multiply, I4(INT_MIN), I4(INT_MIN), VT_I8, 1LL << 62, 0, ""},
        {"uint64 max by minus one", Divide, UI8(kMaxU64), I8(-1), VT_R8, 0, -kTwo64d, ""},
        // Currency sums are exact and overflow past 64 bits of ten-thousandths.
        {"currency max plus min", Add, Cy(kMax64), Cy(kMin64), VT_CY, -1, 0, ""},
        {"currency min minus min", Subtract, Cy(kMin64), Cy(kMin64), VT_CY, 0, 0, ""},
        {"currency min minus", Subtract, Cy(kMin64), Cy(1), VT_EMPTY, 0, 0, cyOverflow},
        {"currency min plus minus", Add, Cy(kMin64), Cy(-1), VT_EMPTY, 0, 0, cyOverflow},
        {"currency max minus minus", Subtract, Cy(kMax64), Cy(-1), VT_EMPTY, 0, 0, cyOverflow},
        // Currency products round half to even: 1.5 × 0.0005 = 0.00075,
        // 2.5 × 0.0005 = 0.00125.
        {"currency half up", Multiply, Cy(15000), Cy(5), VT_CY, 8, 0, ""},
        {"currency half down", Multiply, Cy(25000), Cy(5), VT_CY, 12, 0, ""},
        {"currency negative half up", Multiply, Cy(-15000), Cy(5), VT_CY, -8, 0, ""},
        {"currency negative half down", Multiply, Cy(5), Cy(-25000), VT_CY, -12, 0, ""},
        {"currency half to zero", Multiply, Cy(5000), Cy(1), VT_CY, 0, 0, ""},
        {"currency above half", Multiply, Cy(5001), Cy(1), VT_CY, 1, 0, ""},
        {"currency below minus half", Multiply, Cy(-5001), Cy(1), VT_CY, -1, 0, ""},
        {"currency below half", Multiply, Cy(4999), Cy(1), VT_CY, 0, 0, ""},
        // Products beyond 64 bits before the division by 10000.
        {"currency max times one", Multiply, Cy(kMax64), Cy(10000), VT_CY, kMax64, 0, ""},
        {"currency min times one", Multiply, Cy(kMin64), Cy(10000), VT_CY, kMin64, 0, ""},
        {"currency max times minus one", Multiply, Cy(kMax64), Cy(-10000), VT_CY, -kMax64, 0, ""},
        {"currency min times minus one", Multiply, Cy(kMin64), Cy(-10000), VT_EMPTY, 0, 0, cyOverflow},
        {"currency max times 1.0001", Multiply, Cy(kMax64), Cy(10001), VT_EMPTY, 0, 0, cyOverflow},
        {"currency min squared", Multiply, Cy(kMin64), Cy(kMin64), VT_EMPTY, 0, 0, cyOverflow},
        // a × 0.9999 = a - a/10000 = 9223372036854775807 - 922337203685477.5807
        // = 9222449699651090329.4193 for a = INT64_MAX.
        {"currency max times 0.9999", Multiply, Cy(kMax64), Cy(9999), VT_CY, 9222449699651090329LL, 0, ""},
        {"currency minus max times 0.9999", Multiply, Cy(-kMax64), Cy(9999), VT_CY, -9222449699651090329LL, 0, ""},
        // a × 0.0003 for a = INT64_MAX: 2767011611056432.7421.
        {"currency max times 0.0003", Multiply, Cy(kMax64), Cy(3), VT_CY, 2767011611056433LL, 0, ""},
        // Halves at the range limits: 1.5 × a for odd a ends in .5.
        // 1.5 × 6148914691236517205 = 9223372036854775807.5 rounds to the even
        // 2^63, just out of range; negated it rounds to -2^63, just in range.
        {"currency half past max", Multiply, Cy(6148914691236517205LL), Cy(15000), VT_EMPTY, 0, 0, cyOverflow},
        {"currency half to min", Multiply, Cy(-6148914691236517205LL), Cy(15000), VT_CY, kMin64, 0, ""},
        // 1.5 × 6148914691236517203 = 9223372036854775804.5 rounds to the even ...804.
        {"currency half below max", Multiply, Cy(6148914691236517203LL), Cy(15000), VT_CY, 9223372036854775804LL,
         0, ""},
        // 1.5 × -6148914691236517206 = -9223372036854775809, one below the range.
        {"currency just below min", Multiply, Cy(-6148914691236517206LL), Cy(15000), VT_EMPTY, 0, 0, cyOverflow},
        // 31000 × 5950562604422436005 / 10000 = 2^64 - 0.5 exactly, which
        // rounds to the even 2^64: far out of range, not 0.
        {"currency half to 2^64", Multiply, Cy(31000), Cy(5950562604422436005LL), VT_EMPTY, 0, 0, cyOverflow},
        {"currency half to -2^64", Multiply, Cy(-31000), Cy(5950562604422436005LL), VT_EMPTY, 0, 0, cyOverflow},
        // 0.5 × a for odd a near the limits: (2^63 - 1) / 2 = 4611686018427387903.5
        // rounds up to the even ...904; (2^63 - 3) / 2 = ...902.5 down to ...902.
        {"currency half of max", Multiply, Cy(kMax64), Cy(5000), VT_CY, 4611686018427387904LL, 0, ""},
        {"currency half of max less two", Multiply, Cy(kMax64 - 2), Cy(5000), VT_CY, 4611686018427387902LL, 0, ""},
        {"currency half of minus max", Multiply, Cy(kMin64 + 1), Cy(5000), VT_CY, -4611686018427387904LL, 0, ""},
    };
    CheckExactRows(rows, [](const ExactCase& row) { return VarArith(row.op, row.left, row.right); });
}

TEST(RtlArith, NegationAtSixtyFourBitEdges) {
    const std::vector<ExactCase> rows = {
        {"int64 max", VarOp::Add, I8(kMax64), {}, VT_I8, -kMax64, 0, ""},
        {"int64 min", VarOp::Add, I8(kMin64), {}, VT_R8, 0, kTwo63d, ""},
        {"uint64 zero", VarOp::Add, UI8(0), {}, VT_I8, 0, 0, ""},
        {"uint64 max of int64", VarOp::Add, UI8(kMax64), {}, VT_I8, -kMax64, 0, ""},
        {"uint64 two to 63", VarOp::Add, UI8(kTwo63), {}, VT_I8, kMin64, 0, ""},
        // -(2^63 + 1) has no Int64; the nearest double is -2^63.
        {"uint64 above", VarOp::Add, UI8(kTwo63 + 1), {}, VT_R8, 0, -kTwo63d, ""},
        {"uint64 max", VarOp::Add, UI8(kMaxU64), {}, VT_R8, 0, -kTwo64d, ""},
        {"longword max", VarOp::Add, UI4(4294967295u), {}, VT_I8, -4294967295LL, 0, ""},
        {"integer min", VarOp::Add, I4(INT_MIN), {}, VT_I8, 2147483648LL, 0, ""},
        {"currency max", VarOp::Add, Cy(kMax64), {}, VT_CY, -kMax64, 0, ""},
    };
    CheckExactRows(rows, [](const ExactCase& row) { return VarNeg(row.left); });
}

// ---- Comparison -------------------------------------------------------------------

enum class Ord { Lt, Eq, Gt, None };  // None: unordered (NaN)

struct CompareCase {
    const char* label;
    _variant_t left;
    _variant_t right;
    Ord order;
    std::string error;
};

TEST(RtlCompare, OrderOfKinds) {
    const std::vector<CompareCase> rows = {
        // Null equals only Null and is below every other value.
        {"null null", Null(), Null(), Ord::Eq, ""},
        {"null zero", Null(), I4(0), Ord::Lt, ""},
        {"null minus three", Null(), I4(-3), Ord::Lt, ""},
        {"five null", I4(5), Null(), Ord::Gt, ""},
        {"null empty", Null(), Empty(), Ord::Lt, ""},
        {"null text", Null(), Str(""), Ord::Lt, ""},
        // Empty equals Empty and is below every value but Null.
        {"empty empty", Empty(), Empty(), Ord::Eq, ""},
        {"empty zero", Empty(), I4(0), Ord::Lt, ""},
        {"empty negative", Empty(), I4(-5), Ord::Lt, ""},
        {"empty text", Empty(), Str(""), Ord::Lt, ""},
        {"text empty", Str("x"), Empty(), Ord::Gt, ""},
        // Numbers.
        {"int kinds", I4(3), I2(3), Ord::Eq, ""},
        {"longword", I4(2), UI4(4294967295u), Ord::Lt, ""},
        {"int64 exact", I8(LLONG_MAX), UI8(1ULL << 63), Ord::Lt, ""},
        {"int real", I4(1), R8(1.0), Ord::Eq, ""},
        {"exact reals", R8(0.1 + 0.2), R8(0.3), Ord::Gt, ""},
        {"nan", R8(kNaN), R8(1), Ord::None, ""},
        {"nan nan", R8(kNaN), R8(kNaN), Ord::None, ""},
        {"int64 real", I8((1LL << 53) + 1), R8(9007199254740992.0), Ord::Gt, ""},
        // UInt64 values above INT64_MAX share their bits with negative Int64
        // values but order above every one of them.
        {"uint64 max minus one", UI8(kMaxU64), I8(-1), Ord::Gt, ""},
        {"minus one uint64 max", I8(-1), UI8(kMaxU64), Ord::Lt, ""},
        {"uint64 high int64 min", UI8(kTwo63), I8(kMin64), Ord::Gt, ""},
        {"uint64 high int64 max", UI8(kTwo63), I8(kMax64), Ord::Gt, ""},
        {"uint64 high minus one", UI8(kTwo63), I4(-1), Ord::Gt, ""},
        {"uint64 zero minus one", UI8(0), I8(-1), Ord::Gt, ""},
        {"uint64 max itself", UI8(kMaxU64), UI8(kMaxU64), Ord::Eq, ""},
        {"uint64 small int64", UI8(5), I8(5), Ord::Eq, ""},
        {"true uint64 high", Bool(true), UI8(kTwo63), Ord::Eq, ""},
        // Numbers against text read the text as a number.
        {"text ten", Str("10"), I4(9), Ord::Gt, ""},
        {"nine text", I4(9), Ole(OLESTR("10")), Ord::Lt, ""},
        {"text real", Str("2.5"), R8(2.5), Ord::Eq, ""},
        {"word number", Str("abc"), I4(9), Ord::Eq, Cast("String", "Double")},
        // Texts compare by their bytes.
        {"abc abd", Str("abc"), Str("abd"), Ord::Lt, ""},
        {"case", Str("abc"), Str("ABC"), Ord::Gt, ""},
        {"prefix", Str("ab"), Str("abc"), Ord::Lt, ""},
        {"mixed kinds", Str("abc"), Ole(OLESTR("abc")), Ord::Eq, ""},
        {"digits", Str("10"), Str("9"), Ord::Lt, ""},
        {"accent", Ole(OLESTR("\u00e9")), Str("z"), Ord::Gt, ""},
        {"embedded nul", Str(std::string("a\0b", 3)), Str("a"), Ord::Gt, ""},
        // Booleans against integers and text compare as Booleans.
        {"true five", Bool(true), I4(5), Ord::Eq, ""},
        {"false zero", Bool(false), I4(0), Ord::Eq, ""},
        {"true zero", Bool(true), I4(0), Ord::Gt, ""},
        {"true text", Bool(true), Str("TRUE"), Ord::Eq, ""},
        {"false text", Bool(false), Str("1"), Ord::Lt, ""},
        {"true real", Bool(true), R8(-1.0), Ord::Eq, ""},
        {"true one", Bool(true), R8(1.0), Ord::Lt, ""},
        {"bool word", Bool(true), Str("yes"), Ord::Eq, Cast("String", "Boolean")},
        // Dates and currency.
        {"date text", Dt(38000), Str("1/14/2004"), Ord::Eq, ""},
        {"date int", Dt(38000), I4(38001), Ord::Lt, ""},
        {"currency real", Cy(15000), R8(1.5), Ord::Eq, ""},
        {"currency int", Cy(10000), I4(1), Ord::Eq, ""},
        {"currency above", Cy(10001), I4(1), Ord::Gt, ""},
        {"currency text", Cy(15000), Str("1.25"), Ord::Gt, ""},
        // Currency against integers in ten-thousandths, where integers beyond
        // +/-922337203685477.5808 are out of the currency range.
        {"currency minus one", Cy(-10000), I8(-1), Ord::Eq, ""},
        {"currency above minus one", Cy(-9999), I4(-1), Ord::Gt, ""},
        {"currency below minus one", Cy(-10001), I4(-1), Ord::Lt, ""},
        {"currency true", Cy(-10000), Bool(true), Ord::Eq, ""},
        {"currency max below", Cy(kMax64), I8(922337203685478LL), Ord::Lt, ""},
        {"currency max above", Cy(kMax64), I8(922337203685477LL), Ord::Gt, ""},
        {"currency min above", Cy(kMin64), I8(-922337203685478LL), Ord::Gt, ""},
        {"currency min below", Cy(kMin64), I8(-922337203685477LL), Ord::Lt, ""},
        {"currency min int64 min", Cy(kMin64), I8(kMin64), Ord::Gt, ""},
        {"uint64 max currency max", UI8(kMaxU64), Cy(kMax64), Ord::Gt, ""},
        {"currency uint64 high", Cy(kMin64), UI8(kTwo63), Ord::Lt, ""},
        // Kinds without an order.
        {"object", Dispatch(), I4(1), Ord::Eq, kInvalidOp},
        {"null object", Null(), Dispatch(), Ord::Eq, kInvalidOp},
        {"empty error", Empty(), ErrorValue(), Ord::Eq, kInvalidOp},
    };
    for (const auto& row : rows) {
        if (!row.error.empty()) {
            EXPECT_EQ(Outcome([&] { VarCompare(VarCmp::Equal, row.left, row.right); }), row.error) << row.label;
            continue;
        }
        const bool lt = row.order == Ord::Lt;
        const bool eq = row.order == Ord::Eq;
        const bool gt = row.order == Ord::Gt;
        EXPECT_EQ(VarCompare(VarCmp::Equal, row.left, row.right), eq) << row.label;
        EXPECT_EQ(VarCompare(VarCmp::Less, row.left, row.right), lt) << row.label;
        EXPECT_EQ(VarCompare(VarCmp::Greater, row.left, row.right), gt) << row.label;
        EXPECT_EQ(VarCompare(VarCmp::LessEqual, row.left, row.right), lt || eq) << row.label;
        EXPECT_EQ(VarCompare(VarCmp::GreaterEqual, row.left, row.right), gt || eq) << row.label;
    }
}

TEST(RtlCompare, ReferencesAndArraysHaveNoOrder) {
    LONG target = 1;
    const VARIANT ref = RefTo(&target);
    const VARIANT arr = ArrayOfDouble();
    EXPECT_EQ(Outcome([&] { VarCompare(VarCmp::Less, ref, I4(1)); }), kInvalidOp);
    EXPECT_EQ(Outcome([&] { VarCompare(VarCmp::Equal, Null(), arr); }), kInvalidOp);
}

}  // namespace
}  // namespace calquor::rtl
