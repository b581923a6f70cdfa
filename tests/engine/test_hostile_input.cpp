// Hostile input: formulas, adapters and uses of the engine that a careless or
// malicious host could produce. Each case asserts the clean outcome (code,
// message, kind of the result), never merely that nothing crashed; the
// sanitizer build of this suite adds that nothing was read or written out of
// bounds on the way.
//
// "Regression" marks a defect found by fuzzing or review and since fixed.
#include "TestSupport.h"

#include <calquor/unknwn.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace calquor {
namespace {

using test::Calc;
using test::kRuntimeRules;
using test::MapAdapter;
using test::Outcome;

constexpr const char* kTooDeep = "Formula reference too deep:";

// Compiles text on a fresh engine.
struct Compiled {
    bool ok;
    int pos;
    std::string message;
};

Compiled CompileText(const std::string& text) {
    Calquex engine(text.c_str());
    Compiled out{false, -1, {}};
    out.ok = engine.Compile(out.pos, out.message);
    return out;
}

// The outcome of a calculation that failed its implicit compile: the
// compile's position as the code, its message, and the missing value.
::testing::AssertionResult FailsToCompile(const std::string& text, int pos, const std::string& message) {
    const Compiled compiled = CompileText(text);
    const Outcome out = Calc(text.c_str());
    if (!compiled.ok && compiled.pos == pos && compiled.message == message && out.code == pos &&
        out.message == message && test::IsMissingValue(out.value))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "compile " << compiled.ok << " at " << compiled.pos << " \""
                                         << compiled.message << "\"; calculate code " << out.code << " \""
                                         << out.message << "\" kind " << out.value.vt;
}

// The number a result of any numeric kind holds; NaN for text and the rest.
double NumberOf(const VARIANT& v) {
    if (v.vt == VT_BSTR || v.vt == varString) return std::numeric_limits<double>::quiet_NaN();
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, &v, 0, VT_R8))) return std::numeric_limits<double>::quiet_NaN();
    return number.dblVal;
}

