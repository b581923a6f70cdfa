// Dates to and from en-US text.
#include "PlatformSupport.h"

#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace calquor {
namespace {

using test::OleString;

std::string Narrow(const OleString& s) {
    std::string out;
    for (OLECHAR c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// ---- Date to text -----------------------------------------------------------------

struct FormatRow {
    double date;
    OleString text;
};
// Prints the date only (GoogleTest would otherwise dump padding bytes).
void PrintTo(const FormatRow& row, std::ostream* os) { *os << row.date; }

class DateToText : public testing::TestWithParam<FormatRow> {};

TEST_P(DateToText, FormatsShortDateAndLongTime) {
    const FormatRow& r = GetParam();
    BSTR out = nullptr;
    ASSERT_EQ(VarBstrFromDate(r.date, LOCALE_EN_US, 0, &out), S_OK) << r.date;
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Narrow(OleString(out, SysStringLen(out))), Narrow(r.text)) << r.date;
    SysFreeString(out);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateToText,
    testing::Values(
        // Day 0 prints as a time only, midnight included.
        FormatRow{0.0, OLESTR("12:00:00 AM")}, FormatRow{0.25, OLESTR("6:00:00 AM")},
        FormatRow{0.5, OLESTR("12:00:00 PM")}, FormatRow{0.75, OLESTR("6:00:00 PM")},
        FormatRow{-0.25, OLESTR("6:00:00 AM")},
        // Whole days print as a date only.
        FormatRow{1.0, OLESTR("12/31/1899")}, FormatRow{-1.0, OLESTR("12/29/1899")},
        FormatRow{365.0, OLESTR("12/30/1900")}, FormatRow{-657434.0, OLESTR("1/1/100")},
        FormatRow{2958465.0, OLESTR("12/31/9999")}, FormatRow{25570.0, OLESTR("1/2/1970")},
        FormatRow{38000.0, OLESTR("1/14/2004")}, FormatRow{1.0 + 1e-13, OLESTR("12/31/1899")},
        // Both.
        FormatRow{3.34, OLESTR("1/2/1900 8:09:36 AM")}, FormatRow{365.25, OLESTR("12/30/1900 6:00:00 AM")},
        FormatRow{1461.5, OLESTR("12/31/1903 12:00:00 PM")}, FormatRow{-49192.24, OLESTR("4/24/1765 5:45:36 AM")},
        FormatRow{38000.75, OLESTR("1/14/2004 6:00:00 PM")}, FormatRow{-1.25, OLESTR("12/29/1899 6:00:00 AM")},
        FormatRow{29221.7508765432, OLESTR("1/1/1980 6:01:16 PM")},
        FormatRow{1.0 + 1e-9, OLESTR("12/31/1899 12:00:00 AM")},
        FormatRow{2958465.99998, OLESTR("12/31/9999 11:59:58 PM")},
        FormatRow{38000.5 + 1.0 / 86400, OLESTR("1/14/2004 12:00:01 PM")},
        FormatRow{-657434.5, OLESTR("1/1/100 12:00:00 PM")}));

TEST(DateToText, RefusesDatesOutsideTheRange) {
    const struct {
        double date;
        test::Expect<OleString> text;  // empty: refused
    } rows[] = {
        {-657435.0, OleString()},
        {2958466.0, OleString()},
        {std::numeric_limits<double>::infinity(), OleString()},
        // Rounds into the year 10000, which Wine prints.
        {2958465.999999999, {OleString(), OLESTR("1/1/10000 12:00:00 AM")}},
        // Wine tests the range with comparisons a NaN passes.
        {std::numeric_limits<double>::quiet_NaN(), {OleString(), OLESTR("12/30/1899 12:00:00 AM")}},
    };
    for (const auto& row : rows) {
        BSTR out = nullptr;
        const OleString& text = row.text.Get();
        EXPECT_EQ(VarBstrFromDate(row.date, LOCALE_EN_US, 0, &out), text.empty() ? E_INVALIDARG : S_OK) << row.date;
        if (text.empty()) {
            EXPECT_EQ(out, nullptr);
        } else {
            EXPECT_EQ(Narrow(OleString(out, SysStringLen(out))), Narrow(text));
        }
        SysFreeString(out);
    }
}

TEST(DateToText, RefusesNullPointers) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    EXPECT_EQ(VarBstrFromDate(0.0, LOCALE_EN_US, 0, nullptr), E_INVALIDARG);
}

// ---- Text to date -----------------------------------------------------------------

struct ParseRow {
    OleString text;
    double date;
};
void PrintTo(const ParseRow& row, std::ostream* os) { *os << row.date; }

// VarDateFromStr on text followed by NULs: after a one-letter "a" or "p"
// Wine's parser reads a few characters past the end of the text, so without
// them its result would depend on whatever follows in memory.
HRESULT DateFromText(const OleString& text, DATE* out) {
    const OleString padded = text + OleString(16, OLECHAR('\0'));
    return VarDateFromStr(padded.c_str(), LOCALE_EN_US, 0, out);
}

class TextToDate : public testing::TestWithParam<ParseRow> {};

TEST_P(TextToDate, Parses) {
    const ParseRow& r = GetParam();
    DATE out = -1.0;
    ASSERT_EQ(DateFromText(r.text, &out), S_OK) << Narrow(r.text);
    EXPECT_DOUBLE_EQ(out, r.date) << Narrow(r.text);
}

constexpr double kHour = 1.0 / 24, kMinute = 1.0 / 1440, kSecond = 1.0 / 86400;

INSTANTIATE_TEST_SUITE_P(
    Dates, TextToDate,
    testing::Values(
        // Numeric dates in every order.
        ParseRow{OLESTR("1/14/2004"), 38000}, ParseRow{OLESTR("1-14-2004"), 38000},
        ParseRow{OLESTR("2004-01-14"), 38000}, ParseRow{OLESTR("14/1/2004"), 38000}, ParseRow{OLESTR("1/14/04"), 38000},
        ParseRow{OLESTR("1 2 1970"), 25570}, ParseRow{OLESTR("13-1-1970"), 25581}, ParseRow{OLESTR("1970-1-13"), 25581},
        ParseRow{OLESTR("1 2 3"), 37623}, ParseRow{OLESTR("14 2 3"), 41673}, ParseRow{OLESTR("2 14 3"), 37666},
        ParseRow{OLESTR("2 3 14"), 41673}, ParseRow{OLESTR("1 1 100"), -657434},
        ParseRow{OLESTR("12/31/9999"), 2958465}, ParseRow{OLESTR("2/29/2004"), 38046},
        // Two-digit years: 00-49 are 20xx, 50-99 19xx.
        ParseRow{OLESTR("1/1/30"), 47484}, ParseRow{OLESTR("1 2 29"), 47120}, ParseRow{OLESTR("1 2 30"), 47485},
        ParseRow{OLESTR("1 2 31"), 47850}, ParseRow{OLESTR("1 2 49"), 54425}, ParseRow{OLESTR("1 2 50"), 18265},
        ParseRow{OLESTR("32 2 3"), 48247},
        // Month names, weekdays, commas.
        ParseRow{OLESTR("January 14, 2004"), 38000}, ParseRow{OLESTR("14 Jan 2004"), 38000},
        ParseRow{OLESTR("Jan 14 2004"), 38000}, ParseRow{OLESTR("14-Jan-2004"), 38000},
        ParseRow{OLESTR("14/Jan/2004"), 38000}, ParseRow{OLESTR("JANUARY 14 2004"), 38000},
        ParseRow{OLESTR("2 January, 1970"), 25570}, ParseRow{OLESTR("2/Jan/1970"), 25570},
        ParseRow{OLESTR("2-jan-1970"), 25570}, ParseRow{OLESTR("Wednesday, January 14, 2004"), 38000},
        ParseRow{OLESTR("wed 1/14/2004"), 38000},
        // Two numbers that cannot be a day: month and year.
        ParseRow{OLESTR("Jan 2004"), 37987}, ParseRow{OLESTR("Jan 35"), 49310}, ParseRow{OLESTR("35 Jan"), 49310},
        ParseRow{OLESTR("Jan-35"), 49310}, ParseRow{OLESTR("35/Jan"), 49310}, ParseRow{OLESTR("30 2"), 47515},
        ParseRow{OLESTR("2 30"), 47515},
        // Times.
        ParseRow{OLESTR("6:00:00 AM"), 0.25}, ParseRow{OLESTR("18:00"), 0.75}, ParseRow{OLESTR("6 pm"), 0.75},
        ParseRow{OLESTR("12:00 AM"), 0.0}, ParseRow{OLESTR("1 am"), kHour},
        ParseRow{OLESTR("2.5"), 2 * kHour + 5 * kMinute}, ParseRow{OLESTR("0.1"), kMinute},
        ParseRow{OLESTR("0.40"), 40 * kMinute}, ParseRow{OLESTR("0:20"), 20 * kMinute},
        ParseRow{OLESTR("3:5"), 3 * kHour + 5 * kMinute}, ParseRow{OLESTR("0.1.0"), kMinute},
        ParseRow{OLESTR("1.5.2"), kHour + 5 * kMinute + 2 * kSecond}, ParseRow{OLESTR("00:00 AM"), 0.0},
        ParseRow{OLESTR("00:00 a"), 0.0}, ParseRow{OLESTR("12:59 AM"), 59 * kMinute},
        ParseRow{OLESTR("12:59 A"), 59 * kMinute}, ParseRow{OLESTR("00:00 pm"), 0.5}, ParseRow{OLESTR("00:00 p"), 0.5},
        ParseRow{OLESTR("12:59 pm"), 0.5 + 59 * kMinute}, ParseRow{OLESTR("6p"), 0.75},
        ParseRow{OLESTR("13:00 AM"), 13 * kHour}, ParseRow{OLESTR("13:00 PM"), 13 * kHour},
        ParseRow{OLESTR("23:59:59"), 86399 * kSecond},
        // Date and time together, in either order.
        ParseRow{OLESTR("1/14/2004 6:00 PM"), 38000.75}, ParseRow{OLESTR("1/14/2004 18:00:00"), 38000.75},
        ParseRow{OLESTR("6:00 PM 1/14/2004"), 38000.75}, ParseRow{OLESTR("January 14, 2004 6 pm"), 38000.75},
        ParseRow{OLESTR("6 pm Jan 14 2004"), 38000.75}, ParseRow{OLESTR("6/30/2011 01:20:34"), 40724.05594907407},
        ParseRow{OLESTR("6/30/2011 01:20:34 AM"), 40724.05594907407},
        ParseRow{OLESTR("6/30/2011 01:20:34 PM"), 40724.55594907407},
        ParseRow{OLESTR("2013-05-14 02:04:12"), 41408.08625000001},
        ParseRow{OLESTR("6/30/2011\u30001:20:34"), 40724.05594907407},
        ParseRow{OLESTR("1.2 3 4 5"), 38415 + kHour + 2 * kMinute},
        ParseRow{OLESTR("1 2 3 4.5"), 37623 + 4 * kHour + 5 * kMinute},
        ParseRow{OLESTR("1.2.3 4 5 6"), 38812 + kHour + 2 * kMinute + 3 * kSecond},
        ParseRow{OLESTR("1 2 3 4.5.6"), 37623 + 4 * kHour + 5 * kMinute + 6 * kSecond},
        ParseRow{OLESTR("12/31/9999 23:59:59"), 2958465 + 86399 * kSecond},
        ParseRow{OLESTR("12/25/1899 6:00"), -5.25}));

TEST(TextToDate, ExactLastBits) {
    DATE out = 0;
    ASSERT_EQ(VarDateFromStr(OLESTR("2013-05-14 02:04:12"), LOCALE_EN_US, 0, &out), S_OK);
    EXPECT_EQ(out, 41408.08625000001);
}

// Dates given as month and day take the current year.
TEST(TextToDate, MonthAndDayTakeTheCurrentYear) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const struct {
        OleString text;
        int month, day;
        double time;
    } rows[] = {{OLESTR("1/2"), 1, 2, 0},
                {OLESTR("1 2"), 1, 2, 0},
                {OLESTR("2 1"), 2, 1, 0},
                {OLESTR("14 1"), 1, 14, 0},
                {OLESTR("1 14"), 1, 14, 0},
                {OLESTR("Jan 2"), 1, 2, 0},
                {OLESTR("2 Jan"), 1, 2, 0},
                {OLESTR("3 am 1 2"), 1, 2, 3 * kHour},
                {OLESTR("1 2 3 am"), 1, 2, 3 * kHour},
                {OLESTR("1.2 3 4"), 3, 4, kHour + 2 * kMinute},
                {OLESTR("3 4 1.2"), 3, 4, kHour + 2 * kMinute},
                {OLESTR("1.2.3 4 5"), 4, 5, kHour + 2 * kMinute + 3 * kSecond}};
    for (const auto& r : rows) {
        SYSTEMTIME st{};
        st.wYear = now.wYear;
        st.wMonth = static_cast<WORD>(r.month);
        st.wDay = static_cast<WORD>(r.day);
        double expected = 0;
        ASSERT_EQ(SystemTimeToVariantTime(&st, &expected), TRUE);
        DATE out = -1;
        ASSERT_EQ(DateFromText(r.text, &out), S_OK) << Narrow(r.text);
        EXPECT_DOUBLE_EQ(out, expected + r.time) << Narrow(r.text);
    }
}

