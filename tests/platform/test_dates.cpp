// DATE <-> calendar fields and the local clock.
#include "PlatformSupport.h"

#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace calquor {
namespace {

namespace chr = std::chrono;

SYSTEMTIME MakeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

// Serial of a calendar day computed by the standard library, independently
// of the code under test.
long ReferenceSerial(int y, unsigned m, unsigned d) {
    const chr::sys_days day = chr::year{y} / chr::month{m} / chr::day{d};
    const chr::sys_days origin = chr::year{1899} / chr::December / chr::day{30};
    return static_cast<long>((day - origin).count());
}

// ---- DATE -> fields ---------------------------------------------------------

struct SplitRow {
    double date;
    int year, month, day, hour, minute, second;
    test::Expect<int> dayOfWeek, dayOfYear;
};

void PrintTo(const SplitRow& row, std::ostream* os) { *os << row.date; }

class DateToFields : public testing::TestWithParam<SplitRow> {};

TEST_P(DateToFields, MatchesCalendar) {
    const SplitRow& r = GetParam();
    SYSTEMTIME st;
    std::memset(&st, 0xCD, sizeof st);
    ASSERT_EQ(VariantTimeToSystemTime(r.date, &st), TRUE) << r.date;
    EXPECT_EQ(st.wYear, r.year);
    EXPECT_EQ(st.wMonth, r.month);
    EXPECT_EQ(st.wDay, r.day);
    EXPECT_EQ(st.wHour, r.hour);
    EXPECT_EQ(st.wMinute, r.minute);
    EXPECT_EQ(st.wSecond, r.second);
    EXPECT_EQ(st.wMilliseconds, 0);
    EXPECT_EQ(st.wDayOfWeek, r.dayOfWeek.Get());

    UDATE ud;
    std::memset(&ud, 0xCD, sizeof ud);
    ASSERT_EQ(VarUdateFromDate(r.date, 0, &ud), S_OK);
    EXPECT_EQ(std::memcmp(&ud.st, &st, sizeof st), 0);
    EXPECT_EQ(ud.wDayOfYear, r.dayOfYear.Get());
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateToFields,
    testing::Values(
        SplitRow{0.0, 1899, 12, 30, 0, 0, 0, 6, 364},
        SplitRow{1.0, 1899, 12, 31, 0, 0, 0, 0, 365},
        // Negative values: the fraction counts forward from the day's midnight.
        SplitRow{-1.25, 1899, 12, 29, 6, 0, 0, 5, 363},
        SplitRow{-5.25, 1899, 12, 25, 6, 0, 0, 1, 359},
        SplitRow{-5.9999884259259, 1899, 12, 25, 23, 59, 59, 1, 359},
        SplitRow{-4.0, 1899, 12, 26, 0, 0, 0, 2, 360},
        SplitRow{-0.25, 1899, 12, 30, 6, 0, 0, 6, 364},
        SplitRow{0.25, 1899, 12, 30, 6, 0, 0, 6, 364},
        // Rounding to the second, with carries.
        SplitRow{29221.7508765432, 1980, 1, 1, 18, 1, 16, 2, 1},
        SplitRow{29221.0, 1980, 1, 1, 0, 0, 0, 2, 1},
        SplitRow{0.4 / 86400.0, 1899, 12, 30, 0, 0, 0, 6, 364},
        SplitRow{0.6 / 86400.0, 1899, 12, 30, 0, 0, 1, 6, 364},
        SplitRow{59.7 / 86400.0, 1899, 12, 30, 0, 1, 0, 6, 364},
        SplitRow{3599.7 / 86400.0, 1899, 12, 30, 1, 0, 0, 6, 364},
        // Wine carries the rounding into the next day after it has taken the
        // weekday and the day of the year from the day before.
        SplitRow{0.99999999, 1899, 12, 31, 0, 0, 0, {0, 6}, {365, 364}},
        SplitRow{-1.99999999, 1899, 12, 30, 0, 0, 0, {6, 5}, {364, 363}},
        SplitRow{38000.75, 2004, 1, 14, 18, 0, 0, 3, 14},
        SplitRow{38046.0, 2004, 2, 29, 0, 0, 0, 0, 60},
        SplitRow{38352.0, 2004, 12, 31, 0, 0, 0, 5, 366},
        SplitRow{365.25, 1900, 12, 30, 6, 0, 0, 0, 364},
        // The ends of the range.
        SplitRow{-657434.0, 100, 1, 1, 0, 0, 0, 5, 1},
        SplitRow{-657434.5, 100, 1, 1, 12, 0, 0, 5, 1},
        SplitRow{-657434.99999, 100, 1, 1, 23, 59, 59, 5, 1},
        SplitRow{2958465.0, 9999, 12, 31, 0, 0, 0, 5, 365},
        SplitRow{2958465.9999, 9999, 12, 31, 23, 59, 51, 5, 365}));

TEST(DateToFields, RefusesValuesOutsideTheRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double date;
        test::Expect<bool> refused;
    } rows[] = {
        {-657435.0, true}, {-657435.5, true}, {2958466.0, true}, {2958466.5, true}, {1e300, true}, {-1e300, true},
        {inf, true}, {-inf, true},
        // Wine tests the range with comparisons a NaN passes, and gives
        // 30 Dec 1899.
        {std::numeric_limits<double>::quiet_NaN(), {true, false}},
        // Rounds into the year 10000, which Wine returns.
        {2958465.999999999, {true, false}},
    };
    for (const auto& row : rows) {
        if (!row.refused.Get()) continue;
        SYSTEMTIME st = MakeTime(1, 2, 3);
        EXPECT_EQ(VariantTimeToSystemTime(row.date, &st), FALSE) << row.date;
        EXPECT_EQ(st.wYear, 1) << "left untouched";
        UDATE ud{};
        EXPECT_EQ(VarUdateFromDate(row.date, 0, &ud), E_INVALIDARG) << row.date;
    }
}

