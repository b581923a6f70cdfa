// The runtime library's variant support: its type names and error classes,
// its conversions (built on VariantChangeType where the rules agree) and its
// generic operators. The operator rules follow the Pascal-family runtime as
// Free Pascal reimplements it, with the documented defaults: Null propagates
// through arithmetic and is less than every other value, Unassigned (Empty)
// counts as zero, and conversions of Null always fail.
#include <calquor/rtl.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace calquor::rtl {
namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// ---- Errors -----------------------------------------------------------------

[[noreturn]] void ThrowCast(VARTYPE from, VARTYPE to) {
    throw EVariantTypeCastError("Could not convert variant of type (" + VarTypeAsText(from) + ") into type (" +
                                VarTypeAsText(to) + ")");
}

[[noreturn]] void ThrowOverflow(VARTYPE from, VARTYPE to) {
    throw EVariantOverflowError("Overflow while converting variant of type (" + VarTypeAsText(from) +
                                ") into type (" + VarTypeAsText(to) + ")");
}

[[noreturn]] void ThrowInvalidOp() { throw EVariantInvalidOpError("Invalid variant operation"); }

// Maps a failed automation conversion to the runtime's error classes. Every
// refusal other than overflow (a kind the automation runtime does not know,
// an invalid decimal, a date outside the printable range) is a failed cast.
void Check(HRESULT hr, VARTYPE from, VARTYPE to) {
    if (SUCCEEDED(hr)) return;
    if (hr == E_OUTOFMEMORY) _com_issue_error(hr);
    if (hr == DISP_E_OVERFLOW) ThrowOverflow(from, to);
    ThrowCast(from, to);
}

// ---- Reading values -----------------------------------------------------------

// The value a conversion works on: a reference is followed to its value (the
// error messages then name the referenced kind).
const VARIANT& Resolve(const VARIANT& v, VARTYPE target, _variant_t& holder) {
    if (!(v.vt & VT_BYREF)) return v;
    VARIANT value;
    VariantInit(&value);
    Check(VariantCopyInd(&value, &v), v.vt, target);
    holder.Attach(value);
    return holder;
}

// The automation conversion of v to kind vt; failures raise the runtime's
// errors naming v's kind and the target.
_variant_t Change(const VARIANT& v, VARTYPE vt, USHORT flags = 0) {
    VARIANT out;
    VariantInit(&out);
    Check(VarCast(&out, &v, flags, vt), v.vt, vt);
    return _variant_t(out, false);
}

bool IsText(VARTYPE vt) { return vt == VT_BSTR || vt == varString; }

std::string Utf8FromBstr(BSTR b) {
    const UINT len = SysStringLen(b);
    if (len == 0) return {};
    if (len > static_cast<UINT>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    const int n = WideCharToMultiByte(CP_ACP, 0, b, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, b, static_cast<int>(len), s.data(), n, nullptr, nullptr);
    return s;
}

std::basic_string<OLECHAR> Utf16FromAnsi(const char* text) {
    const UINT len = AnsiStrLen(text);
    if (len == 0) return {};
    if (len > static_cast<UINT>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(len), nullptr, 0);
    if (n <= 0) return {};
    std::basic_string<OLECHAR> s(static_cast<std::size_t>(n), OLECHAR{0});
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(len), s.data(), n);
    return s;
}

// The text of a varString or VT_BSTR value, as UTF-8.
std::string TextOf(const VARIANT& v) {
    if (v.vt == varString) return std::string(GetStrVal(v) ? GetStrVal(v) : "", AnsiStrLen(GetStrVal(v)));
    return Utf8FromBstr(v.bstrVal);
}

std::basic_string<OLECHAR> WideTextOf(const VARIANT& v) {
    if (v.vt == VT_BSTR) return std::basic_string<OLECHAR>(v.bstrVal ? v.bstrVal : OLESTR(""), SysStringLen(v.bstrVal));
    return Utf16FromAnsi(GetStrVal(v));
}