::testing::AssertionResult IsNumber(const Outcome& out, double want) {
    if (out.code == 0 && NumberOf(out.value) == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "code " << out.code << " \"" << out.message << "\" kind "
                                         << out.value.vt << " number " << NumberOf(out.value);
}

::testing::AssertionResult IsTooDeep(const Outcome& out, int code, const std::string& name) {
    if (out.code == code && out.message == kTooDeep + name && test::IsFailureValue(out.value))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "code " << out.code << " \"" << out.message << "\" kind "
                                         << out.value.vt;
}

// A chain of named formulas n<first> -> n<first+1> -> ... -> n<last>, the
// last one being "1".
void AddChain(MapAdapter& adapter, int first, int last) {
    for (int i = first; i < last; ++i) adapter.formulas["n" + std::to_string(i)] = "@n" + std::to_string(i + 1);
    adapter.formulas["n" + std::to_string(last)] = "1";
}

int FormulaCalls(const MapAdapter& adapter) {
    int count = 0;
    for (const std::string& call : adapter.calls) count += call.rfind("formula:", 0) == 0;
    return count;
}

// ---- Named formulas that recurse ---------------------------------------------

TEST(HostileReferences, FormulaReferringToItselfStopsAtTheDepthLimit) {
    MapAdapter adapter;
    adapter.formulas["a"] = "@a";
    EXPECT_TRUE(IsTooDeep(Calc("@a", &adapter), 1, "a"));
    // Bounded work: no more questions than the depth allows.
    EXPECT_LE(FormulaCalls(adapter), 100);
    adapter.formulas["Self"] = "@Self+1";
    EXPECT_TRUE(IsTooDeep(Calc("@Self", &adapter), 1, "Self"));
}

TEST(HostileReferences, MutualReferencesReportTheDeepestReference) {
    MapAdapter adapter;
    adapter.formulas["a"] = "1 + @b";
    adapter.formulas["b"] = "@a";
    // Level 1 is "@a", even levels are a's text and odd ones b's; level 100
    // is a's text, whose "@b" at offset 4 is the reference too deep.
    EXPECT_TRUE(IsTooDeep(Calc("@a", &adapter), 5, "b"));
    // The limit leaves room for long honest chains, whose integers keep their kind.
    for (int i = 0; i < 60; ++i) adapter.formulas["L" + std::to_string(i)] = "@L" + std::to_string(i + 1) + "+1";
    adapter.formulas["L60"] = "0";
    const Outcome chain = Calc("@L0", &adapter);
    EXPECT_TRUE(IsNumber(chain, 60));
    EXPECT_EQ(chain.value.vt, test::kIntegerArithmeticKind);
}

TEST(HostileReferences, TenThousandDistinctNames) {
    MapAdapter adapter;
    AddChain(adapter, 0, 9999);
    EXPECT_TRUE(IsTooDeep(Calc("@n0", &adapter), 1, "n99"));
    EXPECT_LE(FormulaCalls(adapter), 100);
    // The limit counts levels, not names: the last 99 links calculate.
    adapter.calls.clear();
    EXPECT_TRUE(IsNumber(Calc("@n9901", &adapter), 1));
    EXPECT_TRUE(IsTooDeep(Calc("@n9900", &adapter), 1, "n9999"));
}

// "@name+@name+..." with count references.
std::string Sum(const std::string& name, int count) {
    std::string text = "@" + name;
    for (int i = 1; i < count; ++i) text += "+@" + name;
    return text;
}

TEST(HostileReferences, ReferencesThatBranchRunOutOfTheBudget) {
    // d0 refers twice to d1, d1 twice to d2, ...: 2^32 calculations within
    // the depth limit.
    MapAdapter adapter;
    for (int i = 0; i < 32; ++i) adapter.formulas["d" + std::to_string(i)] = Sum("d" + std::to_string(i + 1), 2);
    adapter.formulas["d32"] = "1";
    const Outcome out = Calc("@d0", &adapter);
    EXPECT_GT(out.code, 0);
    EXPECT_EQ(out.message.rfind(std::string(kTooDeep) + "d", 0), 0u) << out.message;
    EXPECT_TRUE(test::IsFailureValue(out.value));
    // Far more work than the depth limit allows alone, and bounded.
    EXPECT_GT(FormulaCalls(adapter), 1000);
    EXPECT_LE(FormulaCalls(adapter), 100000);
}

TEST(HostileReferences, WideFormulasAskAfreshForEveryReference) {
    MapAdapter adapter;
    adapter.formulas["s"] = "1";
    adapter.formulas["w"] = Sum("s", 250);
    // 1000 references to one simple formula, four times 250.
    EXPECT_TRUE(IsNumber(Calc(Sum("w", 4).c_str(), &adapter), 1000));
    EXPECT_EQ(FormulaCalls(adapter), 1004);
}

TEST(HostileReferences, EachCalculationHasABudgetOfItsOwn) {
    MapAdapter adapter;
    adapter.formulas["s"] = "1";
    adapter.formulas["w"] = Sum("s", 200);
    adapter.formulas["t"] = Sum("w", 250);
    // 50,251 reference calculations each time: together past the budget,
    // each within it.
    Calquex engine("@t");
    engine.SetDataAdapter(&adapter);
    for (int run = 0; run < 2; ++run) {
        Outcome out;
        out.value = engine.Calculate(out.code, out.message);
        EXPECT_TRUE(IsNumber(out, 50000)) << run;
    }
    EXPECT_EQ(FormulaCalls(adapter), 2 * 50251);
}

// ---- Texts that grow past the calculation's limits ------------------------------

// Calculates engine once: it must fail as running out of memory fails, with
// code 1 "type cast error" and false, or in Calquor_VCL with _com_error
// E_OUTOFMEMORY leaving Calculate.
::testing::AssertionResult RunsOutOfLimits(Calquex& engine) {
    Outcome out;
    try {
        out.value = engine.Calculate(out.code, out.message);
    } catch (const _com_error& error) {
        if (kRuntimeRules && error.Error() == E_OUTOFMEMORY) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "_com_error " << error.Error();
    }
    if (!kRuntimeRules) return test::IsTypeCastError(out);
    return ::testing::AssertionFailure() << "returned code " << out.code << " \"" << out.message << "\"";
}

// name = '<length a's>'
std::string Letters(std::size_t length) { return "'" + std::string(length, 'a') + "'"; }

struct GrowthCase {
    const char* name;
    std::map<std::string, std::string> formulas;
    std::string text;
    // Reference calculations the limits allow at most: far below the
    // 100,000 that would otherwise stop the case, if anything does.
    int maxFormulaCalls;
    // Calquor_VCL's Replace changes the first occurrence only, so there the
    // case's text does not grow.
    bool replaceGrows;
};

void PrintTo(const GrowthCase& c, std::ostream* os) { *os << c.name; }

// Doubling references: g0 is 500 bytes, g<k> = @g<k-1> + @g<k-1>.
std::map<std::string, std::string> Doubling(int levels) {
    std::map<std::string, std::string> formulas{{"g0", Letters(500)}};
    for (int k = 1; k <= levels; ++k)
        formulas["g" + std::to_string(k)] = "@g" + std::to_string(k - 1) + " + @g" + std::to_string(k - 1);
    return formulas;
}

// Branching references over a long text: L<k> = @L<k+1> + @L<k+1> down to
// L17 = Length(@<over>), where S = Replace of a 480-byte text in itself.
std::map<std::string, std::string> Branching(const std::string& over) {
    // Built by append: GCC 12 warns falsely (-Wrestrict) on "text" + std::string.
    std::map<std::string, std::string> formulas{{"S2", "Replace(@S, 'a', 'aaaaaaaaaa')"}};
    formulas["S"].append("Replace(").append(Letters(480)).append(", 'a', ").append(Letters(480)).append(")");
    formulas["L17"].append("Length(@").append(over).append(")");
    for (int k = 1; k < 17; ++k) {
        const std::string next = std::to_string(k + 1);
        formulas[std::string("L").append(std::to_string(k))].append("@L").append(next).append(" + @L").append(next);
    }
    return formulas;
}

const std::string kHundred = Letters(100);

class TextsThatGrow : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(TextsThatGrow, FailAsRunningOutOfMemoryWithinTheLimits) {
    const GrowthCase& c = GetParam();
    if (kRuntimeRules && c.replaceGrows) GTEST_SKIP() << "Replace changes the first occurrence only";
    MapAdapter adapter;
    adapter.formulas = c.formulas;
    Calquex engine(c.text.c_str());
    engine.SetDataAdapter(&adapter);
    EXPECT_TRUE(RunsOutOfLimits(engine));
    EXPECT_LE(FormulaCalls(adapter), c.maxFormulaCalls);
    // The engine calculates again, and the next calculation has a budget of
    // its own.
    adapter.calls.clear();
    EXPECT_TRUE(RunsOutOfLimits(engine));
    engine.SetFormulaStr("Length(@g0 + 'b')");
    adapter.formulas = Doubling(0);
    Outcome out;
    out.value = engine.Calculate(out.code, out.message);
    EXPECT_TRUE(IsNumber(out, 501));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TextsThatGrow,
    ::testing::Values(
        // 100 a's, each replaced by 100 a's four times over: 10 GB asked for.
        GrowthCase{"ReplaceNest", {},
                   "Length(Replace(Replace(Replace(Replace(" + kHundred + ", 'a', " + kHundred + "), 'a', " +
                       kHundred + "), 'a', " + kHundred + "), 'a', " + kHundred + "))",
                   0, true},
        // 2^16 lengths of a 230,400-byte text.
        GrowthCase{"ReplaceUnderBranchingReferences", Branching("S"), "@L1", 1000, true},
        GrowthCase{"ReplaceTwiceUnderBranchingReferences", Branching("S2"), "@L1", 200, true},
        // A 500-byte text doubled 20 times: 500 MB.
        GrowthCase{"DoublingReferences", Doubling(20), "Length(@g20)", 30000, false}),
    [](const ::testing::TestParamInfo<GrowthCase>& info) { return std::string(info.param.name); });

// One byte less than a formula needs fails it; the count is exact.
TEST(HostileLimits, TheLargestTextAndTheWorkBudgetAreCountedInBytes) {
    const auto runs = [](const char* text, const CalculationLimits& limits) {
        Calquex engine(text);
        engine.SetLimits(limits);
        int code = -1;
        std::string message;
        try {
            return engine.Calculate(code, message).vt != VT_BOOL && code == 0;
        } catch (const _com_error&) {
            return false;
        }
    };
    constexpr std::size_t kOpen = SIZE_MAX;
    // The join is 8 bytes; the replaced text 8 (Calquor_VCL: 'bbaaa', 5).
    const std::size_t replaced = kRuntimeRules ? 5 : 8;
    for (const char* text : {"'aaaa' + 'bbbb'", "Length('aaaa' + 'bbbb')"}) {
        EXPECT_TRUE(runs(text, {8, kOpen})) << text;
        EXPECT_FALSE(runs(text, {7, kOpen})) << text;
    }
    EXPECT_TRUE(runs("Replace('aaaa', 'a', 'bb')", {replaced, kOpen}));
    EXPECT_FALSE(runs("Replace('aaaa', 'a', 'bb')", {replaced - 1, kOpen}));
    // Length converts the join once more (Calquor_VCL also converts both
    // parts to 8-bit text before joining them).
    const std::size_t work = kRuntimeRules ? 24 : 16;
    EXPECT_TRUE(runs("Length('aaaa' + 'bbbb')", {kOpen, work}));
    EXPECT_FALSE(runs("Length('aaaa' + 'bbbb')", {kOpen, work - 1}));
    // Numbers make no texts: nothing is charged.
    EXPECT_TRUE(runs("1 + 2 * Max(3, 4)", {0, 0}));
}

TEST(HostileLimits, EachEngineKeepsItsOwnAndReferencesShareTheOutermost) {
    const CalculationLimits defaults = Calquex().GetLimits();
    EXPECT_EQ(defaults.maxTextBytes, std::size_t{16} << 20);
    EXPECT_EQ(defaults.workBytes, std::size_t{64} << 20);
    MapAdapter adapter;
    adapter.formulas["t"] = "'aaaa' + 'bbbb'";
    Calquex small("Length(@t)");
    small.SetDataAdapter(&adapter);
    small.SetLimits({7, SIZE_MAX});
    Calquex copy(small);
    Calquex assigned;
    assigned = small;
    EXPECT_EQ(copy.GetLimits().maxTextBytes, 7u);
    EXPECT_EQ(assigned.GetLimits().maxTextBytes, defaults.maxTextBytes);
    // The referenced formula's own engine has the defaults; the outer
    // engine's limits hold for it.
    EXPECT_TRUE(RunsOutOfLimits(small));
    EXPECT_TRUE(RunsOutOfLimits(copy));
    small.SetLimits({8, SIZE_MAX});
    EXPECT_TRUE(IsNumber(Calc("Length(@t)", &adapter), 8));
    Outcome out;
    out.value = small.Calculate(out.code, out.message);
    EXPECT_TRUE(IsNumber(out, 8));
    // Back to the defaults; a destroyed engine's limits go with it.
    small.SetLimits(defaults);
    EXPECT_EQ(small.GetLimits().maxTextBytes, defaults.maxTextBytes);
}

// ---- Degenerate and overlong texts ---------------------------------------------

TEST(HostileText, ThousandTwentyThreeOpeningParentheses) {
    EXPECT_TRUE(FailsToCompile(std::string(1023, '('), 1023, "Unmatched left parentheses"));
    // One more byte is cut, and the cut text is refused where it was cut.
    EXPECT_TRUE(FailsToCompile(std::string(1024, '('), 1023, "Unknown element"));
    EXPECT_TRUE(FailsToCompile(std::string(100000, '('), 1023, "Unknown element"));
}

TEST(HostileText, TenThousandUnaryMinuses) {
    const std::string minuses = std::string(10000, '-') + "1";
    Calquex engine(minuses.c_str());
    EXPECT_EQ(std::string(engine.GetFormulaStr()), std::string(1023, '-'));
    // Two minuses in a row already fail (as "--1" does), long before the
    // cut; the failure at offset 0 reads code 0 with the compile's message.
    EXPECT_TRUE(FailsToCompile(minuses, 0, "operant number not matching"));
    // Nested through parentheses the text runs into the cut instead.
    std::string nested;
    for (int i = 0; i < 10000; ++i) nested += "-(";
    EXPECT_TRUE(FailsToCompile(nested + "1", 1023, "Unknown element"));
}

struct TooFewCase {
    const char* text;
};

void PrintTo(const TooFewCase& c, std::ostream* os) { *os << c.text; }

class OperatorWithTooFewValues : public ::testing::TestWithParam<TooFewCase> {};

// Operand counting in the compiler counts elements, not values, so these
// compile and the evaluation finds too few values.
TEST_P(OperatorWithTooFewValues, EndsTheCalculationCleanly) {
    const char* text = GetParam().text;
    ASSERT_TRUE(CompileText(text).ok) << text;
    const Outcome out = Calc(text);
    if (kRuntimeRules) {
        EXPECT_EQ(out.code, 1) << text;
        EXPECT_EQ(out.message, "Invalid variant operation") << text;
        EXPECT_EQ(out.value.vt, VT_EMPTY) << text;
    } else {
        EXPECT_TRUE(test::IsTypeCastError(out)) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, OperatorWithTooFewValues,
                         ::testing::Values(TooFewCase{"1 + 2 * 3 -"}, TooFewCase{"1 + 2 + 3 -"},
                                           TooFewCase{"1 + 2 * 3 - 4 -"}));

// A comma outside every parenthesis only ends its argument: the values stay
// on the stack and the last one is the result.
struct CommaCase {
    const char* text;
    bool compiles;
    double value;  // NaN: the result is Null
    int pos;       // where compiling fails
    const char* message;
};

void PrintTo(const CommaCase& c, std::ostream* os) { *os << c.text; }

class CommasOutsideParentheses : public ::testing::TestWithParam<CommaCase> {};

TEST_P(CommasOutsideParentheses, HaveTheirDocumentedOutcome) {
    const CommaCase& c = GetParam();
    if (!c.compiles) {
        EXPECT_TRUE(FailsToCompile(c.text, c.pos, c.message)) << c.text;
        return;
    }
    const Outcome out = Calc(c.text);
    ASSERT_EQ(out.code, 0) << c.text << ": " << out.message;
    if (std::isnan(c.value))
        EXPECT_EQ(out.value.vt, VT_NULL) << c.text;
    else
        EXPECT_EQ(NumberOf(out.value), c.value) << c.text;
}

constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Rows, CommasOutsideParentheses,
    ::testing::Values(CommaCase{"1,2", true, 2, 0, ""}, CommaCase{"1+2,3", true, 3, 0, ""},
                      CommaCase{"1,2+3", true, 5, 0, ""}, CommaCase{",,,", true, kNull, 0, ""},
                      CommaCase{",1", true, 1, 0, ""}, CommaCase{"1,", true, 1, 0, ""},
                      CommaCase{"(1,2)", true, 2, 0, ""}, CommaCase{"1,-2", true, -2, 0, ""},
                      CommaCase{"Max(1,2),3", true, 3, 0, ""},
                      CommaCase{"-,1", false, 0, 0, "Invalid Operator"},
                      CommaCase{"1*,2", false, 0, 1, "operant number not matching"}));

struct LiteralCase {
    const char* text;
    bool compiles;
    double value;
    int pos;
};

void PrintTo(const LiteralCase& c, std::ostream* os) { *os << c.text; }

class IntegerLiteralsBeyond32Bits : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(IntegerLiteralsBeyond32Bits, AreRefusedAtTheLiteral) {
    const LiteralCase& c = GetParam();
    if (c.compiles)
        EXPECT_TRUE(IsNumber(Calc(c.text), c.value)) << c.text;
    else
        EXPECT_TRUE(FailsToCompile(c.text, c.pos, "Unknown element")) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IntegerLiteralsBeyond32Bits,
    ::testing::Values(LiteralCase{"2147483647", true, 2147483647.0, 0},
                      LiteralCase{"-2147483647-1", true, -2147483648.0, 0},
                      LiteralCase{"2147483648", false, 0, 0}, LiteralCase{"1 + 4294967296", false, 0, 3},
                      LiteralCase{"-2147483648", false, 0, 1},
                      LiteralCase{"99999999999999999999999999999999", false, 0, 0},
                      LiteralCase{"00000000000000000000000000000001", true, 1, 0}));

// Regression: a literal with a point beyond the double range (310 digits or
// more before the point) once calculated as 0, another number than the host
// wrote. It is refused like an integer literal beyond 32 bits.
TEST(HostileText, RealLiteralBeyondTheDoubleRangeIsRefused) {
    const std::string huge = "1" + std::string(400, '0') + ".5";
    EXPECT_TRUE(FailsToCompile(huge, 0, "Unknown element"));
    EXPECT_TRUE(FailsToCompile("2 *" + huge, 3, "Unknown element"));
    // Underflow is not refused: the nearest double is 0, as text
    // conversions read "1e-400".
    EXPECT_TRUE(IsNumber(Calc(("0." + std::string(400, '0') + "1").c_str()), 0.0));
}

// ---- Functions at the edges of their ranges ------------------------------------

TEST(HostileFunctions, ModOfTheSmallestIntegerByMinusOne) {
    MapAdapter adapter;
    adapter.values["min"] = _variant_t(std::numeric_limits<int>::min());
    adapter.values["minusone"] = _variant_t(-1);
    // The quotient 2^31 has no 32-bit result: refused, not trapped.
    EXPECT_TRUE(test::FailsInFunction("Mod(-2147483647-1, -1)", "Unknown error", &adapter));
    EXPECT_TRUE(test::FailsInFunction("Mod({min}, {minusone})", "Unknown error", &adapter));
    EXPECT_TRUE(test::FailsInFunction("Mod({min}, -1)", "Unknown error", &adapter));
    EXPECT_TRUE(IsNumber(Calc("Mod(-2147483647-1, 1)", &adapter), 0));
    EXPECT_TRUE(IsNumber(Calc("Mod(-2147483647-1, 2147483647)", &adapter), -1));
}

struct RoundCase {
    const char* text;
    double first;
    double runtime;  // Calquor_VCL: the count is negated and wrapped to 8 bits
};

void PrintTo(const RoundCase& c, std::ostream* os) { *os << c.text; }

class RoundWithHugeDigitCounts : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundWithHugeDigitCounts, GivesAFiniteNumberOrTheValueItself) {
    const RoundCase& c = GetParam();
    const Outcome out = Calc(c.text);
    ASSERT_EQ(out.code, 0) << c.text << ": " << out.message;
    ASSERT_EQ(out.value.vt, VT_R8) << c.text;
    EXPECT_DOUBLE_EQ(out.value.dblVal, kRuntimeRules ? c.runtime : c.first) << c.text;
}