TEST(DateToFields, RefusesNullPointers) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    EXPECT_EQ(VariantTimeToSystemTime(0.0, nullptr), FALSE);
    EXPECT_EQ(VarUdateFromDate(0.0, 0, nullptr), E_INVALIDARG);
}

// ---- fields -> DATE -----------------------------------------------------------

// A DATE, or nullopt where the fields are refused.
using Composed = std::optional<double>;

struct ComposeRow {
    SYSTEMTIME st;
    Composed date;   // by SystemTimeToVariantTime
    Composed udate;  // by VarDateFromUdate
    // Under Wine only, where it deviates (the reason is given at the row).
    std::optional<std::pair<Composed, Composed>> wineDiffers;

    ComposeRow WineDiffers(Composed wineDate, Composed wineUdate) const {
        ComposeRow r = *this;
        r.wineDiffers.emplace(wineDate, wineUdate);
        return r;
    }
};

// Both functions give date.
ComposeRow Composes(SYSTEMTIME st, Composed date) { return {st, date, date, std::nullopt}; }

void PrintTo(const ComposeRow& row, std::ostream* os) {
    *os << row.st.wYear << '-' << row.st.wMonth << '-' << row.st.wDay << ' ' << row.st.wHour << ':'
        << row.st.wMinute << ':' << row.st.wSecond;
}

class FieldsToDate : public testing::TestWithParam<ComposeRow> {};

TEST_P(FieldsToDate, ComposesOrRefuses) {
    const ComposeRow& r = GetParam();
    const bool wine = r.wineDiffers && test::OnWine();
    const Composed date = wine ? r.wineDiffers->first : r.date;
    const Composed udate = wine ? r.wineDiffers->second : r.udate;

    SYSTEMTIME st = r.st;
    double out = -12345.0;
    const INT ok = SystemTimeToVariantTime(&st, &out);
    if (date) {
        ASSERT_EQ(ok, TRUE);
        EXPECT_DOUBLE_EQ(out, *date);
    } else {
        EXPECT_EQ(ok, FALSE);
        EXPECT_EQ(out, -12345.0) << "left untouched";
    }

    UDATE ud{};
    ud.st = r.st;
    ud.wDayOfYear = 999;  // ignored
    double outU = -12345.0;
    const HRESULT hr = VarDateFromUdate(&ud, 0, &outU);
    if (udate) {
        ASSERT_EQ(hr, S_OK);
        EXPECT_DOUBLE_EQ(outU, *udate);
        if (date) {
            EXPECT_EQ(outU, out);
        }
    } else {
        EXPECT_EQ(hr, E_INVALIDARG);
    }
}

SYSTEMTIME WithDayOfWeek(SYSTEMTIME st, int dow) {
    st.wDayOfWeek = static_cast<WORD>(dow);
    return st;
}

