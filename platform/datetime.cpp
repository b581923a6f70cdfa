// DATE <-> calendar fields, and the current local time.
#include <calquor/oleauto.h>

#include <calquor/date_calendar.h>

#include <chrono>
#include <cmath>
#include <ctime>

namespace calquor {
namespace {

namespace cal = date_calendar;

constexpr long kSecondsPerDay = 86400;

// Fields of a DATE, or false when it lies outside 1 Jan 100 .. 31 Dec 9999.
bool SplitDate(double value, SYSTEMTIME& st, USHORT& dayOfYear) {
    // Written so that NaN fails as well.
    if (!(value > cal::kMinSerial - 1.0 && value < cal::kMaxSerial + 1.0)) return false;

    // The day is the integer part truncated toward zero; the fraction counts
    // forward from that day's midnight even for negative values.
    const double whole = std::trunc(value);
    long serial = static_cast<long>(whole);
    const double seconds = std::fabs(value - whole) * kSecondsPerDay;
    long secondOfDay = static_cast<long>(std::floor(seconds));
    // To the nearest second; only more than half a second rounds up.
    if (seconds - static_cast<double>(secondOfDay) > 0.5) ++secondOfDay;
    if (secondOfDay >= kSecondsPerDay) {
        secondOfDay -= kSecondsPerDay;
        ++serial;
    }
    // The last fraction of a second of 31 Dec 9999 would round into the year
    // 10000, which no caller can represent: refuse it like the range ends.
    if (serial > cal::kMaxSerial) return false;

    const cal::CivilDate date = cal::CivilFromSerial(serial);
    st.wYear = static_cast<WORD>(date.year);
    st.wMonth = static_cast<WORD>(date.month);
    st.wDay = static_cast<WORD>(date.day);
    st.wDayOfWeek = static_cast<WORD>(cal::DayOfWeek(serial));
    st.wHour = static_cast<WORD>(secondOfDay / 3600);
    st.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    st.wSecond = static_cast<WORD>(secondOfDay % 60);
    st.wMilliseconds = 0;
    dayOfYear = static_cast<USHORT>(serial - cal::SerialFromCivil(date.year, 1, 1) + 1);
    return true;
}

// The DATE of the fields, or false when they are refused. SystemTimeToVariantTime
// refuses months above 12; VarDateFromUdate (rollMonths) carries them into the
// years after, as conformance tests run on Windows show (month 13 of 1980 is
// January 1981).
bool ComposeDate(const SYSTEMTIME& st, bool rollMonths, double& out) {
    if ((st.wMonth > 12 && !rollMonths) || st.wDay > 31 || st.wYear > cal::kMaxYear) return false;

    long year = cal::ExpandTwoDigitYear(st.wYear);
    long month = st.wMonth;
    // Month 0 is December of the year before.
    if (month == 0) {
        month = 12;
        --year;
    }
    year += (month - 1) / 12;
    month = (month - 1) % 12 + 1;

    // Hours of 24 and more and minutes or seconds of 60 and more roll over
    // into the next unit (the native behaviour is not documented; callers of
    // the engine never pass such fields, and rolling over keeps every field
    // combination meaningful instead of refusing some arbitrarily).
    long second = st.wSecond;
    long minute = st.wMinute + second / 60;
    second %= 60;
    long hour = st.wHour + minute / 60;
    minute %= 60;
    const long extraDays = hour / 24;
    hour %= 24;

    // Day 0 and days beyond the month's length count on from the first of the
    // month: 0 Jan is 31 Dec, 31 Feb 2004 is 2 Mar 2004.
    const long serial = cal::SerialFromCivil(year, month, 1) + (st.wDay - 1) + extraDays;
    if (serial < cal::kMinSerial || serial > cal::kMaxSerial) return false;

    // Before 30 Dec 1899 the time lies further from zero than the day. The
    // three separate additions reproduce the platform's last-bit results.
    const double sign = serial < 0 ? -1.0 : 1.0;
    double value = static_cast<double>(serial);
    value += sign * (static_cast<double>(hour) / 24.0);
    value += sign * (static_cast<double>(minute) / 1440.0);
    value += sign * (static_cast<double>(second) / 86400.0);
    out = value;
    return true;
}

}  // namespace

INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* lpSystemTime) {
    if (!lpSystemTime) return FALSE;
    SYSTEMTIME st{};
    USHORT dayOfYear = 0;
    if (!SplitDate(vtime, st, dayOfYear)) return FALSE;
    *lpSystemTime = st;
    return TRUE;
}

INT SystemTimeToVariantTime(SYSTEMTIME* lpSystemTime, DOUBLE* pvtime) {
    if (!lpSystemTime || !pvtime) return FALSE;
    double value = 0.0;
    if (!ComposeDate(*lpSystemTime, false, value)) return FALSE;
    *pvtime = value;
    return TRUE;
}

HRESULT VarUdateFromDate(DATE dateIn, ULONG /*dwFlags*/, UDATE* pudateOut) {
    if (!pudateOut) return E_INVALIDARG;
    UDATE ud{};
    if (!SplitDate(dateIn, ud.st, ud.wDayOfYear)) return E_INVALIDARG;
    *pudateOut = ud;
    return S_OK;
}

HRESULT VarDateFromUdate(UDATE* pudateIn, ULONG /*dwFlags*/, DATE* pdateOut) {
    if (!pudateIn || !pdateOut) return E_INVALIDARG;
    double value = 0.0;
    if (!ComposeDate(pudateIn->st, true, value)) return E_INVALIDARG;
    *pdateOut = value;
    return S_OK;
}

void GetLocalTime(SYSTEMTIME* lpSystemTime) {
    if (!lpSystemTime) return;
    using namespace std::chrono;
    const auto now = time_point_cast<milliseconds>(system_clock::now());
    // Whole seconds toward minus infinity so that the milliseconds stay >= 0.
    const auto wholeSeconds = floor<seconds>(now);
    const std::time_t t = system_clock::to_time_t(wholeSeconds);
    // localtime_r need not read TZ again; tzset makes a changed TZ count.
    ::tzset();
    std::tm local{};
    if (!::localtime_r(&t, &local)) {
        *lpSystemTime = SYSTEMTIME{};
        return;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    // A leap second (60) is shown as the second before it.
    st.wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    st.wMilliseconds = static_cast<WORD>((now - wholeSeconds).count());
    *lpSystemTime = st;
}

}  // namespace calquor