// The value of an integer kind other than UInt64, or of a Boolean (any
// non-zero Boolean is True, which counts as -1).
std::int64_t SignedIntegerOf(const VARIANT& v) {
    switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4: case VT_INT: return v.lVal;
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: case VT_UINT: return v.ulVal;
    case VT_I8: return v.llVal;
    case VT_BOOL: return v.boolVal != 0 ? -1 : 0;
    default: return 0;
    }
}

// Calls `f` with the value of an integer kind or a Boolean: a std::uint64_t
// for UInt64 (no signed 64-bit type holds its values above INT64_MAX), else
// a std::int64_t. `f` returns the same type for both.
template <typename F>
auto VisitInteger(const VARIANT& v, F f) {
    if (v.vt == VT_UI8) return f(static_cast<std::uint64_t>(v.ullVal));
    return f(SignedIntegerOf(v));
}

bool IsIntegerKind(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
    case VT_I8: case VT_UI8:
        return true;
    default:
        return false;
    }
}

// Any value as a 64-bit integer, reals rounded half to even; `target` names
// the kind the caller converts to in error messages. Text is read as a number
// and rounded the same way (so "2.5" is 2 and "2.6" is 3) rather than cut.
std::int64_t ToInt64(const VARIANT& v, VARTYPE target) {
    if (v.vt == VT_UI8) {
        if (v.ullVal > static_cast<std::uint64_t>(INT64_MAX)) ThrowOverflow(v.vt, target);
        return static_cast<std::int64_t>(v.ullVal);
    }
    if (IsIntegerKind(v.vt) || v.vt == VT_BOOL) return SignedIntegerOf(v);
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = VarCast(&out, &v, 0, VT_I8);
    Check(hr, v.vt, target);
    return out.llVal;
}

// ---- Building results -----------------------------------------------------------

_variant_t Make(VARTYPE vt) {
    _variant_t r;
    r.vt = vt;
    return r;
}

_variant_t MakeDouble(double d) {
    _variant_t r = Make(VT_R8);
    r.dblVal = d;
    return r;
}

_variant_t MakeDate(double d) {
    _variant_t r = Make(VT_DATE);
    r.date = d;
    return r;
}

_variant_t MakeCurrency(std::int64_t units) {
    _variant_t r = Make(VT_CY);
    r.cyVal.int64 = units;
    return r;
}

_variant_t MakeI8(std::int64_t x) {
    _variant_t r = Make(VT_I8);
    r.llVal = x;
    return r;
}

// Integer results are Integer when they fit 32 bits, else Int64.
_variant_t MakeInteger(std::int64_t x) {
    if (x < INT32_MIN || x > INT32_MAX) return MakeI8(x);
    _variant_t r = Make(VT_I4);
    r.lVal = static_cast<LONG>(x);
    return r;
}

_variant_t MakeAnsi(const std::string& text) {
    if (text.size() > UINT_MAX) _com_issue_error(E_OUTOFMEMORY);
    char* s = AnsiStrAlloc(text.data(), static_cast<UINT>(text.size()));
    if (!s) _com_issue_error(E_OUTOFMEMORY);
    _variant_t r = Make(varString);
    SetStrVal(r, s);
    return r;
}

_variant_t MakeBstr(const std::basic_string<OLECHAR>& text) {
    if (text.size() > UINT_MAX / 2) _com_issue_error(E_OUTOFMEMORY);
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b) _com_issue_error(E_OUTOFMEMORY);
    _variant_t r = Make(VT_BSTR);
    r.bstrVal = b;
    return r;
}

// ---- Operand classes ----------------------------------------------------------

enum class Cls { Empty, Null, Bool, Int, Int64, Real, Date, Currency, Text, Invalid };

// References, arrays, objects, errors and unknown kinds have no operators.
Cls ClassOf(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: return Cls::Empty;
    case VT_NULL: return Cls::Null;
    case VT_BOOL: return Cls::Bool;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
        return Cls::Int;
    case VT_I8: case VT_UI8: return Cls::Int64;
    case VT_R4: case VT_R8: case VT_DECIMAL: return Cls::Real;
    case VT_DATE: return Cls::Date;
    case VT_CY: return Cls::Currency;
    case VT_BSTR: case varString: return Cls::Text;
    default: return Cls::Invalid;
    }
}

