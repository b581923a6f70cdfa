// The evaluator's three runs give one outcome, and compiling keeps its meaning
// past the compiler's own working storage: formulas whose values pile up
// beyond 32 on the value stack take the general run, shallower formulas of
// operands, literals, operators and functions a straight one, on plain
// numbers where the kinds allow.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace calquor {
namespace {

using test::Outcome;

// A prefix of 40 nested "0+(": its 41 zeros wait on the value stack together,
// so the formula that follows it after a comma runs on the general path. The
// comma empties the operator stack and the prefix's value stays below, so the
// result is the following formula's own.
std::string DeepPrefix() {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "0+(";
    text += "0";
    text.append(40, ')');
    return text + ", ";
}

test::MapAdapter MixedAdapter() {
    test::MapAdapter adapter;
    adapter.values["x"] = _variant_t(1.5);
    adapter.values["i"] = _variant_t(7L);
    adapter.values["n"] = _variant_t(std::numeric_limits<double>::quiet_NaN());
    adapter.values["z"] = _variant_t(-0.0);
    adapter.values["b"] = _variant_t(true);
    adapter.values["b1"] = _variant_t(true);
    adapter.values["b1"].boolVal = 1;  // true as a host may write it
    adapter.values["s"] = _variant_t("ab");
    adapter.values["nul"] = test::Null();
    adapter.formulas["r"] = "{x}*2";
    adapter.formulas["bad"] = "1+{unknown}";
    adapter.formulas["t"] = "{s}";
    adapter.formulas["typed"] = "{s}*2";
    return adapter;
}

// Kind, value (doubles bit for bit, so -0 and NaN count), code and message.
::testing::AssertionResult SameOutcome(const Outcome& fast, const Outcome& general) {
    bool same = fast.code == general.code && fast.message == general.message && fast.value.vt == general.value.vt;
    if (same) {
        switch (fast.value.vt) {
        case VT_R8: case VT_DATE:
            same = std::memcmp(&fast.value.dblVal, &general.value.dblVal, sizeof(double)) == 0;
            break;
        case VT_BOOL: same = fast.value.boolVal == general.value.boolVal; break;
        case VT_I4: case VT_INT: same = fast.value.lVal == general.value.lVal; break;
        default: same = test::TextOf(fast.value) == test::TextOf(general.value); break;
        }
    }
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "fast: code " << fast.code << " \"" << fast.message << "\" kind "
                                         << fast.value.vt << " " << test::NumberOf(fast.value) << " \""
                                         << test::TextOf(fast.value) << "\"; general: code " << general.code
                                         << " \"" << general.message << "\" kind " << general.value.vt << " "
                                         << test::NumberOf(general.value) << " \"" << test::TextOf(general.value)
                                         << "\"";
}

// Calculates text twice on one engine, the second time on the nested
// engines its references compiled the first time: the same outcome, and the
// adapter asked the same both times. Gives the second outcome.
Outcome CalcTwice(const std::string& text, test::MapAdapter& adapter) {
    Calquex engine(text.c_str());
    engine.SetDataAdapter(&adapter);
    int pos = 0;
    std::string compiled;
    engine.Compile(pos, compiled);  // so that neither calculation compiles
    Outcome first, second;
    first.value = engine.Calculate(first.code, first.message);
    const std::vector<std::string> firstCalls = adapter.calls;
    adapter.calls.clear();
    second.value = engine.Calculate(second.code, second.message);
    EXPECT_TRUE(SameOutcome(first, second)) << text;
    EXPECT_EQ(adapter.calls, firstCalls) << text;
    return second;
}

class BothRuns : public ::testing::TestWithParam<const char*> {};

// The same formula after "1," (the run on plain numbers where the formula
// allows it, else the straight run), after "'t',1," (the straight run: a text
// keeps a formula off plain numbers) and after the deep prefix (the general
// run), at the same offset so that failures name the same position: the same
// outcome, and the adapter asked the same in the same order; each of them
// twice (see CalcTwice).
TEST_P(BothRuns, GiveTheSameOutcomeAndAskTheSame) {
    const std::string formula = GetParam();
    test::MapAdapter generalAdapter = MixedAdapter();
    const Outcome general = CalcTwice(DeepPrefix() + formula, generalAdapter);
    for (std::string shallow : {"1,", "'t',1,"}) {
        test::MapAdapter fastAdapter = MixedAdapter();
        shallow.resize(DeepPrefix().size(), ' ');
        const Outcome fast = CalcTwice(shallow + formula, fastAdapter);
        EXPECT_TRUE(SameOutcome(fast, general)) << shallow << formula;
        EXPECT_EQ(fastAdapter.calls, generalAdapter.calls) << shallow << formula;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, BothRuns,
    ::testing::Values(
        // Doubles and integer literals, on either side.
        "{x}*2+{x}/3", "2*{x}", "7/2", "1+2", "2-{x}", "{x}/0", "0/0", "-7", "-{x}", "--{x}", "-{z}", "0.0*-1",
        // Strict equality: kinds must match, NaN equals nothing.
        "{x}=1.5", "{x}=1", "1=1", "1.0=1", "{i}=7", "7={i}", "{i}+1", "{n}={n}", "{z}=0.0", "{b}={b}", "{b}=1",
        // Comparisons with NaN are false.
        "{n}<1", "{n}>=1", "{n}<={n}", "{x}>1", "{x}<=1.5", "2>=3",
        // Truth of numbers and booleans.
        "{x}>1 && {x}<2", "0 || {x}", "{b} && 1", "{b} || 0.0", "{n} && 1", "0 && {z}", "-{b}",
        "{b1} && 'true'", "{b1} || 0", "{b1} && {b1}",
        // Texts, Null and dates through the general rules.
        "{s}+1", "1+{s}", "{s}+{s}", "{s}>'a'", "'b'<{s}", "{nul}+1", "1+{nul}", "'x'+'y'+'z'",
        // Failures end alike.
        "-{s}", "{s}*2", "{nul}*1", "{unknown}+1", "1+{unknown}", "{s}={x}",
        // Calls of built-in functions, their arguments of every kind.
        "Min({x},2)+Max(1,{i})", "Round({x}*3,1)", "Length({s})+1", "SubStr({s},1,1)+'c'", "Power(2,10)-{i}",
        "IsZero({z})", "Sin(0)*{x}", "Mod({i},2)", "UpperCase({s})", "Floor({n})", "Length({nul})",
        "Max(Min({x},{i}),Max({n},1))",
        // References: calculated by nested engines, failures passed on.
        "@r+1", "@r*@r-{x}", "@missing+1", "1+@bad", "Max(@r,{i})", "-@r", "@typed+1",
        // A value other than a double met midway, with numbers, integers and
        // truths already waiting below it.
        "7*{x} - {i}*2", "{x}>1 || {b1}", "({x}=1.5) && {s}", "2, 3.5, {nul}", "{x}*2+{unknown}", "@t+{x}",
        "({x}<2) = ({x}>1) && {b1}", "Min({x}, {n}) + Max({n}, 2) - Power({z}, {i})", "LogN(2, {x}) * Sin({i})",
        "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,{x}>1,{s}",
        "Floor(-{x}) + Tan({x}) * Cos({i})"));

// Rows are texts whose value is a number; the scale grows past the compiler's
// inline stacks (64 entries, 256 counted tokens) and the value stack's 32.
struct DeepCase {
    std::string text;
    double value;
};
void PrintTo(const DeepCase& c, std::ostream* os) { *os << c.text.substr(0, 40) << "... (" << c.text.size() << ")"; }

std::string Nested(const std::string& open, const std::string& inner, const std::string& close, int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += open;
    text += inner;
    for (int i = 0; i < levels; ++i) text += close;
    return text;
}

std::string Chain(const std::string& first, const std::string& piece, std::size_t length) {
    std::string text = first;
    while (text.size() + piece.size() <= length) text += piece;
    return text;
}

class DeepFormulas : public ::testing::TestWithParam<DeepCase> {};

TEST_P(DeepFormulas, CompileAndCalculateToTheirValue) {
    const DeepCase& c = GetParam();
    ASSERT_LE(c.text.size(), static_cast<std::size_t>(Calquex::kMaxFormulaLength));
    const Outcome out = test::Calc(c.text.c_str());
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_EQ(test::NumberOf(out.value), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Scale, DeepFormulas,
    ::testing::Values(
        // 150 "(" and "+" entries wait on the operator stack; 151 values on the value stack.
        DeepCase{Nested("1+(", "1", ")", 150), 151.0},
        // 60 function entries and their "(" below them.
        DeepCase{Nested("Max(1,", "2", ")", 60), 2.0},
        // 511 tokens in postfix, counted as they are appended.
        DeepCase{Chain("1", "+1", 1023), 512.0},
        // Priorities decided across a long chain: each "*" binds first.
        DeepCase{Chain("1", "+2*3", 1023), 1.0 + 6.0 * 255},
        // Unary minus after every operator: 341 factors of -1.
        DeepCase{Chain("-1", "*-1", 1023), -1.0},
        // Exactly 32 values waiting, then 33: either side of the fast path's limit.
        DeepCase{Nested("1+(", "1", ")", 31), 32.0}, DeepCase{Nested("1+(", "1", ")", 32), 33.0}));

struct IntegerCase {
    const char* text;
    double value;
};
void PrintTo(const IntegerCase& c, std::ostream* os) { *os << c.text; }

class IntegerLiterals : public ::testing::TestWithParam<IntegerCase> {};

// Nine digits and fewer are read directly, longer runs by the standard
// conversion; both give the same kind and value.
TEST_P(IntegerLiterals, KeepTheirValueAtEveryLength) {
    const IntegerCase& c = GetParam();
    const Outcome out = test::Calc(c.text);
    EXPECT_EQ(out.code, 0) << c.text;
    EXPECT_EQ(out.value.vt, test::kIntegerKind) << c.text;
    EXPECT_EQ(test::NumberOf(out.value), c.value) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Lengths, IntegerLiterals,
                         ::testing::Values(IntegerCase{"0", 0}, IntegerCase{"7", 7}, IntegerCase{"999999999", 999999999},
                                           IntegerCase{"000000009", 9}, IntegerCase{"0000000009", 9},
                                           IntegerCase{"1000000000", 1000000000},
                                           IntegerCase{"2147483647", 2147483647},
                                           IntegerCase{"000000000000000000002", 2}));

// A name reaches the adapter without the '{' or '@' characters it skips, and
// exactly as a name written without them.
TEST(RunPaths, SkippedCharactersNeverReachTheAdapter) {
    test::MapAdapter skipped;
    skipped.values["ab"] = _variant_t(2.0);
    skipped.formulas["cd"] = "3";
    test::MapAdapter plain = skipped;
    const Outcome withSkips = test::Calc("{a{b}+@@c@d", &skipped);
    const Outcome without = test::Calc("{ab}+@cd", &plain);
    EXPECT_EQ(withSkips.code, 0) << withSkips.message;
    EXPECT_EQ(test::NumberOf(withSkips.value), 5.0);
    EXPECT_EQ(skipped.calls, (std::vector<std::string>{"known:ab", "value:ab", "formula:cd"}));
    EXPECT_EQ(skipped.calls, plain.calls);
    EXPECT_TRUE(SameOutcome(withSkips, without));
}

// Every occurrence of a name comes with one pointer for the life of the
// compiled form, in both runs, the skipped characters' spelling included; a
// new text gives new names.
TEST(RunPaths, EachNameKeepsOnePointerWhileCompiled) {
    struct PointerAdapter : DataAdapter {
        std::vector<std::pair<std::string, const void*>> seen;
        bool IsKnown(const char* name) override {
            seen.emplace_back(name, name);
            return true;
        }
        _variant_t GetOperantValue(const char* name) override {
            seen.emplace_back(name, name);
            return _variant_t(2.0);
        }
    };
    for (const std::string& text : {std::string("{a}*{b}+{a}-{a{b}/{ab}"), DeepPrefix() + "{a}*{b}+{a}-{a{b}/{ab}"}) {
        PointerAdapter adapter;
        Calquex engine(text.c_str());
        engine.SetDataAdapter(&adapter);
        int code = -1;
        std::string message;
        engine.Calculate(code, message);
        engine.Calculate(code, message);
        ASSERT_EQ(code, 0) << message;
        ASSERT_EQ(adapter.seen.size(), 20u);
        std::map<std::string, const void*> first;
        for (const auto& [name, pointer] : adapter.seen) {
            const auto [it, fresh] = first.emplace(name, pointer);
            EXPECT_EQ(it->second, pointer) << text << ": " << name;
        }
        EXPECT_EQ(first.size(), 3u);
        EXPECT_NE(first["a"], first["b"]);
    }
}

struct NameCase {
    const char* text;
    bool known;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.text; }

class FunctionNames : public ::testing::TestWithParam<NameCase> {};

// Names are matched whole and case-sensitively: a prefix, an extension or
// another case of a row's name is no function.
TEST_P(FunctionNames, MatchWholeNamesOnly) {
    Calquex engine(GetParam().text);
    int pos = -1;
    std::string message;
    EXPECT_EQ(engine.Compile(pos, message), GetParam().known) << GetParam().text;
    if (!GetParam().known) {
        EXPECT_EQ(message, "Unknown function");
        EXPECT_EQ(pos, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FunctionNames,
    ::testing::Values(NameCase{"1+Trim('a')", true}, NameCase{"1+TrimLeft('a')", true},
                      NameCase{"1+TrimRight('a')", true}, NameCase{"1+TrimLef('a')", false},
                      NameCase{"1+Trims('a')", false}, NameCase{"1+trim('a')", false}, NameCase{"1+Log2(8)", true},
                      NameCase{"1+Log10(8)", true}, NameCase{"1+Log1(8)", false}, NameCase{"1+LogN(8,2)", true},
                      NameCase{"1+Mi(1,2)", false}, NameCase{"1+Min(1,2)", true}, NameCase{"1+CalquorInfo()", true},
                      NameCase{"1+CalquorInfos()", false}, NameCase{"1+Tan(1)", true}, NameCase{"1+Ta(1)", false}));

// Text that is not ASCII, whole or after an ASCII start, is widened as the
// code page says, in literals as in the compiled form.
TEST(RunPaths, TextBeyondAsciiKeepsItsCharacters) {
    const Outcome out = test::Calc("'x\xc3\xa9'+'\xc3\x9f'+'y'");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_EQ(test::TextOf(out.value), "x\xc3\xa9\xc3\x9fy");
    Calquex engine("'\xc3\xa9' 'x\xc3\xa9'");
    EXPECT_EQ(test::TextOf(engine.GetNextToken().vValue), "\xc3\xa9");
    EXPECT_EQ(test::TextOf(engine.GetNextToken().vValue), "x\xc3\xa9");
}

}  // namespace
}  // namespace calquor