INSTANTIATE_TEST_SUITE_P(
    Dates, FieldsToDate,
    testing::Values(
        Composes(MakeTime(1899, 12, 30), 0.0), Composes(MakeTime(2004, 1, 14), 38000.0),
        Composes(MakeTime(2004, 1, 14, 18), 38000.75), Composes(MakeTime(1970, 1, 2), 25570.0),
        // Before 30 Dec 1899 the time is added away from zero.
        Composes(MakeTime(1899, 12, 25, 6), -5.25), Composes(MakeTime(1899, 12, 29, 6), -1.25),
        Composes(MakeTime(1899, 12, 30, 6), 0.25),
        // Milliseconds and the day of the week are ignored.
        Composes(MakeTime(1899, 12, 30, 6, 0, 0, 999), 0.25),
        Composes(WithDayOfWeek(MakeTime(2004, 1, 14), 6), 38000.0),
        // Day 0 and days past the month's end count on from the first.
        Composes(MakeTime(1980, 1, 0), 29220.0), Composes(MakeTime(2001, 2, 29), 36951.0),
        Composes(MakeTime(2004, 2, 31), 38048.0), Composes(MakeTime(2005, 2, 29), 38412.0),
        Composes(MakeTime(2004, 4, 31), 38108.0),
        // Month 0 is December of the year before.
        Composes(MakeTime(1980, 0, 15), 29204.0),
        // Two-digit years: 00-49 are 20xx, 50-99 19xx.
        Composes(MakeTime(0, 1, 1), 36526.0), Composes(MakeTime(29, 1, 1), 47119.0),
        Composes(MakeTime(30, 1, 1), 47484.0), Composes(MakeTime(49, 1, 1), 54424.0),
        Composes(MakeTime(50, 1, 1), 18264.0), Composes(MakeTime(99, 1, 1), 36161.0),
        Composes(MakeTime(0, 0, 1), 36161.0 + 334.0),
        // Hours of 24 and more, minutes and seconds of 60 and more roll over.
        Composes(MakeTime(2004, 1, 14, 24), 38001.0), Composes(MakeTime(2004, 1, 14, 23, 59, 60), 38001.0),
        Composes(MakeTime(2004, 1, 14, 0, 60), 38000.0 + 1.0 / 24),
        Composes(MakeTime(2004, 1, 14, 25, 61, 61), 38001.0 + 2.0 / 24 + 2.0 / 1440 + 1.0 / 86400),
        Composes(MakeTime(1899, 12, 25, 24), -4.0),
        // Wine reads the seconds as a signed 16-bit number (-1 here).
        Composes(MakeTime(2004, 1, 14, 0, 0, 65535), 38000.0 + 65535.0 / 86400)
            .WineDiffers(38000.0 - 1.0 / 86400, 38000.0 - 1.0 / 86400),
        // The range: 1 Jan 100 .. 31 Dec 9999.
        Composes(MakeTime(100, 1, 1), -657434.0), Composes(MakeTime(9999, 12, 31), 2958465.0),
        Composes(MakeTime(9999, 12, 31, 23, 59, 59), 2958465.0 + 86399.0 / 86400),
        // Wine tests the year before it carries days, months and hours over,
        // and so returns DATEs outside the range.
        Composes(MakeTime(100, 1, 0), std::nullopt).WineDiffers(-657435.0, -657435.0),
        Composes(MakeTime(100, 0, 1), std::nullopt).WineDiffers(-657465.0, -657465.0),
        Composes(MakeTime(9999, 12, 31, 24), std::nullopt).WineDiffers(2958466.0, 2958466.0),
        Composes(MakeTime(9999, 12, 32), std::nullopt).WineDiffers(std::nullopt, 2958466.0),
        Composes(MakeTime(10000, 1, 1), std::nullopt), Composes(MakeTime(32768, 1, 1), std::nullopt),
        // Wine's VarDateFromUdate reads the year as signed, -1 here, taken as 1999.
        Composes(MakeTime(65535, 1, 1), std::nullopt).WineDiffers(std::nullopt, 36161.0),
        // VarDateFromUdate carries month 13 into January of the next year
        // (conformance-tested on Windows); SystemTimeToVariantTime refuses it.
        ComposeRow{MakeTime(2004, 13, 1), std::nullopt, 38353.0, std::nullopt},
        ComposeRow{MakeTime(1980, 13, 1), std::nullopt, 29587.0, std::nullopt},
        // Wine's VarDateFromUdate also carries day 32 (Windows undocumented).
        Composes(MakeTime(2004, 1, 32), std::nullopt).WineDiffers(std::nullopt, 38018.0)));

TEST(FieldsToDate, LastBitsFollowThePlatform) {
    // The platform adds hours, minutes and seconds one after the other.
    SYSTEMTIME st = MakeTime(2013, 5, 14, 2, 4, 12);
    double out = 0;
    ASSERT_EQ(SystemTimeToVariantTime(&st, &out), TRUE);
    EXPECT_EQ(out, 41408.08625000001);
}

