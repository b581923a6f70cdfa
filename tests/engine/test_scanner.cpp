// The scanner: token kinds, values and positions of formula texts.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

namespace calquor {
namespace {

// A token rendered as kind:value@pos, e.g. "1:12@0" for the integer 12.
std::string Render(const Token& token) {
    std::string value;
    switch (token.vValue.vt) {
    case VT_INT: case VT_I4: value = std::to_string(token.vValue.intVal); break;
    case VT_R8: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", token.vValue.dblVal);
        value = buffer;
        break;
    }
    case VT_BSTR: case varString: value = test::TextOf(token.vValue); break;
    default: break;
    }
    return std::to_string(token.nType) + ":" + value + "@" + std::to_string(token.nPos);
}

struct ScanCase {
    const char* text;
    std::vector<std::string> tokens;  // up to and including TT_END or TT_ERROR
    int endPos;                       // GetCurrentPos after the last token
};
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.text; }

class ScannerTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScannerTest, TokensAndPositions) {
    const ScanCase& c = GetParam();
    Calquex engine(c.text);
    std::vector<std::string> got;
    for (int guard = 0; guard < 64; ++guard) {
        const Token token = engine.GetNextToken();
        if (token.nType == TT_END) {
            got.push_back("END");
            break;
        }
        if (token.nType == TT_ERROR) {
            got.push_back("ERROR@" + std::to_string(token.nPos));
            break;
        }
        got.push_back(Render(token));
    }
    EXPECT_EQ(got, c.tokens) << c.text;
    EXPECT_EQ(engine.GetCurrentPos(), c.endPos) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScannerTest,
    ::testing::Values(
        ScanCase{"", {"END"}, 0},
        ScanCase{"   ", {"END"}, 3},
        ScanCase{"12+3.5", {"1:12@0", "10:+@2", "2:3.5@3", "END"}, 6},
        ScanCase{".5", {"ERROR@0"}, 0},
        ScanCase{"1.2.3", {"2:1.2@0", "END"}, 5},
        ScanCase{"5.", {"2:5@0", "END"}, 2},
        ScanCase{"007", {"1:7@0", "END"}, 3},
        ScanCase{"1e5", {"1:1@0", "6:e5@1", "END"}, 3},
        ScanCase{"'a\"b'", {"3:a\"b@0", "END"}, 5},
        ScanCase{"\"it's\"", {"3:it's@0", "END"}, 6},
        ScanCase{"\"abc", {"3:abc@0", "END"}, 4},
        ScanCase{"''", {"3:@0", "END"}, 2},
        ScanCase{"Max(1,2)", {"6:Max@0", "19:(@3", "1:1@4", "21:,@5", "1:2@6", "20:)@7", "END"}, 8},
        ScanCase{"Max (1,2)", {"ERROR@0"}, 3},
        ScanCase{"x+1", {"ERROR@0"}, 1},
        ScanCase{"a1", {"6:a1@0", "END"}, 2},
        ScanCase{"{Price}*2", {"4:Price@0", "9:*@7", "1:2@8", "END"}, 9},
        ScanCase{"{Unit Price}", {"ERROR@0"}, 5},
        ScanCase{"{a{b}", {"4:ab@0", "END"}, 5},
        ScanCase{"{}", {"4:@0", "END"}, 2},
        ScanCase{"{abc", {"4:abc@0", "END"}, 4},
        ScanCase{"@Total+1", {"5:Total@0", "10:+@6", "1:1@7", "END"}, 8},
        ScanCase{"@@a@b c", {"5:ab@0", "6:c@6", "END"}, 7},
        ScanCase{"@", {"5:@0", "END"}, 1},
        ScanCase{"{a}>=-1", {"4:a@0", "15:>=@3", "11:-@5", "1:1@6", "END"}, 7},
        ScanCase{"{a}>-1", {"4:a@0", "13:>@3", "11:-@4", "1:1@5", "END"}, 6},
        ScanCase{"{a}<(1)", {"4:a@0", "14:<@3", "19:(@4", "1:1@5", "20:)@6", "END"}, 7},
        ScanCase{"1&2", {"1:1@0", "ERROR@1"}, 2},
        ScanCase{"1|2", {"1:1@0", "ERROR@1"}, 2},
        ScanCase{"1&&2||3", {"1:1@0", "17:&&@1", "1:2@3", "18:||@4", "1:3@6", "END"}, 7},
        ScanCase{"1<=2", {"1:1@0", "16:<=@1", "1:2@3", "END"}, 4},
        ScanCase{"1==2", {"1:1@0", "7:=@1", "7:=@2", "1:2@3", "END"}, 4},
        ScanCase{"1<>2", {"1:1@0", "14:<@1", "13:>@2", "1:2@3", "END"}, 4},
        ScanCase{"1/2", {"1:1@0", "8:/@1", "1:2@2", "END"}, 3},
        ScanCase{" \t\r\n7 ", {"1:7@4", "END"}, 6},
        ScanCase{"!1", {"ERROR@0"}, 0},
        ScanCase{"}", {"ERROR@0"}, 0},
        ScanCase{"_a", {"ERROR@0"}, 0},
        ScanCase{"\xc3\xa9", {"ERROR@0"}, 0},
        ScanCase{"\x01", {"ERROR@0"}, 0},
        ScanCase{"2147483647", {"1:2147483647@0", "END"}, 10},
        // Integer literals beyond 32 bits are refused, nothing consumed.
        ScanCase{"1+2147483648", {"1:1@0", "10:+@1", "ERROR@2"}, 2},
        ScanCase{"99999999999999999999", {"ERROR@0"}, 0}));

