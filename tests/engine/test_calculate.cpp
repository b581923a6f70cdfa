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
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(SysStringLen(value.bstrVal), 0u);
    EXPECT_TRUE(adapter.calls.empty());
}

TEST(Calculate, FailedImplicitCompileGivesNullWithCompilePosition) {
    const auto paren = Calc(")");
    EXPECT_EQ(paren.code, 0);
    EXPECT_EQ(paren.message, "Unmatched right parentheses");
    EXPECT_EQ(paren.value.vt, VT_NULL);
    const auto left = Calc("(1+2");
    EXPECT_EQ(left.code, 4);
    EXPECT_EQ(left.message, "Unmatched left parentheses");
}

TEST(Calculate, LiteralsKeepTheirKinds) {
    EXPECT_EQ(Calc("42").value.vt, VT_INT);
    EXPECT_EQ(Calc("42").value.intVal, 42);
    EXPECT_EQ(Calc("4.5").value.vt, VT_R8);
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
    EXPECT_EQ(again.dblVal, 3.0);
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
    EXPECT_EQ(out.value.vt, VT_BSTR);
    EXPECT_EQ(test::TextOf(out.value), "Calquor  2.01a");
}

TEST(Calculate, UnknownOperandReportsItsPositionPlusOne) {
    const auto first = Calc("{nosuch} + 1");
    EXPECT_EQ(first.code, 1);
    EXPECT_EQ(first.message, "Unrecognized element:nosuch");
    EXPECT_EQ(first.value.vt, VT_BOOL);
    EXPECT_EQ(first.value.boolVal, VARIANT_FALSE);
    const auto later = Calc("1 + {nosuch}");
    EXPECT_EQ(later.code, 5);
    EXPECT_EQ(later.message, "Unrecognized element:nosuch");
}

TEST(Calculate, WithoutAdapterOperandsAreUnknownAndReferencesNull) {
    Calquex engine("{x}+1");
    engine.SetDataAdapter(nullptr);
    int code = 0;
    std::string message;
    engine.Calculate(code, message);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(message, "Unrecognized element:x");
    Calquex reference("@F");
    reference.SetDataAdapter(nullptr);
    EXPECT_EQ(reference.Calculate(code, message).vt, VT_NULL);
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
    EXPECT_EQ(out.value.dblVal, 9.0);

    adapter.formulas["G"] = "@F+@F";
    EXPECT_EQ(Calc("@G", &adapter).value.dblVal, 16.0);
}

TEST(Calculate, UnknownFormulaNameIsTheEmptyString) {
    MapAdapter adapter;
    const auto out = Calc("@nothing", &adapter);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(test::TextOf(out.value), "");
    EXPECT_EQ(out.value.vt, VT_BSTR);
}

TEST(Calculate, InnerErrorsReachTheCaller) {
    MapAdapter adapter;
    adapter.formulas["F"] = "1 + {missing}";
    adapter.formulas["G"] = "2 * @F";
    const auto out = Calc("@G", &adapter);
    EXPECT_EQ(out.code, 5);
    EXPECT_EQ(out.message, "Unrecognized element:missing");
    EXPECT_EQ(out.value.vt, VT_BOOL);

    // A nested compile failure at the first character reads as success (Null).
    adapter.formulas["H"] = ")";
    const auto h = Calc("@H", &adapter);
    EXPECT_EQ(h.code, 0);
    EXPECT_EQ(h.value.vt, VT_NULL);
    adapter.formulas["K"] = "1+2)";
    const auto k = Calc("@K", &adapter);
    EXPECT_EQ(k.code, 3);
    EXPECT_EQ(k.message, "Unmatched right parentheses");
}

TEST(Calculate, SelfAndMutualReferencesEndAtTheDepthLimit) {
    MapAdapter adapter;
    adapter.formulas["Self"] = "@Self+1";
    adapter.formulas["A"] = "1+@B";
    adapter.formulas["B"] = "@A";
    const auto self = Calc("@Self", &adapter);
    EXPECT_EQ(self.code, 1);
    EXPECT_EQ(self.message, "Formula reference too deep:Self");
    EXPECT_EQ(self.value.vt, VT_BOOL);
    const auto mutual = Calc("@A", &adapter);
    EXPECT_NE(mutual.code, 0);
    EXPECT_EQ(mutual.message.rfind("Formula reference too deep:", 0), 0u);
    // The limit leaves room for long honest chains.
    for (int i = 0; i < 60; ++i) adapter.formulas["L" + std::to_string(i)] = "@L" + std::to_string(i + 1) + "+1";
    adapter.formulas["L60"] = "0";
    const auto chain = Calc("@L0", &adapter);
    EXPECT_EQ(chain.code, 0);
    EXPECT_EQ(chain.value.dblVal, 60.0);
}

TEST(Calculate, TooFewValuesEndAsAnErrorNotACrash) {
    const auto out = Calc("1 + 2 * 3 -");
    EXPECT_EQ(out.code, 1);
    EXPECT_EQ(out.message, "type cast error");
    EXPECT_EQ(out.value.vt, VT_BOOL);
}

class ThrowingAdapter : public DataAdapter {
public:
    int failAt = 0;  // 1 IsKnown, 2 GetOperantValue, 3 GetFormulaByName
    _variant_t GetOperantValue(const char*) override {
        if (failAt == 2) throw std::runtime_error("value");
        return _variant_t(1.0);
    }
    std::string GetFormulaByName(const char*) override {
        if (failAt == 3) throw 42;
        return "1";
    }
    bool IsKnown(const char*) override {
        if (failAt == 1) throw std::runtime_error("known");
        return true;
    }
};

TEST(Calculate, AdapterExceptionsEndAsTypeCastError) {
    for (int failAt : {1, 2, 3}) {
        ThrowingAdapter adapter;
        adapter.failAt = failAt;
        const auto out = Calc("{a} + @F", &adapter);
        EXPECT_EQ(out.code, 1) << failAt;
        EXPECT_EQ(out.message, "type cast error") << failAt;
    }
}

TEST(Calculate, EngineStaysCompiledAfterAFailure) {
    MapAdapter adapter;
    adapter.values["x"] = test::Null();
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

}  // namespace
}  // namespace calquor