// A text that is no date; Wine's parser accepts some of them (see the rows).
struct NotADate {
    NotADate(const OLECHAR* t, bool wineAccepts = false) : text(t), wineAccepts(wineAccepts) {}  // NOLINT
    OleString text;
    bool wineAccepts;
};
void PrintTo(const NotADate& row, std::ostream* os) { *os << Narrow(row.text); }
NotADate WineAccepts(const OLECHAR* text) { return NotADate(text, true); }

class TextNotADate : public testing::TestWithParam<NotADate> {};

TEST_P(TextNotADate, IsATypeMismatch) {
    const NotADate& r = GetParam();
    DATE out = -7.0;
    if (r.wineAccepts && test::OnWine()) {
        EXPECT_EQ(DateFromText(r.text, &out), S_OK) << Narrow(r.text);
        return;
    }
    EXPECT_EQ(DateFromText(r.text, &out), DISP_E_TYPEMISMATCH) << Narrow(r.text);
    // Wine clears the output first (Windows undocumented).
    EXPECT_EQ(out, (test::Expect<double>{-7.0, 0.0}.Get())) << "left untouched";
}

INSTANTIATE_TEST_SUITE_P(
    Dates, TextNotADate,
    testing::Values(
        // Numbers and words are not dates. Wine still reads "0.0" as midnight,
        // as very old Windows did (conformance tests run on Windows).
        OLESTR("38000"), OLESTR("0"), OLESTR("1"), WineAccepts(OLESTR("0.0")), WineAccepts(OLESTR("00.00")),
        OLESTR("True"), OLESTR("False"), OLESTR(""), OLESTR(" "), OLESTR("abc"), OLESTR("1.2.3.4"),
        // No order makes a valid day.
        OLESTR("2/30/2004"), OLESTR("2/29/2005"), OLESTR("Feb 29 2005"), OLESTR("32 49"), OLESTR("0 49"),
        OLESTR("2 32 3"), OLESTR("1/1/10000"),
        // Fractional seconds, out-of-range times.
        OLESTR("2013-05-14 02:04:12.017000000"), OLESTR("0.60"), OLESTR("24.00"), OLESTR("0:60"), OLESTR("24:00"),
        OLESTR("1:2:60"), OLESTR("25 pm"),
        // Misplaced or stray separators and characters. Wine skips doubled
        // separators, reads a month name as a number, and takes AM/PM after a
        // date or a month name; none of these forms is documented for Windows,
        // and they are refused here as the en-US forms do not contain them.
        OLESTR("0."), OLESTR(".0"), OLESTR("-1.1"), OLESTR("1.1-"), OLESTR("1;2;3"), OLESTR("1*2*3"), OLESTR("1@2@3"),
        OLESTR("1#2#3"), OLESTR("(1:2)"), OLESTR("<1:2>"), OLESTR("1|2|3"), WineAccepts(OLESTR("1::2")),
        WineAccepts(OLESTR("1//2")), OLESTR("/1/2"), OLESTR("1/2/"), WineAccepts(OLESTR("Jan:5")),
        WineAccepts(OLESTR("1/2-6:00")), WineAccepts(OLESTR("1/2/3 am")), WineAccepts(OLESTR("6 pm:30")),
        OLESTR("2004-01-14T10:00"), OLESTR("1/2/3/4"),
        // AM/PM in the wrong place.
        OLESTR("1 2 am"), OLESTR("1 am 2"), OLESTR("am 6"), OLESTR("6 am pm"), WineAccepts(OLESTR("Jan am")),
        OLESTR("1 2 am 3"), OLESTR("1.2 3 am 4"), OLESTR("1.2 3 4 am"), OLESTR("1 am 2 3.4"), OLESTR("1 2 am 3.4"),
        OLESTR("1.2.3 4 am 5"), OLESTR("1.2.3 4 5 am"), OLESTR("1 2 am 3 4.5.6"), OLESTR("1 2 3 am 4.5.6"),
        // Number layouts that are neither date nor time.
        OLESTR("1.5 2"), OLESTR("1 5.2"), OLESTR("1 2.3 4"), OLESTR("1.2.3 4"), OLESTR("1 2.3.4"), OLESTR("1.2 3.4"),
        OLESTR("1 2 3 4"), OLESTR("1 2 3 4 5"), OLESTR("1.2.3.4.5"), OLESTR("1.2 3 4.5"), OLESTR("1 2 3.4 5"),
        OLESTR("1 2 3 4 5 6"), OLESTR("1.2.3.4.5.6"), OLESTR("1 2 3 4 5 6 7"), OLESTR("1.2 3 4 5 6"),
        OLESTR("02.01.1970"), OLESTR("02.01.1970 00:00:00"),
        // Unknown words, partial names, other scripts.
        OLESTR("Janu 5 2004"), OLESTR("Sept 5 2004"), WineAccepts(OLESTR("Januaryfebruary 5")), OLESTR("5 Jan 2004 x"),
        OLESTR("\u0661/\u0662/\u0662\u0660\u0660\u0664"), OLESTR("1/14/2004\u00e9"),
        OLESTR("99999999999999999999/1/1")));