// Half to even, as the runtime's Round and the FPU's default mode.
long double RoundHalfEven(long double x) {
    const long double f = std::floor(x);
    const long double diff = x - f;
    if (diff > 0.5L || (diff == 0.5L && std::fmod(f, 2.0L) != 0.0L)) return f + 1.0L;
    return f;
}

// A currency result in ten-thousandths; out of range (or not a number) is an
// overflow of the currency kind.
std::int64_t CurrencyUnits(long double units) {
    const long double r = RoundHalfEven(units);
    if (!(r >= -static_cast<long double>(kTwoTo63) && r < static_cast<long double>(kTwoTo63)))
        ThrowOverflow(VT_CY, VT_CY);
    return static_cast<std::int64_t>(r);
}

// An exact currency sum or difference of ten-thousandths; beyond 64 bits it
// is an overflow of the currency kind.
std::int64_t CurrencySum(VarOp op, std::int64_t a, std::int64_t b) {
    std::int64_t x = 0;
    const bool overflow = op == VarOp::Add ? __builtin_add_overflow(a, b, &x) : __builtin_sub_overflow(a, b, &x);
    if (overflow) ThrowOverflow(VT_CY, VT_CY);
    return x;
}

// The product of two currencies, a * b / 10000 ten-thousandths rounded half
// to even, computed exactly: the product of the magnitudes (up to 2^126) is
// formed from 32-bit halves into four 32-bit limbs, which are divided by
// 10000 from the most significant down. Each partial remainder is below
// 10000, so every step fits 64 bits. A result beyond 64 bits is an overflow
// of the currency kind.
std::int64_t CurrencyProduct(std::int64_t a, std::int64_t b) {
    const bool negative = (a < 0) != (b < 0);
    const std::uint64_t x = a < 0 ? 0 - static_cast<std::uint64_t>(a) : static_cast<std::uint64_t>(a);
    const std::uint64_t y = b < 0 ? 0 - static_cast<std::uint64_t>(b) : static_cast<std::uint64_t>(b);
    constexpr std::uint64_t kLow32 = 0xFFFFFFFFu;
    const std::uint64_t p00 = (x & kLow32) * (y & kLow32);
    const std::uint64_t p01 = (x & kLow32) * (y >> 32);
    const std::uint64_t p10 = (x >> 32) * (y & kLow32);
    const std::uint64_t p11 = (x >> 32) * (y >> 32);
    const std::uint64_t mid = (p00 >> 32) + (p01 & kLow32) + (p10 & kLow32);  // < 3 * 2^32
    const std::uint64_t hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    const std::uint64_t lo = (mid << 32) | (p00 & kLow32);

    std::uint64_t limbs[4] = {hi >> 32, hi & kLow32, lo >> 32, lo & kLow32};
    std::uint64_t rem = 0;
    for (std::uint64_t& limb : limbs) {
        const std::uint64_t part = (rem << 32) | limb;
        limb = part / 10000;  // < 2^32 as rem < 10000
        rem = part % 10000;
    }
    std::uint64_t qHi = (limbs[0] << 32) | limbs[1];
    std::uint64_t qLo = (limbs[2] << 32) | limbs[3];
    // Half to even on the magnitude: rounding up moves the truncated
    // quotient away from zero whatever the sign.
    if (rem > 5000 || (rem == 5000 && (qLo & 1) != 0)) {
        ++qLo;
        if (qLo == 0) ++qHi;
    }
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(INT64_MAX);
    if (qHi != 0 || qLo > limit) ThrowOverflow(VT_CY, VT_CY);
    return static_cast<std::int64_t>(negative ? 0 - qLo : qLo);  // 0 - 2^63 is INT64_MIN's bits
}

