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

// The expected value in CLQMFC and in Calquor_VCL, whose "=" and
// comparisons convert between kinds.
struct BoolCase {
    const char* text;
    bool expected;
    bool runtimeExpected;
};
BoolCase Same(const char* text, bool expected) { return {text, expected, expected}; }
BoolCase Differ(const char* text, bool expected, bool runtimeExpected) { return {text, expected, runtimeExpected}; }
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
    // A host may write 1 rather than VARIANT_TRUE: any nonzero boolean is true.
    adapter.values["t1"] = Of(VT_BOOL, 1);
    adapter.values["t1"].boolVal = 1;
    adapter.values["nan"] = _variant_t(std::nan(""));
    const auto out = Calc(GetParam().text, &adapter);
    const bool expected = test::kRuntimeRules ? GetParam().runtimeExpected : GetParam().expected;
    ASSERT_EQ(out.code, 0) << GetParam().text << ": " << out.message;
    ASSERT_EQ(out.value.vt, VT_BOOL) << GetParam().text;
    EXPECT_EQ(out.value.boolVal, expected ? VARIANT_TRUE : VARIANT_FALSE) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BooleanResults,
    ::testing::Values(
        Same("1 = 1", true), Differ("1 = 1.0", false, true), Differ("'1' = 1", false, true),
        Same("'abc' = 'ABC'", false), Same("'abc' = 'abc'", true), Same("1.5 = 1.5", true),
        Differ("{i4} = 1", false, true), Same("{i4} = {i4b}", true), Differ("{i2} = {i4}", false, true),
        Same("{n} = {n}", true), Same("{n} = 0", false), Same("{e} = {e}", true),
        Same("{d} = {d2}", true), Same("{t} = {t}", true), Same("{nan} = {nan}", false),
        // Calquor_VCL reads the text against a number as a number.
        Same("'10' < '9'", true), Same("10 < 9", false), Differ("'10' > 9", false, true),
        Same("'a' < 'b'", true), Same("'B' < 'a'", true), Same("'ab' > 'a'", true),
        Same("'a' >= 'a'", true), Same("'a' <= ''", false), Same("2 >= 2", true),
        Same("2 <= 1.5", false), Same("{d} > 37999", true), Same("{nan} < 1", false),
        Same("{nan} >= 1", false), Same("{nan} <= {nan}", false), Same("1 && 2", true),
        Same("1 && 0", false), Same("0 || 0", false), Same("0 || 'true'", true),
        Same("{t} && {e}", false), Differ("2 = '2.0'", false, true), Same("{e} = 0", false),
        Differ("{d} = 38000", false, true), Differ("'9' < 10", false, true),
        // The right operand decides first; the left one is then not converted.
        Same("'abc' && 0", false), Same("{n} || 1", true), Same("{t1} && 'true'", true), Same("{t1} && 2", true),
        Same("0 || {t1}", true)));

