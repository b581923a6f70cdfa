// The string functions through formulas: byte counts and positions of UTF-8
// text, white space, case mapping, Reverse of multi-byte text, SubStr
// clipping, Replace's scan, Char's byte kind. Rows whose outcome differs in
// Calquor_VCL give both.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <utility>

namespace calquor {
namespace {

void AddOperands(test::MapAdapter& adapter) {
    adapter.values = {
        {"null", test::Null()},
        {"imin", _variant_t(std::numeric_limits<int>::min())},
        {"imax", _variant_t(std::numeric_limits<int>::max())},
    };
}

// CLQMFC's Char gives VT_I1, Calquor_VCL's VT_UI1.
enum class Kind { Text, I4, I1, UI1, Fails };

// One expected outcome. Fails: the type cast error in CLQMFC; in
// Calquor_VCL code 1 with the runtime's conversion message `text`.
struct Expect {
    Kind kind;
    std::string text;  // Text; the runtime's message for Fails
    long number;       // I4, I1, UI1
};

Expect Text(const char* expected) { return {Kind::Text, expected, 0}; }
Expect I4(long number) { return {Kind::I4, "", number}; }
Expect I1(long number) { return {Kind::I1, "", number}; }
Expect UI1(long number) { return {Kind::UI1, "", number}; }
Expect Fails(std::string runtimeMessage) { return {Kind::Fails, std::move(runtimeMessage), 0}; }

// The runtime's messages of the conversions the string functions ask for.
const std::string kNullToString = test::CannotConvert("Null", "String");

// A formula and its outcome in CLQMFC and in Calquor_VCL.
struct StrCase {
    const char* text;
    Expect first;
    Expect second;
};

StrCase Row(const char* formula, const Expect& both) { return {formula, both, both}; }
StrCase Row(const char* formula, Expect first, Expect runtime) { return {formula, std::move(first), std::move(runtime)}; }

void PrintTo(const StrCase& c, std::ostream* os) { *os << c.text; }

class StringFunctionTest : public ::testing::TestWithParam<StrCase> {};

TEST_P(StringFunctionTest, Calculates) {
    const StrCase& c = GetParam();
    const Expect& want = test::kRuntimeRules ? c.second : c.first;
    test::MapAdapter adapter;
    AddOperands(adapter);
    if (want.kind == Kind::Fails) {
        EXPECT_TRUE(test::FailsToConvert(c.text, want.text, &adapter));
        return;
    }
    const test::Outcome out = test::Calc(c.text, &adapter);
    ASSERT_EQ(out.code, 0) << c.text << ": " << out.message;
    switch (want.kind) {
    case Kind::Text:
        ASSERT_EQ(out.value.vt, test::kTextKind) << c.text;
        EXPECT_EQ(test::TextOf(out.value), want.text) << c.text;
        break;
    case Kind::I4:
        ASSERT_EQ(out.value.vt, VT_I4) << c.text;
        EXPECT_EQ(out.value.lVal, want.number) << c.text;
        break;
    case Kind::I1:
        ASSERT_EQ(out.value.vt, VT_I1) << c.text;
        EXPECT_EQ(out.value.cVal, static_cast<char>(want.number)) << c.text;
        break;
    default:
        ASSERT_EQ(out.value.vt, VT_UI1) << c.text;
        EXPECT_EQ(out.value.bVal, want.number) << c.text;
        break;
    }
}

// Calquor_VCL trims every code from 0 to 32 and maps the case of every letter
// by the locale.
INSTANTIATE_TEST_SUITE_P(
    LengthTrimCase, StringFunctionTest,
    ::testing::Values(
        Row("Length(12.5)", I4(4)), Row("Length('')", I4(0)),
        Row("Length(123)", I4(3)), Row("Length('h\xC3\xA9llo')", I4(6)),
        Row("Length({null})", Fails(kNullToString)),
        Row("Trim('  a b  ')", Text("a b")), Row("Trim(' \t\n\v\f\r x\ty \r\n')", Text("x\ty")),
        Row("Trim('   ')", Text("")), Row("Trim('')", Text("")),
        Row("TrimLeft(' \t a  ')", Text("a  ")), Row("TrimRight('  a \n ')", Text("  a")),
        Row("Trim('\x01\x1F a \x7F\x1F')", Text("\x01\x1F a \x7F\x1F"), Text("a \x7F")),
        Row("TrimLeft('\x02" "a\x02')", Text("\x02" "a\x02"), Text("a\x02")),
        Row("TrimRight('\x02" "a\x1F')", Text("\x02" "a\x1F"), Text("\x02" "a")),
        Row("UpperCase('abc XYZ 1 \xC3\xA9')", Text("ABC XYZ 1 \xC3\xA9"), Text("ABC XYZ 1 \xC3\x89")),
        Row("LowerCase('\xC3\x80" "BC d')", Text("\xC3\x80" "bc d"), Text("\xC3\xA0" "bc d")),
        Row("UpperCase('xyz')", Text("XYZ")), Row("LowerCase('XYZ')", Text("xyz")),
        Row("UpperCase(2.5)", Text("2.5")), Row("Trim({null})", Fails(kNullToString))));

// Calquor_VCL reverses the bytes one by one, multi-byte characters included.
INSTANTIATE_TEST_SUITE_P(
    Reverse, StringFunctionTest,
    ::testing::Values(
        Row("Reverse('abc')", Text("cba")), Row("Reverse('')", Text("")), Row("Reverse(123)", Text("321")),
        // a, e-acute (2 bytes), euro sign (3), grinning face (4), b.
        Row("Reverse('a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b')",
            Text("b\xF0\x9F\x98\x80\xE2\x82\xAC\xC3\xA9" "a"),
            Text("b\x80\x98\x9F\xF0\xAC\x82\xE2\xA9\xC3" "a")),
        Row("Reverse({null})", Fails(kNullToString))));

// Calquor_VCL keeps the low 16 bits of a position: imin reads 0, imax -1,
// 65538 reads 2 and 3000000000 reads 24064.
INSTANTIATE_TEST_SUITE_P(
    SubStr, StringFunctionTest,
    ::testing::Values(
        Row("SubStr('abcdef', 2, 4)", Text("bcd")), Row("SubStr('abcdef', 3, 3)", Text("c")),
        Row("SubStr('abcdef', 4, 99)", Text("def")), Row("SubStr('abcdef', 5, 2)", Text("")),
        Row("SubStr('abcdef', 7, 9)", Text("")), Row("SubStr('abcdef', 0, 3)", Text("abcd")),
        Row("SubStr('abcdef', 2.6, 4)", Text("cd")), Row("SubStr('abcdef', 6, 6)", Text("f")),
        Row("SubStr('', 1, 1)", Text("")),
        // Extreme integers clip instead of overflowing.
        Row("SubStr('abcdef', {imin}, {imax})", Text("abcdef"), Text("")),
        Row("SubStr('abcdef', {imax}, {imax})", Text(""), Text("a")),
        Row("SubStr('abcdef', {imin}, {imin})", Text("a")), Row("SubStr('abcdef', 1, {imin})", Text("")),
        Row("SubStr('abcdef', {imax}, {imin})", Text(""), Text("ab")),
        Row("SubStr('abcdef', 2, {imax})", Text("bcdef"), Text("")),
        Row("SubStr('abcdef', 65538, 65540)", Text(""), Text("bcd")),
        Row("SubStr({null}, 1, 2)", Fails(kNullToString)),
        Row("SubStr('abc', {null}, 2)", Fails(test::CannotConvert("Null", "Smallint"))),
        Row("SubStr('abc', 1, 'x')", Fails(test::CannotConvert("String", "Smallint"))),
        Row("SubStr('abc', 1, 3000000000.0)", Fails(""), Text("abc"))));

// Calquor_VCL's Replace replaces the first occurrence only.
INSTANTIATE_TEST_SUITE_P(
    FindReplace, StringFunctionTest,
    ::testing::Values(
        Row("FindSub('abcabc', 'ca')", I4(3)), Row("FindSub('abc', 'x')", I4(0)),
        Row("FindSub('abc', '')", I4(1)), Row("FindSub('', '')", I4(1)),
        Row("FindSub('ABC', 'b')", I4(0)), Row("FindSub('a\xC3\xA9" "b', 'b')", I4(4)),
        Row("FindSub(12345, 34)", I4(3)), Row("FindSub('abc', {null})", Fails(kNullToString)),
        Row("Replace('aaa', 'a', 'b')", Text("bbb"), Text("baa")),
        Row("Replace('aaaa', 'aa', 'a')", Text("aa"), Text("aaa")), Row("Replace('abc', '', 'x')", Text("abc")),
        Row("Replace('abc', 'x', 'y')", Text("abc")),
        Row("Replace('a.b.c', '.', '--')", Text("a--b--c"), Text("a--b.c")),
        Row("Replace('aaa', 'a', 'aa')", Text("aaaaaa"), Text("aaaa")),
        Row("Replace('abab', 'ab', '')", Text(""), Text("ab")),
        Row("Replace('abAB', 'ab', 'x')", Text("xAB")), Row("Replace('abc', 'b', {null})", Fails(kNullToString))));

// A signed byte in CLQMFC, an unsigned one in Calquor_VCL.
INSTANTIATE_TEST_SUITE_P(
    Char, StringFunctionTest,
    ::testing::Values(
        Row("Char(65)", I1(65), UI1(65)), Row("Char(200)", I1(-56), UI1(200)),
        Row("Char(321)", I1(65), UI1(65)), Row("Char(-1)", I1(-1), UI1(255)),
        Row("Char(65.5)", I1(66), UI1(66)), Row("Char({imin})", I1(0), UI1(0)),
        Row("'A' + Char(66)", Text("A66")), Row("Char({null})", Fails(test::CannotConvert("Null", "Byte"))),
        Row("Char('x')", Fails(test::CannotConvert("String", "Byte")))));

// Calquor_VCL's Char is a number: it compares and joins as one.
TEST(StringFunctionsRuntimeRules, CharIsAnUnsignedByteNumber) {
    if (!test::kRuntimeRules) GTEST_SKIP();
    const auto code = test::Calc("Char(65)");
    ASSERT_EQ(code.value.vt, VT_UI1);
    EXPECT_EQ(code.value.bVal, 65);
    EXPECT_EQ(test::Calc("Char(321) = 65").value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(test::Calc("Char(200) + 1").value.lVal, 201);
    EXPECT_EQ(test::Calc("Length(Char(200))").value.lVal, 3);
}

}  // namespace
}  // namespace calquor
