// The string functions through formulas: byte counts and positions of UTF-8
// text, white space, ASCII-only case mapping, Reverse of multi-byte text,
// SubStr clipping, Replace's scan, Char's byte kind.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>

namespace calquor {
namespace {

void AddOperands(test::MapAdapter& adapter) {
    adapter.values = {
        {"null", test::Null()},
        {"imin", _variant_t(std::numeric_limits<int>::min())},
        {"imax", _variant_t(std::numeric_limits<int>::max())},
    };
}

enum class Kind { Text, I4, I1, Fails };

struct StrCase {
    const char* text;
    Kind kind;
    const char* expected;  // Text
    long number;           // I4, I1
};

StrCase Text(const char* formula, const char* expected) { return {formula, Kind::Text, expected, 0}; }
StrCase Number(const char* formula, Kind kind, long number) { return {formula, kind, "", number}; }
StrCase Fails(const char* formula) { return {formula, Kind::Fails, "", 0}; }

void PrintTo(const StrCase& c, std::ostream* os) { *os << c.text; }

class StringFunctionTest : public ::testing::TestWithParam<StrCase> {};

TEST_P(StringFunctionTest, Calculates) {
    const StrCase& c = GetParam();
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
    case Kind::Text:
        ASSERT_EQ(out.value.vt, VT_BSTR) << c.text;
        EXPECT_EQ(test::TextOf(out.value), c.expected) << c.text;
        break;
    case Kind::I4:
        ASSERT_EQ(out.value.vt, VT_I4) << c.text;
        EXPECT_EQ(out.value.lVal, c.number) << c.text;
        break;
    default:
        ASSERT_EQ(out.value.vt, VT_I1) << c.text;
        EXPECT_EQ(out.value.cVal, static_cast<char>(c.number)) << c.text;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    LengthTrimCase, StringFunctionTest,
    ::testing::Values(
        Number("Length(12.5)", Kind::I4, 4), Number("Length('')", Kind::I4, 0),
        Number("Length(123)", Kind::I4, 3), Number("Length('h\xC3\xA9llo')", Kind::I4, 6),
        Fails("Length({null})"),
        Text("Trim('  a b  ')", "a b"), Text("Trim(' \t\n\v\f\r x\ty \r\n')", "x\ty"),
        Text("Trim('   ')", ""), Text("Trim('')", ""),
        Text("TrimLeft(' \t a  ')", "a  "), Text("TrimRight('  a \n ')", "  a"),
        Text("UpperCase('abc XYZ 1 \xC3\xA9')", "ABC XYZ 1 \xC3\xA9"),
        Text("LowerCase('\xC3\x80" "BC d')", "\xC3\x80" "bc d"),
        Text("UpperCase(2.5)", "2.5"), Fails("Trim({null})")));

INSTANTIATE_TEST_SUITE_P(
    Reverse, StringFunctionTest,
    ::testing::Values(
        Text("Reverse('abc')", "cba"), Text("Reverse('')", ""), Text("Reverse(123)", "321"),
        // a, e-acute (2 bytes), euro sign (3), grinning face (4), b.
        Text("Reverse('a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b')",
             "b\xF0\x9F\x98\x80\xE2\x82\xAC\xC3\xA9" "a"),
        Fails("Reverse({null})")));

INSTANTIATE_TEST_SUITE_P(
    SubStr, StringFunctionTest,
    ::testing::Values(
        Text("SubStr('abcdef', 2, 4)", "bcd"), Text("SubStr('abcdef', 3, 3)", "c"),
        Text("SubStr('abcdef', 4, 99)", "def"), Text("SubStr('abcdef', 5, 2)", ""),
        Text("SubStr('abcdef', 7, 9)", ""), Text("SubStr('abcdef', 0, 3)", "abcd"),
        Text("SubStr('abcdef', 2.6, 4)", "cd"), Text("SubStr('abcdef', 6, 6)", "f"),
        Text("SubStr('', 1, 1)", ""),
        // Extreme integers clip instead of overflowing.
        Text("SubStr('abcdef', {imin}, {imax})", "abcdef"), Text("SubStr('abcdef', {imax}, {imax})", ""),
        Text("SubStr('abcdef', {imin}, {imin})", "a"), Text("SubStr('abcdef', 1, {imin})", ""),
        Text("SubStr('abcdef', {imax}, {imin})", ""), Text("SubStr('abcdef', 2, {imax})", "bcdef"),
        Fails("SubStr({null}, 1, 2)"), Fails("SubStr('abc', {null}, 2)"),
        Fails("SubStr('abc', 1, 3000000000.0)")));

INSTANTIATE_TEST_SUITE_P(
    FindReplace, StringFunctionTest,
    ::testing::Values(
        Number("FindSub('abcabc', 'ca')", Kind::I4, 3), Number("FindSub('abc', 'x')", Kind::I4, 0),
        Number("FindSub('abc', '')", Kind::I4, 1), Number("FindSub('', '')", Kind::I4, 1),
        Number("FindSub('ABC', 'b')", Kind::I4, 0), Number("FindSub('a\xC3\xA9" "b', 'b')", Kind::I4, 4),
        Number("FindSub(12345, 34)", Kind::I4, 3), Fails("FindSub('abc', {null})"),
        Text("Replace('aaaa', 'aa', 'a')", "aa"), Text("Replace('abc', '', 'x')", "abc"),
        Text("Replace('abc', 'x', 'y')", "abc"), Text("Replace('a.b.c', '.', '--')", "a--b--c"),
        Text("Replace('aaa', 'a', 'aa')", "aaaaaa"), Text("Replace('abab', 'ab', '')", ""),
        Text("Replace('abAB', 'ab', 'x')", "xAB"), Fails("Replace('abc', 'b', {null})")));

INSTANTIATE_TEST_SUITE_P(
    Char, StringFunctionTest,
    ::testing::Values(
        Number("Char(65)", Kind::I1, 65), Number("Char(200)", Kind::I1, -56),
        Number("Char(321)", Kind::I1, 65), Number("Char(-1)", Kind::I1, -1),
        Number("Char(65.5)", Kind::I1, 66), Number("Char({imin})", Kind::I1, 0),
        Text("'A' + Char(66)", "A66"), Fails("Char({null})"), Fails("Char('x')")));

}  // namespace
}  // namespace calquor
