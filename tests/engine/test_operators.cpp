// The operators and their conversions, through formulas.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace calquor {
namespace {

using test::Calc;

// An operand value of a given kind, to reach the rows that literals cannot.
_variant_t Of(VARTYPE vt, double number) {
    _variant_t v;
    switch (vt) {
    case VT_I2: v = _variant_t(static_cast<short>(number)); break;
    case VT_I4: v = _variant_t(static_cast<long>(number)); break;
    case VT_UI1: v = _variant_t(static_cast<unsigned char>(number)); break;
    case VT_I1: v = _variant_t(static_cast<char>(number)); break;
    case VT_UI2: v = _variant_t(static_cast<unsigned short>(number)); break;
    case VT_R4: v = _variant_t(static_cast<float>(number)); break;
    case VT_DATE: v = _variant_t(number, VT_DATE); break;
    case VT_BOOL: v = _variant_t(number != 0); break;
    case VT_I8: v = _variant_t(static_cast<long long>(number)); break;
    default: v = _variant_t(number); break;
    }
    return v;
}

struct BoolCase {
    const char* text;
    bool expected;
};
void PrintTo(const BoolCase& c, std::ostream* os) { *os << c.text; }

class BooleanResults : public ::testing::TestWithParam<BoolCase> {};

TEST_P(BooleanResults, Value) {
    test::MapAdapter adapter;
    adapter.values["n"] = test::Null();
    adapter.values["e"] = _variant_t();
    adapter.values["i4"] = Of(VT_I4, 1);
    adapter.values["i4b"] = Of(VT_I4, 1);
    adapter.values["i2"] = Of(VT_I2, 1);
    adapter.values["d"] = Of(VT_DATE, 38000);
    adapter.values["d2"] = Of(VT_DATE, 38000);
    adapter.values["t"] = Of(VT_BOOL, 1);
    adapter.values["nan"] = _variant_t(std::nan(""));
    const auto out = Calc(GetParam().text, &adapter);
    ASSERT_EQ(out.code, 0) << GetParam().text << ": " << out.message;
    ASSERT_EQ(out.value.vt, VT_BOOL) << GetParam().text;
    EXPECT_EQ(out.value.boolVal, GetParam().expected ? VARIANT_TRUE : VARIANT_FALSE) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BooleanResults,
    ::testing::Values(
        BoolCase{"1 = 1", true}, BoolCase{"1 = 1.0", false}, BoolCase{"'1' = 1", false},
        BoolCase{"'abc' = 'ABC'", false}, BoolCase{"'abc' = 'abc'", true}, BoolCase{"1.5 = 1.5", true},
        BoolCase{"{i4} = 1", false}, BoolCase{"{i4} = {i4b}", true}, BoolCase{"{i2} = {i4}", false},
        BoolCase{"{n} = {n}", true}, BoolCase{"{n} = 0", false}, BoolCase{"{e} = {e}", true},
        BoolCase{"{d} = {d2}", true}, BoolCase{"{t} = {t}", true}, BoolCase{"{nan} = {nan}", false},
        BoolCase{"'10' < '9'", true}, BoolCase{"10 < 9", false}, BoolCase{"'10' > 9", false},
        BoolCase{"'a' < 'b'", true}, BoolCase{"'B' < 'a'", true}, BoolCase{"'ab' > 'a'", true},
        BoolCase{"'a' >= 'a'", true}, BoolCase{"'a' <= ''", false}, BoolCase{"2 >= 2", true},
        BoolCase{"2 <= 1.5", false}, BoolCase{"{d} > 37999", true}, BoolCase{"{nan} < 1", false},
        BoolCase{"{nan} >= 1", false}, BoolCase{"{nan} <= {nan}", false}, BoolCase{"1 && 2", true},
        BoolCase{"1 && 0", false}, BoolCase{"0 || 0", false}, BoolCase{"0 || 'true'", true},
        BoolCase{"{t} && {e}", false},
        // The right operand decides first; the left one is then not converted.
        BoolCase{"'abc' && 0", false}, BoolCase{"{n} || 1", true}));

TEST(Operators, ArithmeticAlwaysGivesADouble) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {{"1 + 2", 3}, {"7 - 10", -3}, {"6 * 7", 42}, {"7 / 2", 3.5}, {"-5", -5}, {"0 - 5", -5},
                 {"'2' * '3'", 6}, {"2 - -2", 4}, {"-2*3", -6}};
    for (const auto& c : cases) {
        const auto out = Calc(c.text);
        ASSERT_EQ(out.code, 0) << c.text;
        ASSERT_EQ(out.value.vt, VT_R8) << c.text;
        EXPECT_EQ(out.value.dblVal, c.expected) << c.text;
    }
}