TEST(Scanner, EndRepeatsAfterEnd) {
    Calquex engine("1");
    EXPECT_EQ(engine.GetNextToken().nType, TT_INTEGER);
    EXPECT_EQ(engine.GetNextToken().nType, TT_END);
    EXPECT_EQ(engine.GetNextToken().nType, TT_END);
    EXPECT_EQ(engine.GetCurrentPos(), 1);
}

// The scan position outlives SetFormulaStr; past the end of a shorter text it
// stands at that end instead of reading what is left of the earlier text.
TEST(Scanner, PositionBeyondAShorterTextStandsAtItsEnd) {
    for (const char* shorter : {"9", ""}) {
        Calquex engine("123+456");
        engine.GetNextToken();
        engine.GetNextToken();
        ASSERT_EQ(engine.GetCurrentPos(), 4);
        engine.SetFormulaStr(shorter);
        EXPECT_EQ(engine.GetCurrentPos(), 4) << "kept by SetFormulaStr";
        const Token token = engine.GetNextToken();
        EXPECT_EQ(token.nType, TT_END) << shorter;
        EXPECT_EQ(token.nPos, static_cast<int>(std::strlen(shorter))) << shorter;
        EXPECT_EQ(engine.GetCurrentPos(), token.nPos) << shorter;
    }
    // A position within the new text is left where it is.
    Calquex engine("123+456");
    engine.GetNextToken();
    engine.SetFormulaStr("7777+8");
    const Token token = engine.GetNextToken();
    EXPECT_EQ(token.nType, TT_INTEGER);
    EXPECT_EQ(token.nPos, 3);
}

TEST(Scanner, LiteralKindsOfThisBuild) {
    Calquex engine("12 1.5 'x'");
    EXPECT_EQ(engine.GetNextToken().vValue.vt, test::kIntegerKind);
    EXPECT_EQ(engine.GetNextToken().vValue.vt, VT_R8);
    EXPECT_EQ(engine.GetNextToken().vValue.vt, test::kTextKind);
}

// Names and operator texts are held like string literals: VT_BSTR, or the
// 8-bit kind in Calquor_VCL.
TEST(Scanner, EveryTextTokenHasTheTextKind) {
    Calquex engine("{a}>=@F*Max(1,'s')||2");
    for (int guard = 0; guard < 32; ++guard) {
        const Token token = engine.GetNextToken();
        ASSERT_NE(token.nType, TT_ERROR);
        if (token.nType == TT_END) return;
        if (token.nType == TT_INTEGER) {
            EXPECT_EQ(token.vValue.vt, test::kIntegerKind) << token.nPos;
        } else {
            EXPECT_EQ(token.vValue.vt, test::kTextKind) << token.nPos;
            EXPECT_FALSE(test::TextOf(token.vValue).empty()) << token.nPos;
        }
    }
    FAIL() << "no end token";
}

TEST(Scanner, MultiByteTextInStringsIsKept) {
    Calquex engine("'\xc3\xa9t\xc3\xa9'");
    EXPECT_EQ(test::TextOf(engine.GetNextToken().vValue), "\xc3\xa9t\xc3\xa9");
}

}  // namespace
}  // namespace calquor