// Currency ten-thousandths of any operand that is not text.
std::int64_t CurrencyOf(const VARIANT& v) {
    if (v.vt == VT_CY) return v.cyVal.int64;
    if (v.vt == VT_EMPTY) return 0;
    if (v.vt == VT_BOOL) return v.boolVal != 0 ? -10000 : 0;
    return Change(v, VT_CY).cyVal.int64;
}

// The value of a numeric operand in the widest floating type, exact for
// every integer and currency where long double has a 64-bit mantissa.
long double WideOf(const VARIANT& v) {
    const Cls c = ClassOf(v.vt);
    if (c == Cls::Int || c == Cls::Int64 || c == Cls::Bool)
        return VisitInteger(v, [](auto x) { return static_cast<long double>(x); });
    if (c == Cls::Empty) return 0.0L;
    if (c == Cls::Currency) return static_cast<long double>(v.cyVal.int64) / 10000.0L;
    return VarToDouble(v);
}

// Currency arithmetic: exact for addition and subtraction, rounded half to
// even to four decimals otherwise. A zero divisor gives the masked FPU's
// +/-INF or NaN as a Double, which the currency kind cannot hold.
_variant_t CurrencyArith(VarOp op, const VARIANT& l, const VARIANT& r) {
    const bool lc = l.vt == VT_CY;
    const bool rc = r.vt == VT_CY;
    switch (op) {
    case VarOp::Add:
    case VarOp::Subtract: {
        const std::int64_t a = CurrencyOf(l);
        return MakeCurrency(CurrencySum(op, a, CurrencyOf(r)));
    }
    case VarOp::Multiply:
        if (lc && rc) return MakeCurrency(CurrencyProduct(l.cyVal.int64, r.cyVal.int64));
        return MakeCurrency(CurrencyUnits(lc ? static_cast<long double>(l.cyVal.int64) * WideOf(r)
                                             : WideOf(l) * static_cast<long double>(r.cyVal.int64)));
    case VarOp::Divide:
    default: {
        const long double divisor = WideOf(r);
        if (divisor == 0.0L) return MakeDouble(static_cast<double>(WideOf(l) / divisor));
        if (!lc) return MakeDouble(static_cast<double>(WideOf(l) / divisor));  // number / Currency
        if (rc) return MakeCurrency(CurrencyUnits(static_cast<long double>(l.cyVal.int64) * 10000.0L /
                                                  static_cast<long double>(r.cyVal.int64)));
        return MakeCurrency(CurrencyUnits(static_cast<long double>(l.cyVal.int64) / divisor));
    }
    }
}

double RealArith(VarOp op, double l, double r) {
    switch (op) {
    case VarOp::Add: return l + r;
    case VarOp::Subtract: return l - r;
    case VarOp::Multiply: return l * r;
    case VarOp::Divide:
    default: return l / r;  // x/0 gives +/-INF, 0/0 NaN: FPU exceptions are masked
    }
}

// Integer arithmetic: a result beyond 64 bits is redone in Double, as the
// runtime does on Int64 overflow. The overflow builtins compute the exact
// result for operands of any signedness (an UInt64 above INT64_MAX with a
// negative Int64 included) and report whether it fits the Int64.
_variant_t IntegerArith(VarOp op, const VARIANT& l, const VARIANT& r, bool keepInt64) {
    return VisitInteger(l, [&](auto a) {
        return VisitInteger(r, [&](auto b) -> _variant_t {
            std::int64_t x = 0;
            bool overflow = false;
            switch (op) {
            case VarOp::Add: overflow = __builtin_add_overflow(a, b, &x); break;
            case VarOp::Subtract: overflow = __builtin_sub_overflow(a, b, &x); break;
            case VarOp::Multiply: overflow = __builtin_mul_overflow(a, b, &x); break;
            case VarOp::Divide:
            default:
                return MakeDouble(static_cast<double>(a) / static_cast<double>(b));
            }
            if (overflow) return MakeDouble(RealArith(op, static_cast<double>(a), static_cast<double>(b)));
            return keepInt64 ? MakeI8(x) : MakeInteger(x);
        });
    });
}