// Always a double in CLQMFC; Calquor_VCL keeps integer results for
// integer operands (its "/" still gives a double).
TEST(Operators, ArithmeticGivesADoubleOrKeepsIntegers) {
    struct Case {
        const char* text;
        double expected;
        VARTYPE runtimeKind;
    } cases[] = {{"1 + 2", 3, VT_I4},   {"7 - 10", -3, VT_I4},   {"6 * 7", 42, VT_I4},
                 {"7 / 2", 3.5, VT_R8}, {"-5", -5, VT_I4},       {"0 - 5", -5, VT_I4},
                 {"'2' * '3'", 6, VT_R8}, {"2 - -2", 4, VT_I4},  {"-2*3", -6, VT_I4},
                 {"2 * 3.5", 7, VT_R8}, {"8 / 4", 2, VT_R8},     {"1.5 - 1", 0.5, VT_R8}};
    for (const auto& c : cases) {
        const auto out = Calc(c.text);
        ASSERT_EQ(out.code, 0) << c.text;
        ASSERT_EQ(out.value.vt, test::kRuntimeRules ? c.runtimeKind : VARTYPE{VT_R8}) << c.text;
        EXPECT_EQ(test::NumberOf(out.value), c.expected) << c.text;
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

// Calquor_VCL negates an integer as an integer, which has no negative zero;
// a real zero still becomes -0.
TEST(Operators, UnaryMinusOfZeroIsNegativeZero) {
    const auto out = Calc("-0");
    if (test::kRuntimeRules) {
        ASSERT_EQ(out.value.vt, VT_I4);
        EXPECT_EQ(out.value.lVal, 0);
    } else {
        ASSERT_EQ(out.value.vt, VT_R8);
        EXPECT_TRUE(std::signbit(out.value.dblVal));
    }
    const auto real = Calc("-0.0");
    ASSERT_EQ(real.value.vt, VT_R8);
    EXPECT_TRUE(std::signbit(real.value.dblVal));
}

TEST(Operators, ConcatenationConvertsTheOtherSide) {
    EXPECT_EQ(Calc("'a' + 1").value.vt, test::kTextKind);
    EXPECT_EQ(test::TextOf(Calc("'a' + 1").value), "a1");
    EXPECT_EQ(test::TextOf(Calc("1.5 + 'x'").value), "1.5x");
    EXPECT_EQ(test::TextOf(Calc("'' + ''").value), "");
    test::MapAdapter adapter;
    adapter.values["d"] = Of(VT_DATE, 38000);
    adapter.values["t"] = Of(VT_BOOL, 1);
    EXPECT_EQ(test::TextOf(Calc("'on ' + {d}", &adapter).value), "on 1/14/2004");
    // Calquor_VCL's runtime writes a Boolean as a word.
    EXPECT_EQ(test::TextOf(Calc("{t} + ''", &adapter).value), test::kRuntimeRules ? "True" : "-1");
}

// A wide string on either side makes the joined text wide; two texts of the
// 8-bit kind stay 8-bit (Calquor_VCL).
TEST(Operators, ConcatenationWithAWideString) {
    test::MapAdapter adapter;
    adapter.values["w"] = _variant_t("wide");
    ASSERT_EQ(adapter.values["w"].vt, VT_BSTR);
    for (const char* text : {"'a-' + {w}", "{w} + 'a-'", "{w} + 2"}) {
        const auto out = Calc(text, &adapter);
        EXPECT_EQ(out.value.vt, VT_BSTR) << text;
    }
    EXPECT_EQ(test::TextOf(Calc("'a-' + {w}", &adapter).value), "a-wide");
    EXPECT_EQ(test::TextOf(Calc("{w} + 2", &adapter).value), "wide2");
    EXPECT_EQ(Calc("'a' + 'b'").value.vt, test::kTextKind);
}

TEST(Operators, NullIsSkippedByPlus) {
    test::MapAdapter adapter;
    adapter.values["x"] = test::Null();
    const auto kept = Calc("{x} + 1", &adapter);
    EXPECT_EQ(kept.code, 0);
    EXPECT_EQ(kept.value.vt, test::kIntegerKind);
    EXPECT_EQ(kept.value.intVal, 1);
    const auto right = Calc("'a' + {x}", &adapter);
    EXPECT_EQ(test::TextOf(right.value), "a");
    const auto both = Calc("{x} + {x}", &adapter);
    EXPECT_EQ(both.value.vt, VT_NULL);

    if (!test::kRuntimeRules) {
        // Every other operator refuses to convert Null.
        for (const char* text : {"{x} * 1", "{x} - 1", "-{x}", "{x} > 1", "{x} && 1", "1 / {x}"}) {
            const auto out = Calc(text, &adapter);
            EXPECT_EQ(out.code, 1) << text;
            EXPECT_EQ(out.message, "type cast error") << text;
            EXPECT_EQ(out.value.vt, VT_BOOL) << text;
            EXPECT_EQ(out.value.boolVal, VARIANT_FALSE) << text;
        }
        return;
    }
    // Calquor_VCL's arithmetic passes Null on, its comparisons order Null
    // before every other value, and only its to-boolean refuses it.
    for (const char* text : {"{x} * 1", "{x} - 1", "-{x}", "1 / {x}"}) {
        const auto out = Calc(text, &adapter);
        EXPECT_EQ(out.code, 0) << text;
        EXPECT_EQ(out.value.vt, VT_NULL) << text;
    }
    for (const char* text : {"{x} > 1", "{x} = 0", "{x} >= ''"}) {
        const auto out = Calc(text, &adapter);
        EXPECT_EQ(out.code, 0) << text;
        EXPECT_EQ(out.value.boolVal, VARIANT_FALSE) << text;
    }
    EXPECT_EQ(Calc("{x} < 1", &adapter).value.boolVal, VARIANT_TRUE);
    EXPECT_TRUE(test::FailsToConvert("{x} && 1", test::CannotConvert("Null", "Boolean"), &adapter));
}

TEST(Operators, RefusedConversionsEndTheCalculation) {
    const std::string textToNumber = test::CannotConvert("String", "Double");
    EXPECT_TRUE(test::FailsToConvert("'abc' * 2", textToNumber));
    EXPECT_TRUE(test::FailsToConvert("'x' - 1", textToNumber));
    EXPECT_TRUE(test::FailsToConvert("'abc' / 1 > 0", textToNumber));
    EXPECT_TRUE(test::FailsToConvert("-'abc'", textToNumber));
    EXPECT_TRUE(test::FailsToConvert("'maybe' || 0", test::CannotConvert("String", "Boolean")));
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

// Calquor_VCL's runtime has no operation for a reference: its error leaves
// Calculate.
TEST(Operators, EqualityOfUncomparableKindsFails) {
    ByRefAdapter adapter;
    if (test::kRuntimeRules) {
        EXPECT_EQ(test::CalcThrows("{a} = {b}", &adapter), "Invalid variant operation");
        EXPECT_EQ(test::CalcThrows("{a} * 2", &adapter), "Invalid variant operation");
        return;
    }
    const auto out = Calc("{a} = {b}", &adapter);
    EXPECT_EQ(out.code, 1);
    EXPECT_EQ(out.message, "type cast error");
}

// Calquor_VCL compares the values: 1 and 1.0 are equal.
TEST(Operators, DecimalEqualityComparesAllBytes) {
    test::MapAdapter adapter;
    DECIMAL one{};
    one.Lo64 = 1;
    DECIMAL oneScaled{};
    oneScaled.Lo64 = 10;
    oneScaled.scale = 1;
    DECIMAL two{};
    two.Lo64 = 2;
    adapter.values["a"] = _variant_t(one);
    adapter.values["b"] = _variant_t(one);
    adapter.values["c"] = _variant_t(oneScaled);
    adapter.values["d"] = _variant_t(two);
    EXPECT_EQ(Calc("{a} = {b}", &adapter).value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(Calc("{a} = {c}", &adapter).value.boolVal, test::kRuntimeRules ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_EQ(Calc("{a} = {d}", &adapter).value.boolVal, VARIANT_FALSE);
}

// ---- Calquor_VCL only -------------------------------------------------------

TEST(OperatorsRuntimeRules, IntegerResultsWidenInsteadOfOverflowing) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    test::MapAdapter adapter;
    adapter.values["imax"] = _variant_t(2147483647L);
    const auto sum = Calc("{imax} + 1", &adapter);
    ASSERT_EQ(sum.value.vt, VT_I8);
    EXPECT_EQ(sum.value.llVal, 2147483648LL);
    const auto three = Calc("1+2");
    ASSERT_EQ(three.value.vt, VT_I4);
    EXPECT_EQ(three.value.lVal, 3);
}

TEST(OperatorsRuntimeRules, DatesStayDatesUnderAddition) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    test::MapAdapter adapter;
    adapter.values["d"] = Of(VT_DATE, 38000);
    const auto later = Calc("{d} + 1", &adapter);
    ASSERT_EQ(later.value.vt, VT_DATE);
    EXPECT_EQ(later.value.date, 38001.0);
    const auto earlier = Calc("{d} - 0.5", &adapter);
    ASSERT_EQ(earlier.value.vt, VT_DATE);
    EXPECT_EQ(earlier.value.date, 37999.5);
}

}  // namespace
}  // namespace calquor