TEST(TextToDate, RefusesNullText) {
    DATE out = 0;
    EXPECT_EQ(VarDateFromStr(static_cast<const OLECHAR*>(nullptr), LOCALE_EN_US, 0, &out), DISP_E_TYPEMISMATCH);
}

TEST(TextToDate, RefusesNullOutput) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    EXPECT_EQ(VarDateFromStr(OLESTR("1/14/2004"), LOCALE_EN_US, 0, nullptr), E_INVALIDARG);
}

// Text written by VarBstrFromDate reads back as the same second.
TEST(TextToDate, ReadsBackFormattedDates) {
    for (double d = -657434.0; d < 2958465.0; d += 1234.56789) {
        BSTR text = nullptr;
        ASSERT_EQ(VarBstrFromDate(d, LOCALE_EN_US, 0, &text), S_OK) << d;
        DATE back = 0;
        ASSERT_EQ(VarDateFromStr(text, LOCALE_EN_US, 0, &back), S_OK) << Narrow(OleString(text));
        SYSTEMTIME a{}, b{};
        ASSERT_EQ(VariantTimeToSystemTime(d, &a), TRUE);
        ASSERT_EQ(VariantTimeToSystemTime(back, &b), TRUE);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << Narrow(OleString(text));
        SysFreeString(text);
    }
}

}  // namespace
}  // namespace calquor
