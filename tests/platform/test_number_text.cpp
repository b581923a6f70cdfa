// Number text services: VarR8FromStr, VarI4FromStr, VarBoolFromStr,
// VarBstrFromR8 and VarBstrFromR4 (en-US).
#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

using namespace calquor;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Narrow(BSTR b) {
    std::string s;
    for (UINT i = 0; i < SysStringLen(b); ++i) s += static_cast<char>(b[i]);
    return s;
}

std::string Printable(const char16_t* text) {
    std::string s;
    for (; *text; ++text) s += *text < 0x80 ? static_cast<char>(*text) : '?';
    return s;
}

struct R8Row {
    const char16_t* text;
    HRESULT hr;
    double value;
};

TEST(NumberText, R8FromStr) {
    const R8Row rows[] = {
        {u"12.5", S_OK, 12.5},
        {u" 12.5 ", S_OK, 12.5},
        {u"+12.5", S_OK, 12.5},
        {u"\t\r\n\v\f12.5\t", S_OK, 12.5},
        {u"\u00A012.5\u00A0", S_OK, 12.5},
        {u"-12.5", S_OK, -12.5},
        {u"12.5-", S_OK, -12.5},
        {u"(12.5)", S_OK, -12.5},
        {u".5", S_OK, 0.5},
        {u"5.", S_OK, 5.0},
        {u"1,234.5", S_OK, 1234.5},
        {u"1,2,3", S_OK, 123.0},
        {u"1,,000", S_OK, 1000.0},
        {u"1,000,", S_OK, 1000.0},
        {u",123", DISP_E_TYPEMISMATCH, 0},
        {u"$12", S_OK, 12.0},
        {u"12$", S_OK, 12.0},
        {u"$1,234.50", S_OK, 1234.5},
        {u"-$12", S_OK, -12.0},
        {u"$-12", S_OK, -12.0},
        {u"$$12", DISP_E_TYPEMISMATCH, 0},
        {u"1e3", S_OK, 1000.0},
        {u"1E+03", S_OK, 1000.0},
        {u"1.5e-3", S_OK, 0.0015},
        {u"1e-94938484", S_OK, 0.0},
        {u"1e", DISP_E_TYPEMISMATCH, 0},
        {u"1e+", DISP_E_TYPEMISMATCH, 0},
        {u"e3", DISP_E_TYPEMISMATCH, 0},
        {u"1.2.3", DISP_E_TYPEMISMATCH, 0},
        {u"1 2", DISP_E_TYPEMISMATCH, 0},
        {u"12abc", DISP_E_TYPEMISMATCH, 0},
        {u"0x1F", DISP_E_TYPEMISMATCH, 0},
        {u"&H1F", S_OK, 31.0},
        {u"&h0abcdef", S_OK, 11259375.0},
        {u"&O17", S_OK, 15.0},
        {u"&HFFFF", S_OK, 65535.0},
        {u"&H", DISP_E_TYPEMISMATCH, 0},
        {u"&O8", DISP_E_TYPEMISMATCH, 0},
        {u"-&H1F", DISP_E_TYPEMISMATCH, 0},
        // Above 0x7FFFFFFF the hex number is read as a signed 32-bit pattern
        // (the stand-in's choice); wider numbers overflow.
        {u"&HFFFFFFFF", S_OK, -1.0},
        {u"&H100000000", DISP_E_OVERFLOW, 0},
        {u"&H10000000000000000", DISP_E_OVERFLOW, 0},
        {u"", DISP_E_TYPEMISMATCH, 0},
        {u" ", DISP_E_TYPEMISMATCH, 0},
        {u".", DISP_E_TYPEMISMATCH, 0},
        {u"-", DISP_E_TYPEMISMATCH, 0},
        {u"True", DISP_E_TYPEMISMATCH, 0},
        {u"INF", DISP_E_TYPEMISMATCH, 0},
        {u"NaN", DISP_E_TYPEMISMATCH, 0},
        {u"1.#INF", DISP_E_TYPEMISMATCH, 0},
        {u"1e309", DISP_E_OVERFLOW, 0},
        {u"1e94938484", DISP_E_OVERFLOW, 0},
        {u"1 000", DISP_E_TYPEMISMATCH, 0},
        {u"\u0661\u0662", DISP_E_TYPEMISMATCH, 0},
        {u"(12.5", DISP_E_TYPEMISMATCH, 0},
        {u"-(12.5)", DISP_E_TYPEMISMATCH, 0},
        {u"$12$", DISP_E_TYPEMISMATCH, 0},
        {u"0.1", S_OK, 0.1},
        {u"1.7976931348623157e308", S_OK, DBL_MAX},
        {u"4.9406564584124654e-324", S_OK, 4.9406564584124654e-324},
        {u"1e-400", S_OK, 0.0},
        {u"123456789012345678901234567890", S_OK, 123456789012345678901234567890.0},
        {u"0.000000000000000000000000000000000000000001", S_OK, 1e-42},
    };
    for (const R8Row& row : rows) {
        SCOPED_TRACE(Printable(row.text));
        double out = -777.0;
        EXPECT_EQ(VarR8FromStr(row.text, LOCALE_EN_US, 0, &out), row.hr);
        if (row.hr == S_OK)
            EXPECT_EQ(out, row.value);
        else
            EXPECT_EQ(out, -777.0);
    }
}

