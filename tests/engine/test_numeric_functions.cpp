// The numeric functions through formulas: result kinds and values, the NaN
// and tie rules of Min/Max, Mod's refusals, Round's digit counts outside 0..9.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
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

struct NumCase {
    const char* text;
    Kind kind;
    double value;  // NaN expects NaN; the sign of a zero counts
};

void PrintTo(const NumCase& c, std::ostream* os) { *os << c.text; }

class NumericFunctionTest : public ::testing::TestWithParam<NumCase> {};

TEST_P(NumericFunctionTest, Calculates) {
    const NumCase& c = GetParam();
    test::MapAdapter adapter;
    AddOperands(adapter);
    const test::Outcome out = test::Calc(c.text, &adapter);
    if (c.kind == Kind::Fails) {
        EXPECT_EQ(out.code, 1) << c.text;
        EXPECT_EQ(out.message, "type cast error") << c.text;
        EXPECT_EQ(out.value.vt, VT_BOOL) << c.text;
        EXPECT_EQ(out.value.boolVal, 0) << c.text;
        return;
    }
    ASSERT_EQ(out.code, 0) << c.text << ": " << out.message;
    switch (c.kind) {
    case Kind::Int:
        ASSERT_EQ(out.value.vt, VT_INT) << c.text;
        EXPECT_EQ(out.value.intVal, static_cast<int>(c.value)) << c.text;
        break;
    case Kind::Bool:
        ASSERT_EQ(out.value.vt, VT_BOOL) << c.text;
        EXPECT_EQ(out.value.boolVal, c.value != 0 ? VARIANT_TRUE : VARIANT_FALSE) << c.text;
        break;
    default:
        ASSERT_EQ(out.value.vt, VT_R8) << c.text;
        if (std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(out.value.dblVal)) << c.text << " gave " << out.value.dblVal;
        } else {
            EXPECT_DOUBLE_EQ(out.value.dblVal, c.value) << c.text;
            EXPECT_EQ(std::signbit(out.value.dblVal), std::signbit(c.value)) << c.text;
        }
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MinMax, NumericFunctionTest,
    ::testing::Values(
        NumCase{"Min(1, 2)", Kind::Real, 1}, NumCase{"Min(2, 1)", Kind::Real, 1},
        NumCase{"Max(1, 2)", Kind::Real, 2}, NumCase{"Max(2.5, '-3')", Kind::Real, 2.5},
        NumCase{"Min({empty}, 4)", Kind::Real, 0},
        // Equal arguments give the second: told apart by the sign of zero.
        NumCase{"Min(0, {negzero})", Kind::Real, -0.0}, NumCase{"Min({negzero}, 0)", Kind::Real, 0.0},
        NumCase{"Max(0, {negzero})", Kind::Real, -0.0}, NumCase{"Max({negzero}, 0)", Kind::Real, 0.0},
        // A NaN on either side gives the first.
        NumCase{"Min({nan}, 1)", Kind::Real, kNaN}, NumCase{"Min(1, {nan})", Kind::Real, 1},
        NumCase{"Max({nan}, 1)", Kind::Real, kNaN}, NumCase{"Max(1, {nan})", Kind::Real, 1}));

INSTANTIATE_TEST_SUITE_P(
    Mod, NumericFunctionTest,
    ::testing::Values(
        NumCase{"Mod(-7, 3)", Kind::Int, -1}, NumCase{"Mod(7, -3)", Kind::Int, 1},
        NumCase{"Mod(7.6, 3)", Kind::Int, 2}, NumCase{"Mod(7.5, 2)", Kind::Int, 0},
        NumCase{"Mod(6.5, 4)", Kind::Int, 2}, NumCase{"Mod('9', 5)", Kind::Int, 4},
        NumCase{"Mod({imin}, {imax})", Kind::Int, -1}, NumCase{"Mod({imax}, {imin})", Kind::Int, kIntMax},
        NumCase{"Mod({imin}, 1)", Kind::Int, 0},
        NumCase{"Mod(5, 0)", Kind::Fails, 0}, NumCase{"Mod(5, 0.4)", Kind::Fails, 0},
        NumCase{"Mod({imin}, -1)", Kind::Fails, 0}, NumCase{"Mod(3000000000.0, 7)", Kind::Fails, 0},
        NumCase{"Mod('x', 7)", Kind::Fails, 0}));

