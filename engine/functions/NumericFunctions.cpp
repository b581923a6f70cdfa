// The numeric functions. Each runs its whole body in the handler frame, so a
// refused conversion or an arithmetic failure ends as "Unknown error".
// Arguments are converted left to right before anything is computed.
// Floating point never traps: infinities and NaN are ordinary results.
#include "NumericFunctions.h"

#include "Conversions.h"
#include "HandlerFrame.h"
#include "ResultCodes.h"
#include "Rules.h"

#include <calquor/rtl.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace calquor {
namespace {

// The frame every numeric function runs in.
template <class Body>
_variant_t Framed(Body&& body) {
    return RunFramed(msg::kUnknownError, std::forward<Body>(body));
}

// A function on numbers applied to its arguments, converted left to right
// (a braced list is evaluated in order).
template <class... Args>
_variant_t OnNumbers(PFNNUMBERS numbers, const Args&... args) {
    const double values[] = {conv::ToNumber(args)...};
    return _variant_t(numbers(values));
}

// A computation the function refuses (integer division that has no result).
// Not a conversion error, so the frame reports it as "Unknown error" under
// both flavours' rules.
[[noreturn]] void RefuseArithmetic() {
    throw CQEError(msg::kUnknownError);
}

// The largest magnitude below which a double can still carry a fraction:
// every double at or beyond 2^52 is already a whole number.
constexpr double kWholeFromHere = 4503599627370496.0;

// Rounds x to n decimals, halves upward: floor(x * 10^n + 0.5) / 10^n.
double RoundTo(double x, int n) {
    if (n >= 0 && n <= 9) {
        // The defined range: 10^n as a 32-bit integer power, then the formula
        // as it stands (10^9 still fits 32 bits).
        std::int32_t power = 1;
        for (int i = 0; i < n; ++i) power *= 10;
        const double p = static_cast<double>(power);
        const double scaled = x * p;
        return std::floor(scaled + 0.5) / p;
    }
    // Digit counts outside 0..9 keep their meaning. A 32-bit power would wrap
    // for them, so the scale is a double and the count's meaning is kept:
    //  - n > 9 rounds to that many decimals while the scaled value can still
    //    hold a fraction; once x * 10^n overflows or reaches 2^52 (at the
    //    latest from n = 309, where 10^n itself is infinite), rounding cannot
    //    change anything a double can represent, and x is returned as it is.
    //  - n < 0 rounds to tens, hundreds, ... with the same half-upward rule
    //    (Round(1250, -2) = 1300). x is returned as it is when it is already
    //    whole at that scale; from 10^309 on every finite x is nearer to 0
    //    than to the first multiple, so the result is 0. Rounding up to a
    //    multiple beyond the largest double (1.7e308 to 2e308) overflows to
    //    infinity like any other overflowing arithmetic.
    // A finite x thus never gives NaN or a wrapped value; a NaN or infinite
    // x is returned unchanged.
    if (!std::isfinite(x)) return x;
    if (n > 0) {
        const double p = std::pow(10.0, static_cast<double>(n));
        const double scaled = x * p;
        if (!std::isfinite(scaled) || std::fabs(scaled) >= kWholeFromHere) return x;
        return std::floor(scaled + 0.5) / p;
    }
    // In 64 bits: -n of the smallest int does not fit 32.
    const std::int64_t places = -static_cast<std::int64_t>(n);
    const double unit = std::pow(10.0, static_cast<double>(places));
    if (!std::isfinite(unit)) return 0.0;
    const double scaled = x / unit;
    if (std::fabs(scaled) >= kWholeFromHere) return x;
    return std::floor(scaled + 0.5) * unit;
}

}  // namespace

// Equal arguments give the second; a NaN on either side the first.
double NumbersMin(const double* args) {
    const double x = args[0], y = args[1];
    return x < y || std::isunordered(x, y) ? x : y;
}

_variant_t FnMin(const _variant_t& a, const _variant_t& b) {
    return Framed([&] { return OnNumbers(NumbersMin, a, b); });
}

double NumbersMax(const double* args) {
    const double x = args[0], y = args[1];
    return x > y || std::isunordered(x, y) ? x : y;
}

_variant_t FnMax(const _variant_t& a, const _variant_t& b) {
    return Framed([&] { return OnNumbers(NumbersMax, a, b); });
}

_variant_t FnMod(const _variant_t& a, const _variant_t& b) {
    return Framed([&] {
        const int x = conv::ToInteger(a);
        const int y = conv::ToInteger(b);
        // Both have no 32-bit result; refuse them before the division traps.
        if (y == 0) RefuseArithmetic();
        if (x == std::numeric_limits<int>::min() && y == -1) RefuseArithmetic();
        return Rules::IntegerValue(x % y);
    });
}

_variant_t FnRound(const _variant_t& x, const _variant_t& n) {
    return Framed([&] {
        const double value = conv::ToNumber(x);
        const int digits = conv::ToInteger(n);
        return _variant_t(Rules::Round(value, digits));
    });
}

double NumbersFloor(const double* args) { return Rules::Floor(args[0]); }

_variant_t FnFloor(const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersFloor, x); });
}

double NumbersPower(const double* args) { return Rules::Power(args[0], args[1]); }

_variant_t FnPower(const _variant_t& x, const _variant_t& y) {
    return Framed([&] { return OnNumbers(NumbersPower, x, y); });
}

_variant_t FnIsZero(const _variant_t& x) {
    return Framed([&] {
        const double value = conv::ToNumber(x);
        return _variant_t(Rules::IsZero(value));
    });
}

double NumbersLog2(const double* args) { return Rules::Log2(args[0]); }
double NumbersLog10(const double* args) { return Rules::Log10(args[0]); }
double NumbersLogN(const double* args) { return Rules::LogN(args[0], args[1]); }
double NumbersCos(const double* args) { return std::cos(args[0]); }
double NumbersSin(const double* args) { return std::sin(args[0]); }
double NumbersTan(const double* args) { return Rules::Tan(args[0]); }

_variant_t FnLog2(const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersLog2, x); });
}

_variant_t FnLog10(const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersLog10, x); });
}

_variant_t FnLogN(const _variant_t& base, const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersLogN, base, x); });
}

_variant_t FnCos(const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersCos, x); });
}

_variant_t FnSin(const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersSin, x); });
}

_variant_t FnTan(const _variant_t& x) {
    return Framed([&] { return OnNumbers(NumbersTan, x); });
}

}  // namespace calquor

namespace calquor {

double AutomationRules::Round(double value, int digits) { return RoundTo(value, digits); }

}  // namespace calquor
