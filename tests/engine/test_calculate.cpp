// Calculate: outcomes, codes, messages, the adapter and formula references.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace calquor {
namespace {

using test::Calc;
using test::MapAdapter;

TEST(Calculate, EmptyTextGivesEmptyStringAndTouchesNothing) {
    MapAdapter adapter;
    Calquex engine("");
    engine.SetDataAdapter(&adapter);
    int code = -1;
    std::string message = "untouched";
    const _variant_t value = engine.Calculate(code, message);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(message, "untouched");
    ASSERT_EQ(value.vt, test::kTextKind);
    EXPECT_EQ(test::TextOf(value), "");
    if (!test::kRuntimeRules) {
        EXPECT_EQ(SysStringLen(value.bstrVal), 0u);
    }
    EXPECT_TRUE(adapter.calls.empty());
}

// Null, or the empty text in Calquor_VCL.
TEST(Calculate, FailedImplicitCompileGivesNoValueWithCompilePosition) {
    const auto paren = Calc(")");
    EXPECT_EQ(paren.code, 0);
    EXPECT_EQ(paren.message, "Unmatched right parentheses");
    EXPECT_TRUE(test::IsMissingValue(paren.value)) << paren.value.vt;
    const auto left = Calc("(1+2");
    EXPECT_EQ(left.code, 4);
    EXPECT_EQ(left.message, "Unmatched left parentheses");
    EXPECT_TRUE(test::IsMissingValue(left.value)) << left.value.vt;
}

TEST(Calculate, LiteralsKeepTheirKinds) {
    EXPECT_EQ(Calc("42").value.vt, test::kIntegerKind);
    EXPECT_EQ(Calc("42").value.intVal, 42);
    EXPECT_EQ(Calc("4.5").value.vt, VT_R8);
    EXPECT_EQ(Calc("'hello'").value.vt, test::kTextKind);
    EXPECT_EQ(test::TextOf(Calc("'hello'").value), "hello");
}

TEST(Calculate, SuccessLeavesMessageOfCompileOrCaller) {
    Calquex engine("1+2");
    int code = -1;
    std::string message;
    engine.Calculate(code, message);
    EXPECT_EQ(message, "Succeed");
    message = "mine";
    const _variant_t again = engine.Calculate(code, message);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(message, "mine");
    EXPECT_EQ(again.vt, test::kIntegerArithmeticKind);
    EXPECT_EQ(test::NumberOf(again), 3.0);
}

TEST(Calculate, NoTokensGivesNull) { EXPECT_EQ(Calc(",").value.vt, VT_NULL); }

TEST(Calculate, TopOfStackWinsAndSurplusIsDiscarded) {
    EXPECT_EQ(Calc("1 2").value.intVal, 2);
    // Surplus arguments: only the last-written ones reach the handler.
    const auto out = Calc("CalquorInfo(1)");
    EXPECT_EQ(test::TextOf(out.value), "Calquor  2.01a");
}

TEST(Calculate, InformationFunction) {
    const auto out = Calc("CalquorInfo()");
    EXPECT_EQ(out.code, 0);
    // Not the flavour's text kind: the same wide text in every build.
    EXPECT_EQ(out.value.vt, VT_BSTR);
    EXPECT_EQ(test::TextOf(out.value), "Calquor  2.01a");
}

TEST(Calculate, UnknownOperandReportsItsPositionPlusOne) {
    const auto first = Calc("{nosuch} + 1");
    EXPECT_EQ(first.code, 1);
    EXPECT_EQ(first.message, "Unrecognized element:nosuch");
    EXPECT_TRUE(test::IsFailureValue(first.value)) << first.value.vt;
    const auto later = Calc("1 + {nosuch}");
    EXPECT_EQ(later.code, 5);
    EXPECT_EQ(later.message, "Unrecognized element:nosuch");
}

TEST(Calculate, WithoutAdapterOperandsAreUnknownAndReferencesHaveNoValue) {
    Calquex engine("{x}+1");
    engine.SetDataAdapter(nullptr);
    int code = 0;
    std::string message;
    engine.Calculate(code, message);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(message, "Unrecognized element:x");
    Calquex reference("@F");
    reference.SetDataAdapter(nullptr);
    EXPECT_TRUE(test::IsMissingValue(reference.Calculate(code, message)));
    EXPECT_EQ(code, 0);
}

TEST(Calculate, AdapterIsAskedForEveryOccurrence) {
    MapAdapter adapter;
    adapter.values["a"] = _variant_t(2.0);
    Calquex engine("{a}*{a}");
    engine.SetDataAdapter(&adapter);
    int code = 0;
    std::string message;
    EXPECT_EQ(engine.Calculate(code, message).dblVal, 4.0);
    adapter.values["a"] = _variant_t(3.0);
    EXPECT_EQ(engine.Calculate(code, message).dblVal, 9.0);
    const std::vector<std::string> expected{"known:a", "value:a", "known:a", "value:a",
                                            "known:a", "value:a", "known:a", "value:a"};
    EXPECT_EQ(adapter.calls, expected);
}

TEST(Calculate, OperandValueIsPushedUnchanged) {
    MapAdapter adapter;
    adapter.values["d"] = _variant_t(38000.0, VT_DATE);
    const auto out = Calc("{d}", &adapter);
    EXPECT_EQ(out.value.vt, VT_DATE);
    EXPECT_EQ(out.value.date, 38000.0);
}

TEST(Calculate, FormulaReferencesUseANestedEngine) {
    MapAdapter adapter;
    adapter.formulas["F"] = "{a}*2";
    adapter.values["a"] = _variant_t(4L);
    const auto out = Calc("@F+1", &adapter);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.value.vt, test::kIntegerArithmeticKind);
    EXPECT_EQ(test::NumberOf(out.value), 9.0);

