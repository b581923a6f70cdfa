// Dates to and from en-US text.
#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace calquor {
namespace {

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// ---- Date to text -----------------------------------------------------------------

struct FormatRow {
    double date;
    std::u16string text;
};
// Prints the date only (GoogleTest would otherwise dump padding bytes).
void PrintTo(const FormatRow& row, std::ostream* os) { *os << row.date; }

class DateToText : public testing::TestWithParam<FormatRow> {};

TEST_P(DateToText, FormatsShortDateAndLongTime) {
    const FormatRow& r = GetParam();
    BSTR out = nullptr;
    ASSERT_EQ(VarBstrFromDate(r.date, LOCALE_EN_US, 0, &out), S_OK) << r.date;
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Narrow(std::u16string(out, SysStringLen(out))), Narrow(r.text)) << r.date;
    SysFreeString(out);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateToText,
    testing::Values(
        // Day 0 prints as a time only, midnight included.
        FormatRow{0.0, u"12:00:00 AM"}, FormatRow{0.25, u"6:00:00 AM"}, FormatRow{0.5, u"12:00:00 PM"},
        FormatRow{0.75, u"6:00:00 PM"}, FormatRow{-0.25, u"6:00:00 AM"},
        // Whole days print as a date only.
        FormatRow{1.0, u"12/31/1899"}, FormatRow{-1.0, u"12/29/1899"}, FormatRow{365.0, u"12/30/1900"},
        FormatRow{-657434.0, u"1/1/100"}, FormatRow{2958465.0, u"12/31/9999"}, FormatRow{25570.0, u"1/2/1970"},
        FormatRow{38000.0, u"1/14/2004"}, FormatRow{1.0 + 1e-13, u"12/31/1899"},
        // Both.
        FormatRow{3.34, u"1/2/1900 8:09:36 AM"}, FormatRow{365.25, u"12/30/1900 6:00:00 AM"},
        FormatRow{1461.5, u"12/31/1903 12:00:00 PM"}, FormatRow{-49192.24, u"4/24/1765 5:45:36 AM"},
        FormatRow{38000.75, u"1/14/2004 6:00:00 PM"}, FormatRow{-1.25, u"12/29/1899 6:00:00 AM"},
        FormatRow{29221.7508765432, u"1/1/1980 6:01:16 PM"}, FormatRow{1.0 + 1e-9, u"12/31/1899 12:00:00 AM"},
        FormatRow{2958465.99998, u"12/31/9999 11:59:58 PM"}, FormatRow{38000.5 + 1.0 / 86400, u"1/14/2004 12:00:01 PM"},
        FormatRow{-657434.5, u"1/1/100 12:00:00 PM"}));

