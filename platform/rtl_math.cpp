// The runtime library's math routines (unit Math) and text routines
// (SysUtils). Floating-point exceptions are masked, as in the runtime's
// current versions: invalid operations give NaN and divisions by zero
// +/-INF, and nothing here throws.
#include <calquor/rtl.h>

#include "case_map.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>


namespace calquor::rtl {
namespace {

// Rounds the decimal digit string `digits` (value 0.d1d2... scaled) to its
// first `keep` digits, halves away from zero; returns the kept digits, which
// may have gained a leading digit by the carry ("999" -> "1000").
std::string RoundDigits(const std::string& digits, std::size_t keep) {
    std::string kept = digits.substr(0, keep);
    if (keep < digits.size() && digits[keep] >= '5') {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    return kept;
}

}  // namespace

// Rounds to the nearest multiple of 10^digit, halves away from zero (the
// documented "symmetric arithmetic rounding" of current versions). The
// rounding is done on the shortest decimal text that reads back as the value
// - the digits the user wrote - so 1.235 rounds to 1.24 although its binary
// value lies just below 1.235, and the result is the double nearest to the
// rounded decimal. -1.235 gives -1.24 (the FPU rounding mode plays no part).
// digit is clamped to -37..37, the runtime's range. A zero result is +0;
// NaN and infinities are returned unchanged.
double SimpleRoundTo(double value, signed char digit) {
    const int d = std::clamp(static_cast<int>(digit), -37, 37);
    if (!std::isfinite(value) || value == 0.0) return value;

    char buf[64];
    const auto conv = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    if (conv.ec != std::errc()) return value;
    // buf holds "[-]d[.ddd]e(+|-)xx".
    const std::string text(buf, conv.ptr);
    const bool negative = text[0] == '-';
    const std::size_t e = text.find('e');
    if (e == std::string::npos || e + 1 >= text.size()) return value;
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i)
        if (text[i] != '.') digits += text[i];
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);

    // The first digit's place is 10^exponent; keep those down to 10^d.
    const long keep = static_cast<long>(exponent) - d + 1;
    if (keep >= static_cast<long>(digits.size())) return value;  // already a multiple
    if (keep < 0) return 0.0;                                    // below half of 10^d
    const std::string kept = RoundDigits(digits, static_cast<std::size_t>(keep));
    if (kept.find_first_not_of('0') == std::string::npos) return 0.0;

    const std::string rounded = (negative ? "-" : "") + kept + "e" + std::to_string(d);
    double result = 0.0;
    std::from_chars(rounded.data(), rounded.data() + rounded.size(), result);
    return result;
}

// Outside the 32-bit range the result saturates at the nearest bound; NaN
// gives 0 (the low half of the FPU's "integer indefinite" that the runtime's
// Integer(Trunc(x)) would produce).
LONG Floor(double x) {
    if (std::isnan(x)) return 0;
    const double f = std::floor(x);
    if (f >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (f <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<LONG>(f);
}

bool IsZero(double a, double epsilon) {
    if (epsilon == 0.0) epsilon = 1e-12;
    return std::fabs(a) <= epsilon;
}

// Free Pascal's rules: x^0 = 1 (also 0^0 and NaN^0); 0^y = 0 for y > 0; an
// integral exponent up to MaxInt in magnitude uses repeated squaring (a
// negative one inverts the base first, so 0^-1 is +INF); anything else is
// exp(y * ln(x)), so a negative base gives NaN. Computed in long double, as
// the runtime computes in extended precision, then rounded to double.
double Power(double base, double exponent) {
    if (exponent == 0.0) return 1.0;
    if (base == 0.0 && exponent > 0.0) return 0.0;
    if (std::trunc(exponent) == exponent && std::fabs(exponent) <= static_cast<double>(INT32_MAX)) {
        auto n = static_cast<std::int64_t>(std::fabs(exponent));
        long double b = base;
        if (exponent < 0.0) b = 1.0L / b;
        long double result = 1.0L;
        while (n > 0) {
            if (n & 1) result *= b;
            n >>= 1;
            if (n > 0) b *= b;
        }
        return static_cast<double>(result);
    }
    return static_cast<double>(std::exp(static_cast<long double>(exponent) * std::log(static_cast<long double>(base))));
}

double Log2(double x) { return std::log2(x); }
double Log10(double x) { return std::log10(x); }
double LogN(double base, double x) { return std::log(x) / std::log(base); }
double Tan(double x) { return std::tan(x); }

// ---- Text -------------------------------------------------------------------------

namespace {

// Decodes one well-formed UTF-8 character at text[i]; returns its length, or
// 0 for a byte that does not start one (overlong forms, surrogates and
// values beyond U+10FFFF included).
std::size_t DecodeUtf8(const std::string& text, std::size_t i, char32_t* cp) {
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t len;
    char32_t c;
    char32_t min;
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return len;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Maps every well-formed character through the locale's simple case table;
// bytes that are not well-formed UTF-8 are kept as they are.
std::string MapCase(const std::string& text, bool upper) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t len = DecodeUtf8(text, i, &c);
        if (len == 0) {
            out += text[i++];
            continue;
        }
        char32_t mapped = MapCaseOf(c, upper);
        if (mapped > 0x10FFFF || (mapped >= 0xD800 && mapped <= 0xDFFF)) mapped = c;
        AppendUtf8(out, mapped);
        i += len;
    }
    return out;
}

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string AnsiUpperCase(const std::string& text) { return MapCase(text, true); }
std::string AnsiLowerCase(const std::string& text) { return MapCase(text, false); }

std::string TrimLeft(const std::string& text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsTrimmed);
    return std::string(first, text.end());
}

std::string TrimRight(const std::string& text) {
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsTrimmed);
    return std::string(text.begin(), last.base());
}

std::string Trim(const std::string& text) { return TrimLeft(TrimRight(text)); }

}  // namespace calquor::rtl