// CLQMFC: beyond 9 decimals a double has nothing left to round, so
// the value comes back; below -308 every finite value is nearer to 0.
INSTANTIATE_TEST_SUITE_P(
    Rows, RoundWithHugeDigitCounts,
    ::testing::Values(RoundCase{"Round(1.5, 2147483647)", 1.5, 0},
                      RoundCase{"Round(1.5, -2147483647-1)", 0, 2},
                      RoundCase{"Round(123.456, 400)", 123.456, 0},
                      RoundCase{"Round(123.456, -400)", 0, 123.456},
                      RoundCase{"Round(-98765.4321, 1000000)", -98765.4321, -98765.4321},
                      RoundCase{"Round(-98765.4321, -1000000)", 0, 0}));

TEST(HostileFunctions, RoundWithACountBeyond32BitsIsRefused) {
    EXPECT_TRUE(FailsToCompile("Round(1.5,2147483648)", 10, "Unknown element"));
    EXPECT_TRUE(test::FailsInFunction("Round(1.5, 2147483648.0)", "Parameter type mismatch"));
}

// Dates at both ends of the years 100..9999. 1 January 100 is serial -657434,
// 657434 = 7 * 93919 + 1 days before Saturday 30 December 1899: a Friday (6,
// counting Sunday as 1). 31 December 9999 is serial 2958465 = 7 * 422637 + 6
// days after it: also a Friday.
struct DateCase {
    const char* text;
    bool fails;
    double value;
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << c.text; }

