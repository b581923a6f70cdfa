// Internal to the platform library: exact decimal numbers, the number text
// parser and the number formatting shared by the Var*FromStr / VarBstrFrom*
// functions and VariantChangeType.
#pragma once

#include <calquor/oleauto.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace calquor::numtext {

// An exact decimal value: (negative ? -1 : 1) * digits * 10^exponent.
// digits holds ASCII digits without leading or trailing zeros; it is empty
// for zero. Every conversion that must be exact (currency, decimal, text)
// goes through this form.
struct DecimalDigits {
    bool negative = false;
    std::string digits;
    std::int64_t exponent = 0;
};

// The value of a number text: either a decimal number or, for "&H"/"&O"
// texts, an unsigned bit pattern.
struct ParsedNumber {
    bool radix = false;
    std::uint64_t bits = 0;
    DecimalDigits value;
};

// Reads text[0, length) with the en-US standard number grammar: white space
// (including U+00A0) around the number, a leading or trailing sign,
// parentheses for negative, one currency sign "$" before or after, thousands
// separators after the first digit, one decimal point, an exponent, and
// "&H"/"&O" numbers. The whole text must be used. DISP_E_TYPEMISMATCH when it
// spells no number, DISP_E_OVERFLOW for a radix number beyond 64 bits.
HRESULT ParseNumber(const OLECHAR* text, std::size_t length, ParsedNumber* out);

// The nearest double (ties to even, from strtod on a normalised ASCII form).
// DISP_E_OVERFLOW beyond the double range; values below it become zero.
HRESULT ToDouble(const DecimalDigits& value, double* out);

// Rounds value * 10^fractionDigits to an integer, half to even on the exact
// digits. DISP_E_OVERFLOW when the magnitude does not fit 64 bits.
HRESULT ToRoundedInteger(const DecimalDigits& value, int fractionDigits, bool* negative,
                         std::uint64_t* magnitude);

// Builds a DECIMAL with the smallest scale that holds the value, rounding
// half to even beyond scale 28 or 29 significant digits. DISP_E_OVERFLOW when
// the integer part needs more than 96 bits. Zero is positive with scale 0.
HRESULT ToDecimal(const DecimalDigits& value, DECIMAL* out);

// The exact value of a currency count of ten-thousandths.
DecimalDigits FromCurrency(std::int64_t tenThousandths);
// The exact value of a DECIMAL; the caller has checked scale and sign.
DecimalDigits FromDecimal(const DECIMAL& dec);
// A finite double rounded to the given number of significant digits.
DecimalDigits FromDouble(double value, int significant);

// Fixed notation without exponent, trailing fractional zeros removed: "0",
// "-1.5", "0.0009", "922337203685477.5807". Zero never carries a sign.
std::string PlainText(const DecimalDigits& value);

// A double as the runtime prints it with the given number of significant
// digits (15 for doubles, 7 for floats).
std::string RealText(double value, int significant);

// Text to number conversions of the runtime; text[0, length) as for
// ParseNumber. TextToInteger range-checks against an integer of `width`
// bits (8, 16, 32 or 64), signed or not, and returns its two's complement
// bit pattern in the low `width` bits of *bits.
HRESULT TextToDouble(const OLECHAR* text, std::size_t length, double* out);
HRESULT TextToInteger(const OLECHAR* text, std::size_t length, unsigned width, bool isSigned,
                      std::uint64_t* bits);
HRESULT TextToCurrency(const OLECHAR* text, std::size_t length, std::int64_t* tenThousandths);
HRESULT TextToDecimal(const OLECHAR* text, std::size_t length, DECIMAL* out);
HRESULT TextToBool(const OLECHAR* text, std::size_t length, VARIANT_BOOL* out);

// A BSTR holding ASCII text; null when memory runs out.
BSTR AllocAsciiBstr(std::string_view ascii);

}  // namespace calquor::numtext
