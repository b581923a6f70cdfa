// The date functions, through formulas. Serials: 0 = Sat 30 Dec 1899,
// 38000 = Wed 14 Jan 2004. In this build every failure inside a function
// reaches the host as code 1 "type cast error".
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace calquor::test {
namespace {

enum class Kind { Date, I4, Int, UI2, Bool, Text, Fails };

struct Row {
    const char* formula;
    Kind kind;
    double number = 0;     // Date, I4, Int, UI2, Bool (0/1)
    const char* text = "";  // Text
};

void Expect(const Row& row, DataAdapter* adapter = nullptr) {
    SCOPED_TRACE(row.formula);
    const Outcome out = Calc(row.formula, adapter);
    if (row.kind == Kind::Fails) {
        EXPECT_EQ(out.code, 1);
        EXPECT_EQ(out.message, "type cast error");
        return;
    }
    ASSERT_EQ(out.code, 0) << out.message;
    const VARIANT& v = out.value;
    switch (row.kind) {
    case Kind::Date:
        ASSERT_EQ(v.vt, VT_DATE);
        EXPECT_NEAR(v.date, row.number, 1e-9);
        break;
    case Kind::I4:
        ASSERT_EQ(v.vt, VT_I4);
        EXPECT_EQ(v.lVal, static_cast<LONG>(row.number));
        break;
    case Kind::Int:
        ASSERT_EQ(v.vt, VT_INT);
        EXPECT_EQ(v.intVal, static_cast<int>(row.number));
        break;
    case Kind::UI2:
        ASSERT_EQ(v.vt, VT_UI2);
        EXPECT_EQ(v.uiVal, static_cast<USHORT>(row.number));
        break;
    case Kind::Bool:
        ASSERT_EQ(v.vt, VT_BOOL);
        EXPECT_EQ(v.boolVal, row.number != 0 ? VARIANT_TRUE : VARIANT_FALSE);
        break;
    case Kind::Text:
        ASSERT_EQ(v.vt, VT_BSTR);
        EXPECT_EQ(TextOf(v), row.text);
        break;
    case Kind::Fails:
        break;
    }
}

void ExpectAll(const std::vector<Row>& rows, DataAdapter* adapter = nullptr) {
    for (const Row& row : rows) Expect(row, adapter);
}

TEST(DateFunctions, AddDaysCountsContinuously) {
    ExpectAll({
        {"AddDays(38000, 1)", Kind::Date, 38001},
        {"AddDays(38000.75, -1)", Kind::Date, 37999.75},
        // Before 1899 the time of day still runs forward from midnight.
        {"AddDays(-1.25, 1)", Kind::Date, 0.25},
        {"AddDays(0.25, -1)", Kind::Date, -1.25},
        {"AddDays(-1.25, -1)", Kind::Date, -2.25},
        {"AddDays('1/14/2004', 1)", Kind::Date, 38001},
        // An unconvertible date counts as day 0: 31 Dec 1899.
        {"AddDays('abc', 1)", Kind::Date, 1},
        {"AddDays(38000, 'abc')", Kind::Fails},
    });
}

TEST(DateFunctions, AddWeeksKeepsTheDayCountWithin32Bits) {
    ExpectAll({
        {"AddWeeks(38000, 1)", Kind::Date, 38007},
        {"AddWeeks(38000, -2)", Kind::Date, 37986},
        {"AddWeeks(-1.25, 1)", Kind::Date, 6.25},
        {"AddWeeks(38000, 'abc')", Kind::Fails},
        // 7 * 306783378 = 2147483646 still fits; one week more does not.
        {"AddWeeks(0, 306783378)", Kind::Date, 2147483646.0},
        {"AddWeeks(0, 306783379)", Kind::Fails},
        {"AddWeeks(0, -306783378)", Kind::Date, -2147483646.0},
        {"AddWeeks(0, -306783379)", Kind::Fails},
    });
}

TEST(DateFunctions, AddMonthsClampsTheDayAndCrossesYears) {
    ExpectAll({
        {"AddMonths(38000, 1)", Kind::Date, 38031},       // 14 Feb 2004
        {"AddMonths(38000.75, 1)", Kind::Date, 38031.75},  // time of day kept
        {"AddMonths(38000, -1)", Kind::Date, 37969},       // 14 Dec 2003
        {"AddMonths(38000, 12)", Kind::Date, 38366},       // 14 Jan 2005
        {"AddMonths(38000, -13)", Kind::Date, 37604},      // 14 Dec 2002
        {"AddMonths(38017, 1)", Kind::Date, 38046},        // 31 Jan -> 29 Feb 2004
        {"AddMonths(38077, -1)", Kind::Date, 38046},       // 31 Mar -> 29 Feb 2004
        {"AddMonths(37986, 2)", Kind::Date, 38046},        // 31 Dec 2003 -> 29 Feb 2004
        {"AddMonths(38077, 1)", Kind::Date, 38107},        // 31 Mar -> 30 Apr
        {"AddMonths(-1.25, 1)", Kind::Date, 30.25},        // 29 Dec 1899 06:00 -> 29 Jan 1900
        {"AddMonths('1/31/2004', 1)", Kind::Date, 38046},
        // Decided failures: no date to move, or a year outside 100..9999.
        {"AddMonths('abc', 1)", Kind::Fails},
        {"AddMonths(38000, 'abc')", Kind::Fails},
        {"AddMonths(2958465, 1)", Kind::Fails},    // 31 Dec 9999
        {"AddMonths(2958465, -1)", Kind::Date, 2958465 - 31},
        {"AddMonths(-657434, -1)", Kind::Fails},   // 1 Jan 100
        {"AddMonths(-657434, 1)", Kind::Date, -657434 + 31},
        {"AddMonths(38000, 2147483647)", Kind::Fails},
    });
}

TEST(DateFunctions, AddYearsClampsTheLeapDayAndChecksTheYear) {
    ExpectAll({
        {"AddYears(38000, 1)", Kind::Date, 38366},
        {"AddYears(38000, -1)", Kind::Date, 37635},
        {"AddYears(38000.5, 1)", Kind::Date, 38366.5},
        {"AddYears(38046, 1)", Kind::Date, 38411},  // 29 Feb 2004 -> 28 Feb 2005
        {"AddYears(38046, 4)", Kind::Date, 39507},  // 29 Feb 2008
        {"AddYears(38000, 7995)", Kind::Date, 2958114},  // 14 Jan 9999
        {"AddYears(38000, 7996)", Kind::Fails},
        // Year 99, which would otherwise be read as 1999 or 2099.
        {"AddYears(38000, -1905)", Kind::Fails},
        {"AddYears(38000, -1904)", Kind::Date, 38000 - 695421},  // 14 Jan 100
        {"AddYears('abc', 1)", Kind::Fails},
        {"AddYears(38000, 'abc')", Kind::Fails},
        {"AddYears(38000, 2147483647)", Kind::Fails},
    });
}

TEST(DateFunctions, DateDiffInDaysWeeksAndYears) {
    ExpectAll({
        {"DateDiff(38000, 38010, 'D')", Kind::I4, 10},
        {"DateDiff(38010, 38000, 'day')", Kind::I4, -10},
        {"DateDiff(38000.9, 38001.1, 'D')", Kind::I4, 1},
        {"DateDiff(-1.75, 0.25, 'DAY')", Kind::I4, 1},  // day numbers truncate toward zero
        {"DateDiff(38000, 38013, 'W')", Kind::I4, 1},
        {"DateDiff(38013, 38000, 'Week')", Kind::I4, -1},
        {"DateDiff(38000, 38364, 'Y')", Kind::I4, 0},
        {"DateDiff(38000, 38366, 'Year')", Kind::I4, 1},
        {"DateDiff(38366, 38000, 'y')", Kind::I4, -1},
        // An unconvertible date is day 0.
        {"DateDiff('abc', 38000, 'D')", Kind::I4, 38000},
    });
}

TEST(DateFunctions, DateDiffInMonthsCountsCompletedMonthsForward) {
    ExpectAll({
        {"DateDiff(38017, 38047, 'M')", Kind::I4, 1},       // 31 Jan -> 1 Mar
        {"DateDiff(38001, 38061, 'Month')", Kind::I4, 2},   // 15 Jan -> 15 Mar
        {"DateDiff(38001, 38060, 'month')", Kind::I4, 1},   // 15 Jan -> 14 Mar
        {"DateDiff(38001, 38000, 'M')", Kind::I4, 0},       // 15 Jan -> 14 Jan
        {"DateDiff(38056, 38001, 'm')", Kind::I4, -2},      // 10 Mar -> 15 Jan
        {"DateDiff(37986, 38017, 'M')", Kind::I4, 1},       // 31 Dec 2003 -> 31 Jan 2004
        // Every field of an unconvertible date reads 65535.
        {"DateDiff('abc', 38000, 'M')", Kind::I4, (2004 - 65535) * 12 + (1 - 65535)},
    });
}

TEST(DateFunctions, DateDiffRefusesUnknownUnits) {
    MapAdapter adapter;
    adapter.values["x"] = Null();
    ExpectAll({
        {"DateDiff(38000, 38001, 'Hour')", Kind::Fails},
        {"DateDiff(38000, 38001, '')", Kind::Fails},
        {"DateDiff(38000, 38001, 'Days')", Kind::Fails},
        {"DateDiff(38000, 38001, {x})", Kind::Fails},
    }, &adapter);
}

TEST(DateFunctions, CalendarFields) {
    ExpectAll({
        {"GetYear(38000)", Kind::UI2, 2004},
        {"GetMonth(38000)", Kind::UI2, 1},
        {"DayOfMonth(38000.99)", Kind::UI2, 14},
        {"GetYear(-1.25)", Kind::UI2, 1899},
        {"GetMonth(-1.25)", Kind::UI2, 12},
        {"DayOfMonth(-1.25)", Kind::UI2, 29},
        {"GetYear(2958465.5)", Kind::UI2, 9999},
        {"DayOfMonth('1/31/2004')", Kind::UI2, 31},
        {"GetYear('abc')", Kind::UI2, 65535},
        {"GetMonth('abc')", Kind::UI2, 65535},
        {"DayOfMonth('abc')", Kind::UI2, 65535},
        {"IsLeapYear(38000)", Kind::Bool, 1},
        {"IsLeapYear(38353)", Kind::Bool, 0},  // 2005
        {"IsLeapYear(2)", Kind::Bool, 0},      // 1900
        {"IsLeapYear(36526)", Kind::Bool, 1},  // 2000
        {"IsLeapYear('abc')", Kind::Bool, 0},
    });
}

TEST(DateFunctions, DayOfWeekAsNumberOrName) {
    MapAdapter adapter;
    adapter.values["x"] = Null();
    ExpectAll({
        {"DayOfWeek(38000, 'N')", Kind::Int, 4},
        {"DayOfWeek(38000, 'number')", Kind::Int, 4},
        {"DayOfWeek(0, 'N')", Kind::Int, 7},
        {"DayOfWeek(38004, 'n')", Kind::Int, 1},  // Sunday
        {"DayOfWeek(-1.25, 'N')", Kind::Int, 6},  // Fri 29 Dec 1899
        {"DayOfWeek('abc', 'N')", Kind::Int, -1},
        {"DayOfWeek(38000, '')", Kind::Text, 0, "Wed"},
        {"DayOfWeek(0, 'Name')", Kind::Text, 0, "Sat"},
        {"DayOfWeek(38004, 'Num')", Kind::Text, 0, "Sun"},
        {"DayOfWeek('abc', '')", Kind::Text, 0, ""},
        {"DayOfWeek(38000, {x})", Kind::Fails},
    }, &adapter);
}

// Dates an adapter hands over as VT_DATE are taken as they are, also far
// outside the calendar's range.
TEST(DateFunctions, OperandDatesOutsideTheCalendar) {
    MapAdapter adapter;
    adapter.values["d"] = _variant_t(38000.75, VT_DATE);
    adapter.values["huge"] = _variant_t(1e300, VT_DATE);
    adapter.values["nan"] = _variant_t(std::nan(""), VT_DATE);
    adapter.values["late"] = _variant_t(2958466.0, VT_DATE);  // 1 Jan 10000
    ExpectAll({
        {"AddDays({d}, 1)", Kind::Date, 38001.75},
        {"GetYear({d})", Kind::UI2, 2004},
        {"DayOfWeek({d}, 'N')", Kind::Int, 4},
        {"GetYear({late})", Kind::UI2, 65535},
        {"DayOfWeek({late}, 'N')", Kind::Int, -1},
        {"IsLeapYear({huge})", Kind::Bool, 0},
        {"GetMonth({nan})", Kind::UI2, 65535},
        {"AddMonths({late}, -1)", Kind::Fails},
        {"AddYears({nan}, 0)", Kind::Fails},
        // The day numbers are those of the values, so the difference is
        // taken, however far outside the calendar...
        {"DateDiff({d}, {late}, 'D')", Kind::I4, 2958466 - 38000},
        // ...unless it does not fit the 32-bit result.
        {"DateDiff({d}, {huge}, 'D')", Kind::Fails},
        {"DateDiff({nan}, {d}, 'W')", Kind::Fails},
        // Every field of an undecomposable date reads 65535.
        {"DateDiff({d}, {late}, 'M')", Kind::I4, (65535 - 2004) * 12 + (65535 - 1)},
    }, &adapter);
}

// ---- Today and Now against the system clock --------------------------------

// Days from 1 Jan 1970 to the civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The DATE of the local time at t, to the whole second.
double LocalSerial(std::time_t t) {
    const std::tm* tm = std::localtime(&t);
    const long long days = DaysFromCivil(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday) + 25569;
    return static_cast<double>(days) + (tm->tm_hour * 3600 + tm->tm_min * 60 + tm->tm_sec) / 86400.0;
}

class DateClock : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) m_saved = tz;
        setenv("TZ", GetParam(), 1);
        tzset();
    }
    void TearDown() override {
        if (m_saved) setenv("TZ", m_saved->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_saved;
};

TEST_P(DateClock, NowIsTheLocalTimeToTheSecond) {
    ASSERT_EQ(DaysFromCivil(2004, 1, 14) + 25569, 38000);
    const double before = LocalSerial(std::time(nullptr));
    const Outcome out = Calc("Now()");
    const double after = LocalSerial(std::time(nullptr));
    ASSERT_EQ(out.code, 0) << out.message;
    ASSERT_EQ(out.value.vt, VT_DATE);
    const double now = out.value.date;
    // Within the clock readings taken around the call (half a second of
    // slack for rounding, far below a time-zone error).
    EXPECT_GE(now, std::min(before, after) - 0.5 / 86400) << before;
    EXPECT_LE(now, std::max(before, after) + 0.5 / 86400) << after;
    // Whole seconds only.
    const double seconds = (now - std::floor(now)) * 86400;
    EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
}

TEST_P(DateClock, TodayIsTheLocalDateAtMidnight) {
    const double before = std::floor(LocalSerial(std::time(nullptr)));
    const Outcome out = Calc("Today()");
    const double after = std::floor(LocalSerial(std::time(nullptr)));
    ASSERT_EQ(out.code, 0) << out.message;
    ASSERT_EQ(out.value.vt, VT_DATE);
    EXPECT_TRUE(out.value.date == before || out.value.date == after)
        << out.value.date << " not " << before << " or " << after;
}

// A zone behind UTC with daylight saving, and one half an hour off the hour.
INSTANTIATE_TEST_SUITE_P(Zones, DateClock,
                         ::testing::Values("UTC", "EST5EDT,M3.2.0,M11.1.0", "<+0530>-5:30"));

}  // namespace
}  // namespace calquor::test