class DateFunctionsAtTheEdges : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateFunctionsAtTheEdges, StayInRangeOrFail) {
    const DateCase& c = GetParam();
    if (c.fails) {
        EXPECT_TRUE(test::FailsInFunction(c.text, "Unknown error")) << c.text;
        return;
    }
    EXPECT_TRUE(IsNumber(Calc(c.text), c.value)) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DateFunctionsAtTheEdges,
    ::testing::Values(DateCase{"GetYear('1/1/100')", false, 100},
                      DateCase{"GetYear('12/31/9999 11:59:59 PM')", false, 9999},
                      DateCase{"DayOfMonth('12/31/9999')", false, 31},
                      DateCase{"DayOfWeek('1/1/100', 'N')", false, 6},
                      DateCase{"DayOfWeek('12/31/9999', 'N')", false, 6},
                      DateCase{"DateDiff('1/1/100', '12/31/9999', 'Day')", false, 2958465.0 + 657434.0},
                      DateCase{"DateDiff('12/31/9999', '1/1/100', 'Week')", false, -(2958465 + 657434) / 7},
                      DateCase{"AddYears('12/31/9999', 1)", true, 0},
                      DateCase{"AddYears('1/1/100', -1)", true, 0},
                      DateCase{"AddMonths('12/31/9999', 1)", true, 0},
                      DateCase{"AddMonths('1/1/100', -1)", true, 0},
                      DateCase{"AddYears('1/1/100', 2147483647)", true, 0},
                      DateCase{"AddMonths('1/1/100', -2147483647-1)", true, 0}));