_variant_t Concatenate(const VARIANT& l, const VARIANT& r) {
    if (l.vt == VT_BSTR || r.vt == VT_BSTR) return MakeBstr(WideTextOf(l) + WideTextOf(r));
    return MakeAnsi(TextOf(l) + TextOf(r));
}

// ---- Comparison -----------------------------------------------------------------

enum class Order { Less, Equal, Greater, Unordered };

template <typename T>
Order OrderOf(T a, T b) {
    if (a < b) return Order::Less;
    if (a > b) return Order::Greater;
    if (a == b) return Order::Equal;
    return Order::Unordered;  // NaN
}

Order OrderOf(int a, int b) { return a < b ? Order::Less : (a > b ? Order::Greater : Order::Equal); }

// The exact order of two integer operands (or Booleans), whatever their
// signedness.
Order IntegerOrder(const VARIANT& l, const VARIANT& r) {
    return VisitInteger(l, [&r](auto a) {
        return VisitInteger(r, [a](auto b) {
            if (std::cmp_less(a, b)) return Order::Less;
            return std::cmp_greater(a, b) ? Order::Greater : Order::Equal;
        });
    });
}

// The order of an integer operand (or Boolean) against `units`
// ten-thousandths of Currency, exact: an integer whose ten-thousandths do not
// fit 64 bits lies beyond every Currency on its side of zero.
Order IntegerAgainstCurrency(const VARIANT& n, std::int64_t units) {
    return VisitInteger(n, [units](auto x) {
        std::int64_t scaled = 0;
        if (__builtin_mul_overflow(x, 10000, &scaled)) return x > 0 ? Order::Greater : Order::Less;
        return OrderOf(scaled, units);
    });
}

// Ordinal byte order of the UTF-8 texts (which is also code point order).
Order TextOrder(const VARIANT& l, const VARIANT& r) {
    const int c = TextOf(l).compare(TextOf(r));
    return OrderOf(c < 0 ? -1 : (c > 0 ? 1 : 0), 0);
}

// A Boolean comparison operand: Booleans, numbers (non-zero is True) and
// text read with VarToBoolean. False orders before True.
int TruthOf(const VARIANT& v) {
    if (ClassOf(v.vt) == Cls::Text) return VarToBoolean(v) ? 1 : 0;
    return VisitInteger(v, [](auto x) { return x != 0 ? 1 : 0; });
}

Order Compare(const VARIANT& l, const VARIANT& r) {
    const Cls lc = ClassOf(l.vt);
    const Cls rc = ClassOf(r.vt);
    if (lc == Cls::Invalid || rc == Cls::Invalid) ThrowInvalidOp();
    // Null equals only Null and orders before every other value; Empty
    // equals Empty and orders before every other value but Null.
    if (lc == Cls::Null || rc == Cls::Null)
        return lc == rc ? Order::Equal : (lc == Cls::Null ? Order::Less : Order::Greater);
    if (lc == Cls::Empty || rc == Cls::Empty)
        return lc == rc ? Order::Equal : (lc == Cls::Empty ? Order::Less : Order::Greater);
    if (lc == Cls::Text && rc == Cls::Text) return TextOrder(l, r);
    // Dates compare as day counts; a text against a date is read as a date.
    if (lc == Cls::Date || rc == Cls::Date) {
        const double a = lc == Cls::Text ? VarToDateTime(l) : VarToDouble(l);
        const double b = rc == Cls::Text ? VarToDateTime(r) : VarToDouble(r);
        return OrderOf(a, b);
    }
    // A Boolean against an integer or a text compares as two Booleans.
    if ((lc == Cls::Bool || rc == Cls::Bool) && lc != Cls::Real && rc != Cls::Real && lc != Cls::Currency &&
        rc != Cls::Currency)
        return OrderOf(TruthOf(l), TruthOf(r));
    if (lc == Cls::Currency || rc == Cls::Currency) {
        if (lc == rc) return OrderOf(l.cyVal.int64, r.cyVal.int64);
        // Compared in ten-thousandths: exact against integers.
        const auto units = [](const VARIANT& v) -> long double {
            if (v.vt == VT_CY) return static_cast<long double>(v.cyVal.int64);
            return WideOf(v) * 10000.0L;
        };
        const bool integral = (lc == Cls::Int || lc == Cls::Int64 || lc == Cls::Bool || lc == Cls::Currency) &&
                              (rc == Cls::Int || rc == Cls::Int64 || rc == Cls::Bool || rc == Cls::Currency);
        if (integral) {  // one side Currency, the other an integer or Boolean
            if (rc == Cls::Currency) return IntegerAgainstCurrency(l, r.cyVal.int64);
            const Order o = IntegerAgainstCurrency(r, l.cyVal.int64);
            return o == Order::Less ? Order::Greater : (o == Order::Greater ? Order::Less : o);
        }
        return OrderOf(units(l), units(r));
    }
    const bool lInt = lc == Cls::Int || lc == Cls::Int64;
    const bool rInt = rc == Cls::Int || rc == Cls::Int64;
    if (lInt && rInt) return IntegerOrder(l, r);
    // Reals, and numbers against text (the text read as a Double).
    return OrderOf(WideOf(l), WideOf(r));
}

}  // namespace