TEST(Operators, DivisionByZeroIsNoError) {
    const auto inf = Calc("1 / 0");
    EXPECT_EQ(inf.code, 0);
    EXPECT_TRUE(std::isinf(inf.value.dblVal) && inf.value.dblVal > 0);
    const auto nan = Calc("0 / 0");
    EXPECT_EQ(nan.code, 0);
    EXPECT_TRUE(std::isnan(nan.value.dblVal));
}

TEST(Operators, UnaryMinusOfZeroIsNegativeZero) {
    const auto out = Calc("-0");
    ASSERT_EQ(out.value.vt, VT_R8);
    EXPECT_TRUE(std::signbit(out.value.dblVal));
}

TEST(Operators, ConcatenationConvertsTheOtherSide) {
    EXPECT_EQ(test::TextOf(Calc("'a' + 1").value), "a1");
    EXPECT_EQ(test::TextOf(Calc("1.5 + 'x'").value), "1.5x");
    EXPECT_EQ(test::TextOf(Calc("'' + ''").value), "");
    test::MapAdapter adapter;
    adapter.values["d"] = Of(VT_DATE, 38000);
    adapter.values["t"] = Of(VT_BOOL, 1);
    EXPECT_EQ(test::TextOf(Calc("'on ' + {d}", &adapter).value), "on 1/14/2004");
    EXPECT_EQ(test::TextOf(Calc("{t} + ''", &adapter).value), "-1");
}

TEST(Operators, NullIsSkippedByPlusOnly) {
    test::MapAdapter adapter;
    adapter.values["x"] = test::Null();
    const auto kept = Calc("{x} + 1", &adapter);
    EXPECT_EQ(kept.code, 0);
    EXPECT_EQ(kept.value.vt, VT_INT);
    EXPECT_EQ(kept.value.intVal, 1);
    const auto right = Calc("'a' + {x}", &adapter);
    EXPECT_EQ(test::TextOf(right.value), "a");
    const auto both = Calc("{x} + {x}", &adapter);
    EXPECT_EQ(both.value.vt, VT_NULL);

    for (const char* text : {"{x} * 1", "{x} - 1", "-{x}", "{x} > 1", "{x} && 1", "1 / {x}"}) {
        const auto out = Calc(text, &adapter);
        EXPECT_EQ(out.code, 1) << text;
        EXPECT_EQ(out.message, "type cast error") << text;
        EXPECT_EQ(out.value.vt, VT_BOOL) << text;
        EXPECT_EQ(out.value.boolVal, VARIANT_FALSE) << text;
    }
}

TEST(Operators, RefusedConversionsEndTheCalculation) {
    for (const char* text : {"'abc' * 2", "'x' - 1", "'abc' / 1 > 0", "'maybe' || 0"}) {
        const auto out = Calc(text);
        EXPECT_EQ(out.code, 1) << text;
        EXPECT_EQ(out.message, "type cast error") << text;
    }
}

// A value "=" cannot compare: a by-reference variant.
class ByRefAdapter : public DataAdapter {
public:
    double target = 1.0;
    _variant_t GetOperantValue(const char*) override {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BYREF | VT_R8;
        v.pdblVal = &target;
        return _variant_t(v);
    }
    bool IsKnown(const char*) override { return true; }
};

TEST(Operators, EqualityOfUncomparableKindsFails) {
    ByRefAdapter adapter;
    const auto out = Calc("{a} = {b}", &adapter);
    EXPECT_EQ(out.code, 1);
    EXPECT_EQ(out.message, "type cast error");
}

TEST(Operators, DecimalEqualityComparesAllBytes) {
    test::MapAdapter adapter;
    DECIMAL one{};
    one.Lo64 = 1;
    DECIMAL oneScaled{};
    oneScaled.Lo64 = 10;
    oneScaled.scale = 1;
    adapter.values["a"] = _variant_t(one);
    adapter.values["b"] = _variant_t(one);
    adapter.values["c"] = _variant_t(oneScaled);
    EXPECT_EQ(Calc("{a} = {b}", &adapter).value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(Calc("{a} = {c}", &adapter).value.boolVal, VARIANT_FALSE);
}

}  // namespace
}  // namespace calquor
