// The date functions, through formulas. Serials: 0 = Sat 30 Dec 1899,
// 38000 = Wed 14 Jan 2004. In CLQMFC every failure inside a
// function reaches the host as code 1 "type cast error"; in Calquor_VCL the
// function's own error leaves Calculate. Rows whose outcome differs in
// Calquor_VCL give both.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace calquor::test {
namespace {

// Int is DayOfWeek's number: VT_INT, or VT_I4 in Calquor_VCL. Text is
// test::kTextKind.
enum class Kind { Date, I4, Int, UI2, Bool, Text, Fails };

// One expected outcome. Fails: the type cast error in CLQMFC; in
// Calquor_VCL the function's error leaves Calculate with the message `text`.
struct Expect {
    Kind kind;
    double number = 0;      // Date, I4, Int, UI2, Bool (0/1)
    const char* text = "";  // Text; the raised message for Fails
};

Expect Date(double serial) { return {Kind::Date, serial}; }
Expect I4(double number) { return {Kind::I4, number}; }
Expect Int(double number) { return {Kind::Int, number}; }
Expect UI2(double number) { return {Kind::UI2, number}; }
Expect Bool(bool value) { return {Kind::Bool, value ? 1.0 : 0.0}; }
Expect Text(const char* text) { return {Kind::Text, 0, text}; }
Expect Fails(const char* raised) { return {Kind::Fails, 0, raised}; }

constexpr const char* kMismatch = "Parameter type mismatch";
constexpr const char* kUnknown = "Unknown error";

// A formula, its outcome, and Calquor_VCL's where that differs.
struct Row {
    const char* formula;
    Expect first;
    std::optional<Expect> runtime = std::nullopt;
};

void Check(const Row& row, DataAdapter* adapter = nullptr) {
    SCOPED_TRACE(row.formula);
    const Expect& want = kRuntimeRules && row.runtime ? *row.runtime : row.first;
    if (want.kind == Kind::Fails) {
        EXPECT_TRUE(FailsInFunction(row.formula, want.text, adapter));
        return;
    }
    Outcome out;
    try {
        out = Calc(row.formula, adapter);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "raised " << error.what();
        return;
    }
    ASSERT_EQ(out.code, 0) << out.message;
    const VARIANT& v = out.value;
    switch (want.kind) {
    case Kind::Date:
        ASSERT_EQ(v.vt, VT_DATE);
        EXPECT_NEAR(v.date, want.number, 1e-9);
        break;
    case Kind::I4:
        ASSERT_EQ(v.vt, VT_I4);
        EXPECT_EQ(v.lVal, static_cast<LONG>(want.number));
        break;
    case Kind::Int:
        ASSERT_EQ(v.vt, kRuntimeRules ? VT_I4 : VT_INT);
        EXPECT_EQ(v.intVal, static_cast<int>(want.number));
        break;
    case Kind::UI2:
        ASSERT_EQ(v.vt, VT_UI2);
        EXPECT_EQ(v.uiVal, static_cast<USHORT>(want.number));
        break;
    case Kind::Bool:
        ASSERT_EQ(v.vt, VT_BOOL);
        EXPECT_EQ(v.boolVal, want.number != 0 ? VARIANT_TRUE : VARIANT_FALSE);
        break;
    case Kind::Text:
        ASSERT_EQ(v.vt, kTextKind);
        EXPECT_EQ(TextOf(v), want.text);
        break;
    case Kind::Fails:
        break;
    }
}

void ExpectAll(const std::vector<Row>& rows, DataAdapter* adapter = nullptr) {
    for (const Row& row : rows) Check(row, adapter);
}

// Calquor_VCL adds to the date value itself, and refuses a date it cannot
// convert.
TEST(DateFunctions, AddDaysCountsContinuously) {
    ExpectAll({
        {"AddDays(38000, 1)", Date(38001)},
        {"AddDays(38000.75, -1)", Date(37999.75)},
        // Before 1899 the time of day still runs forward from midnight.
        {"AddDays(-1.25, 1)", Date(0.25), Date(-0.25)},
        {"AddDays(0.25, -1)", Date(-1.25), Date(-0.75)},
        {"AddDays(-1.25, -1)", Date(-2.25)},
        {"AddDays('1/14/2004', 1)", Date(38001)},
        // An unconvertible date counts as day 0: 31 Dec 1899.
        {"AddDays('abc', 1)", Date(1), Fails(kMismatch)},
        {"AddDays(38000, 'abc')", Fails(kMismatch)},
    });
}

TEST(DateFunctions, AddWeeksKeepsTheDayCountWithin32Bits) {
    ExpectAll({
        {"AddWeeks(38000, 1)", Date(38007)},
        {"AddWeeks(38000, -2)", Date(37986)},
        {"AddWeeks(-1.25, 1)", Date(6.25), Date(5.75)},
        {"AddWeeks(38000, 'abc')", Fails(kMismatch)},
        {"AddWeeks('abc', 1)", Date(7), Fails(kMismatch)},
        // 7 * 306783378 = 2147483646 still fits; one week more does not
        // (in Calquor_VCL no conversion but another error).
        {"AddWeeks(0, 306783378)", Date(2147483646.0)},
        {"AddWeeks(0, 306783379)", Fails(kMismatch), Fails(kUnknown)},
        {"AddWeeks(0, -306783378)", Date(-2147483646.0)},
        {"AddWeeks(0, -306783379)", Fails(kMismatch), Fails(kUnknown)},
    });
}

// CLQMFC keeps the time of day and clamps a day the target month
// lacks; Calquor_VCL returns midnight and refuses such a day.
TEST(DateFunctions, AddMonthsCrossesYearsAndMeetsShortMonths) {
    ExpectAll({
        {"AddMonths(38000, 1)", Date(38031)},                     // 14 Feb 2004
        {"AddMonths(38000.75, 1)", Date(38031.75), Date(38031)},  // time of day
        {"AddMonths(38000, -1)", Date(37969)},                    // 14 Dec 2003
        {"AddMonths(38000, 12)", Date(38366)},                    // 14 Jan 2005
        {"AddMonths(38000, -13)", Date(37604)},                   // 14 Dec 2002
        {"AddMonths(38017, 2)", Date(38077)},                     // 31 Jan -> 31 Mar
        {"AddMonths(38017, 1)", Date(38046), Fails(kUnknown)},    // 31 Jan -> 29 Feb 2004
        {"AddMonths(38077, -1)", Date(38046), Fails(kUnknown)},   // 31 Mar -> 29 Feb 2004
        {"AddMonths(37986, 2)", Date(38046), Fails(kUnknown)},    // 31 Dec 2003 -> 29 Feb 2004
        {"AddMonths(38077, 1)", Date(38107), Fails(kUnknown)},    // 31 Mar -> 30 Apr
        {"AddMonths(-1.25, 1)", Date(30.25), Date(30)},           // 29 Dec 1899 06:00 -> 29 Jan 1900
        {"AddMonths('1/31/2004', 1)", Date(38046), Fails(kUnknown)},
        {"AddMonths('1/29/2004', 1)", Date(38046)},
        // Failures: no date to move, or a year outside 100..9999.
        {"AddMonths('abc', 1)", Fails(kUnknown), Fails(kMismatch)},
        {"AddMonths(38000, 'abc')", Fails(kUnknown), Fails(kMismatch)},
        {"AddMonths(2958465, 1)", Fails(kUnknown)},  // 31 Dec 9999
        {"AddMonths(2958465, -1)", Date(2958465 - 31), Fails(kUnknown)},
        {"AddMonths(2958464, -1)", Date(2958464 - 30)},  // 30 Dec -> 30 Nov 9999
        {"AddMonths(-657434, -1)", Fails(kUnknown)},    // 1 Jan 100
        {"AddMonths(-657434, 1)", Date(-657434 + 31)},
        {"AddMonths(38000, 2147483647)", Fails(kUnknown)},
    });
}

TEST(DateFunctions, AddYearsMeetsTheLeapDayAndChecksTheYear) {
    ExpectAll({
        {"AddYears(38000, 1)", Date(38366)},
        {"AddYears(38000, -1)", Date(37635)},
        {"AddYears(38000.5, 1)", Date(38366.5), Date(38366)},
        {"AddYears(38046, 1)", Date(38411), Fails(kUnknown)},  // 29 Feb 2004 -> 28 Feb 2005
        {"AddYears(38046, 4)", Date(39507)},                    // 29 Feb 2008
        {"AddYears(38000, 7995)", Date(2958114)},               // 14 Jan 9999
        {"AddYears(38000, 7996)", Fails(kUnknown)},
        // Year 99, which would otherwise be read as 1999 or 2099.
        {"AddYears(38000, -1905)", Fails(kUnknown)},
        {"AddYears(38000, -1904)", Date(38000 - 695421)},  // 14 Jan 100
        {"AddYears('abc', 1)", Fails(kUnknown), Fails(kMismatch)},
        {"AddYears(38000, 'abc')", Fails(kUnknown), Fails(kMismatch)},
        {"AddYears(38000, 2147483647)", Fails(kUnknown)},
    });
}

TEST(DateFunctions, DateDiffInDaysWeeksAndYears) {
    ExpectAll({
        {"DateDiff(38000, 38010, 'D')", I4(10)},
        {"DateDiff(38010, 38000, 'day')", I4(-10)},
        {"DateDiff(38000.9, 38001.1, 'D')", I4(1)},
        {"DateDiff(-1.75, 0.25, 'DAY')", I4(1)},  // day numbers truncate toward zero
        {"DateDiff(38000, 38013, 'W')", I4(1)},
        {"DateDiff(38013, 38000, 'Week')", I4(-1)},
        {"DateDiff(38000, 38364, 'Y')", I4(0)},
        {"DateDiff(38000, 38366, 'Year')", I4(1)},
        {"DateDiff(38366, 38000, 'y')", I4(-1)},
        // An unconvertible date is day 0 (refused by Calquor_VCL).
        {"DateDiff('abc', 38000, 'D')", I4(38000), Fails(kMismatch)},
    });
}

TEST(DateFunctions, DateDiffInMonthsCountsCompletedMonthsForward) {
    ExpectAll({
        {"DateDiff(38017, 38047, 'M')", I4(1)},      // 31 Jan -> 1 Mar
        {"DateDiff(38001, 38061, 'Month')", I4(2)},  // 15 Jan -> 15 Mar
        {"DateDiff(38001, 38060, 'month')", I4(1)},  // 15 Jan -> 14 Mar
        {"DateDiff(38001, 38000, 'M')", I4(0)},      // 15 Jan -> 14 Jan
        {"DateDiff(38056, 38001, 'm')", I4(-2)},     // 10 Mar -> 15 Jan
        {"DateDiff(37986, 38017, 'M')", I4(1)},      // 31 Dec 2003 -> 31 Jan 2004
        // Every field of an unconvertible date reads 65535.
        {"DateDiff('abc', 38000, 'M')", I4((2004 - 65535) * 12 + (1 - 65535)), Fails(kMismatch)},
    });
}

TEST(DateFunctions, DateDiffRefusesUnknownUnits) {
    MapAdapter adapter;
    adapter.values["x"] = Null();
    ExpectAll({
        {"DateDiff(38000, 38001, 'Hour')", Fails(kUnknown)},
        {"DateDiff(38000, 38001, '')", Fails(kUnknown)},
        {"DateDiff(38000, 38001, 'Days')", Fails(kUnknown)},
        {"DateDiff(38000, 38001, {x})", Fails(kUnknown), Fails(kMismatch)},
    }, &adapter);
}

TEST(DateFunctions, CalendarFields) {
    ExpectAll({
        {"GetYear(38000)", UI2(2004)},
        {"GetMonth(38000)", UI2(1)},
        {"DayOfMonth(38000.99)", UI2(14)},
        {"GetYear(-1.25)", UI2(1899)},
        {"GetMonth(-1.25)", UI2(12)},
        {"DayOfMonth(-1.25)", UI2(29)},
        {"GetYear(2958465.5)", UI2(9999)},
        {"DayOfMonth('1/31/2004')", UI2(31)},
        {"GetYear('abc')", UI2(65535), Fails(kMismatch)},
        {"GetMonth('abc')", UI2(65535), Fails(kMismatch)},
        {"DayOfMonth('abc')", UI2(65535), Fails(kMismatch)},
        {"IsLeapYear(38000)", Bool(true)},
        {"IsLeapYear(38353)", Bool(false)},  // 2005
        {"IsLeapYear(2)", Bool(false)},      // 1900
        {"IsLeapYear(36526)", Bool(true)},   // 2000
        {"IsLeapYear('abc')", Bool(false), Fails(kMismatch)},
    });
}

// The name is test::kTextKind, the number VT_INT or, in Calquor_VCL, VT_I4.
TEST(DateFunctions, DayOfWeekAsNumberOrName) {
    MapAdapter adapter;
    adapter.values["x"] = Null();
    ExpectAll({
        {"DayOfWeek(38000, 'N')", Int(4)},
        {"DayOfWeek(38000, 'number')", Int(4)},
        {"DayOfWeek(0, 'N')", Int(7)},
        {"DayOfWeek(38004, 'n')", Int(1)},  // Sunday
        {"DayOfWeek(-1.25, 'N')", Int(6)},  // Fri 29 Dec 1899
        {"DayOfWeek('abc', 'N')", Int(-1), Fails(kMismatch)},
        {"DayOfWeek(38000, '')", Text("Wed")},
        {"DayOfWeek(0, 'Name')", Text("Sat")},
        {"DayOfWeek(38004, 'Num')", Text("Sun")},
        {"DayOfWeek('abc', '')", Text(""), Fails(kMismatch)},
        {"DayOfWeek(38000, {x})", Fails(kUnknown), Fails(kMismatch)},
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
        {"AddDays({d}, 1)", Date(38001.75)},
        {"GetYear({d})", UI2(2004)},
        {"DayOfWeek({d}, 'N')", Int(4)},
        {"GetYear({late})", UI2(65535)},
        {"DayOfWeek({late}, 'N')", Int(-1)},
        {"IsLeapYear({huge})", Bool(false)},
        {"GetMonth({nan})", UI2(65535)},
        {"AddMonths({late}, -1)", Fails(kUnknown)},
        {"AddYears({nan}, 0)", Fails(kUnknown)},
        // The day numbers are those of the values, so the difference is
        // taken, however far outside the calendar...
        {"DateDiff({d}, {late}, 'D')", I4(2958466 - 38000)},
        // ...unless it does not fit the 32-bit result.
        {"DateDiff({d}, {huge}, 'D')", Fails(kUnknown)},
        {"DateDiff({nan}, {d}, 'W')", Fails(kUnknown)},
        // Every field of an undecomposable date reads 65535.
        {"DateDiff({d}, {late}, 'M')", I4((65535 - 2004) * 12 + (65535 - 1))},
    }, &adapter);
}

// Calquor_VCL's weekday number is an integer its arithmetic keeps, and the
// name its 8-bit text.
TEST(DateFunctionsRuntimeRules, DayOfWeekKinds) {
    if (!kRuntimeRules) GTEST_SKIP();
    const Outcome next = Calc("DayOfWeek(38000, 'N') + 1");
    ASSERT_EQ(next.value.vt, VT_I4);
    EXPECT_EQ(next.value.lVal, 5);
    const Outcome name = Calc("DayOfWeek(38000, '') + 'day'");
    ASSERT_EQ(name.value.vt, varString);
    EXPECT_EQ(TextOf(name.value), "Wedday");
    EXPECT_EQ(CalcThrows("DayOfWeek('abc', 'N')"), "Parameter type mismatch");
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

// The clock tests run in several zones where the zone is the TZ variable.
// Windows takes it from the system settings, so there they run in the
// system's zone only.
#if defined(_WIN32)
class DateClock : public ::testing::TestWithParam<const char*> {};
#define CALQUOR_TEST_ZONES "system"
#else
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
#define CALQUOR_TEST_ZONES "UTC", "EST5EDT,M3.2.0,M11.1.0", "<+0530>-5:30"
#endif

// The DATE of the local time now, to the millisecond.
double LocalSerialNow() {
    using namespace std::chrono;
    const auto now = time_point_cast<milliseconds>(system_clock::now());
    const auto whole = floor<seconds>(now);
    return LocalSerial(system_clock::to_time_t(whole)) + static_cast<double>((now - whole).count()) / 86400000.0;
}

// The whole seconds of the clock the engine reads. time() may lag it by a
// tick (it reads a coarse clock), which would make a bracket miss by a second.
std::time_t SystemSeconds() {
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

// Calquor_VCL keeps the milliseconds.
TEST_P(DateClock, NowIsTheLocalTimeToTheSecond) {
    ASSERT_EQ(DaysFromCivil(2004, 1, 14) + 25569, 38000);
    if (kRuntimeRules) {
        const double before = LocalSerialNow();
        const Outcome out = Calc("Now()");
        const double after = LocalSerialNow();
        ASSERT_EQ(out.code, 0) << out.message;
        ASSERT_EQ(out.value.vt, VT_DATE);
        // Within the clock readings around the call, with a millisecond of
        // slack for rounding (far below a time-zone error).
        EXPECT_GE(out.value.date, std::min(before, after) - 0.001 / 86400) << before;
        EXPECT_LE(out.value.date, std::max(before, after) + 0.001 / 86400) << after;
        return;
    }
    const double before = LocalSerial(SystemSeconds());
    const Outcome out = Calc("Now()");
    const double after = LocalSerial(SystemSeconds());
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
    const double before = std::floor(LocalSerial(SystemSeconds()));
    const Outcome out = Calc("Today()");
    const double after = std::floor(LocalSerial(SystemSeconds()));
    ASSERT_EQ(out.code, 0) << out.message;
    ASSERT_EQ(out.value.vt, VT_DATE);
    EXPECT_TRUE(out.value.date == before || out.value.date == after)
        << out.value.date << " not " << before << " or " << after;
}

// A zone behind UTC with daylight saving, and one half an hour off the hour.
INSTANTIATE_TEST_SUITE_P(Zones, DateClock, ::testing::Values(CALQUOR_TEST_ZONES));

}  // namespace
}  // namespace calquor::test