TEST(FieldsToDate, RefusesNullPointers) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    SYSTEMTIME st = MakeTime(2004, 1, 14);
    double out = 0;
    EXPECT_EQ(SystemTimeToVariantTime(nullptr, &out), FALSE);
    EXPECT_EQ(SystemTimeToVariantTime(&st, nullptr), FALSE);
    UDATE ud{};
    EXPECT_EQ(VarDateFromUdate(nullptr, 0, &out), E_INVALIDARG);
    EXPECT_EQ(VarDateFromUdate(&ud, 0, nullptr), E_INVALIDARG);
}

// ---- Round trips across the range ------------------------------------------------

TEST(DateRoundTrip, EveryThirtySeventhDay) {
    int checked = 0;
    for (long long serial = -657434; serial <= 2958465; serial += 37) {
        const chr::year_month_day ymd{chr::sys_days{chr::year{1899} / chr::December / chr::day{30}} +
                                      chr::days{serial}};
        const long long secondOfDay = (serial * 7919 % 86400 + 86400) % 86400;
        SYSTEMTIME in = MakeTime(static_cast<int>(ymd.year()), static_cast<int>(unsigned{ymd.month()}),
                                 static_cast<int>(unsigned{ymd.day()}), static_cast<int>(secondOfDay / 3600),
                                 static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
        double date = 0;
        ASSERT_EQ(SystemTimeToVariantTime(&in, &date), TRUE) << serial;
        ASSERT_EQ(static_cast<long long>(std::trunc(date)), serial);

        UDATE out{};
        ASSERT_EQ(VarUdateFromDate(date, 0, &out), S_OK) << serial;
        ASSERT_EQ(out.st.wYear, in.wYear) << serial;
        ASSERT_EQ(out.st.wMonth, in.wMonth) << serial;
        ASSERT_EQ(out.st.wDay, in.wDay) << serial;
        ASSERT_EQ(out.st.wHour, in.wHour) << serial;
        ASSERT_EQ(out.st.wMinute, in.wMinute) << serial;
        ASSERT_EQ(out.st.wSecond, in.wSecond) << serial;
        ASSERT_EQ(out.st.wDayOfWeek, chr::weekday{chr::sys_days{ymd}}.c_encoding()) << serial;
        ASSERT_EQ(out.wDayOfYear, ReferenceSerial(in.wYear, in.wMonth, in.wDay) - ReferenceSerial(in.wYear, 1, 1) + 1);
        ++checked;
    }
    EXPECT_GT(checked, 97000);
}

// ---- The local clock ----------------------------------------------------------------

// Sets TZ for the scope of a test and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        test::SetTimeZoneVariable(tz);
    }
    ~ScopedTimeZone() { test::SetTimeZoneVariable(m_old ? m_old->c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> m_old;
};

// Milliseconds since 1970 of the fields, read as a UTC wall clock.
long long WallClockMs(const SYSTEMTIME& st) {
    const chr::sys_days day = chr::year{st.wYear} / chr::month{st.wMonth} / chr::day{st.wDay};
    return chr::duration_cast<chr::milliseconds>(day.time_since_epoch()).count() +
           ((st.wHour * 60LL + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
}

long long NowMs() {
    return chr::floor<chr::milliseconds>(chr::system_clock::now()).time_since_epoch().count();
}

void ExpectLocalTimeWithOffset(const char* tz, long long offsetMs) {
    ScopedTimeZone zone(tz);
    const long long before = NowMs();
    SYSTEMTIME st{};
    GetLocalTime(&st);
    const long long after = NowMs();
    const long long local = WallClockMs(st);
    EXPECT_LE(before + offsetMs, local) << tz;
    EXPECT_LE(local, after + offsetMs) << tz;
    EXPECT_LT(st.wMilliseconds, 1000);
    const chr::sys_days day = chr::year{st.wYear} / chr::month{st.wMonth} / chr::day{st.wDay};
    EXPECT_EQ(st.wDayOfWeek, chr::weekday{day}.c_encoding());
}

TEST(LocalTime, FollowsTheTimeZone) {
    // The system takes its zone from its settings, not from the variable.
    CALQUOR_STAND_IN_ONLY("clock reading the TZ variable");
    ExpectLocalTimeWithOffset("UTC0", 0);
    // POSIX offsets count west of Greenwich: "-5:30" is five and a half hours east.
    ExpectLocalTimeWithOffset("CQT-5:30", (5 * 60 + 30) * 60 * 1000LL);
    ExpectLocalTimeWithOffset("CQW10", -10 * 3600 * 1000LL);
}

TEST(LocalTime, IgnoresNull) {
    CALQUOR_STAND_IN_ONLY("null check");  // the system writes through the pointer
    GetLocalTime(nullptr);
}

}  // namespace
}  // namespace calquor
