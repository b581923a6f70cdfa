// The date functions. A date is the automation runtime's DATE serial: days
// since 30 December 1899, the fraction the time of day counted forward from
// midnight of the whole day, also before 1899 (-1.25 is 29 December 06:00).
#include "DateFunctions.h"

#include "Conversions.h"
#include "HandlerFrame.h"
#include "ResultCodes.h"
#include "Rules.h"

#include <calquor/date_calendar.h>
#include <calquor/text_rules.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace calquor {
namespace {

using conv::WorkingDate;

// The value every calendar field reads when a date cannot be decomposed.
constexpr WORD kNoField = 0xFFFF;
// The years a DATE can hold; SystemTimeToVariantTime reads 0..99 as
// two-digit years, so a year computed here is checked against these first.
constexpr std::int64_t kFirstYear = 100;
constexpr std::int64_t kLastYear = 9999;

// ---------------------------------------------------------------------------
// The date rules. Where Calquor_VCL's runtime differs, the rule is a member
// of the flavours' rule sets (Rules.h). Under Calquor_VCL's rules a date
// argument the runtime cannot convert raises its conversion error (the frame
// reports "Parameter type mismatch"), so there are no invalid dates there.
// ---------------------------------------------------------------------------

// The calendar fields of date by VariantTimeToSystemTime. Every field reads
// 65535 when the date is invalid or lies outside the years 100..9999. NaN is
// refused here: the system's range check does not catch it and would
// decompose it into arbitrary fields.
SYSTEMTIME FieldsOf(const WorkingDate& date) {
    SYSTEMTIME st{};
    if (date.valid && !std::isnan(date.value) && VariantTimeToSystemTime(date.value, &st)) return st;
    return SYSTEMTIME{kNoField, kNoField, kNoField, kNoField, kNoField, kNoField, kNoField, kNoField};
}

// The date of the fields by SystemTimeToVariantTime, milliseconds ignored;
// invalid when the fields are refused.
WorkingDate DateOf(SYSTEMTIME st) {
    st.wMilliseconds = 0;
    DATE value = 0.0;
    if (!SystemTimeToVariantTime(&st, &value)) return {};
    return {value, true};
}

// The day number of date: its integer part truncated toward zero; 0 for an
// invalid date.
double DayNumber(const WorkingDate& date) {
    return date.valid ? std::trunc(date.value) : 0.0;
}

// A DATE as a continuous count of days, where the time of day of a date
// before 1899 is counted forward as well: -1.25 (29 December 06:00) is -0.75.
double ToContinuous(DATE d) {
    return d >= 0.0 ? d : 2.0 * std::ceil(d) - d;
}

// The inverse of ToContinuous: -1.75 is 28 December 18:00, the DATE -2.25.
DATE FromContinuous(double x) {
    return x >= 0.0 ? x : 2.0 * std::floor(x) - x;
}

// The current local calendar fields (the system time zone).
SYSTEMTIME LocalFields() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return st;
}

// ---------------------------------------------------------------------------
// Helpers shared by the handlers.
// ---------------------------------------------------------------------------

_variant_t DateValue(DATE value) {
    return _variant_t(value, VT_DATE);
}

// Fails the running handler; its frame supplies the message.
[[noreturn]] void Refuse(const char* message) {
    throw CQEError(message);
}

bool Decomposed(const SYSTEMTIME& st) {
    return st.wYear != kNoField;
}

// Shared by AddDays and AddWeeks: adds days to the continuous day count of
// date (0 when invalid) and turns the sum back into a DATE.
_variant_t AddDayCount(const WorkingDate& date, std::int64_t days) {
    const double start = date.valid ? date.value : 0.0;
    return DateValue(Rules::AddDays(start, days));
}

