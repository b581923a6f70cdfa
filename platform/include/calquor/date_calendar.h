// Calendar arithmetic shared by the platform's date services and date text
// conversions, the engines' date functions and the tools. Header only
// (constexpr): no symbol of any library.
//
// Dates use the proleptic Gregorian calendar for every year. A day serial
// counts days from Saturday 30 December 1899 (serial 0), as DATE does.
#pragma once

namespace calquor::date_calendar {

// The DATE range: 1 January 100 .. 31 December 9999.
inline constexpr long kMinSerial = -657434;
inline constexpr long kMaxSerial = 2958465;
inline constexpr long kMinYear = 100;
inline constexpr long kMaxYear = 9999;

constexpr bool IsLeapYear(long year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Days in month 1..12 of year; 0 for any other month.
constexpr int DaysInMonth(long year, long month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && IsLeapYear(year)) return 29;
    return kDays[month - 1];
}

// Years 0..99 written with two digits: 00-49 mean 2000-2049 and 50-99 mean
// 1950-1999. This is the rule of current Windows (10 version 1903 and later);
// older versions split at 30. Other years are returned unchanged.
constexpr long ExpandTwoDigitYear(long year) {
    if (year >= 0 && year < 50) return 2000 + year;
    if (year >= 50 && year < 100) return 1900 + year;
    return year;
}

// Serial of year/month/day with month 1..12; day may be any value and simply
// counts from the first of the month (day 0 is the last day of the month
// before). Exact for |year| well beyond the DATE range.
constexpr long SerialFromCivil(long year, long month, long day) {
    // Count from 1 March so that the leap day ends the year.
    const long y = month <= 2 ? year - 1 : year;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yearOfEra = y - era * 400;
    const long monthFromMarch = month > 2 ? month - 3 : month + 9;
    const long dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    // 719468 moves the origin to 1 January 1970, 25569 further to 30 Dec 1899.
    return era * 146097 + dayOfEra - 719468 + 25569;
}

struct CivilDate {
    long year;
    int month;
    int day;
};

// Inverse of SerialFromCivil.
constexpr CivilDate CivilFromSerial(long serial) {
    const long z = serial - 25569 + 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long dayOfEra = z - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const int month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

// 0 = Sunday .. 6 = Saturday; serial 0 is a Saturday.
constexpr int DayOfWeek(long serial) {
    return static_cast<int>(((serial % 7) + 7 + 6) % 7);
}

static_assert(SerialFromCivil(1899, 12, 30) == 0);
static_assert(SerialFromCivil(100, 1, 1) == kMinSerial);
static_assert(SerialFromCivil(9999, 12, 31) == kMaxSerial);
static_assert(CivilFromSerial(kMinSerial).year == 100);
static_assert(DayOfWeek(0) == 6);

}  // namespace calquor::date_calendar