TEST(HostileFunctions, AddingDaysPastTheLastDateGivesADateWithoutFields) {
    const Outcome past = Calc("AddDays('12/31/9999', 1)");
    ASSERT_EQ(past.code, 0) << past.message;
    ASSERT_EQ(past.value.vt, VT_DATE);
    EXPECT_EQ(past.value.date, 2958466.0);
    // Every field of a date outside the years 100..9999 reads 65535.
    EXPECT_TRUE(IsNumber(Calc("GetYear(AddDays('12/31/9999', 1))"), 65535));
    EXPECT_TRUE(IsNumber(Calc("DayOfMonth(AddDays('1/1/100', -1))"), 65535));
    // Weeks whose days do not fit 32 bits are refused.
    EXPECT_TRUE(test::FailsInFunction("AddWeeks('1/1/100', 2147483647)",
                                      kRuntimeRules ? "Unknown error" : "Parameter type mismatch"));
}

// ---- Adapters that misbehave ------------------------------------------------------

enum class Operation { IsKnown, GetOperantValue, GetFormulaByName };
enum class Thrown { Standard, Integer, ComError, OutOfMemory };

// Throws from one operation; the others answer normally.
class ThrowingAdapter : public DataAdapter {
public:
    ThrowingAdapter(Operation where, Thrown what) : m_where(where), m_what(what) {}

    bool IsKnown(const char*) override {
        Maybe(Operation::IsKnown);
        return true;
    }
    _variant_t GetOperantValue(const char*) override {
        Maybe(Operation::GetOperantValue);
        return _variant_t(2.0);
    }
    std::string GetFormulaByName(const char*) override {
        Maybe(Operation::GetFormulaByName);
        return "{x} * 10";
    }

private:
    void Maybe(Operation here) {
        if (here != m_where) return;
        switch (m_what) {
        case Thrown::Standard: throw std::runtime_error("adapter failed");
        case Thrown::Integer: throw 42;
        case Thrown::ComError: throw _com_error(E_FAIL);
        case Thrown::OutOfMemory: throw _com_error(E_OUTOFMEMORY);
        }
    }

    Operation m_where;
    Thrown m_what;
};

struct ThrowCase {
    Operation where;
    Thrown what;
};

void PrintTo(const ThrowCase& c, std::ostream* os) {
    *os << "operation " << static_cast<int>(c.where) << ", exception " << static_cast<int>(c.what);
}

class AdapterThatThrows : public ::testing::TestWithParam<ThrowCase> {};