// Shared by AddMonths and AddYears: the date with from's day and time of day
// in the given year and month (1..12).
_variant_t MoveTo(const SYSTEMTIME& from, std::int64_t year, int month) {
    // A year outside 100..9999 fails the function rather than giving
    // a value nobody asked for (SystemTimeToVariantTime would turn year 54
    // into 1954 or 2054, and refuse years above 9999).
    if (year < kFirstYear || year > kLastYear) Refuse(msg::kUnknownError);
    SYSTEMTIME st = from;
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    const int last = date_calendar::DaysInMonth(static_cast<long>(year), month);
    if constexpr (!Rules::kMovedDateClampsDay) {
        // At midnight, refusing a day the target month lacks.
        st.wHour = st.wMinute = st.wSecond = 0;
        if (st.wDay > last) Refuse(msg::kUnknownError);
    } else if (st.wDay > last) {
        // A day the target month lacks clamps to the month's last
        // day (31 Jan 2004 + 1 month = 29 Feb 2004; 29 Feb 2004 + 1 year =
        // 28 Feb 2005) instead of rolling into the next month as
        // SystemTimeToVariantTime would.
        st.wDay = static_cast<WORD>(last);
    }
    st.wDayOfWeek = 0;
    const WorkingDate built = DateOf(st);
    if (!built.valid) Refuse(msg::kUnknownError);
    return DateValue(built.value);
}

// The fields of date for AddMonths and AddYears. An invalid or
// undecomposable date fails the function (there is no month to move from).
SYSTEMTIME MovableFields(const WorkingDate& date) {
    const SYSTEMTIME st = FieldsOf(date);
    if (!date.valid || !Decomposed(st)) Refuse(msg::kUnknownError);
    return st;
}

// The whole days from a to b (day numbers, each truncated toward zero).
int DayDifference(const WorkingDate& a, const WorkingDate& b) {
    const double days = DayNumber(b) - DayNumber(a);
    // Only a date far outside the DATE range (an operand's VT_DATE of, say,
    // 1e300 or NaN) misses the 32-bit result; such a call fails instead of
    // converting out of range.
    if (!(days >= std::numeric_limits<int>::min() && days <= std::numeric_limits<int>::max()))
        Refuse(msg::kUnknownError);
    return static_cast<int>(days);
}

int MonthDifference(const WorkingDate& a, const WorkingDate& b) {
    const SYSTEMTIME fa = FieldsOf(a);
    const SYSTEMTIME fb = FieldsOf(b);
    // At most 65535 * 12 + 65535 in size: no overflow in int.
    int months = (int{fb.wYear} - int{fa.wYear}) * 12 + (int{fb.wMonth} - int{fa.wMonth});
    // A month counts once b's day of the month reaches a's; only forward.
    if (months > 0 && fb.wDay < fa.wDay) --months;
    return months;
}

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

}  // namespace

// Today and Now run without a frame: reading the clock cannot fail, and a
// reading SystemTimeToVariantTime refuses leaves as the variant layer's error.
_variant_t FnToday() {
    SYSTEMTIME st = LocalFields();
    st.wHour = st.wMinute = st.wSecond = 0;
    const WorkingDate today = DateOf(st);
    if (!today.valid) _com_issue_error(E_INVALIDARG);
    return DateValue(today.value);
}

_variant_t FnNow() {
    const SYSTEMTIME st = LocalFields();
    const WorkingDate now = DateOf(st);
    if (!now.valid) _com_issue_error(E_INVALIDARG);
    return DateValue(Rules::Now(now.value, st.wMilliseconds));
}

_variant_t FnAddDays(const _variant_t& date, const _variant_t& n) {
    return RunFramed(msg::kParameterTypeMismatch, [&] {
        const WorkingDate start = conv::ToDate(date);
        return AddDayCount(start, conv::ToInteger(n));
    });
}

_variant_t FnAddWeeks(const _variant_t& date, const _variant_t& n) {
    return RunFramed(msg::kParameterTypeMismatch, [&] {
        const WorkingDate start = conv::ToDate(date);
        const std::int64_t days = std::int64_t{7} * conv::ToInteger(n);
        // The day count is a 32-bit product; a count of weeks whose
        // days do not fit 32 bits fails like a count that is no integer.
        if (days < std::numeric_limits<std::int32_t>::min() || days > std::numeric_limits<std::int32_t>::max())
            Refuse(msg::kParameterTypeMismatch);
        return AddDayCount(start, days);
    });
}