// ---- Type names -------------------------------------------------------------------

// Names as in the runtime's messages. VT_INT and VT_UINT read as the runtime's
// Integer and LongWord; VT_UI8 is "UInt64". A code the runtime does not know
// prints as "$" and four hex digits (as Free Pascal does), so that it cannot
// be mistaken for the Unknown (interface) kind. Arrays are prefixed "Array "
// and references "Ref to ".
std::string VarTypeAsText(VARTYPE vt) {
    static constexpr const char* kNames[] = {
        "Empty",   "Null",    "Smallint", "Integer", "Single",   "Double", "Currency", "Date",
        "OleStr",  "Dispatch", "Error",   "Boolean", "Variant",  "Unknown", "Decimal", nullptr,
        "ShortInt", "Byte",   "Word",     "LongWord", "Int64",   "UInt64", "Integer", "LongWord"};
    const VARTYPE base = vt & VT_TYPEMASK;
    std::string name;
    if (base < sizeof kNames / sizeof kNames[0] && kNames[base]) {
        name = kNames[base];
    } else if (base == varString) {
        name = "String";
    } else if (base == 0x101) {
        name = "Any";
    } else if (base == 0x102) {
        name = "UnicodeString";
    } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "$%04X", static_cast<unsigned>(base));
        name = buf;
    }
    if (vt & VT_ARRAY) name = "Array " + name;
    if (vt & VT_BYREF) name = "Ref to " + name;
    return name;
}

// ---- Conversions -----------------------------------------------------------------

double VarToDouble(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, VT_R8, holder);
    if (x.vt == VT_BOOL) return x.boolVal != 0 ? -1.0 : 0.0;
    return Change(x, VT_R8).dblVal;
}

LONG VarToInteger(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, VT_I4, holder);
    const std::int64_t n = ToInt64(x, VT_I4);
    if (n < INT32_MIN || n > INT32_MAX) ThrowOverflow(x.vt, VT_I4);
    return static_cast<LONG>(n);
}

// Smallint and Byte keep the low 16 or 8 bits of the value read as a 64-bit
// integer (reals rounded first), without a range check: Char(321) gives 65,
// as the runtime did with range checks off. Values beyond 64 bits overflow.
SHORT VarToSmallint(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, VT_I2, holder);
    return static_cast<SHORT>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(ToInt64(x, VT_I2))));
}

BYTE VarToByte(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, VT_UI1, holder);
    return static_cast<BYTE>(static_cast<std::uint64_t>(ToInt64(x, VT_UI1)));
}