// CLQMFC reads the failure as the type cast error; Calquor_VCL
// lets the host's own exception through untouched. Either way the engine
// stays usable, and the nesting depth is restored (a full-depth chain still
// calculates afterwards).
TEST_P(AdapterThatThrows, EndsTheCalculationCleanly) {
    const ThrowCase& c = GetParam();
    ThrowingAdapter adapter(c.where, c.what);
    // The reference is calculated first, so every operation is reached.
    Calquex engine("@r + {x}");
    engine.SetDataAdapter(&adapter);
    int code = -1;
    std::string message;
    if (kRuntimeRules) {
        switch (c.what) {
        case Thrown::Standard:
            try {
                engine.Calculate(code, message);
                ADD_FAILURE() << "nothing thrown";
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "adapter failed");
            }
            break;
        case Thrown::Integer: EXPECT_THROW(engine.Calculate(code, message), int); break;
        case Thrown::ComError:
        case Thrown::OutOfMemory: EXPECT_THROW(engine.Calculate(code, message), _com_error); break;
        }
    } else {
        Outcome out;
        out.value = engine.Calculate(out.code, out.message);
        EXPECT_TRUE(test::IsTypeCastError(out));
    }
    engine.SetFormulaStr("1 + 1");
    code = -1;
    const _variant_t again = engine.Calculate(code, message);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(NumberOf(again), 2);

    MapAdapter chain;
    AddChain(chain, 9901, 9999);
    EXPECT_TRUE(IsNumber(Calc("@n9901", &chain), 1));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AdapterThatThrows,
    ::testing::Values(ThrowCase{Operation::IsKnown, Thrown::Standard}, ThrowCase{Operation::IsKnown, Thrown::Integer},
                      ThrowCase{Operation::IsKnown, Thrown::ComError},
                      ThrowCase{Operation::GetOperantValue, Thrown::Standard},
                      ThrowCase{Operation::GetOperantValue, Thrown::Integer},
                      ThrowCase{Operation::GetOperantValue, Thrown::ComError},
                      ThrowCase{Operation::GetOperantValue, Thrown::OutOfMemory},
                      ThrowCase{Operation::GetFormulaByName, Thrown::Standard},
                      ThrowCase{Operation::GetFormulaByName, Thrown::Integer},
                      ThrowCase{Operation::GetFormulaByName, Thrown::ComError}));

// An automation object without members that counts its references and is
// never deleted. A conversion asks it for its value property, which it does
// not have.
class CountingObject : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    long refs = 1;
};

// Answers with values no automation host should send: arrays without data,
// references (to a value, to a text, to nothing) and objects.
class OddValuesAdapter : public DataAdapter {
public:
    bool IsKnown(const char*) override { return true; }
    _variant_t GetOperantValue(const char* name) override {
        const std::string which(name);
        VARIANT v;
        VariantInit(&v);
        if (which == "array") {
            v.vt = VT_ARRAY | VT_R8;
            v.parray = nullptr;
        } else if (which == "ref") {
            v.vt = VT_BYREF | VT_R8;
            v.pdblVal = &number;
        } else if (which == "reftext") {
            v.vt = VT_BYREF | VT_BSTR;
            v.pbstrVal = &text;
        } else if (which == "nullref") {
            v.vt = VT_BYREF | VT_R8;
            v.pdblVal = nullptr;
        } else if (which == "object") {
            v.vt = VT_DISPATCH;
            object.AddRef();
            v.pdispVal = &object;
        } else if (which == "badkind") {
            v.vt = 15;  // no variant kind has this number
        } else if (which == "ansi") {
            v.vt = varString;
            SetStrVal(v, AnsiStrAlloc("12", 2));
        }
        return _variant_t(v, false);
    }

    double number = 2.5;
    _bstr_t owned{"12"};
    BSTR text = owned.GetBSTR();
    CountingObject object;
};

// Calculates text, and in Calquor_VCL turns an exception that leaves
// Calculate into "threw".
struct Result {
    bool threw = false;
    Outcome out;
};

Result Try(const char* text, DataAdapter* adapter) {
    Result r;
    try {
        r.out = Calc(text, adapter);
    } catch (...) {
        // The runtime's errors, or a failed copy's _com_error.
        r.threw = true;
    }
    return r;
}

TEST(HostileAdapter, ArrayWithoutDataIsRefusedAsAnOperand) {
    OddValuesAdapter adapter;
    for (const char* text : {"{array} + 1", "Length({array})", "{array} < 1", "-{array}"}) {
        const Result r = Try(text, &adapter);
        if (kRuntimeRules)
            EXPECT_TRUE(r.threw || (r.out.code == 1 && r.out.value.vt == VT_EMPTY)) << text;
        else
            EXPECT_TRUE(test::IsTypeCastError(r.out)) << text;
    }
    // Alone, it is what the variant copy makes of it (below).
}

TEST(HostileAdapter, ReferencesAreFollowedOrRefused) {
    OddValuesAdapter adapter;
    // A conversion follows a reference to its value.
    EXPECT_TRUE(IsNumber(Calc("Round({ref}, 0) + 0", &adapter), 3));
    EXPECT_TRUE(IsNumber(Calc("Length({reftext})", &adapter), 2));
    // A reference to nothing is refused, not followed.
    const Result nothing = Try("{nullref} * 2", &adapter);
    if (kRuntimeRules) {
        EXPECT_TRUE(nothing.threw || (nothing.out.code == 1 && nothing.out.value.vt == VT_EMPTY));
    } else {
        EXPECT_TRUE(test::IsTypeCastError(nothing.out));
    }
    EXPECT_EQ(adapter.number, 2.5);
    EXPECT_EQ(test::TextOf(_variant_t(adapter.text)), "12");
}

