// The engine object: construction, copying, assignment and the text.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace calquor {
namespace {

TEST(EngineObject, DefaultState) {
    Calquex engine;
    EXPECT_STREQ(engine.GetFormulaStr(), "");
    EXPECT_EQ(engine.GetCurrentPos(), 0);
    Calquex fromNull(nullptr);
    EXPECT_STREQ(fromNull.GetFormulaStr(), "");
    fromNull.SetFormulaStr(nullptr);
    EXPECT_STREQ(fromNull.GetFormulaStr(), "");
}

TEST(EngineObject, DefaultAdapterKnowsNothingButCalculates) {
    const auto sum = test::Calc("1+2");
    EXPECT_EQ(sum.code, 0);
    EXPECT_EQ(sum.value.vt, test::kIntegerArithmeticKind);
    EXPECT_EQ(test::NumberOf(sum.value), 3.0);
    const auto unknown = test::Calc("{x}+1");
    EXPECT_EQ(unknown.message, "Unrecognized element:x");
}

TEST(EngineObject, AssignmentTakesTheTextOnly) {
    test::MapAdapter mine;
    mine.values["a"] = _variant_t(5.0);
    Calquex a("{a}");
    a.SetDataAdapter(&mine);
    int code = 0;
    std::string message;
    ASSERT_EQ(a.Calculate(code, message).dblVal, 5.0);

    Calquex b("{a}+1");  // bound to the default adapter
    a = b;
    EXPECT_STREQ(a.GetFormulaStr(), "{a}+1");
    message.clear();
    // Compiles afresh (the message says so) and keeps its own adapter.
    EXPECT_EQ(a.Calculate(code, message).dblVal, 6.0);
    EXPECT_EQ(message, "Succeed");
    Calquex& self = a;  // assignment to itself keeps the text
    a = self;
    EXPECT_STREQ(a.GetFormulaStr(), "{a}+1");
}

TEST(EngineObject, CopyOfCompiledEngineCalculatesWithoutCompiling) {
    auto source = std::make_unique<Calquex>("2*3");
    int pos = 0;
    std::string message;
    ASSERT_TRUE(source->Compile(pos, message));
    Calquex copy(*source);
    source.reset();
    int code = 0;
    message = "untouched";
    const _variant_t product = copy.Calculate(code, message);
    EXPECT_EQ(product.vt, test::kIntegerArithmeticKind);
    EXPECT_EQ(test::NumberOf(product), 6.0);
    EXPECT_EQ(message, "untouched");
    EXPECT_STREQ(copy.GetFormulaStr(), "2*3");
}

TEST(EngineObject, SameTextStillClearsCompiledState) {
    Calquex engine("1+1");
    int code = 0;
    std::string message;
    engine.Calculate(code, message);
    engine.SetFormulaStr("1+1");
    message.clear();
    engine.Calculate(code, message);
    EXPECT_EQ(message, "Succeed");
}

// Null, or the empty text in Calquor_VCL.
TEST(EngineObject, AdapterOverridingNothingSuppliesItsDefaultValue) {
    class KnowsAll : public DataAdapter {
    public:
        bool IsKnown(const char*) override { return true; }
    } adapter;
    const auto out = test::Calc("{anything}", &adapter);
    EXPECT_EQ(out.code, 0);
    if (test::kRuntimeRules) {
        EXPECT_EQ(out.value.vt, varString);
        EXPECT_EQ(test::TextOf(out.value), "");
    } else {
        EXPECT_EQ(out.value.vt, VT_NULL);
    }
}

}  // namespace
}  // namespace calquor
