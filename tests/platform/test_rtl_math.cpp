// The runtime library's math and text routines.
#include "PlatformSupport.h"

#include <calquor/rtl.h>

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace calquor::rtl {
namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RoundCase {
    double value;
    int digit;
    double expected;
};

TEST(RtlMath, SimpleRoundTo) {
    const std::vector<RoundCase> rows = {
        {1234567, 3, 1235000},
        {1.234, -2, 1.23},
        {1.235, -2, 1.24},     // the binary value lies just below 1.235
        {-1.235, -2, -1.24},   // halves away from zero on both sides
        {1.005, -2, 1.01},
        {3.14159, -2, 3.14},
        {1234, 2, 1200},
        {1250, 2, 1300},
        {2.5, 0, 3},
        {-2.5, 0, -3},
        {-2.4, 0, -2},
        {-2.6, 0, -3},
        {0.4, 0, 0},
        {0.5, 0, 1},
        {999.5, 0, 1000},     // the carry adds a digit
        {9.995, -2, 10},
        {12345, 5, 0},
        {50000, 5, 100000},
        {0.0001, 2, 0},
        {1e300, -2, 1e300},   // already a multiple
        {123.456, 0, 123},
        {0.1 + 0.2, -15, 0.3},
        {6e36, 100, 1e37},    // digit clamped to 37
        {1.23456789e-30, -128, 1.2345679e-30},  // digit clamped to -37
        {0, -2, 0},
    };
    for (const auto& row : rows) {
        const double got = SimpleRoundTo(row.value, static_cast<signed char>(row.digit));
        EXPECT_EQ(got, row.expected) << row.value << " to " << row.digit;
    }
    EXPECT_FALSE(std::signbit(SimpleRoundTo(-0.4, 0)));  // zero results are +0
    EXPECT_TRUE(std::isnan(SimpleRoundTo(kNaN, -2)));
    EXPECT_EQ(SimpleRoundTo(-kInf, 3), -kInf);
}

TEST(RtlMath, FloorSaturates) {
    const std::vector<std::pair<double, LONG>> rows = {
        {-2.8, -3}, {2.8, 2}, {-1.0, -1}, {0.0, 0}, {-0.5, -1},
        {2147483647.0, INT_MAX}, {2147483647.9, INT_MAX}, {2147483648.0, INT_MAX}, {1e10, INT_MAX},
        {1e300, INT_MAX}, {kInf, INT_MAX},
        {-2147483648.0, INT_MIN}, {-2147483647.5, INT_MIN}, {-2147483648.5, INT_MIN}, {-1e10, INT_MIN},
        {-kInf, INT_MIN}, {kNaN, 0},
    };
    for (const auto& [x, expected] : rows) EXPECT_EQ(Floor(x), expected) << x;
}

TEST(RtlMath, IsZeroIsInclusive) {
    EXPECT_TRUE(IsZero(1e-7, 1e-7));
    EXPECT_TRUE(IsZero(-1e-7, 1e-7));
    EXPECT_FALSE(IsZero(1.1e-7, 1e-7));
    EXPECT_TRUE(IsZero(1e-12, 0));  // the default epsilon
    EXPECT_TRUE(IsZero(-1e-13, 0));
    EXPECT_FALSE(IsZero(1.1e-12, 0));
    EXPECT_FALSE(IsZero(kNaN, 1));
}

TEST(RtlMath, Power) {
    const std::vector<std::pair<std::pair<double, double>, double>> rows = {
        {{2, 10}, 1024},
        {{-8, 3}, -512},
        {{2, -2}, 0.25},
        {{-2, -3}, -0.125},
        {{0, 0}, 1},
        {{kNaN, 0}, 1},
        {{0, 2}, 0},
        {{0, 0.5}, 0},
        {{0, -1}, kInf},
        {{9, 0.5}, 3},
        {{10, 400}, kInf},
        {{1.5, 2147483647.0}, kInf},
    };
    for (const auto& [args, expected] : rows)
        EXPECT_EQ(Power(args.first, args.second), expected) << args.first << " ^ " << args.second;
    // Fractional exponents, and integral ones beyond MaxInt, go through the
    // logarithm: a negative base is an invalid operation (NaN, no exception).
    EXPECT_TRUE(std::isnan(Power(-8, 1.0 / 3.0)));
    EXPECT_TRUE(std::isnan(Power(-2, 4294967296.0)));
    EXPECT_TRUE(std::isnan(Power(2, kNaN)));
    EXPECT_DOUBLE_EQ(Power(2, 0.5), std::sqrt(2.0));
}

TEST(RtlMath, Logarithms) {
    EXPECT_EQ(Log2(8), 3);
    EXPECT_EQ(Log10(1000), 3);
    EXPECT_DOUBLE_EQ(LogN(2, 8), 3);   // base first
    EXPECT_DOUBLE_EQ(LogN(10, 100), 2);
    EXPECT_DOUBLE_EQ(LogN(8, 2), 1.0 / 3.0);
    EXPECT_EQ(Log10(0), -kInf);
    EXPECT_TRUE(std::isnan(Log2(-1)));
    EXPECT_EQ(LogN(1, 5), kInf);       // division by ln(1) = 0
    EXPECT_EQ(Tan(0), 0);
    EXPECT_NEAR(Tan(std::atan(1.0)), 1.0, 1e-15);
}

// ---- Text ---------------------------------------------------------------------------

TEST(RtlText, CaseMappingBeyondAscii) {
    if (!test::HaveUtf8CaseTables()) GTEST_SKIP() << "no UTF-8 locale on this system";
    const std::vector<std::pair<std::string, std::string>> upper = {
        {"abc xyz", "ABC XYZ"},
        {"caf\xc3\xa9", "CAF\xc3\x89"},                                // é -> É
        {"\xc3\xa0\xc3\xa9\xc3\xae", "\xc3\x80\xc3\x89\xc3\x8e"},      // àéî
        {"stra\xc3\x9f" "e", "STRA\xc3\x9f" "E"},                       // ß has no single capital
        {"\xce\xb1\xce\xb2\xce\xb3", "\xce\x91\xce\x92\xce\x93"},      // αβγ
        {"\xd0\xbf\xd1\x80\xd0\xb8", "\xd0\x9f\xd0\xa0\xd0\x98"},      // при
        {"1 + 2 = 3", "1 + 2 = 3"},
        {"", ""},
    };
    for (const auto& [lower, up] : upper) {
        EXPECT_EQ(AnsiUpperCase(lower), up) << lower;
        EXPECT_EQ(AnsiLowerCase(up), lower) << up;
    }
}

TEST(RtlText, CaseMappingKeepsMalformedBytes) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\xff" "a", "\xff" "A"},               // not a lead byte
        {"a\xc3", "A\xc3"},                     // truncated sequence
        {"\xc0\xaf" "b", "\xc0\xaf" "B"},       // overlong form
        {"\xed\xa0\x80" "c", "\xed\xa0\x80" "C"},  // encoded surrogate
        {std::string("a\0b", 3), std::string("A\0B", 3)},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(AnsiUpperCase(in), out);
}

TEST(RtlText, CaseMappingLeavesGlobalLocaleAlone) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    AnsiUpperCase("\xc3\xa9");
    AnsiLowerCase("\xc3\x89");
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

TEST(RtlText, TrimControlsAndSpaces) {
    struct Row {
        std::string in, both, left, right;
    };
    const std::vector<Row> rows = {
        {"  a b \t\n", "a b", "a b \t\n", "  a b"},
        {std::string("\0\x01\x1f x\x20", 6), "x", "x ", std::string("\0\x01\x1f x", 5)},
        {" \r\n ", "", "", ""},
        {"", "", "", ""},
        {"\x7f" "a" "\x7f", "\x7f" "a" "\x7f", "\x7f" "a" "\x7f", "\x7f" "a" "\x7f"},  // DEL is kept
        {" \xc3\xa9 ", "\xc3\xa9", "\xc3\xa9 ", " \xc3\xa9"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Trim(row.in), row.both);
        EXPECT_EQ(TrimLeft(row.in), row.left);
        EXPECT_EQ(TrimRight(row.in), row.right);
    }
}

}  // namespace
}  // namespace calquor::rtl