TEST(HostileAdapter, ObjectsAreRefusedAndTheirReferencesBalance) {
    OddValuesAdapter adapter;
    for (const char* text : {"{object} + 1", "Length({object})", "UpperCase({object})", "{object} > 0"}) {
        const Result r = Try(text, &adapter);
        if (kRuntimeRules)
            EXPECT_TRUE(r.threw || (r.out.code == 1 && r.out.value.vt == VT_EMPTY)) << text;
        else
            EXPECT_TRUE(test::IsTypeCastError(r.out)) << text;
        EXPECT_EQ(adapter.object.refs, 1) << text;
    }
    {
        const Outcome alone = Calc("{object}", &adapter);
        EXPECT_EQ(alone.code, 0);
        EXPECT_EQ(alone.value.vt, VT_DISPATCH);
        EXPECT_EQ(adapter.object.refs, 2);  // the result holds one
    }
    EXPECT_EQ(adapter.object.refs, 1);
}

// An adapter's value is copied onto the stack by the flavour's variant copy
// (the automation runtime's, or the second runtime's, which also knows its own
// 8-bit text): a value that copy refuses fails the calculation as a failed
// copy does, alone or inside an expression; one it takes comes back as given
// when it is the whole formula. What the copy takes is the platform's affair
// (the stand-in has no arrays, the automation runtime no 8-bit text), so the
// expectation asks the same copy.
TEST(HostileAdapter, ValuesStandOnTheStackAsTheVariantCopyMakesThem) {
    OddValuesAdapter adapter;
    const auto refused = [&](const std::string& text) {
        try {
            const Outcome out = Calc(text.c_str(), &adapter);
            // CLQMFC reads every failure as a refused conversion.
            return !kRuntimeRules && test::IsTypeCastError(out);
        } catch (...) {
            // The second lets a failed copy leave Calculate.
            return kRuntimeRules;
        }
    };
    for (const char* name : {"badkind", "ansi", "array", "ref", "object"}) {
        const std::string text = std::string("{") + name + "}";
        HRESULT copied = S_OK;
        VARTYPE kind = VT_EMPTY;
        {
            const _variant_t given = adapter.GetOperantValue(name);
            kind = given.vt;
            VARIANT probe;
            VariantInit(&probe);
            copied = kRuntimeRules ? rtl::VarCopy(&probe, &given) : VariantCopy(&probe, &given);
            rtl::VarClear(&probe);
        }
        if (FAILED(copied)) {
            EXPECT_TRUE(refused(text)) << text;
            EXPECT_TRUE(refused(text + " + 1")) << text;
            EXPECT_TRUE(refused("Length(" + text + ")")) << text;
        } else {
            const Outcome out = Calc(text.c_str(), &adapter);
            EXPECT_EQ(out.code, 0) << text;
            EXPECT_EQ(out.value.vt, kind) << text;
        }
    }
    EXPECT_EQ(adapter.object.refs, 1);
    // No runtime knows kind 15; the second one's own text is a text to it.
    EXPECT_TRUE(refused("{badkind}"));
    if (kRuntimeRules) {
        EXPECT_TRUE(IsNumber(Calc("Length({ansi})", &adapter), 2));
    }
}

// ---- The engine used against its grain -----------------------------------------

TEST(HostileEngineUse, SetFormulaStrAfterFailures) {
    ThrowingAdapter thrower(Operation::GetOperantValue, Thrown::Standard);
    Calquex engine;
    engine.SetDataAdapter(&thrower);
    int code = -1;
    std::string message;
    const char* failing[] = {"(((", "1 + 2 * 3 -", "{nosuch}", "Mod(1, 0)"};
    for (const char* text : failing) {
        engine.SetFormulaStr(text);
        message.clear();
        try {
            engine.Calculate(code, message);
        } catch (const std::exception&) {
            // Calquor_VCL lets the adapter's and functions' errors through.
        }
        if (text == failing[0]) {
            EXPECT_EQ(message, "Unmatched left parentheses");
        }
        engine.SetFormulaStr("'fresh' + 'start'");
        code = -1;
        EXPECT_EQ(test::TextOf(engine.Calculate(code, message)), "freshstart") << "after " << text;
        EXPECT_EQ(code, 0) << "after " << text;
    }
    // An overlong text, then a short one: nothing of the cut text remains.
    engine.SetFormulaStr(std::string(5000, '9').c_str());
    EXPECT_FALSE(engine.Compile(code, message));
    engine.SetFormulaStr("7");
    int pos = -1;
    EXPECT_TRUE(engine.Compile(pos, message));
    Outcome seven;
    seven.value = engine.Calculate(seven.code, seven.message);
    EXPECT_TRUE(IsNumber(seven, 7));
}

// Changes the text of the engine that is calculating, from inside the
// calculation, then answers.
class TextChangingAdapter : public DataAdapter {
public:
    Calquex* engine = nullptr;
    bool IsKnown(const char*) override {
        engine->SetFormulaStr("2 * 3");
        return true;
    }
    _variant_t GetOperantValue(const char*) override { return _variant_t(1.0); }
};

// Regression: an adapter that calls SetFormulaStr on the engine that is
// calculating freed the compiled form the calculation was walking (a use
// after free, found by AddressSanitizer). The calculation under way finishes
// on the formula it started with; the next one calculates the new text.
TEST(HostileEngineUse, SetFormulaStrDuringTheCalculation) {
    TextChangingAdapter adapter;
    Calquex engine("{x} + 1 + 2 + 3");
    adapter.engine = &engine;
    engine.SetDataAdapter(&adapter);
    int code = -1;
    std::string message;
    const _variant_t during = engine.Calculate(code, message);
    EXPECT_EQ(code, 0) << message;
    EXPECT_EQ(NumberOf(during), 7);
    EXPECT_STREQ(engine.GetFormulaStr(), "2 * 3");
    const _variant_t after = engine.Calculate(code, message);
    EXPECT_EQ(code, 0) << message;
    EXPECT_EQ(NumberOf(after), 6);
}