    adapter.formulas["G"] = "@F+@F";
    const auto twice = Calc("@G", &adapter);
    EXPECT_EQ(twice.value.vt, test::kIntegerArithmeticKind);
    EXPECT_EQ(test::NumberOf(twice.value), 16.0);
}

TEST(Calculate, UnknownFormulaNameIsTheEmptyString) {
    MapAdapter adapter;
    const auto out = Calc("@nothing", &adapter);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(test::TextOf(out.value), "");
    EXPECT_EQ(out.value.vt, test::kTextKind);
}

TEST(Calculate, InnerErrorsReachTheCaller) {
    MapAdapter adapter;
    adapter.formulas["F"] = "1 + {missing}";
    adapter.formulas["G"] = "2 * @F";
    const auto out = Calc("@G", &adapter);
    EXPECT_EQ(out.code, 5);
    EXPECT_EQ(out.message, "Unrecognized element:missing");
    EXPECT_TRUE(test::IsFailureValue(out.value)) << out.value.vt;

    // A nested compile failure at the first character reads as success, with
    // the failed compile's value.
    adapter.formulas["H"] = ")";
    const auto h = Calc("@H", &adapter);
    EXPECT_EQ(h.code, 0);
    EXPECT_TRUE(test::IsMissingValue(h.value)) << h.value.vt;
    adapter.formulas["K"] = "1+2)";
    const auto k = Calc("@K", &adapter);
    EXPECT_EQ(k.code, 3);
    EXPECT_EQ(k.message, "Unmatched right parentheses");
}

TEST(Calculate, EngineStaysCompiledAfterAFailure) {
    MapAdapter adapter;
    // Null is refused by "*" in CLQMFC only; text that is no number
    // by both.
    adapter.values["x"] = test::kRuntimeRules ? _variant_t("abc") : test::Null();
    Calquex engine("{x} * 2");
    engine.SetDataAdapter(&adapter);
    int code = 0;
    std::string message;
    engine.Calculate(code, message);
    EXPECT_EQ(code, 1);
    adapter.values["x"] = _variant_t(4.0);
    message.clear();
    EXPECT_EQ(engine.Calculate(code, message).dblVal, 8.0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(message, "");  // already compiled: untouched
}

// ---- Calquor_VCL only -------------------------------------------------------

// Only the runtime's conversion errors become a code: 1, with the error's own
// text, and Empty.
TEST(CalculateRuntimeRules, ConversionErrorsReportTheirOwnText) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    MapAdapter adapter;
    adapter.values["x"] = test::Null();
    adapter.values["big"] = _variant_t(1e20);
    const auto cast = Calc("Length({x})", &adapter);
    EXPECT_EQ(cast.code, 1);
    EXPECT_EQ(cast.message, "Could not convert variant of type (Null) into type (String)");
    EXPECT_EQ(cast.value.vt, VT_EMPTY);
    const auto overflow = Calc("SubStr('abc', 1, {big})", &adapter);
    EXPECT_EQ(overflow.code, 1);
    EXPECT_EQ(overflow.message, "Overflow while converting variant of type (Double) into type (Smallint)");
    EXPECT_EQ(overflow.value.vt, VT_EMPTY);
}

// A built-in function's error leaves Calculate as a std::exception whose
// what() is the function's message; the engine stays usable.
TEST(CalculateRuntimeRules, FunctionErrorsLeaveCalculate) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    EXPECT_EQ(test::CalcThrows("Mod(5, 0)"), "Unknown error");
    EXPECT_EQ(test::CalcThrows("Floor('abc')"), "Parameter type mismatch");
    EXPECT_EQ(test::CalcThrows("1 + GetYear('abc')"), "Parameter type mismatch");
    Calquex engine("Mod({n}, 3)");
    MapAdapter adapter;
    adapter.values["n"] = _variant_t(7.0);
    engine.SetDataAdapter(&adapter);
    int code = 0;
    std::string message;
    EXPECT_EQ(engine.Calculate(code, message).lVal, 1);
    adapter.values["n"] = _variant_t("seven");
    EXPECT_THROW(engine.Calculate(code, message), std::exception);
    adapter.values["n"] = _variant_t(8.0);
    EXPECT_EQ(engine.Calculate(code, message).lVal, 2);
    EXPECT_EQ(code, 0);
}

// The error of a nested formula's function passes through the outer one too.
TEST(CalculateRuntimeRules, NestedFunctionErrorsLeaveTheOuterCalculate) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    MapAdapter adapter;
    adapter.formulas["F"] = "Mod(1, 0)";
    EXPECT_EQ(test::CalcThrows("2 * @F", &adapter), "Unknown error");
}

}  // namespace
}  // namespace calquor