struct I4Row {
    const char16_t* text;
    HRESULT hr;
    LONG value;
};

TEST(NumberText, I4FromStr) {
    const I4Row rows[] = {
        {u"&HFFFFFFFF", S_OK, -1},
        {u"&H7FFFFFFF", S_OK, 2147483647},
        {u"&H100000000", DISP_E_OVERFLOW, 0},
        {u"1.5", S_OK, 2},
        {u"2.5", S_OK, 2},
        {u"3.5", S_OK, 4},
        {u"-0.5", S_OK, 0},
        {u"0.6", S_OK, 1},
        {u"-1.5", S_OK, -2},
        {u"0.4999999999999999999", S_OK, 0},
        {u"2.5000000000000001", S_OK, 3},
        {u"2147483647", S_OK, 2147483647},
        {u"2147483648", DISP_E_OVERFLOW, 0},
        {u"-2147483648", S_OK, INT32_MIN},
        {u"-2147483649", DISP_E_OVERFLOW, 0},
        {u"2147483647.5", DISP_E_OVERFLOW, 0},
        {u"-2147483648.5", S_OK, INT32_MIN},
        {u"1e3", S_OK, 1000},
        {u"15e-1", S_OK, 2},
        {u"1,000", S_OK, 1000},
        {u"(3)", S_OK, -3},
        {u"$7-", S_OK, -7},
        {u"1e-94938484", S_OK, 0},
        {u"1e94938484", DISP_E_OVERFLOW, 0},
        {u"99999999999999999999999", DISP_E_OVERFLOW, 0},
        {u"abc", DISP_E_TYPEMISMATCH, 0},
        {u"", DISP_E_TYPEMISMATCH, 0},
    };
    for (const I4Row& row : rows) {
        SCOPED_TRACE(Printable(row.text));
        LONG out = -777;
        EXPECT_EQ(VarI4FromStr(row.text, LOCALE_EN_US, 0, &out), row.hr);
        EXPECT_EQ(out, row.hr == S_OK ? row.value : -777);
    }
}

struct BoolRow {
    const char16_t* text;
    HRESULT hr;
    VARIANT_BOOL value;
};

TEST(NumberText, BoolFromStr) {
    const BoolRow rows[] = {
        {u"true", S_OK, VARIANT_TRUE},    {u"TRUE", S_OK, VARIANT_TRUE},
        {u"tRuE", S_OK, VARIANT_TRUE},    {u"false", S_OK, VARIANT_FALSE},
        {u"False", S_OK, VARIANT_FALSE},  {u"#TRUE#", S_OK, VARIANT_TRUE},
        {u"#FALSE#", S_OK, VARIANT_FALSE}, {u"#False#", DISP_E_TYPEMISMATCH, 0},
        {u"#true#", DISP_E_TYPEMISMATCH, 0}, {u"0", S_OK, VARIANT_FALSE},
        {u"-1", S_OK, VARIANT_TRUE},      {u"+1", S_OK, VARIANT_TRUE},
        {u"0.1", S_OK, VARIANT_TRUE},     {u"0.0", S_OK, VARIANT_FALSE},
        {u"&H0", S_OK, VARIANT_FALSE},    {u"", DISP_E_TYPEMISMATCH, 0},
        {u"On", DISP_E_TYPEMISMATCH, 0},  {u"Yes", DISP_E_TYPEMISMATCH, 0},
        {u"truex", DISP_E_TYPEMISMATCH, 0},
    };
    for (const BoolRow& row : rows) {
        SCOPED_TRACE(Printable(row.text));
        VARIANT_BOOL out = 77;
        EXPECT_EQ(VarBoolFromStr(row.text, LOCALE_EN_US, 0, &out), row.hr);
        EXPECT_EQ(out, row.hr == S_OK ? row.value : 77);
    }
}