INSTANTIATE_TEST_SUITE_P(
    Round, NumericFunctionTest,
    ::testing::Values(
        NumCase{"Round(2.5, 0)", Kind::Real, 3}, NumCase{"Round(-2.5, 0)", Kind::Real, -2},
        NumCase{"Round(-2.6, 0)", Kind::Real, -3}, NumCase{"Round(3.14159, 2)", Kind::Real, 3.14},
        NumCase{"Round(12.345, 1)", Kind::Real, 12.3}, NumCase{"Round(7, 9)", Kind::Real, 7},
        // The count is rounded half to even first.
        NumCase{"Round(3.14159, 2.4)", Kind::Real, 3.14}, NumCase{"Round(3.14159, 2.5)", Kind::Real, 3.14},
        NumCase{"Round(3.14159, 2.6)", Kind::Real, 3.142},
        // Negative counts: tens, hundreds, ..., halves upward.
        NumCase{"Round(1234, -2)", Kind::Real, 1200}, NumCase{"Round(1250, -2)", Kind::Real, 1300},
        NumCase{"Round(-1250, -2)", Kind::Real, -1200}, NumCase{"Round(-5, -1)", Kind::Real, 0},
        NumCase{"Round(1234.5, -308)", Kind::Real, 0}, NumCase{"Round(Power(10, 308), -308)", Kind::Real, 1e308},
        NumCase{"Round({big}, -308)", Kind::Real, kInf}, NumCase{"Round({big}, -309)", Kind::Real, 0},
        NumCase{"Round(-1234.5, {imin})", Kind::Real, 0}, NumCase{"Round({big}, -1)", Kind::Real, 1.7e308},
        // Counts beyond 9 keep rounding while a fraction is left to round.
        NumCase{"Round(0.123456789012, 10)", Kind::Real, 0.123456789}, NumCase{"Round({tiny}, 16)", Kind::Real, 0},
        NumCase{"Round({tiny}, 20)", Kind::Real, 1e-20}, NumCase{"Round(2.5, 400)", Kind::Real, 2.5},
        NumCase{"Round({big}, 12)", Kind::Real, 1.7e308}, NumCase{"Round(1.5, 2147483647)", Kind::Real, 1.5},
        NumCase{"Round({inf}, -400)", Kind::Real, kInf}, NumCase{"Round({nan}, 20)", Kind::Real, kNaN},
        NumCase{"Round(1, 3000000000.0)", Kind::Fails, 0}));

INSTANTIATE_TEST_SUITE_P(
    Others, NumericFunctionTest,
    ::testing::Values(
        NumCase{"Floor(3000000000.5)", Kind::Real, 3000000000.0}, NumCase{"Floor(-2.5)", Kind::Real, -3},
        NumCase{"Floor(4)", Kind::Real, 4}, NumCase{"Floor('7.9')", Kind::Real, 7},
        NumCase{"Power(2, 10)", Kind::Real, 1024}, NumCase{"Power(-8, 1/3)", Kind::Real, kNaN},
        NumCase{"Power(0, 0)", Kind::Real, 1}, NumCase{"Power(0, -1)", Kind::Real, kInf},
        NumCase{"IsZero(0)", Kind::Bool, 1}, NumCase{"IsZero('0')", Kind::Bool, 1},
        NumCase{"IsZero(0.00000009)", Kind::Bool, 1}, NumCase{"IsZero(-0.00000009)", Kind::Bool, 1},
        NumCase{"IsZero(0.0000001)", Kind::Bool, 0}, NumCase{"IsZero(-0.0000001)", Kind::Bool, 0},
        NumCase{"IsZero({nan})", Kind::Bool, 0}, NumCase{"IsZero(1)", Kind::Bool, 0},
        NumCase{"Log10(1000)", Kind::Real, 3}, NumCase{"Log10(0)", Kind::Real, -kInf},
        NumCase{"Log10(-1)", Kind::Real, kNaN}, NumCase{"Log2(8)", Kind::Real, 3},
        NumCase{"LogN(2, 8)", Kind::Real, 3}, NumCase{"LogN(8, 2)", Kind::Real, 1.0 / 3},
        NumCase{"LogN(1, 5)", Kind::Real, kInf}, NumCase{"Cos(0)", Kind::Real, 1},
        NumCase{"Cos(3.141592653589793)", Kind::Real, -1}, NumCase{"Sin(0)", Kind::Real, 0},
        NumCase{"Sin(1.5707963267948966)", Kind::Real, 1}, NumCase{"Tan(0.7853981633974483)", Kind::Real, 1},
        NumCase{"Sin({inf})", Kind::Real, kNaN}, NumCase{"Floor('abc')", Kind::Fails, 0}));

// A Null argument fails every numeric function the same way.
INSTANTIATE_TEST_SUITE_P(
    NullArgument, NumericFunctionTest,
    ::testing::Values(
        NumCase{"Min({null}, 1)", Kind::Fails, 0}, NumCase{"Max(1, {null})", Kind::Fails, 0},
        NumCase{"Mod({null}, 2)", Kind::Fails, 0}, NumCase{"Mod(2, {null})", Kind::Fails, 0},
        NumCase{"Round({null}, 1)", Kind::Fails, 0}, NumCase{"Round(1, {null})", Kind::Fails, 0},
        NumCase{"Floor({null})", Kind::Fails, 0}, NumCase{"Power(2, {null})", Kind::Fails, 0},
        NumCase{"IsZero({null})", Kind::Fails, 0}, NumCase{"Log2({null})", Kind::Fails, 0},
        NumCase{"Log10({null})", Kind::Fails, 0}, NumCase{"LogN({null}, 2)", Kind::Fails, 0},
        NumCase{"Cos({null})", Kind::Fails, 0}, NumCase{"Sin({null})", Kind::Fails, 0},
        NumCase{"Tan({null})", Kind::Fails, 0}));

}  // namespace
}  // namespace calquor