// Changes the text of the calculating engine, then fails.
class TextChangingThrower : public DataAdapter {
public:
    Calquex* engine = nullptr;
    bool IsKnown(const char*) override {
        engine->SetFormulaStr("'new' + 'text'");
        throw std::runtime_error("adapter failed");
    }
};

TEST(HostileEngineUse, SetFormulaStrDuringAFailingCalculation) {
    TextChangingThrower adapter;
    Calquex engine("{x} + 1 + 2 + 3");
    adapter.engine = &engine;
    engine.SetDataAdapter(&adapter);
    int code = -1;
    std::string message;
    if (kRuntimeRules) {
        EXPECT_THROW(engine.Calculate(code, message), std::runtime_error);
    } else {
        Outcome out;
        out.value = engine.Calculate(out.code, out.message);
        EXPECT_TRUE(test::IsTypeCastError(out));
    }
    EXPECT_STREQ(engine.GetFormulaStr(), "'new' + 'text'");
    code = -1;
    EXPECT_EQ(test::TextOf(engine.Calculate(code, message)), "newtext");
    EXPECT_EQ(code, 0);
}

// Calculates the engine once more from inside its own calculation, while the
// named formula "r" has changed its text in between.
class ReenteringAdapter : public DataAdapter {
public:
    Calquex* engine = nullptr;
    Outcome inner;

    std::string GetFormulaByName(const char*) override { return ++m_references == 1 ? "{y} + 1" : "2"; }
    bool IsKnown(const char*) override {
        if (!m_inside) {
            m_inside = true;
            inner.value = engine->Calculate(inner.code, inner.message);
            m_inside = false;
        }
        return true;
    }
    _variant_t GetOperantValue(const char*) override { return _variant_t(10.0); }

private:
    int m_references = 0;
    bool m_inside = false;
};

// Regression: the engine keeps the compiled form of each referenced formula
// between calculations. When the adapter calculated the same engine again
// from inside a calculation and the reference's text had changed, the kept
// engine was replaced while it was still calculating (a use after free,
// found by AddressSanitizer). Each calculation finishes on the texts it was
// given: the inner one on "2", the outer one on "{y} + 1".
TEST(HostileEngineUse, CalculateEnteredAgainFromTheAdapter) {
    ReenteringAdapter adapter;
    Calquex engine("@r + 100");
    adapter.engine = &engine;
    engine.SetDataAdapter(&adapter);
    Outcome outer;
    outer.value = engine.Calculate(outer.code, outer.message);
    EXPECT_TRUE(IsNumber(adapter.inner, 102));
    EXPECT_TRUE(IsNumber(outer, 111));
}

// An explicit Compile of a compiled engine that throws (here: its texts
// pass the running calculation's budget) leaves the engine not compiled, so
// that the next Calculate compiles again instead of running a compiled form
// that is gone.
TEST(HostileEngineUse, CompileThatThrowsLeavesNothingCompiled) {
    struct Recompiling : DataAdapter {
        Calquex* victim = nullptr;
        bool threw = false;
        bool IsKnown(const char*) override {
            int pos = 0;
            std::string message;
            try {
                victim->Compile(pos, message);
            } catch (const _com_error&) {
                threw = true;
            }
            return true;
        }
        _variant_t GetOperantValue(const char*) override { return _variant_t(1.0); }
    } adapter;
    Calquex victim("1 + 2");
    int pos = 0;
    std::string message;
    ASSERT_TRUE(victim.Compile(pos, message));
    adapter.victim = &victim;
    Calquex engine("{x}");
    engine.SetDataAdapter(&adapter);
    engine.SetLimits(CalculationLimits{CalculationLimits::kDefaultMaxTextBytes, 0});
    Outcome outer;
    outer.value = engine.Calculate(outer.code, outer.message);
    EXPECT_TRUE(IsNumber(outer, 1));
    EXPECT_TRUE(adapter.threw);
    Outcome after;
    after.value = victim.Calculate(after.code, after.message);
    EXPECT_TRUE(IsNumber(after, 3));
}

TEST(HostileEngineUse, CopiedEngineOutlivesItsSource) {
    MapAdapter adapter;
    adapter.values["x"] = _variant_t(4.0);
    adapter.formulas["twice"] = "{x} * 2";
    struct Source {
        const char* text;
        bool compileFirst;
        bool calculateFirst;
    };
    const Source sources[] = {
        {"@twice + {x}", false, false}, {"@twice + {x}", true, false}, {"@twice + {x}", true, true},
        {"(((", true, false},           {"{nosuch} + 1", true, true},
    };
    for (const Source& s : sources) {
        auto source = std::make_unique<Calquex>(s.text);
        source->SetDataAdapter(&adapter);
        int code = -1;
        std::string message;
        if (s.compileFirst) source->Compile(code, message);
        if (s.calculateFirst) source->Calculate(code, message);
        const Outcome expected = Calc(s.text, &adapter);

        Calquex copy(*source);
        Calquex assigned;
        assigned.SetDataAdapter(&adapter);
        assigned = *source;
        source.reset();

        for (Calquex* engine : {&copy, &assigned}) {
            EXPECT_STREQ(engine->GetFormulaStr(), s.text);
            Outcome out;
            out.value = engine->Calculate(out.code, out.message);
            EXPECT_EQ(out.code, expected.code) << s.text;
            if (expected.code != 0) {
                EXPECT_EQ(out.message, expected.message) << s.text;
            }
            EXPECT_EQ(out.value.vt, expected.value.vt) << s.text;
            if (expected.code == 0) {
                EXPECT_EQ(NumberOf(out.value), NumberOf(expected.value)) << s.text;
            }
        }
    }
}

}  // namespace
}  // namespace calquor