_variant_t FnAddMonths(const _variant_t& date, const _variant_t& n) {
    return RunFramed(msg::kUnknownError, [&] {
        const std::int64_t count = conv::ToInteger(n);
        const SYSTEMTIME st = MovableFields(conv::ToDate(date));
        // Month and year by floor division, so negative counts go back across
        // year ends: January - 1 is December of the previous year.
        const std::int64_t zeroBased = std::int64_t{st.wMonth} - 1 + count;
        std::int64_t years = zeroBased / 12;
        std::int64_t month = zeroBased % 12;
        if (month < 0) {
            month += 12;
            --years;
        }
        return MoveTo(st, std::int64_t{st.wYear} + years, static_cast<int>(month) + 1);
    });
}

_variant_t FnAddYears(const _variant_t& date, const _variant_t& n) {
    return RunFramed(msg::kUnknownError, [&] {
        const std::int64_t count = conv::ToInteger(n);
        const SYSTEMTIME st = MovableFields(conv::ToDate(date));
        return MoveTo(st, std::int64_t{st.wYear} + count, st.wMonth);
    });
}

_variant_t FnDateDiff(const _variant_t& a, const _variant_t& b, const _variant_t& unit) {
    return RunFramed(msg::kUnknownError, [&] {
        const WorkingDate from = conv::ToDate(a);
        const WorkingDate to = conv::ToDate(b);
        const std::string name = conv::ToText(unit);
        int result = 0;
        if (EqualsNoCase(name, "Day") || EqualsNoCase(name, "D"))
            result = DayDifference(from, to);
        else if (EqualsNoCase(name, "Month") || EqualsNoCase(name, "M"))
            result = MonthDifference(from, to);
        else if (EqualsNoCase(name, "Year") || EqualsNoCase(name, "Y"))
            result = DayDifference(from, to) / 365;
        else if (EqualsNoCase(name, "Week") || EqualsNoCase(name, "W"))
            result = DayDifference(from, to) / 7;
        else
            // A unit that names none of the above fails.
            Refuse(msg::kUnknownError);
        return _variant_t(static_cast<long>(result));
    });
}

_variant_t FnIsLeapYear(const _variant_t& date) {
    return RunFramed(msg::kUnknownError, [&] {
        return _variant_t(date_calendar::IsLeapYear(FieldsOf(conv::ToDate(date)).wYear));
    });
}

_variant_t FnGetMonth(const _variant_t& date) {
    return RunFramed(msg::kUnknownError, [&] {
        return _variant_t(static_cast<unsigned short>(FieldsOf(conv::ToDate(date)).wMonth));
    });
}

_variant_t FnGetYear(const _variant_t& date) {
    return RunFramed(msg::kUnknownError, [&] {
        return _variant_t(static_cast<unsigned short>(FieldsOf(conv::ToDate(date)).wYear));
    });
}

_variant_t FnDayOfMonth(const _variant_t& date) {
    return RunFramed(msg::kUnknownError, [&] {
        return _variant_t(static_cast<unsigned short>(FieldsOf(conv::ToDate(date)).wDay));
    });
}

_variant_t FnDayOfWeek(const _variant_t& date, const _variant_t& format) {
    return RunFramed(msg::kUnknownError, [&] {
        const std::string form = conv::ToText(format);
        const SYSTEMTIME st = FieldsOf(conv::ToDate(date));
        // 1 = Sunday .. 7 = Saturday; -1 for a date without fields.
        const int day = Decomposed(st) ? int{st.wDayOfWeek} + 1 : -1;
        if (EqualsNoCase(form, "Number") || EqualsNoCase(form, "N")) {
            return Rules::IntegerValue(day);
        }
        return conv::MakeText(day >= 1 && day <= 7 ? kDayNames[day - 1] : "");
    });
}

}  // namespace calquor

namespace calquor {

DATE AutomationRules::AddDays(DATE start, std::int64_t days) {
    return FromContinuous(ToContinuous(start) + static_cast<double>(days));
}

}  // namespace calquor