TEST(DateToText, RefusesDatesOutsideTheRange) {
    const double bad[] = {-657435.0, 2958466.0, 2958465.999999999, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()};
    for (double d : bad) {
        BSTR out = nullptr;
        EXPECT_EQ(VarBstrFromDate(d, LOCALE_EN_US, 0, &out), E_INVALIDARG) << d;
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(VarBstrFromDate(0.0, LOCALE_EN_US, 0, nullptr), E_INVALIDARG);
}

// ---- Text to date -----------------------------------------------------------------

struct ParseRow {
    std::u16string text;
    double date;
};
void PrintTo(const ParseRow& row, std::ostream* os) { *os << row.date; }

class TextToDate : public testing::TestWithParam<ParseRow> {};

TEST_P(TextToDate, Parses) {
    const ParseRow& r = GetParam();
    DATE out = -1.0;
    ASSERT_EQ(VarDateFromStr(r.text.c_str(), LOCALE_EN_US, 0, &out), S_OK) << Narrow(r.text);
    EXPECT_DOUBLE_EQ(out, r.date) << Narrow(r.text);
}

constexpr double kHour = 1.0 / 24, kMinute = 1.0 / 1440, kSecond = 1.0 / 86400;

INSTANTIATE_TEST_SUITE_P(
    Dates, TextToDate,
    testing::Values(
        // Numeric dates in every order.
        ParseRow{u"1/14/2004", 38000}, ParseRow{u"1-14-2004", 38000}, ParseRow{u"2004-01-14", 38000},
        ParseRow{u"14/1/2004", 38000}, ParseRow{u"1/14/04", 38000}, ParseRow{u"1 2 1970", 25570},
        ParseRow{u"13-1-1970", 25581}, ParseRow{u"1970-1-13", 25581}, ParseRow{u"1 2 3", 37623},
        ParseRow{u"14 2 3", 41673}, ParseRow{u"2 14 3", 37666}, ParseRow{u"2 3 14", 41673},
        ParseRow{u"1 1 100", -657434}, ParseRow{u"12/31/9999", 2958465}, ParseRow{u"2/29/2004", 38046},
        // Two-digit years: 00-49 are 20xx, 50-99 19xx.
        ParseRow{u"1/1/30", 47484}, ParseRow{u"1 2 29", 47120}, ParseRow{u"1 2 30", 47485},
        ParseRow{u"1 2 31", 47850}, ParseRow{u"1 2 49", 54425}, ParseRow{u"1 2 50", 18265},
        ParseRow{u"32 2 3", 48247},
        // Month names, weekdays, commas.
        ParseRow{u"January 14, 2004", 38000}, ParseRow{u"14 Jan 2004", 38000}, ParseRow{u"Jan 14 2004", 38000},
        ParseRow{u"14-Jan-2004", 38000}, ParseRow{u"14/Jan/2004", 38000}, ParseRow{u"JANUARY 14 2004", 38000},
        ParseRow{u"2 January, 1970", 25570}, ParseRow{u"2/Jan/1970", 25570}, ParseRow{u"2-jan-1970", 25570},
        ParseRow{u"Wednesday, January 14, 2004", 38000}, ParseRow{u"wed 1/14/2004", 38000},
        // Two numbers that cannot be a day: month and year.
        ParseRow{u"Jan 2004", 37987}, ParseRow{u"Jan 35", 49310}, ParseRow{u"35 Jan", 49310},
        ParseRow{u"Jan-35", 49310}, ParseRow{u"35/Jan", 49310}, ParseRow{u"30 2", 47515}, ParseRow{u"2 30", 47515},
        // Times.
        ParseRow{u"6:00:00 AM", 0.25}, ParseRow{u"18:00", 0.75}, ParseRow{u"6 pm", 0.75}, ParseRow{u"12:00 AM", 0.0},
        ParseRow{u"1 am", kHour}, ParseRow{u"2.5", 2 * kHour + 5 * kMinute}, ParseRow{u"0.1", kMinute},
        ParseRow{u"0.40", 40 * kMinute}, ParseRow{u"0:20", 20 * kMinute}, ParseRow{u"3:5", 3 * kHour + 5 * kMinute},
        ParseRow{u"0.1.0", kMinute}, ParseRow{u"1.5.2", kHour + 5 * kMinute + 2 * kSecond},
        ParseRow{u"00:00 AM", 0.0}, ParseRow{u"00:00 a", 0.0}, ParseRow{u"12:59 AM", 59 * kMinute},
        ParseRow{u"12:59 A", 59 * kMinute}, ParseRow{u"00:00 pm", 0.5}, ParseRow{u"00:00 p", 0.5},
        ParseRow{u"12:59 pm", 0.5 + 59 * kMinute}, ParseRow{u"6p", 0.75}, ParseRow{u"13:00 AM", 13 * kHour},
        ParseRow{u"13:00 PM", 13 * kHour}, ParseRow{u"23:59:59", 86399 * kSecond},
        // Date and time together, in either order.
        ParseRow{u"1/14/2004 6:00 PM", 38000.75}, ParseRow{u"1/14/2004 18:00:00", 38000.75},
        ParseRow{u"6:00 PM 1/14/2004", 38000.75}, ParseRow{u"January 14, 2004 6 pm", 38000.75},
        ParseRow{u"6 pm Jan 14 2004", 38000.75}, ParseRow{u"6/30/2011 01:20:34", 40724.05594907407},
        ParseRow{u"6/30/2011 01:20:34 AM", 40724.05594907407}, ParseRow{u"6/30/2011 01:20:34 PM", 40724.55594907407},
        ParseRow{u"2013-05-14 02:04:12", 41408.08625000001}, ParseRow{u"6/30/2011\u30001:20:34", 40724.05594907407},
        ParseRow{u"1.2 3 4 5", 38415 + kHour + 2 * kMinute}, ParseRow{u"1 2 3 4.5", 37623 + 4 * kHour + 5 * kMinute},
        ParseRow{u"1.2.3 4 5 6", 38812 + kHour + 2 * kMinute + 3 * kSecond},
        ParseRow{u"1 2 3 4.5.6", 37623 + 4 * kHour + 5 * kMinute + 6 * kSecond},
        ParseRow{u"12/31/9999 23:59:59", 2958465 + 86399 * kSecond},
        ParseRow{u"12/25/1899 6:00", -5.25}));

TEST(TextToDate, ExactLastBits) {
    DATE out = 0;
    ASSERT_EQ(VarDateFromStr(u"2013-05-14 02:04:12", LOCALE_EN_US, 0, &out), S_OK);
    EXPECT_EQ(out, 41408.08625000001);
}

// Dates given as month and day take the current year.
TEST(TextToDate, MonthAndDayTakeTheCurrentYear) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const struct {
        std::u16string text;
        int month, day;
        double time;
    } rows[] = {{u"1/2", 1, 2, 0}, {u"1 2", 1, 2, 0},     {u"2 1", 2, 1, 0},   {u"14 1", 1, 14, 0},
                {u"1 14", 1, 14, 0}, {u"Jan 2", 1, 2, 0}, {u"2 Jan", 1, 2, 0}, {u"3 am 1 2", 1, 2, 3 * kHour},
                {u"1 2 3 am", 1, 2, 3 * kHour}, {u"1.2 3 4", 3, 4, kHour + 2 * kMinute},
                {u"3 4 1.2", 3, 4, kHour + 2 * kMinute}, {u"1.2.3 4 5", 4, 5, kHour + 2 * kMinute + 3 * kSecond}};
    for (const auto& r : rows) {
        SYSTEMTIME st{};
        st.wYear = now.wYear;
        st.wMonth = static_cast<WORD>(r.month);
        st.wDay = static_cast<WORD>(r.day);
        double expected = 0;
        ASSERT_EQ(SystemTimeToVariantTime(&st, &expected), TRUE);
        DATE out = -1;
        ASSERT_EQ(VarDateFromStr(r.text.c_str(), LOCALE_EN_US, 0, &out), S_OK) << Narrow(r.text);
        EXPECT_DOUBLE_EQ(out, expected + r.time) << Narrow(r.text);
    }
}

