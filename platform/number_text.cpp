// Number text services: the en-US number grammar of the text-to-number
// conversions and the runtime's formatting of doubles, currency and decimals.
// Everything is exact decimal digit work except the final text-to-double
// step, which uses strtod.
#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace calquor {
namespace numtext {
namespace {

constexpr std::uint64_t kUint64Max = std::numeric_limits<std::uint64_t>::max();
// Exponent digits beyond this cannot change the outcome (every digit string
// is far shorter), so the exponent saturates instead of overflowing.
constexpr std::int64_t kExponentLimit = 1'000'000'000'000;

bool IsSpace(OLECHAR c) { return c == u' ' || (c >= 9 && c <= 13) || c == 0xA0; }
bool IsDigit(OLECHAR c) { return c >= u'0' && c <= u'9'; }

// Drops trailing zeros (raising the exponent) and clears the sign of zero.
void Normalise(DecimalDigits& value) {
    std::size_t end = value.digits.size();
    while (end > 0 && value.digits[end - 1] == '0') --end;
    value.exponent += static_cast<std::int64_t>(value.digits.size() - end);
    value.digits.resize(end);
    std::size_t lead = 0;
    while (lead < value.digits.size() && value.digits[lead] == '0') ++lead;
    value.digits.erase(0, lead);
    if (value.digits.empty()) {
        value.negative = false;
        value.exponent = 0;
    }
}

// Adds one to a decimal digit string; "99" becomes "100".
void Increment(std::string& digits) {
    for (std::size_t i = digits.size(); i > 0; --i) {
        if (digits[i - 1] != '9') {
            ++digits[i - 1];
            return;
        }
        digits[i - 1] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The integer digits / 10^drop, rounded half to even ("" for zero). digits has
// no trailing zeros, so any digit after the first dropped one is non-zero.
std::string RoundOff(const std::string& digits, std::int64_t drop) {
    const auto n = static_cast<std::int64_t>(digits.size());
    if (drop <= 0) return digits;
    if (drop > n) return {};
    std::string kept = digits.substr(0, static_cast<std::size_t>(n - drop));
    const char first = digits[static_cast<std::size_t>(n - drop)];
    const bool sticky = n - drop + 1 < n;
    const bool odd = !kept.empty() && ((kept.back() - '0') & 1) != 0;
    if (first > '5' || (first == '5' && (sticky || odd))) Increment(kept);
    return kept;
}

bool DigitsToUint64(const std::string& digits, std::uint64_t* out) {
    std::uint64_t v = 0;
    for (char c : digits) {
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (kUint64Max - d) / 10) return false;
        v = v * 10 + d;
    }
    *out = v;
    return true;
}

// A 96-bit magnitude as three 32-bit limbs, least significant first.
struct U96 {
    std::uint32_t limb[3] = {0, 0, 0};
};

bool DigitsToU96(const std::string& digits, U96* out) {
    U96 v;
    for (char c : digits) {
        std::uint64_t carry = static_cast<std::uint64_t>(c - '0');
        for (auto& limb : v.limb) {
            const std::uint64_t t = std::uint64_t{limb} * 10 + carry;
            limb = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        if (carry) return false;
    }
    *out = v;
    return true;
}

// Decimal digits of a 96-bit magnitude ("" for zero).
std::string U96ToDigits(U96 v) {
    std::string reversed;
    while (v.limb[0] || v.limb[1] || v.limb[2]) {
        std::uint64_t rem = 0;
        for (int i = 2; i >= 0; --i) {
            const std::uint64_t cur = (rem << 32) | v.limb[i];
            v.limb[i] = static_cast<std::uint32_t>(cur / 1'000'000'000);
            rem = cur % 1'000'000'000;
        }
        for (int i = 0; i < 9; ++i) {
            reversed.push_back(static_cast<char>('0' + rem % 10));
            rem /= 10;
        }
    }
    while (!reversed.empty() && reversed.back() == '0') reversed.pop_back();
    return {reversed.rbegin(), reversed.rend()};
}

// "&H"/"&O" numbers: p points after the '&'. Only white space may follow.
HRESULT ParseRadix(const OLECHAR* p, const OLECHAR* end, ParsedNumber* out) {
    if (p == end) return DISP_E_TYPEMISMATCH;
    const OLECHAR letter = *p++;
    unsigned base;
    if (letter == u'H' || letter == u'h')
        base = 16;
    else if (letter == u'O' || letter == u'o')
        base = 8;
    else
        return DISP_E_TYPEMISMATCH;
    std::uint64_t v = 0;
    bool overflow = false;
    std::size_t count = 0;
    for (; p != end; ++p, ++count) {
        unsigned d;
        const OLECHAR c = *p;
        if (IsDigit(c))
            d = c - u'0';
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            break;
        if (d >= base) break;
        if (v > (kUint64Max >> (base == 16 ? 4 : 3))) overflow = true;
        v = v * base + d;
    }
    if (count == 0) return DISP_E_TYPEMISMATCH;
    while (p != end && IsSpace(*p)) ++p;
    if (p != end) return DISP_E_TYPEMISMATCH;
    if (overflow) return DISP_E_OVERFLOW;
    out->radix = true;
    out->bits = v;
    return S_OK;
}

// Radix numbers become non-integer kinds as a signed 32-bit pattern.
HRESULT RadixAsLong(std::uint64_t bits, LONG* out) {
    // Native behaviour above 0x7FFFFFFF is unconfirmed. Reading the low 32
    // bits as a signed value makes "&HFFFFFFFF" -1 for every kind, the same
    // as VarI4FromStr; anything wider than 32 bits overflows.
    if (bits > 0xFFFFFFFFu) return DISP_E_OVERFLOW;
    *out = static_cast<LONG>(static_cast<std::uint32_t>(bits));
    return S_OK;
}

DecimalDigits FromInteger(bool negative, std::uint64_t magnitude) {
    DecimalDigits v;
    v.negative = negative;
    v.digits = std::to_string(magnitude);
    Normalise(v);
    return v;
}

// The exact decimal digits of |value| (a finite double), first digit non-zero
// unless the value is zero, with the decimal exponent of the first digit.
// Correctly rounded 40-digit output settles the rounding at any position up
// to 39 except when it reads 5000...; only then the full expansion is made.
void ExactLeadingDigits(double value, int needed, std::string* digits, int* exponent) {
    char buf[800];
    auto format = [&](int precision) {
        const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                                       precision);
        const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
        const std::size_t e = text.find('e');
        digits->assign(1, text[0]);
        if (e > 2) digits->append(text.substr(2, e - 2));
        std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), *exponent);
    };
    format(39);
    if (static_cast<std::size_t>(needed) < digits->size() && (*digits)[static_cast<std::size_t>(needed)] == '5' &&
        digits->find_first_not_of('0', static_cast<std::size_t>(needed) + 1) == std::string::npos)
        format(770);  // a double's expansion has at most 767 significant digits
}

}  // namespace

HRESULT ParseNumber(const OLECHAR* text, std::size_t length, ParsedNumber* out) {
    *out = ParsedNumber{};
    const OLECHAR* p = text;
    const OLECHAR* const end = text ? text + length : text;
    bool sign = false, negative = false, parens = false, closed = false, currency = false;

    // Leading white space, sign, "(" and currency, in any order.
    while (p != end) {
        const OLECHAR c = *p;
        if (IsSpace(c)) {
        } else if ((c == u'+' || c == u'-') && !sign && !parens) {
            sign = true;
            negative = c == u'-';
        } else if (c == u'(' && !parens && !sign) {
            parens = true;
        } else if (c == u'$' && !currency) {
            currency = true;
        } else {
            break;
        }
        ++p;
    }
    if (p != end && *p == u'&') {
        // Radix numbers take no sign, parentheses or currency.
        if (sign || parens || currency) return DISP_E_TYPEMISMATCH;
        return ParseRadix(p + 1, end, out);
    }

    DecimalDigits& value = out->value;
    bool anyDigit = false;
    for (; p != end; ++p) {
        if (IsDigit(*p)) {
            anyDigit = true;
            if (!value.digits.empty() || *p != u'0') value.digits.push_back(static_cast<char>(*p));
        } else if (*p != u',' || !anyDigit) {
            break;  // thousands separators only after the first digit
        }
    }
    if (p != end && *p == u'.') {
        for (++p; p != end && IsDigit(*p); ++p) {
            anyDigit = true;
            if (!value.digits.empty() || *p != u'0') value.digits.push_back(static_cast<char>(*p));
            --value.exponent;
        }
    }
    if (!anyDigit) return DISP_E_TYPEMISMATCH;
    if (p != end && (*p == u'e' || *p == u'E')) {
        ++p;
        bool expNegative = false;
        if (p != end && (*p == u'+' || *p == u'-')) expNegative = *p++ == u'-';
        if (p == end || !IsDigit(*p)) return DISP_E_TYPEMISMATCH;
        std::int64_t e = 0;
        for (; p != end && IsDigit(*p); ++p) e = std::min<std::int64_t>(e * 10 + (*p - u'0'), kExponentLimit);
        value.exponent += expNegative ? -e : e;
    }

    // Trailing white space, sign, ")" and currency.
    for (; p != end; ++p) {
        const OLECHAR c = *p;
        if (IsSpace(c)) {
        } else if ((c == u'+' || c == u'-') && !sign && !parens) {
            sign = true;
            negative = c == u'-';
        } else if (c == u')' && parens && !closed) {
            closed = true;
        } else if (c == u'$' && !currency) {
            currency = true;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
    }
    if (parens && !closed) return DISP_E_TYPEMISMATCH;
    value.negative = negative || parens;
    Normalise(value);
    return S_OK;
}

HRESULT ToDouble(const DecimalDigits& value, double* out) {
    if (value.digits.empty()) {
        *out = 0.0;
        return S_OK;
    }
    // Decimal magnitude: the value lies in [10^(top-1), 10^top).
    const std::int64_t top = static_cast<std::int64_t>(value.digits.size()) + value.exponent;
    if (top > 310) return DISP_E_OVERFLOW;
    double result = 0.0;
    if (top >= -330) {
        // An integer mantissa keeps the text free of the locale's decimal
        // point. strtod rounds correctly; the native parser scales in double
        // arithmetic and may differ in the last bit for long texts, which
        // cannot be reproduced without knowing its exact steps.
        const std::string ascii = value.digits + "e" + std::to_string(value.exponent);
        result = std::strtod(ascii.c_str(), nullptr);
        if (std::isinf(result)) return DISP_E_OVERFLOW;
    }
    *out = value.negative ? -result : result;
    return S_OK;
}

HRESULT ToRoundedInteger(const DecimalDigits& value, int fractionDigits, bool* negative,
                         std::uint64_t* magnitude) {
    const std::int64_t exponent = value.exponent + fractionDigits;
    const auto n = static_cast<std::int64_t>(value.digits.size());
    std::string whole;
    if (value.digits.empty()) {
    } else if (n + exponent > 20) {
        return DISP_E_OVERFLOW;  // at least 10^20
    } else if (exponent >= 0) {
        whole = value.digits + std::string(static_cast<std::size_t>(exponent), '0');
    } else {
        whole = RoundOff(value.digits, -exponent);
    }
    std::uint64_t v = 0;
    if (!DigitsToUint64(whole, &v)) return DISP_E_OVERFLOW;
    *negative = value.negative && v != 0;
    *magnitude = v;
    return S_OK;
}

HRESULT ToDecimal(const DecimalDigits& value, DECIMAL* out) {
    DECIMAL dec{};
    const auto n = static_cast<std::int64_t>(value.digits.size());
    if (n != 0) {
        if (n + value.exponent > 29) return DISP_E_OVERFLOW;  // at least 10^29 > 2^96
        std::string mantissa;
        std::int64_t scale = 0;
        U96 magnitude;
        if (value.exponent >= 0) {
            mantissa = value.digits + std::string(static_cast<std::size_t>(value.exponent), '0');
            if (!DigitsToU96(mantissa, &magnitude)) return DISP_E_OVERFLOW;
        } else {
            // Keep at most 28 decimals and 29 digits; one digit fewer when the
            // 29 digits exceed 96 bits. Each try rounds once from the exact
            // digits, so no double rounding.
            std::int64_t drop = std::max<std::int64_t>({0, -value.exponent - 28, n - 29});
            for (;;) {
                mantissa = RoundOff(value.digits, drop);
                scale = -value.exponent - drop;
                while (scale > 0 && !mantissa.empty() && mantissa.back() == '0') {
                    mantissa.pop_back();
                    --scale;
                }
                if (DigitsToU96(mantissa, &magnitude)) break;
                if (scale == 0) return DISP_E_OVERFLOW;
                ++drop;
            }
            if (mantissa.empty()) scale = 0;
        }
        dec.scale = static_cast<BYTE>(scale);
        dec.sign = (value.negative && !mantissa.empty()) ? DECIMAL_NEG : 0;
        dec.Lo32 = magnitude.limb[0];
        dec.Mid32 = magnitude.limb[1];
        dec.Hi32 = magnitude.limb[2];
    }
    *out = dec;
    return S_OK;
}

DecimalDigits FromCurrency(std::int64_t tenThousandths) {
    const bool negative = tenThousandths < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(tenThousandths) : static_cast<std::uint64_t>(tenThousandths);
    DecimalDigits v = FromInteger(negative, magnitude);
    if (!v.digits.empty()) v.exponent -= 4;
    return v;
}

DecimalDigits FromDecimal(const DECIMAL& dec) {
    U96 magnitude;
    magnitude.limb[0] = dec.Lo32;
    magnitude.limb[1] = dec.Mid32;
    magnitude.limb[2] = dec.Hi32;
    DecimalDigits v;
    v.negative = dec.sign == DECIMAL_NEG;
    v.digits = U96ToDigits(magnitude);
    v.exponent = -static_cast<std::int64_t>(dec.scale);
    Normalise(v);
    return v;
}

DecimalDigits FromDouble(double value, int significant) {
    // Ties round away from zero, as the Microsoft C runtime's formatting
    // does (a float 654322.25 prints as "654322.3" with 7 digits); the
    // standard library would round such exact ties to even.
    std::string digits;
    int exponent = 0;
    ExactLeadingDigits(value, significant, &digits, &exponent);
    DecimalDigits v;
    v.negative = std::signbit(value);
    const auto keep = static_cast<std::size_t>(significant);
    if (digits.size() > keep) {
        const bool up = digits[keep] >= '5';
        digits.resize(keep);
        if (up) {
            Increment(digits);
            if (digits.size() > keep) {  // 9.99 -> 10.0
                digits.resize(keep);
                ++exponent;
            }
        }
    }
    v.exponent = exponent - static_cast<std::int64_t>(digits.size()) + 1;
    v.digits = std::move(digits);
    Normalise(v);
    return v;
}

std::string PlainText(const DecimalDigits& value) {
    if (value.digits.empty()) return "0";
    std::string text = value.negative ? "-" : "";
    const auto n = static_cast<std::int64_t>(value.digits.size());
    if (value.exponent >= 0) {
        text += value.digits;
        text.append(static_cast<std::size_t>(value.exponent), '0');
    } else if (n + value.exponent > 0) {
        const auto point = static_cast<std::size_t>(n + value.exponent);
        text += value.digits.substr(0, point);
        text += '.';
        text += value.digits.substr(point);
    } else {
        text += "0.";
        text.append(static_cast<std::size_t>(-(n + value.exponent)), '0');
        text += value.digits;
    }
    return text;
}

std::string RealText(double value, int significant) {
    // Infinities and NaNs print with the spellings of the old Microsoft C
    // runtime (native behaviour is unconfirmed): a NaN with the sign bit set,
    // as 0/0 produces on x86, is "-1.#IND"; other NaNs are "1.#QNAN".
    if (std::isnan(value)) return std::signbit(value) ? "-1.#IND" : "1.#QNAN";
    if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
    const DecimalDigits v = FromDouble(value, significant);
    if (v.digits.empty()) return "0";  // also -0.0
    // "%.<significant>G": exponent form when the first digit's exponent is
    // below -4 or at least the precision. The runtime then returns to fixed
    // notation if the digits still fit the precision in decimals.
    const auto n = static_cast<std::int64_t>(v.digits.size());
    const std::int64_t lead = n - 1 + v.exponent;
    if (lead >= -4 && lead < significant) return PlainText(v);
    const std::int64_t k = n > 1 ? n - 2 : 0;
    if ((lead < 0 ? -lead : lead) + k < significant) return PlainText(v);
    std::string text = v.negative ? "-" : "";
    text += v.digits[0];
    if (n > 1) {
        text += '.';
        text += v.digits.substr(1);
    }
    text += lead < 0 ? "E-" : "E+";
    const std::string e = std::to_string(lead < 0 ? -lead : lead);
    if (e.size() < 2) text += '0';
    text += e;
    return text;
}

HRESULT TextToDouble(const OLECHAR* text, std::size_t length, double* out) {
    ParsedNumber parsed;
    HRESULT hr = ParseNumber(text, length, &parsed);
    if (FAILED(hr)) return hr;
    if (parsed.radix) {
        LONG l = 0;
        hr = RadixAsLong(parsed.bits, &l);
        if (SUCCEEDED(hr)) *out = l;
        return hr;
    }
    return ToDouble(parsed.value, out);
}

HRESULT TextToInteger(const OLECHAR* text, std::size_t length, unsigned width, bool isSigned,
                      std::uint64_t* bits) {
    ParsedNumber parsed;
    HRESULT hr = ParseNumber(text, length, &parsed);
    if (FAILED(hr)) return hr;
    const std::uint64_t mask = width >= 64 ? kUint64Max : (std::uint64_t{1} << width) - 1;
    if (parsed.radix) {
        // The bit pattern is placed in the type as it is: "&HFFFF" is -1 as
        // a 16-bit signed value.
        if (parsed.bits & ~mask) return DISP_E_OVERFLOW;
        *bits = parsed.bits;
        return S_OK;
    }
    bool negative = false;
    std::uint64_t magnitude = 0;
    hr = ToRoundedInteger(parsed.value, 0, &negative, &magnitude);
    if (FAILED(hr)) return hr;
    const std::uint64_t limit = isSigned ? (mask >> 1) + (negative ? 1 : 0) : (negative ? 0 : mask);
    if (magnitude > limit) return DISP_E_OVERFLOW;
    *bits = (negative ? 0 - magnitude : magnitude) & mask;
    return S_OK;
}

HRESULT TextToCurrency(const OLECHAR* text, std::size_t length, std::int64_t* tenThousandths) {
    ParsedNumber parsed;
    HRESULT hr = ParseNumber(text, length, &parsed);
    if (FAILED(hr)) return hr;
    if (parsed.radix) {
        LONG l = 0;
        hr = RadixAsLong(parsed.bits, &l);
        if (SUCCEEDED(hr)) *tenThousandths = std::int64_t{l} * 10000;
        return hr;
    }
    // Rounded on the digits to four decimals, like the integer kinds.
    bool negative = false;
    std::uint64_t magnitude = 0;
    hr = ToRoundedInteger(parsed.value, 4, &negative, &magnitude);
    if (FAILED(hr)) return hr;
    constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
    if (magnitude > kMaxPositive + (negative ? 1 : 0)) return DISP_E_OVERFLOW;
    *tenThousandths = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return S_OK;
}

HRESULT TextToDecimal(const OLECHAR* text, std::size_t length, DECIMAL* out) {
    ParsedNumber parsed;
    HRESULT hr = ParseNumber(text, length, &parsed);
    if (FAILED(hr)) return hr;
    if (parsed.radix) {
        LONG l = 0;
        hr = RadixAsLong(parsed.bits, &l);
        if (FAILED(hr)) return hr;
        const std::uint64_t m = l < 0 ? 0 - static_cast<std::uint64_t>(std::int64_t{l}) : static_cast<std::uint64_t>(l);
        return ToDecimal(FromInteger(l < 0, m), out);
    }
    return ToDecimal(parsed.value, out);
}

HRESULT TextToBool(const OLECHAR* text, std::size_t length, VARIANT_BOOL* out) {
    const std::u16string_view s(text ? text : u"", text ? length : 0);
    auto equalsIgnoringCase = [&](std::u16string_view word) {
        if (s.size() != word.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const OLECHAR c = (s[i] >= u'A' && s[i] <= u'Z') ? static_cast<OLECHAR>(s[i] + 32) : s[i];
            if (c != word[i]) return false;
        }
        return true;
    };
    // The English words are always accepted; the "#TRUE#" forms only as
    // written.
    if (equalsIgnoringCase(u"true") || s == u"#TRUE#") {
        *out = VARIANT_TRUE;
        return S_OK;
    }
    if (equalsIgnoringCase(u"false") || s == u"#FALSE#") {
        *out = VARIANT_FALSE;
        return S_OK;
    }
    double d = 0.0;
    const HRESULT hr = TextToDouble(text, length, &d);
    if (SUCCEEDED(hr)) *out = d != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
}

BSTR AllocAsciiBstr(std::string_view ascii) {
    if (ascii.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(ascii.size()));
    if (b)
        for (std::size_t i = 0; i < ascii.size(); ++i) b[i] = static_cast<unsigned char>(ascii[i]);
    return b;
}

}  // namespace numtext

namespace {

std::size_t WideLength(const OLECHAR* s) {
    std::size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

HRESULT ReturnText(const std::string& text, BSTR* pbstrOut) {
    BSTR b = numtext::AllocAsciiBstr(text);
    if (!b) return E_OUTOFMEMORY;
    *pbstrOut = b;
    return S_OK;
}

}  // namespace

// A null text reads as the empty string (so it is no number). The locale and
// flags are not consulted: the stand-in always reads en-US.
HRESULT VarR8FromStr(const OLECHAR* strIn, LCID, ULONG, DOUBLE* pdblOut) {
    if (!pdblOut) return E_INVALIDARG;
    return numtext::TextToDouble(strIn, WideLength(strIn), pdblOut);
}

HRESULT VarI4FromStr(const OLECHAR* strIn, LCID, ULONG, LONG* plOut) {
    if (!plOut) return E_INVALIDARG;
    std::uint64_t bits = 0;
    const HRESULT hr = numtext::TextToInteger(strIn, WideLength(strIn), 32, true, &bits);
    if (SUCCEEDED(hr)) *plOut = static_cast<LONG>(static_cast<std::uint32_t>(bits));
    return hr;
}

HRESULT VarBoolFromStr(const OLECHAR* strIn, LCID, ULONG, VARIANT_BOOL* pboolOut) {
    if (!pboolOut) return E_INVALIDARG;
    return numtext::TextToBool(strIn, WideLength(strIn), pboolOut);
}

HRESULT VarBstrFromR8(DOUBLE dblIn, LCID, ULONG, BSTR* pbstrOut) {
    if (!pbstrOut) return E_INVALIDARG;
    return ReturnText(numtext::RealText(dblIn, 15), pbstrOut);
}

HRESULT VarBstrFromR4(FLOAT fltIn, LCID, ULONG, BSTR* pbstrOut) {
    if (!pbstrOut) return E_INVALIDARG;
    return ReturnText(numtext::RealText(fltIn, 7), pbstrOut);
}

}  // namespace calquor
