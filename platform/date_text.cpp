// Dates to and from en-US text: short date "M/d/yyyy", long time "h:mm:ss tt".
#include <calquor/oleauto.h>

#include <calquor/date_calendar.h>

#include <cmath>
#include <cstdio>
#include <string_view>

namespace calquor {
namespace {

namespace cal = date_calendar;

// ---- Text to date -------------------------------------------------------------

// At most three date numbers and three time numbers.
constexpr int kMaxFields = 6;
// Numbers are saturated here: anything this large is invalid in every role,
// and saturating keeps long digit runs from overflowing.
constexpr unsigned long kNumberCap = 1000000;

// A number or a month name of the text, with the separator written before it:
// 0 (none, white space or comma), ':' or '.' (time), '/' (date, also for '-').
struct Field {
    unsigned long value = 0;
    bool isMonthName = false;
    char sepBefore = 0;
};

struct ParsedText {
    Field fields[kMaxFields];
    int count = 0;
    // 0 none, 1 AM, 2 PM, attached to the number at meridiemField.
    int meridiem = 0;
    int meridiemField = -1;
};

bool IsTimeSep(char sep) { return sep == ':' || sep == '.'; }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// White space in the Unicode sense (an ideographic space separates as well).
bool IsSpace(char16_t c) {
    return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

enum class WordKind { Month, Weekday, Am, Pm, Unknown };

// Classifies a lower-case ASCII word; month names give their number 1..12.
WordKind ClassifyWord(std::string_view word, int& month) {
    static constexpr std::string_view kMonths[] = {"january", "february", "march",     "april",
                                                   "may",     "june",     "july",      "august",
                                                   "september", "october", "november", "december"};
    static constexpr std::string_view kWeekdays[] = {"sunday",   "monday", "tuesday", "wednesday",
                                                     "thursday", "friday", "saturday"};
    for (int i = 0; i < 12; ++i) {
        if (word == kMonths[i] || word == kMonths[i].substr(0, 3)) {
            month = i + 1;
            return WordKind::Month;
        }
    }
    for (std::string_view day : kWeekdays) {
        if (word == day || word == day.substr(0, 3)) return WordKind::Weekday;
    }
    if (word == "am" || word == "a") return WordKind::Am;
    if (word == "pm" || word == "p") return WordKind::Pm;
    return WordKind::Unknown;
}

bool AddField(ParsedText& p, unsigned long value, bool isMonthName, char sepBefore) {
    if (p.count == kMaxFields) return false;
    // A time separator joins two numbers, never a month name.
    if (isMonthName && IsTimeSep(sepBefore)) return false;
    p.fields[p.count++] = Field{value, isMonthName, sepBefore};
    return true;
}

// Splits the text into numbers, month names, separators and AM/PM; false for
// anything the en-US date forms do not contain.
bool Tokenize(const OLECHAR* s, ParsedText& p) {
    char pending = 0;  // a separator waiting for the number after it
    std::size_t i = 0;
    while (s[i]) {
        const char16_t c = s[i];
        if (IsDigit(c)) {
            unsigned long value = 0;
            for (; IsDigit(s[i]); ++i) {
                value = value * 10 + static_cast<unsigned long>(s[i] - u'0');
                if (value > kNumberCap) value = kNumberCap;
            }
            if (!AddField(p, value, false, pending)) return false;
            pending = 0;
            continue;
        }
        if (IsLetter(c)) {
            // No name is longer than "september"; longer words are unknown.
            char word[12];
            std::size_t len = 0;
            bool tooLong = false;
            for (; IsLetter(s[i]); ++i) {
                if (len == sizeof word) {
                    tooLong = true;
                    continue;
                }
                const char16_t l = s[i] >= u'A' && s[i] <= u'Z' ? static_cast<char16_t>(s[i] + 32) : s[i];
                word[len++] = static_cast<char>(l);
            }
            int month = 0;
            const WordKind kind = tooLong ? WordKind::Unknown : ClassifyWord(std::string_view(word, len), month);
            switch (kind) {
            case WordKind::Month:
                if (!AddField(p, static_cast<unsigned long>(month), true, pending)) return false;
                pending = 0;
                break;
            case WordKind::Weekday:
                // Skipped like white space, but not between a separator and its number.
                if (pending) return false;
                break;
            case WordKind::Am:
            case WordKind::Pm:
                // Marks the number just read ("6 pm", "6p", "6:00 PM"); only one per text.
                if (p.count == 0 || p.meridiem || pending || p.fields[p.count - 1].isMonthName) return false;
                p.meridiem = kind == WordKind::Am ? 1 : 2;
                p.meridiemField = p.count - 1;
                break;
            case WordKind::Unknown:
                return false;
            }
            continue;
        }
        if (c == u':' || c == u'.' || c == u'/' || c == u'-') {
            // A separator stands between two fields, not after AM/PM.
            if (p.count == 0 || pending || p.meridiemField == p.count - 1) return false;
            const char sep = c == u'-' ? '/' : static_cast<char>(c);
            if (IsTimeSep(sep) && p.fields[p.count - 1].isMonthName) return false;
            pending = sep;
            ++i;
            continue;
        }
        if (c == u',' || IsSpace(c)) {
            ++i;
            continue;
        }
        return false;
    }
    return pending == 0 && p.count > 0;
}

// Tries one reading of the date numbers. monthPos/dayPos/yearPos index the
// date fields; dayPos -1 means the 1st, yearPos -1 means defaultYear. A
// month name may only stand in the month's place.
bool TryDate(const Field* f, int count, int monthPos, int dayPos, int yearPos, long defaultYear, SYSTEMTIME& st) {
    for (int i = 0; i < count; ++i) {
        if (f[i].isMonthName && i != monthPos) return false;
    }
    const long month = static_cast<long>(f[monthPos].value);
    const long day = dayPos >= 0 ? static_cast<long>(f[dayPos].value) : 1;
    const long rawYear = yearPos >= 0 ? static_cast<long>(f[yearPos].value) : defaultYear;
    if (rawYear > cal::kMaxYear) return false;
    const long year = cal::ExpandTwoDigitYear(rawYear);
    if (day < 1 || day > cal::DaysInMonth(year, month)) return false;
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    return true;
}

// Reads two or three date numbers. Three: month/day/year (the en-US order)
// first, then year/month/day, year/day/month, day/month/year; the first
// valid calendar day wins. Two: month/day or day/month of the current year,
// failing that the 1st of year/month or month/year.
bool ResolveDate(const Field* f, int count, SYSTEMTIME& st) {
    if (count == 3) {
        struct Order {
            int month, day, year;
        };
        static constexpr Order kOrders[] = {{0, 1, 2}, {1, 2, 0}, {2, 1, 0}, {1, 0, 2}};
        for (const Order& o : kOrders) {
            if (TryDate(f, count, o.month, o.day, o.year, 0, st)) return true;
        }
        return false;
    }
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const long currentYear = now.wYear;
    return TryDate(f, count, 0, 1, -1, currentYear, st) || TryDate(f, count, 1, 0, -1, currentYear, st) ||
           TryDate(f, count, 1, -1, 0, 0, st) || TryDate(f, count, 0, -1, 1, 0, st);
}

// Decides which fields are the time and which the date, and checks them.
bool Resolve(const ParsedText& p, SYSTEMTIME& st) {
    const int n = p.count;
    const Field* f = p.fields;

    // The time: numbers joined by ':' or '.', at most one such group.
    int t0 = -1, t1 = -1;
    bool dotted = false;
    for (int i = 1; i < n; ++i) {
        if (!IsTimeSep(f[i].sepBefore)) continue;
        if (t0 < 0) {
            t0 = i - 1;
        } else if (t1 != i - 1) {
            return false;
        }
        t1 = i;
        dotted = dotted || f[i].sepBefore == '.';
    }

    int hourAt = -1, minuteAt = -1, secondAt = -1;
    int d0 = 0, d1 = n;  // the date fields [d0, d1)
    if (t0 >= 0) {
        const int length = t1 - t0 + 1;
        // h:m or h:m:s, before or after the date; fractional seconds are refused.
        if (length > 3) return false;
        if (t0 != 0 && t1 != n - 1) return false;
        if (p.meridiem && p.meridiemField != t1) return false;
        hourAt = t0;
        minuteAt = t0 + 1;
        if (length == 3) secondAt = t0 + 2;
        if (t0 == 0) {
            d0 = t1 + 1;
        } else {
            d1 = t0;
        }
    } else if (p.meridiem) {
        // A lone hour needs AM/PM and stands before or after the date.
        hourAt = p.meridiemField;
        if (hourAt == 0) {
            d0 = 1;
        } else if (hourAt == n - 1) {
            d1 = n - 1;
        } else {
            return false;
        }
    }
    const int dateCount = d1 - d0;
    if (dateCount == 1 || dateCount > 3) return false;
    // A date separator joins two numbers of the date.
    for (int i = 1; i < n; ++i) {
        if (f[i].sepBefore == '/' && (i - 1 < d0 || i >= d1)) return false;
    }

    unsigned long hour = hourAt >= 0 ? f[hourAt].value : 0;
    const unsigned long minute = minuteAt >= 0 ? f[minuteAt].value : 0;
    const unsigned long second = secondAt >= 0 ? f[secondAt].value : 0;
    if (hour > 23 || minute > 59 || second > 59) return false;
    // "0.0" reads as a number, not as midnight: the platform refuses it, while
    // "0.1" (0:01) and "00:00 AM" are times.
    if (dotted && dateCount == 0 && !p.meridiem && hour == 0 && minute == 0 && second == 0) return false;
    // 12 AM is midnight, 12 PM noon; hours after 12 ignore AM/PM.
    if (p.meridiem == 2 && hour < 12) hour += 12;
    if (p.meridiem == 1 && hour == 12) hour = 0;

    st = SYSTEMTIME{};
    if (dateCount == 0) {
        st.wYear = 1899;
        st.wMonth = 12;
        st.wDay = 30;
    } else if (!ResolveDate(f + d0, dateCount, st)) {
        return false;
    }
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return true;
}

// ---- Date to text -------------------------------------------------------------

// Appends the ASCII text to out at len; out holds at least 40 units.
void AppendAscii(OLECHAR* out, int& len, const char* text, int count) {
    for (int i = 0; i < count; ++i) out[len++] = static_cast<OLECHAR>(static_cast<unsigned char>(text[i]));
}

}  // namespace

HRESULT VarDateFromStr(const OLECHAR* strIn, LCID /*lcid*/, ULONG /*dwFlags*/, DATE* pdateOut) {
    if (!pdateOut) return E_INVALIDARG;
    if (!strIn) return DISP_E_TYPEMISMATCH;
    ParsedText parsed;
    SYSTEMTIME st{};
    if (!Tokenize(strIn, parsed) || !Resolve(parsed, st)) return DISP_E_TYPEMISMATCH;
    DATE value = 0.0;
    if (!SystemTimeToVariantTime(&st, &value)) return DISP_E_TYPEMISMATCH;
    *pdateOut = value;
    return S_OK;
}

HRESULT VarBstrFromDate(DATE dateIn, LCID /*lcid*/, ULONG /*dwFlags*/, BSTR* pbstrOut) {
    if (!pbstrOut) return E_INVALIDARG;
    SYSTEMTIME st{};
    if (!VariantTimeToSystemTime(dateIn, &st)) return E_INVALIDARG;

    // Day 0 prints as a time only (midnight included); a whole day as a date only.
    const double whole = std::trunc(dateIn);
    const bool showDate = whole != 0.0;
    const bool showTime = !showDate || !(std::fabs(dateIn - whole) < 1e-12);

    OLECHAR text[40];
    int len = 0;
    char part[24];
    if (showDate) {
        const int n = std::snprintf(part, sizeof part, "%u/%u/%u", unsigned{st.wMonth}, unsigned{st.wDay},
                                    unsigned{st.wYear});
        AppendAscii(text, len, part, n);
    }
    if (showTime) {
        if (len) AppendAscii(text, len, " ", 1);
        const unsigned hour12 = st.wHour % 12 == 0 ? 12u : st.wHour % 12u;
        const int n = std::snprintf(part, sizeof part, "%u:%02u:%02u %s", hour12, unsigned{st.wMinute},
                                    unsigned{st.wSecond}, st.wHour < 12 ? "AM" : "PM");
        AppendAscii(text, len, part, n);
    }
    BSTR out = SysAllocStringLen(text, static_cast<UINT>(len));
    if (!out) return E_OUTOFMEMORY;
    *pbstrOut = out;
    return S_OK;
}

}  // namespace calquor
