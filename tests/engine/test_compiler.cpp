// The compiler: postfix order, error positions and messages.
#include "TestSupport.h"

#include "CalquexAccess.h"

#include <gtest/gtest.h>

#include <string>

namespace calquor {

// Renders the compiled form: literals and names as written, "neg" for a
// unary minus, operators by their text, functions by their name.
struct CalquexInspector {
    static std::string Postfix(const Calquex& engine) {
        std::string out;
        for (const Token& token : detail::CalquexAccess::Postfix(engine)) {
            if (!out.empty()) out += ' ';
            if (token.nType == TT_NEG) {
                out += "neg";
            } else if (token.vValue.vt == VT_INT || token.vValue.vt == VT_I4) {
                out += std::to_string(token.vValue.intVal);
            } else if (token.vValue.vt == VT_R8) {
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%g", token.vValue.dblVal);
                out += buffer;
            } else {
                out += test::TextOf(token.vValue);
            }
        }
        return out;
    }
    static bool Compiled(const Calquex& engine) { return detail::CalquexAccess::Compiled(engine); }
    static detail::RunKind Run(const Calquex& engine) { return detail::CalquexAccess::Run(engine); }
};

namespace {

struct CompileCase {
    const char* text;
    bool ok;
    int pos;
    const char* message;
    const char* postfix;  // checked on success
};
void PrintTo(const CompileCase& c, std::ostream* os) { *os << c.text; }

class CompilerTest : public ::testing::TestWithParam<CompileCase> {};

TEST_P(CompilerTest, PostfixAndErrors) {
    const CompileCase& c = GetParam();
    Calquex engine(c.text);
    int pos = -1;
    std::string message;
    EXPECT_EQ(engine.Compile(pos, message), c.ok) << c.text;
    EXPECT_EQ(pos, c.pos) << c.text;
    EXPECT_EQ(message, c.message) << c.text;
    EXPECT_EQ(CalquexInspector::Compiled(engine), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(CalquexInspector::Postfix(engine), c.postfix) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompilerTest,
    ::testing::Values(
        CompileCase{"", true, 0, "Succeed", ""},
        CompileCase{"   ", true, 0, "Succeed", ""},
        CompileCase{"1+2*3", true, 5, "Succeed", "1 2 3 * +"},
        CompileCase{"1*2+3", true, 5, "Succeed", "1 2 * 3 +"},
        CompileCase{"8-3-2", true, 5, "Succeed", "8 3 - 2 -"},
        CompileCase{"1<2<3", true, 5, "Succeed", "1 2 < 3 <"},
        CompileCase{"1 + 2 ", true, 5, "Succeed", "1 2 +"},
        CompileCase{"-2*3", true, 4, "Succeed", "2 neg 3 *"},
        CompileCase{"2*-3", true, 4, "Succeed", "2 3 neg *"},
        CompileCase{"2--3", true, 4, "Succeed", "2 3 neg -"},
        CompileCase{"(1)-2", true, 5, "Succeed", "1 2 -"},
        CompileCase{"Max(1,2)-3", true, 10, "Succeed", "1 2 Max 3 -"},
        CompileCase{"-(-1)", true, 5, "Succeed", "1 neg neg"},
        CompileCase{"1 2", true, 3, "Succeed", "1 2"},
        CompileCase{"1 2 +", true, 5, "Succeed", "1 2 +"},
        CompileCase{"Length(1)", true, 9, "Succeed", "1 Length"},
        CompileCase{"Today()", true, 7, "Succeed", "Today"},
        CompileCase{"Length(1,2)", true, 11, "Succeed", "1 2 Length"},
        CompileCase{"{a}&&{b}||{c}", true, 13, "Succeed", "a b && c ||"},
        CompileCase{"1=1&&2>1", true, 8, "Succeed", "1 1 = 2 1 > &&"},
        CompileCase{"'a'+@F", true, 6, "Succeed", "a F +"},
        CompileCase{"SubStr('abc',1+1,3)", true, 19, "Succeed", "abc 1 1 + 3 SubStr"},
        // A comma ends its argument: the operators of that argument go out.
        CompileCase{"Max(1+2,3)", true, 10, "Succeed", "1 2 + 3 Max"},
        CompileCase{"Max((1+2),3)", true, 12, "Succeed", "1 2 + 3 Max"},
        CompileCase{"Max(-1,2)", true, 9, "Succeed", "1 neg 2 Max"},
        // A comma outside every parenthesis: harmless.
        CompileCase{"1,2", true, 3, "Succeed", "1 2"},
        CompileCase{",", true, 1, "Succeed", ""},
        CompileCase{"1+2,3", true, 5, "Succeed", "1 2 + 3"},
        CompileCase{"--1", false, 0, "operant number not matching", ""},
        CompileCase{"+1", false, 0, "operant number not matching", ""},
        CompileCase{"1+", false, 1, "operant number not matching", ""},
        CompileCase{"Max()", false, 0, "Parameter number not matching", ""},
        CompileCase{"Max(1", false, 0, "Parameter number not matching", ""},
        CompileCase{"DayOfWeek(1)", false, 0, "Parameter number not matching", ""},
        CompileCase{"length(1)", false, 0, "Unknown function", ""},
        CompileCase{"1+Nope(2)", false, 2, "Unknown function", ""},
        CompileCase{"(1+2", false, 4, "Unmatched left parentheses", ""},
        CompileCase{"1+2)", false, 3, "Unmatched right parentheses", ""},
        CompileCase{")", false, 0, "Unmatched right parentheses", ""},
        CompileCase{"Max(-,1)", false, 4, "Invalid Operator", ""},
        CompileCase{"1+(*2)", false, 1, "operant number not matching", ""},
        CompileCase{"1 + #", false, 3, "Unknown element", ""},
        CompileCase{"#", false, 0, "Unknown element", ""},
        CompileCase{"{a} + {b c}", false, 5, "Unknown element", ""},
        CompileCase{"1+2147483648", false, 2, "Unknown element", ""},
        // A function name without its parentheses is a call without arguments.
        CompileCase{"Sin", false, 0, "Parameter number not matching", ""},
        CompileCase{"1+Sin", false, 2, "Parameter number not matching", ""}));

TEST(Compiler, UnknownOperandsCompile) {
    Calquex engine("{nosuch}+@nothing");
    int pos = 0;
    std::string message;
    EXPECT_TRUE(engine.Compile(pos, message));
}

// Compiling decides how the formula runs. Too few values for an operator
// followed by more values compiles, and must take the general run, which
// checks the value stack, never the straight one, which would read below it.
// Numbers and truths only, where operands are doubles, run on plain numbers
// (not in Calquor_VCL, whose runtime keeps integer kinds).
TEST(Compiler, CompiledFormDecidesItsRun) {
    using detail::RunKind;
    const RunKind numbers = test::kRuntimeRules ? RunKind::Straight : RunKind::Numbers;
    const RunKind numbersWithCalls = test::kRuntimeRules ? RunKind::StraightWithFunctions : RunKind::Numbers;
    const struct {
        const char* text;
        RunKind run;
    } cases[] = {
        {"1 + 2 * 3 - , 5", RunKind::General},
        {"1 + 2 * 3 - 4 - , 5", RunKind::General},
        {"1 + 2 * 3", numbers},
        {"{a} * -@r", numbers},
        {"{a} > 1 && {b} = 2.5 || 1", numbers},
        {"{a} = 1", RunKind::Straight},          // "=" of a double and an integer
        {"({a} > 1) + 1", RunKind::Straight},    // a truth in arithmetic
        {"-({a} > 1)", RunKind::Straight},
        {"{a} + 'x'", RunKind::Straight},
        {"Min(1, {a}) + Sin(3)", numbersWithCalls},
        {"Min(1, 2) + Round(3, 1)", RunKind::StraightWithFunctions},
        {"Max({a} > 1, 2)", RunKind::StraightWithFunctions},  // a truth as an argument
    };
    for (const auto& c : cases) {
        Calquex engine(c.text);
        int pos = 0;
        std::string message;
        ASSERT_TRUE(engine.Compile(pos, message)) << c.text;
        EXPECT_EQ(CalquexInspector::Run(engine), c.run) << c.text;
        EXPECT_EQ(CalquexInspector::Run(Calquex(engine)), c.run) << c.text << " (copied)";
    }
}

TEST(Compiler, FailedCompileKeepsEarlierTokens) {
    Calquex engine("1+2)");
    int pos = 0;
    std::string message;
    EXPECT_FALSE(engine.Compile(pos, message));
    EXPECT_EQ(CalquexInspector::Postfix(engine), "1 2 +");
    EXPECT_EQ(engine.GetCurrentPos(), 4);
}

TEST(Compiler, RecompileReplacesTheSequence) {
    Calquex engine("1+2");
    int pos = 0;
    std::string message;
    ASSERT_TRUE(engine.Compile(pos, message));
    ASSERT_TRUE(engine.Compile(pos, message));
    EXPECT_EQ(CalquexInspector::Postfix(engine), "1 2 +");
}

TEST(Compiler, TextAtTheLimitIsKeptAndLongerTextIsRefusedWhereCut) {
    std::string text(Calquex::kMaxFormulaLength - 1, ' ');
    text += '7';
    Calquex exact(text.c_str());
    EXPECT_EQ(std::string(exact.GetFormulaStr()), text);
    int pos = 0;
    std::string message;
    EXPECT_TRUE(exact.Compile(pos, message));

    const std::string longer = text + "+1";
    Calquex cut(longer.c_str());
    EXPECT_EQ(std::string(cut.GetFormulaStr()), text);
    EXPECT_FALSE(cut.Compile(pos, message));
    EXPECT_EQ(message, "Unknown element");
    EXPECT_EQ(pos, int{Calquex::kMaxFormulaLength});
}

TEST(Compiler, ManyParenthesesAndMinusesStayBounded) {
    const std::string parens(Calquex::kMaxFormulaLength, '(');
    Calquex open(parens.c_str());
    int pos = 0;
    std::string message;
    EXPECT_FALSE(open.Compile(pos, message));
    EXPECT_EQ(message, "Unmatched left parentheses");

    std::string minuses(Calquex::kMaxFormulaLength - 1, '-');
    minuses += '1';
    Calquex neg(minuses.c_str());
    EXPECT_FALSE(neg.Compile(pos, message));
    EXPECT_EQ(message, "operant number not matching");
    EXPECT_EQ(pos, 0);
}

}  // namespace
}  // namespace calquor
