// The numeric functions through formulas: result kinds and values, the NaN
// and tie rules of Min/Max, Mod's refusals, Round's digit counts outside 0..9.
// Rows whose outcome differs in Calquor_VCL give both.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <exception>
#include <limits>
#include <ostream>

namespace calquor {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr int kIntMax = std::numeric_limits<int>::max();

// The operands the formulas refer to as {name}.
void AddOperands(test::MapAdapter& adapter) {
    adapter.values = {
        {"null", test::Null()},          {"empty", _variant_t()},
        {"nan", _variant_t(kNaN)},       {"inf", _variant_t(kInf)},
        {"negzero", _variant_t(-0.0)},   {"big", _variant_t(1.7e308)},
        {"imin", _variant_t(kIntMin)},   {"imax", _variant_t(kIntMax)},
        {"tiny", _variant_t(1e-20)},
    };
}

enum class Kind { Real, Int, Bool, Fails };

// One expected outcome. Int is Mod's kind: VT_INT, or VT_I4 in Calquor_VCL.
// Fails: the type cast error in CLQMFC; in Calquor_VCL the
// function's error leaves Calculate with the message `raised`.
struct Expect {
    Kind kind;
    double value;  // NaN expects NaN; the sign of a zero counts
    const char* raised;
};

Expect Real(double value) { return {Kind::Real, value, ""}; }
Expect Int(double value) { return {Kind::Int, value, ""}; }
Expect Bool(bool value) { return {Kind::Bool, value ? 1.0 : 0.0, ""}; }
Expect Fails(const char* raised) { return {Kind::Fails, 0, raised}; }

constexpr const char* kMismatch = "Parameter type mismatch";
constexpr const char* kUnknown = "Unknown error";

// A formula and its outcome in CLQMFC and in Calquor_VCL.
struct NumCase {
    const char* text;
    Expect first;
    Expect second;
};

NumCase Same(const char* text, Expect both) { return {text, both, both}; }
NumCase Differ(const char* text, Expect first, Expect runtime) { return {text, first, runtime}; }

void PrintTo(const NumCase& c, std::ostream* os) { *os << c.text; }

class NumericFunctionTest : public ::testing::TestWithParam<NumCase> {};

TEST_P(NumericFunctionTest, Calculates) {
    const NumCase& c = GetParam();
    const Expect& want = test::kRuntimeRules ? c.second : c.first;
    test::MapAdapter adapter;
    AddOperands(adapter);
    if (want.kind == Kind::Fails) {
        EXPECT_TRUE(test::FailsInFunction(c.text, want.raised, &adapter));
        return;
    }
    const test::Outcome out = test::Calc(c.text, &adapter);
    ASSERT_EQ(out.code, 0) << c.text << ": " << out.message;
    switch (want.kind) {
    case Kind::Int:
        ASSERT_EQ(out.value.vt, test::kRuntimeRules ? VT_I4 : VT_INT) << c.text;
        EXPECT_EQ(out.value.intVal, static_cast<int>(want.value)) << c.text;
        break;
    case Kind::Bool:
        ASSERT_EQ(out.value.vt, VT_BOOL) << c.text;
        EXPECT_EQ(out.value.boolVal, want.value != 0 ? VARIANT_TRUE : VARIANT_FALSE) << c.text;
        break;
    default:
        ASSERT_EQ(out.value.vt, VT_R8) << c.text;
        if (std::isnan(want.value)) {
            EXPECT_TRUE(std::isnan(out.value.dblVal)) << c.text << " gave " << out.value.dblVal;
        } else {
            EXPECT_DOUBLE_EQ(out.value.dblVal, want.value) << c.text;
            EXPECT_EQ(std::signbit(out.value.dblVal), std::signbit(want.value)) << c.text;
        }
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MinMax, NumericFunctionTest,
    ::testing::Values(
        Same("Min(1, 2)", Real(1)), Same("Min(2, 1)", Real(1)),
        Same("Max(1, 2)", Real(2)), Same("Max(2.5, '-3')", Real(2.5)),
        Same("Min({empty}, 4)", Real(0)),
        // Equal arguments give the second: told apart by the sign of zero.
        Same("Min(0, {negzero})", Real(-0.0)), Same("Min({negzero}, 0)", Real(0.0)),
        Same("Max(0, {negzero})", Real(-0.0)), Same("Max({negzero}, 0)", Real(0.0)),
        // A NaN on either side gives the first.
        Same("Min({nan}, 1)", Real(kNaN)), Same("Min(1, {nan})", Real(1)),
        Same("Max({nan}, 1)", Real(kNaN)), Same("Max(1, {nan})", Real(1))));

// Calquor_VCL tells a refused conversion (a count outside 32 bits included)
// from an impossible division.
INSTANTIATE_TEST_SUITE_P(
    Mod, NumericFunctionTest,
    ::testing::Values(
        Same("Mod(-7, 3)", Int(-1)), Same("Mod(7, -3)", Int(1)),
        Same("Mod(7.6, 3)", Int(2)), Same("Mod(7.5, 2)", Int(0)),
        Same("Mod(6.5, 4)", Int(2)), Same("Mod('9', 5)", Int(4)),
        Same("Mod({imin}, {imax})", Int(-1)), Same("Mod({imax}, {imin})", Int(kIntMax)),
        Same("Mod({imin}, 1)", Int(0)),
        Same("Mod(5, 0)", Fails(kUnknown)), Same("Mod(5, 0.4)", Fails(kUnknown)),
        Same("Mod({imin}, -1)", Fails(kUnknown)), Same("Mod(3000000000.0, 7)", Fails(kMismatch)),
        Same("Mod('x', 7)", Fails(kMismatch))));

// Calquor_VCL rounds halves away from zero on the shortest decimal digits,
// and its digit count is the negated count wrapped to 8 bits (clamped to
// -37..37 by the runtime): -308 and -309 are 52 and 53, i.e. 37; 400 is -112,
// i.e. -37; the smallest int and 2147483647 are 0 and 1; 254 is 2.
INSTANTIATE_TEST_SUITE_P(
    Round, NumericFunctionTest,
    ::testing::Values(
        Same("Round(2.5, 0)", Real(3)), Differ("Round(-2.5, 0)", Real(-2), Real(-3)),
        Same("Round(-2.6, 0)", Real(-3)), Same("Round(3.14159, 2)", Real(3.14)),
        Same("Round(12.345, 1)", Real(12.3)), Same("Round(7, 9)", Real(7)),
        Differ("Round(1.005, 2)", Real(1), Real(1.01)),
        // The count is rounded half to even first.
        Same("Round(3.14159, 2.4)", Real(3.14)), Same("Round(3.14159, 2.5)", Real(3.14)),
        Same("Round(3.14159, 2.6)", Real(3.142)),
        // Negative counts: tens, hundreds, ...
        Same("Round(1234, -2)", Real(1200)), Same("Round(1250, -2)", Real(1300)),
        Differ("Round(-1250, -2)", Real(-1200), Real(-1300)), Differ("Round(-5, -1)", Real(0), Real(-10)),
        Same("Round(1234.5, -308)", Real(0)), Same("Round(Power(10, 308), -308)", Real(1e308)),
        Differ("Round({big}, -308)", Real(kInf), Real(1.7e308)),
        Differ("Round({big}, -309)", Real(0), Real(1.7e308)),
        Differ("Round(-1234.5, {imin})", Real(0), Real(-1235)), Same("Round({big}, -1)", Real(1.7e308)),
        // Counts beyond 9 keep rounding while a fraction is left to round.
        Same("Round(0.123456789012, 10)", Real(0.123456789)), Same("Round({tiny}, 16)", Real(0)),
        Same("Round({tiny}, 20)", Real(1e-20)), Differ("Round(2.5, 400)", Real(2.5), Real(0)),
        Same("Round({big}, 12)", Real(1.7e308)), Differ("Round(1.5, 2147483647)", Real(1.5), Real(0)),
        Differ("Round(1234, 254)", Real(1234), Real(1200)),
        Same("Round({inf}, -400)", Real(kInf)), Same("Round({nan}, 20)", Real(kNaN)),
        Same("Round(1, 3000000000.0)", Fails(kMismatch))));

// Calquor_VCL's Floor saturates at the 32-bit bounds and its IsZero counts
// the bounds as zero.
INSTANTIATE_TEST_SUITE_P(
    Others, NumericFunctionTest,
    ::testing::Values(
        Differ("Floor(3000000000.5)", Real(3000000000.0), Real(2147483647.0)),
        Differ("Floor(-3000000000.5)", Real(-3000000001.0), Real(-2147483648.0)),
        Same("Floor(-2.5)", Real(-3)), Same("Floor(-0.5)", Real(-1)),
        Same("Floor(4)", Real(4)), Same("Floor('7.9')", Real(7)),
        Same("Power(2, 10)", Real(1024)), Same("Power(-8, 1/3)", Real(kNaN)),
        Same("Power(0, 0)", Real(1)), Same("Power(0, -1)", Real(kInf)),
        Same("IsZero(0)", Bool(true)), Same("IsZero('0')", Bool(true)),
        Same("IsZero(0.00000009)", Bool(true)), Same("IsZero(-0.00000009)", Bool(true)),
        Differ("IsZero(0.0000001)", Bool(false), Bool(true)), Differ("IsZero(-0.0000001)", Bool(false), Bool(true)),
        Same("IsZero(0.00000011)", Bool(false)),
        Same("IsZero({nan})", Bool(false)), Same("IsZero(1)", Bool(false)),
        Same("Log10(1000)", Real(3)), Same("Log10(0)", Real(-kInf)),
        Same("Log10(-1)", Real(kNaN)), Same("Log2(8)", Real(3)),
        Same("LogN(2, 8)", Real(3)), Same("LogN(8, 2)", Real(1.0 / 3)),
        Same("LogN(1, 5)", Real(kInf)), Same("Cos(0)", Real(1)),
        Same("Cos(3.141592653589793)", Real(-1)), Same("Sin(0)", Real(0)),
        Same("Sin(1.5707963267948966)", Real(1)), Same("Tan(0.7853981633974483)", Real(1)),
        Same("Sin({inf})", Real(kNaN)), Same("Floor('abc')", Fails(kMismatch))));

// A Null argument fails every numeric function the same way.
INSTANTIATE_TEST_SUITE_P(
    NullArgument, NumericFunctionTest,
    ::testing::Values(
        Same("Min({null}, 1)", Fails(kMismatch)), Same("Max(1, {null})", Fails(kMismatch)),
        Same("Mod({null}, 2)", Fails(kMismatch)), Same("Mod(2, {null})", Fails(kMismatch)),
        Same("Round({null}, 1)", Fails(kMismatch)), Same("Round(1, {null})", Fails(kMismatch)),
        Same("Floor({null})", Fails(kMismatch)), Same("Power(2, {null})", Fails(kMismatch)),
        Same("IsZero({null})", Fails(kMismatch)), Same("Log2({null})", Fails(kMismatch)),
        Same("Log10({null})", Fails(kMismatch)), Same("LogN({null}, 2)", Fails(kMismatch)),
        Same("Cos({null})", Fails(kMismatch)), Same("Sin({null})", Fails(kMismatch)),
        Same("Tan({null})", Fails(kMismatch))));

// The function's own error leaves Calculate in Calquor_VCL.
TEST(NumericFunctionsRuntimeRules, ErrorsLeaveCalculateAsStdExceptions) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    try {
        test::Calc("Mod(7, 0)");
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Unknown error");
    }
    EXPECT_EQ(test::CalcThrows("Tan('x')"), "Parameter type mismatch");
    const auto mod = test::Calc("Mod(7, 3)");
    ASSERT_EQ(mod.value.vt, VT_I4);
    EXPECT_EQ(mod.value.lVal, 1);
}

}  // namespace
}  // namespace calquor