// Text is True or False by the words "true"/"false" in any letter case, or
// by its number (zero is False); anything else fails to convert.
bool VarToBoolean(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, VT_BOOL, holder);
    if (IsText(x.vt)) {
        const std::string text = TextOf(x);
        const auto equalsWord = [&text](std::string_view word) {
            if (text.size() != word.size()) return false;
            for (std::size_t i = 0; i < word.size(); ++i) {
                char c = text[i];
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                if (c != word[i]) return false;
            }
            return true;
        };
        if (equalsWord("true")) return true;
        if (equalsWord("false")) return false;
        VARIANT number;
        VariantInit(&number);
        if (FAILED(VarCast(&number, &x, 0, VT_R8))) ThrowCast(x.vt, VT_BOOL);
        return number.dblVal != 0.0;
    }
    return Change(x, VT_BOOL).boolVal != VARIANT_FALSE;
}

DATE VarToDateTime(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, VT_DATE, holder);
    return Change(x, VT_DATE).date;
}

// Numbers and dates are written as the automation conversion writes them;
// Booleans as "True"/"False", as the runtime's later versions (and Free
// Pascal) write them, not the "-1"/"0" of the automation conversion.
std::string VarToString(const VARIANT& v) {
    _variant_t holder;
    const VARIANT& x = Resolve(v, varString, holder);
    if (IsText(x.vt)) return TextOf(x);
    const _variant_t text = Change(x, varString, VARIANT_ALPHABOOL);
    return TextOf(text);
}

_variant_t VarFromString(const std::string& text) { return MakeAnsi(text); }

// ---- Operators -----------------------------------------------------------------

// Kind rules (Free Pascal's, with the documented treatment of Unassigned):
// - Null with anything gives Null.
// - Empty counts as 0 (an Integer), except that Empty + text gives the text
//   (joined with an empty string).
// - Text + text joins the texts (OleStr when either side is OleStr); any
//   other operation reads both texts as Doubles. Text with a number is read
//   as a Double.
// - A Date with a number gives a Date for + and -, Date - Date a Double, and
//   * and / a Double.
// - Currency with a number gives Currency (number / Currency a Double).
// - Reals and Decimals give Double.
// - Integers and Booleans (-1/0) combine in 64 bits: Integer if the result
//   fits 32 bits, else Int64 (Int64 whenever an operand is Int64/UInt64);
//   beyond 64 bits the result is redone in Double. Division gives Double.
// Division by zero gives +/-INF or NaN, as with the FPU exceptions masked.
_variant_t VarArith(VarOp op, const VARIANT& left, const VARIANT& right) {
    Cls lc = ClassOf(left.vt);
    Cls rc = ClassOf(right.vt);
    if (lc == Cls::Invalid || rc == Cls::Invalid) ThrowInvalidOp();
    if (lc == Cls::Null || rc == Cls::Null) return Make(VT_NULL);

    if (op == VarOp::Add && lc == Cls::Empty && rc == Cls::Text) return _variant_t(right);
    if (op == VarOp::Add && rc == Cls::Empty && lc == Cls::Text) return _variant_t(left);
    if (lc == Cls::Text && rc == Cls::Text && op == VarOp::Add) return Concatenate(left, right);

    // Operands with text or Empty replaced by their numbers.
    _variant_t l(left);
    _variant_t r(right);
    const auto normalise = [](_variant_t& v, Cls& c) {
        if (c == Cls::Text) {
            v = MakeDouble(VarToDouble(v));
            c = Cls::Real;
        } else if (c == Cls::Empty) {
            v = MakeInteger(0);
            c = Cls::Int;
        }
    };
    normalise(l, lc);
    normalise(r, rc);

    if (lc == Cls::Date || rc == Cls::Date) {
        const double a = VarToDouble(l);
        const double b = VarToDouble(r);
        if (op == VarOp::Add) return MakeDate(a + b);
        if (op == VarOp::Subtract) return lc == rc ? MakeDouble(a - b) : MakeDate(a - b);
        return MakeDouble(RealArith(op, a, b));
    }
    if (lc == Cls::Currency || rc == Cls::Currency) return CurrencyArith(op, l, r);
    if (lc == Cls::Real || rc == Cls::Real) return MakeDouble(RealArith(op, VarToDouble(l), VarToDouble(r)));
    return IntegerArith(op, l, r, lc == Cls::Int64 || rc == Cls::Int64);
}