class TextNotADate : public testing::TestWithParam<std::u16string> {};

TEST_P(TextNotADate, IsATypeMismatch) {
    DATE out = -7.0;
    EXPECT_EQ(VarDateFromStr(GetParam().c_str(), LOCALE_EN_US, 0, &out), DISP_E_TYPEMISMATCH) << Narrow(GetParam());
    EXPECT_EQ(out, -7.0) << "left untouched";
}

INSTANTIATE_TEST_SUITE_P(
    Dates, TextNotADate,
    testing::Values(
        // Numbers and words are not dates.
        u"38000", u"0", u"1", u"0.0", u"00.00", u"True", u"False", u"", u" ", u"abc", u"1.2.3.4",
        // No order makes a valid day.
        u"2/30/2004", u"2/29/2005", u"Feb 29 2005", u"32 49", u"0 49", u"2 32 3", u"1/1/10000",
        // Fractional seconds, out-of-range times.
        u"2013-05-14 02:04:12.017000000", u"0.60", u"24.00", u"0:60", u"24:00", u"1:2:60", u"25 pm",
        // Misplaced or stray separators and characters.
        u"0.", u".0", u"-1.1", u"1.1-", u"1;2;3", u"1*2*3", u"1@2@3", u"1#2#3", u"(1:2)", u"<1:2>", u"1|2|3",
        u"1::2", u"1//2", u"/1/2", u"1/2/", u"Jan:5", u"1/2-6:00", u"1/2/3 am", u"6 pm:30", u"2004-01-14T10:00",
        u"1/2/3/4",
        // AM/PM in the wrong place.
        u"1 2 am", u"1 am 2", u"am 6", u"6 am pm", u"Jan am", u"1 2 am 3", u"1.2 3 am 4", u"1.2 3 4 am",
        u"1 am 2 3.4", u"1 2 am 3.4", u"1.2.3 4 am 5", u"1.2.3 4 5 am", u"1 2 am 3 4.5.6", u"1 2 3 am 4.5.6",
        // Number layouts that are neither date nor time.
        u"1.5 2", u"1 5.2", u"1 2.3 4", u"1.2.3 4", u"1 2.3.4", u"1.2 3.4", u"1 2 3 4", u"1 2 3 4 5",
        u"1.2.3.4.5", u"1.2 3 4.5", u"1 2 3.4 5", u"1 2 3 4 5 6", u"1.2.3.4.5.6", u"1 2 3 4 5 6 7",
        u"1.2 3 4 5 6", u"02.01.1970", u"02.01.1970 00:00:00",
        // Unknown words, partial names, other scripts.
        u"Janu 5 2004", u"Sept 5 2004", u"Januaryfebruary 5", u"5 Jan 2004 x", u"\u0661/\u0662/\u0662\u0660\u0660\u0664",
        u"1/14/2004\u00e9", u"99999999999999999999/1/1"));

TEST(TextToDate, RefusesNullPointers) {
    DATE out = 0;
    EXPECT_EQ(VarDateFromStr(nullptr, LOCALE_EN_US, 0, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VarDateFromStr(u"1/14/2004", LOCALE_EN_US, 0, nullptr), E_INVALIDARG);
}

// Text written by VarBstrFromDate reads back as the same second.
TEST(TextToDate, ReadsBackFormattedDates) {
    for (double d = -657434.0; d < 2958465.0; d += 1234.56789) {
        BSTR text = nullptr;
        ASSERT_EQ(VarBstrFromDate(d, LOCALE_EN_US, 0, &text), S_OK) << d;
        DATE back = 0;
        ASSERT_EQ(VarDateFromStr(text, LOCALE_EN_US, 0, &back), S_OK) << Narrow(std::u16string(text));
        SYSTEMTIME a{}, b{};
        ASSERT_EQ(VariantTimeToSystemTime(d, &a), TRUE);
        ASSERT_EQ(VariantTimeToSystemTime(back, &b), TRUE);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << Narrow(std::u16string(text));
        SysFreeString(text);
    }
}

}  // namespace
}  // namespace calquor