TEST(NumberText, NullArguments) {
    double d = 1.0;
    LONG l = 1;
    VARIANT_BOOL b = 1;
    EXPECT_EQ(VarR8FromStr(nullptr, 0, 0, &d), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VarI4FromStr(nullptr, 0, 0, &l), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VarBoolFromStr(nullptr, 0, 0, &b), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VarR8FromStr(u"1", 0, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(VarI4FromStr(u"1", 0, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(VarBoolFromStr(u"1", 0, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(VarBstrFromR8(1.0, 0, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(VarBstrFromR4(1.0f, 0, 0, nullptr), E_INVALIDARG);
}

struct RealTextRow {
    double value;
    const char* text;
};

TEST(NumberText, BstrFromR8) {
    const RealTextRow rows[] = {
        {0.5, "0.5"},
        {12.5, "12.5"},
        {100, "100"},
        {-12.5, "-12.5"},
        {0.56789, "0.56789"},
        {5.6789e-5, "0.000056789"},
        {5.6789e-11, "0.000000000056789"},
        {5.6789e-12, "5.6789E-12"},
        {5.6789e-16, "5.6789E-16"},
        {1e-4, "0.0001"},
        {1e-5, "0.00001"},
        {1e-14, "0.00000000000001"},
        {1.5e-14, "0.000000000000015"},
        {1e-15, "1E-15"},
        {1.25e-14, "1.25E-14"},
        {1e8, "100000000"},
        {1e14, "100000000000000"},
        {999999999999999, "999999999999999"},
        {1e15, "1E+15"},
        {1.2e15, "1.2E+15"},
        {1e16, "1E+16"},
        {1.234e16, "1.234E+16"},
        {1e20, "1E+20"},
        {-1e20, "-1E+20"},
        {1e100, "1E+100"},
        {1e-100, "1E-100"},
        {3.14159265358979323846, "3.14159265358979"},
        {3.14159265359, "3.14159265359"},
        {1234.567890123456789, "1234.56789012346"},
        {0.1 + 0.2, "0.3"},
        {9.9999999999999995, "10"},
        {-0.0, "0"},
        {0.0, "0"},
        {DBL_MAX, "1.79769313486232E+308"},
        {4.9406564584124654e-324, "4.94065645841247E-324"},
        // An exact tie at the 16th digit rounds away from zero, as the
        // runtime's formatting does for floats (see the R4 table).
        {100000000000000.5, "100000000000001"},
        {kInf, "1.#INF"},
        {-kInf, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), "1.#QNAN"},
        {-std::numeric_limits<double>::quiet_NaN(), "-1.#IND"},
    };
    for (const RealTextRow& row : rows) {
        SCOPED_TRACE(row.text);
        BSTR out = nullptr;
        ASSERT_EQ(VarBstrFromR8(row.value, LOCALE_EN_US, 0, &out), S_OK);
        EXPECT_EQ(Narrow(out), row.text);
        SysFreeString(out);
    }
    // 0/0 has the sign bit set on x86 and prints as the "indefinite" NaN.
    volatile double zero = 0.0;
    BSTR out = nullptr;
    ASSERT_EQ(VarBstrFromR8(zero / zero, LOCALE_EN_US, 0, &out), S_OK);
    const std::string nan = Narrow(out);
    EXPECT_TRUE(nan == "-1.#IND" || nan == "1.#QNAN") << nan;
    SysFreeString(out);
}

struct FloatTextRow {
    float value;
    const char* text;
};

TEST(NumberText, BstrFromR4) {
    const FloatTextRow rows[] = {
        {654322.23456f, "654322.3"},
        {3.14159265f, "3.141593"},
        {1e8f, "1E+08"},
        {0.000005f, "0.000005"},
        {0.5f, "0.5"},
        {1234567.0f, "1234567"},
        {12345678.0f, "1.234568E+07"},
        {0.1f, "0.1"},
        {-2.5f, "-2.5"},
        {1e-6f, "0.000001"},
        {1.5e-6f, "0.0000015"},
        {1.25e-6f, "1.25E-06"},
        {-0.0f, "0"},
        {FLT_MAX, "3.402823E+38"},
        {std::numeric_limits<float>::infinity(), "1.#INF"},
        {-std::numeric_limits<float>::infinity(), "-1.#INF"},
        {std::numeric_limits<float>::quiet_NaN(), "1.#QNAN"},
    };
    for (const FloatTextRow& row : rows) {
        SCOPED_TRACE(row.text);
        BSTR out = nullptr;
        ASSERT_EQ(VarBstrFromR4(row.value, LOCALE_EN_US, 0, &out), S_OK);
        EXPECT_EQ(Narrow(out), row.text);
        SysFreeString(out);
    }
}

// Every text the formatter writes reads back as the value rounded to the
// printed digits.
TEST(NumberText, PrintedDoublesReadBack) {
    const double values[] = {0.1, 1.0 / 3.0, 2.0 / 3.0e-9, 123456.789e10, -7.5e-7, 1e300, 6.02214076e23};
    for (double v : values) {
        BSTR text = nullptr;
        ASSERT_EQ(VarBstrFromR8(v, LOCALE_EN_US, 0, &text), S_OK);
        double back = 0.0;
        ASSERT_EQ(VarR8FromStr(text, LOCALE_EN_US, 0, &back), S_OK) << Narrow(text);
        EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << Narrow(text);
        SysFreeString(text);
    }
}

}  // namespace