// Negation keeps the kind where the negated value fits it: Byte becomes
// Smallint, Word Integer, LongWord Integer or Int64; a Boolean is the
// Smallint -1/0 negated (1/0); Empty gives Smallint 0; text a negated
// Double. The one value of a signed kind whose negation does not fit (such
// as -2147483648) moves to the next wider kind (Int64 -9223372036854775808
// to Double) instead of wrapping. Negating the lowest Currency overflows.
_variant_t VarNeg(const VARIANT& value) {
    const VARIANT& v = value;
    switch (v.vt) {
    case VT_EMPTY: {
        _variant_t r = Make(VT_I2);
        r.iVal = 0;
        return r;
    }
    case VT_NULL: return Make(VT_NULL);
    case VT_BOOL: {
        _variant_t r = Make(VT_I2);
        r.iVal = v.boolVal != 0 ? 1 : 0;
        return r;
    }
    case VT_I1:
        if (v.cVal == INT8_MIN) {
            _variant_t r = Make(VT_I2);
            r.iVal = 128;
            return r;
        } else {
            _variant_t r = Make(VT_I1);
            r.cVal = static_cast<CHAR>(-v.cVal);
            return r;
        }
    case VT_I2: case VT_UI1: {
        const LONG n = -static_cast<LONG>(SignedIntegerOf(v));
        if (n > INT16_MAX) return MakeInteger(n);
        _variant_t r = Make(VT_I2);
        r.iVal = static_cast<SHORT>(n);
        return r;
    }
    case VT_I4: case VT_INT: case VT_UI2: case VT_UI4: case VT_UINT:
        return MakeInteger(-SignedIntegerOf(v));
    case VT_I8:
        if (v.llVal == INT64_MIN) return MakeDouble(kTwoTo63);
        return MakeI8(-v.llVal);
    case VT_UI8:
        if (v.ullVal > static_cast<std::uint64_t>(INT64_MAX) + 1) return MakeDouble(-static_cast<double>(v.ullVal));
        return MakeI8(static_cast<std::int64_t>(0 - v.ullVal));
    case VT_R4: {
        _variant_t r = Make(VT_R4);
        r.fltVal = -v.fltVal;
        return r;
    }
    case VT_R8: return MakeDouble(-v.dblVal);
    case VT_DATE: return MakeDate(-v.date);
    case VT_CY:
        if (v.cyVal.int64 == INT64_MIN) ThrowOverflow(VT_CY, VT_CY);
        return MakeCurrency(-v.cyVal.int64);
    case VT_DECIMAL: {
        _variant_t r(v);
        if (r.decVal.Hi32 != 0 || r.decVal.Lo64 != 0) r.decVal.sign ^= DECIMAL_NEG;
        return r;
    }
    case VT_BSTR: case varString: return MakeDouble(-VarToDouble(v));
    default: ThrowInvalidOp();
    }
}

// Comparison rules: Null equals only Null and is less than any other value;
// Empty equals Empty and is less than any value but Null; integers compare
// exactly; reals as Doubles (a NaN makes every comparison false); a number
// against text reads the text as a Double; two texts compare byte by byte
// (ordinal, case-sensitive); a Boolean against an integer or a text compares
// as Booleans (False < True); dates as day counts (text read as a date);
// Currency exactly in ten-thousandths. Objects, errors, arrays and references
// have no order (EVariantInvalidOpError).
bool VarCompare(VarCmp op, const VARIANT& left, const VARIANT& right) {
    const Order o = Compare(left, right);
    switch (op) {
    case VarCmp::Equal: return o == Order::Equal;
    case VarCmp::Less: return o == Order::Less;
    case VarCmp::Greater: return o == Order::Greater;
    case VarCmp::LessEqual: return o == Order::Less || o == Order::Equal;
    case VarCmp::GreaterEqual: return o == Order::Greater || o == Order::Equal;
    }
    return false;
}

}  // namespace calquor::rtl
