// VariantChangeType: conversion between variant kinds with the rules of the
// Windows automation runtime (en-US). Integers convert exactly or overflow,
// same-size signed/unsigned pairs reinterpret their bits, reals round half to
// even, currency and decimal values are handled on their exact digits, and
// the runtime library's 8-bit text kind (varString) behaves like VT_BSTR.
#include <calquor/oleauto.h>

#include "number_text.h"
#include <calquor/ansistr.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace calquor {
namespace {

constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr std::uint64_t kInt64Max = static_cast<std::uint64_t>(INT64_MAX);

// VT_INT and VT_UINT are VT_I4 and VT_UI4 under another tag.
VARTYPE Base(VARTYPE vt) {
    if (vt == VT_INT) return VT_I4;
    if (vt == VT_UINT) return VT_UI4;
    return vt;
}

bool IsIntegerKind(VARTYPE vt) {
    switch (Base(vt)) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
        return true;
    default:
        return false;
    }
}

// Size in bytes of an integer kind.
unsigned Width(VARTYPE vt) {
    switch (Base(vt)) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_UI4: return 4;
    default: return 8;
    }
}

bool IsSigned(VARTYPE vt) {
    const VARTYPE b = Base(vt);
    return b == VT_I1 || b == VT_I2 || b == VT_I4 || b == VT_I8;
}

// Kinds a value of which can be converted (or copied).
bool IsKnownSource(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
    case varString:
        return true;
    default:
        return false;
    }
}

// Valid targets: the known kinds plus VT_VARIANT and VT_RECORD, which are
// valid kinds that no value converts to.
bool IsKnownTarget(VARTYPE vt) { return IsKnownSource(vt) || vt == VT_VARIANT || vt == VT_RECORD; }

bool IsValidDecimal(const DECIMAL& d) { return d.scale <= 28 && (d.sign == 0 || d.sign == DECIMAL_NEG); }

// An integer as sign and magnitude, wide enough for every integer kind.
struct Integer {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

Integer MakeInteger(std::int64_t v) {
    if (v < 0) return {true, 0 - static_cast<std::uint64_t>(v)};
    return {false, static_cast<std::uint64_t>(v)};
}

// The stored bits of an integer kind, zero-extended.
std::uint64_t RawBits(const VARIANT& v) {
    switch (Width(v.vt)) {
    case 1: return v.bVal;
    case 2: return v.uiVal;
    case 4: return v.ulVal;
    default: return v.ullVal;
    }
}

Integer ReadInteger(const VARIANT& v) {
    switch (Base(v.vt)) {
    case VT_I1: return MakeInteger(v.cVal);
    case VT_I2: return MakeInteger(v.iVal);
    case VT_I4: return MakeInteger(v.lVal);
    case VT_I8: return MakeInteger(v.llVal);
    default: return {false, RawBits(v)};
    }
}

// Range check for an integer kind; on success the two's complement bits.
HRESULT FitInteger(Integer x, VARTYPE kind, std::uint64_t* bits) {
    const unsigned bitsWide = Width(kind) * 8;
    const std::uint64_t mask = bitsWide == 64 ? UINT64_MAX : (std::uint64_t{1} << bitsWide) - 1;
    std::uint64_t limit;
    if (IsSigned(kind))
        limit = (mask >> 1) + (x.negative ? 1 : 0);
    else
        limit = x.negative ? 0 : mask;
    if (x.magnitude > limit) return DISP_E_OVERFLOW;
    *bits = x.negative ? 0 - x.magnitude : x.magnitude;
    return S_OK;
}

void StoreBits(VARIANT* out, VARTYPE kind, std::uint64_t bits) {
    switch (Width(kind)) {
    case 1: out->bVal = static_cast<BYTE>(bits); break;
    case 2: out->uiVal = static_cast<USHORT>(bits); break;
    case 4: out->ulVal = static_cast<ULONG>(bits); break;
    default: out->ullVal = bits; break;
    }
}

double IntegerToDouble(Integer x) {
    const auto d = static_cast<double>(x.magnitude);
    return x.negative ? -d : d;
}

// Round half to even; NaN, infinities and magnitudes of 2^64 and more
// overflow every integer kind.
HRESULT RoundReal(double x, Integer* out) {
    if (!std::isfinite(x)) return DISP_E_OVERFLOW;
    // Working on the magnitude keeps a - floor(a) exact.
    const double a = std::fabs(x);
    const double f = std::floor(a);
    const double diff = a - f;
    double r = f;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) r = f + 1.0;
    if (r >= 18446744073709551616.0) return DISP_E_OVERFLOW;
    out->magnitude = static_cast<std::uint64_t>(r);
    out->negative = x < 0 && out->magnitude != 0;
    return S_OK;
}

// Currency to the nearest integer, half to even, exactly. Equal to the
// runtime's path through a double for every value a 32-bit kind can hold.
Integer CurrencyToInteger(std::int64_t v) {
    Integer x = MakeInteger(v);
    std::uint64_t q = x.magnitude / 10000;
    const std::uint64_t r = x.magnitude % 10000;
    if (r > 5000 || (r == 5000 && (q & 1))) ++q;
    return {x.negative && q != 0, q};
}

double CurrencyToDouble(std::int64_t v) {
    double d = 0.0;
    numtext::ToDouble(numtext::FromCurrency(v), &d);  // cannot overflow
    return d;
}

double DecimalToDouble(const DECIMAL& dec) {
    double d = 0.0;
    numtext::ToDouble(numtext::FromDecimal(dec), &d);  // cannot overflow
    return d;
}

double RealOf(const VARIANT& v) { return v.vt == VT_R4 ? static_cast<double>(v.fltVal) : v.dblVal; }

const OLECHAR* TextOf(const VARIANT& v) { return v.bstrVal ? v.bstrVal : u""; }
std::size_t TextLength(const VARIANT& v) { return SysStringLen(v.bstrVal); }

// ---- One function per target kind. The source is by value, neither Null,
// Empty handled per target, and of a different kind than the target. -------

HRESULT ToInteger(const VARIANT& src, VARTYPE vt, VARIANT* out) {
    const VARTYPE from = src.vt;
    std::uint64_t bits = 0;
    HRESULT hr = S_OK;
    if (from == VT_EMPTY) {
    } else if (IsIntegerKind(from)) {
        // Same-size signed/unsigned pairs keep the bits: VT_UI1 200 is VT_I1 -56.
        if (Width(from) == Width(vt))
            bits = RawBits(src);
        else
            hr = FitInteger(ReadInteger(src), vt, &bits);
    } else if (from == VT_BOOL) {
        // The 16-bit -1/0 reinterpreted without a range check (255 as VT_UI1).
        bits = static_cast<std::uint64_t>(std::int64_t{src.boolVal});
    } else if (from == VT_R4 || from == VT_R8 || from == VT_DATE) {
        Integer x;
        hr = RoundReal(RealOf(src), &x);
        if (SUCCEEDED(hr)) hr = FitInteger(x, vt, &bits);
    } else if (from == VT_CY) {
        hr = FitInteger(CurrencyToInteger(src.cyVal.int64), vt, &bits);
    } else if (from == VT_DECIMAL) {
        const DECIMAL& d = src.decVal;
        if (!IsValidDecimal(d)) return E_INVALIDARG;
        if (d.scale == 0) {
            if (d.Hi32 != 0) return DISP_E_OVERFLOW;
            hr = FitInteger({d.sign != 0 && d.Lo64 != 0, d.Lo64}, vt, &bits);
        } else {
            Integer x;
            hr = RoundReal(DecimalToDouble(d), &x);
            if (SUCCEEDED(hr)) hr = FitInteger(x, vt, &bits);
        }
    } else if (from == VT_BSTR) {
        hr = numtext::TextToInteger(TextOf(src), TextLength(src), Width(vt) * 8, IsSigned(vt), &bits);
    } else {
        return kMismatch;
    }
    if (FAILED(hr)) return hr;
    StoreBits(out, vt, bits);
    out->vt = vt;
    return S_OK;
}

HRESULT ToDouble(const VARIANT& src, double* d) {
    switch (src.vt) {
    case VT_EMPTY: *d = 0.0; return S_OK;
    case VT_BOOL: *d = src.boolVal; return S_OK;
    case VT_R4: case VT_R8: case VT_DATE: *d = RealOf(src); return S_OK;
    case VT_CY: *d = CurrencyToDouble(src.cyVal.int64); return S_OK;
    case VT_DECIMAL:
        if (!IsValidDecimal(src.decVal)) return E_INVALIDARG;
        *d = DecimalToDouble(src.decVal);
        return S_OK;
    case VT_BSTR: return numtext::TextToDouble(TextOf(src), TextLength(src), d);
    default:
        if (!IsIntegerKind(src.vt)) return kMismatch;
        *d = IntegerToDouble(ReadInteger(src));
        return S_OK;
    }
}

HRESULT ToR8(const VARIANT& src, VARIANT* out) {
    double d = 0.0;
    const HRESULT hr = ToDouble(src, &d);
    if (FAILED(hr)) return hr;
    out->dblVal = d;
    out->vt = VT_R8;
    return S_OK;
}

HRESULT ToR4(const VARIANT& src, VARIANT* out) {
    float f = 0.0f;
    if (IsIntegerKind(src.vt)) {
        // Straight from the integer: one rounding only.
        const Integer x = ReadInteger(src);
        f = static_cast<float>(x.magnitude);
        if (x.negative) f = -f;
    } else {
        double d = 0.0;
        const HRESULT hr = ToDouble(src, &d);
        if (FAILED(hr)) return hr;
        // Beyond the float range (infinities too) overflows; NaN stays NaN.
        if (std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
        f = static_cast<float>(d);
    }
    out->fltVal = f;
    out->vt = VT_R4;
    return S_OK;
}

HRESULT ToDate(const VARIANT& src, VARIANT* out) {
    constexpr double kFirstDay = -657434.0;  // 1 January 100
    constexpr double kLastDay = 2958465.0;   // 31 December 9999
    double d = 0.0;
    HRESULT hr = S_OK;
    if (IsIntegerKind(src.vt)) {
        const Integer x = ReadInteger(src);
        if (x.magnitude > (x.negative ? 657434u : 2958465u)) return DISP_E_OVERFLOW;
        d = IntegerToDouble(x);
    } else if (src.vt == VT_R8) {
        d = src.dblVal;
        // The last day plus its time of day is still a date. A NaN is no
        // date either: refused here rather than passed on to fail later.
        if (std::isnan(d) || d <= kFirstDay - 1.0 || d >= kLastDay + 1.0) return DISP_E_OVERFLOW;
    } else if (src.vt == VT_BSTR) {
        // The whole BSTR is the text, as for the other kinds: what follows an
        // embedded NUL is left over, not ignored.
        const std::u16string_view text(TextOf(src), TextLength(src));
        if (text.find(u'\0') != std::u16string_view::npos) return DISP_E_TYPEMISMATCH;
        hr = VarDateFromStr(TextOf(src), LOCALE_EN_US, 0, &d);
    } else {
        // Empty, bool, float, currency and decimal: the value as it is, with
        // no range test (as the runtime does).
        hr = ToDouble(src, &d);
    }
    if (FAILED(hr)) return hr;
    out->date = d;
    out->vt = VT_DATE;
    return S_OK;
}

HRESULT ToCy(const VARIANT& src, VARIANT* out) {
    Integer x;  // in ten-thousandths
    HRESULT hr = S_OK;
    const VARTYPE from = src.vt;
    if (from == VT_EMPTY) {
    } else if (IsIntegerKind(from)) {
        x = ReadInteger(src);
        // The runtime's bound for whole numbers stops one unit inside the
        // currency range: 922337203685477 overflows although it would fit
        // (conformance tests run on Windows show it).
        if (x.magnitude >= kInt64Max / 10000) return DISP_E_OVERFLOW;
        x.magnitude *= 10000;
    } else if (from == VT_BOOL) {
        x = MakeInteger(std::int64_t{src.boolVal} * 10000);
    } else if (from == VT_R4 || from == VT_R8 || from == VT_DATE) {
        hr = RoundReal(RealOf(src) * 10000.0, &x);
    } else if (from == VT_DECIMAL) {
        if (!IsValidDecimal(src.decVal)) return E_INVALIDARG;
        // Rounded on the exact digits rather than through a double, so a
        // decimal with more than 15 digits keeps its last currency digit.
        hr = numtext::ToRoundedInteger(numtext::FromDecimal(src.decVal), 4, &x.negative, &x.magnitude);
    } else if (from == VT_BSTR) {
        std::int64_t v = 0;
        hr = numtext::TextToCurrency(TextOf(src), TextLength(src), &v);
        x = MakeInteger(v);
    } else {
        return kMismatch;
    }
    if (FAILED(hr)) return hr;
    if (x.magnitude > kInt64Max + (x.negative ? 1 : 0)) return DISP_E_OVERFLOW;
    out->cyVal.int64 = static_cast<std::int64_t>(x.negative ? 0 - x.magnitude : x.magnitude);
    out->vt = VT_CY;
    return S_OK;
}

HRESULT ToDecimalKind(const VARIANT& src, VARIANT* out) {
    DECIMAL dec{};
    HRESULT hr = S_OK;
    const VARTYPE from = src.vt;
    if (from == VT_EMPTY) {
    } else if (IsIntegerKind(from)) {
        const Integer x = ReadInteger(src);
        dec.Lo64 = x.magnitude;
        dec.sign = x.negative ? DECIMAL_NEG : 0;
    } else if (from == VT_BOOL) {
        // Change-type gives +1 for true (VarDecFromBool would give -1): a
        // long-standing quirk of the runtime that callers may rely on.
        dec.Lo64 = src.boolVal != 0 ? 1 : 0;
    } else if (from == VT_R4 || from == VT_R8 || from == VT_DATE) {
        // The runtime keeps the digits that print: 7 for floats, 15 for
        // doubles, so 0.1 becomes exactly 0.1.
        const double d = RealOf(src);
        if (!std::isfinite(d)) return DISP_E_OVERFLOW;
        hr = numtext::ToDecimal(numtext::FromDouble(d, from == VT_R4 ? 7 : 15), &dec);
    } else if (from == VT_CY) {
        // Exact, with the currency's four decimals as the scale.
        const Integer x = MakeInteger(src.cyVal.int64);
        dec.Lo64 = x.magnitude;
        dec.scale = 4;
        dec.sign = x.negative ? DECIMAL_NEG : 0;
    } else if (from == VT_BSTR) {
        hr = numtext::TextToDecimal(TextOf(src), TextLength(src), &dec);
    } else {
        return kMismatch;
    }
    if (FAILED(hr)) return hr;
    out->decVal = dec;
    out->vt = VT_DECIMAL;  // overlaps wReserved
    return S_OK;
}

HRESULT ToBool(const VARIANT& src, VARIANT* out) {
    bool value = false;
    const VARTYPE from = src.vt;
    if (from == VT_EMPTY) {
    } else if (IsIntegerKind(from)) {
        value = ReadInteger(src).magnitude != 0;
    } else if (from == VT_R4 || from == VT_R8 || from == VT_DATE) {
        value = RealOf(src) != 0.0;  // -0.0 is false, NaN true
    } else if (from == VT_CY) {
        value = src.cyVal.int64 != 0;
    } else if (from == VT_DECIMAL) {
        if (!IsValidDecimal(src.decVal)) return E_INVALIDARG;
        value = src.decVal.Hi32 != 0 || src.decVal.Lo64 != 0;
    } else if (from == VT_BSTR) {
        VARIANT_BOOL b = VARIANT_FALSE;
        const HRESULT hr = numtext::TextToBool(TextOf(src), TextLength(src), &b);
        if (FAILED(hr)) return hr;
        value = b != VARIANT_FALSE;
    } else {
        return kMismatch;
    }
    out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    out->vt = VT_BOOL;
    return S_OK;
}

HRESULT ToBstr(const VARIANT& src, USHORT flags, VARIANT* out) {
    std::string text;
    BSTR b = nullptr;
    HRESULT hr = S_OK;
    const VARTYPE from = src.vt;
    if (IsIntegerKind(from)) {
        const Integer x = ReadInteger(src);
        text = (x.negative ? "-" : "") + std::to_string(x.magnitude);
    } else if (from == VT_BOOL) {
        // Without a flag a boolean prints as the 16-bit integer it is ("-1").
        if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
            text = src.boolVal ? "True" : "False";
        else
            text = std::to_string(src.boolVal);
    } else if (from == VT_CY) {
        text = numtext::PlainText(numtext::FromCurrency(src.cyVal.int64));
    } else if (from == VT_DECIMAL) {
        if (!IsValidDecimal(src.decVal)) return E_INVALIDARG;
        text = numtext::PlainText(numtext::FromDecimal(src.decVal));
    } else if (from == VT_EMPTY) {
    } else if (from == VT_R4) {
        hr = VarBstrFromR4(src.fltVal, LOCALE_EN_US, 0, &b);
    } else if (from == VT_R8) {
        hr = VarBstrFromR8(src.dblVal, LOCALE_EN_US, 0, &b);
    } else if (from == VT_DATE) {
        hr = VarBstrFromDate(src.date, LOCALE_EN_US, 0, &b);
    } else {
        return kMismatch;
    }
    if (FAILED(hr)) return hr;
    if (!b) {
        b = numtext::AllocAsciiBstr(text);
        if (!b) return E_OUTOFMEMORY;
    }
    out->bstrVal = b;
    out->vt = VT_BSTR;
    return S_OK;
}

// Converts a by-value source of a known kind. On failure *out is untouched
// (still Empty); on success it owns its value.
HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out) {
    const VARTYPE from = src.vt;
    if (from == VT_NULL) {
        if (vt != VT_NULL) return kMismatch;
        out->vt = VT_NULL;
        return S_OK;
    }
    if (Base(from) == Base(vt)) {
        const HRESULT hr = VariantCopy(out, &src);
        if (SUCCEEDED(hr)) out->vt = vt;  // VT_INT <-> VT_I4 only retags
        return hr;
    }
    const bool fromObjectOrError = from == VT_ERROR || from == VT_DISPATCH || from == VT_UNKNOWN;
    // What Windows does here is known from conformance tests run there: an
    // IUnknown becomes Empty or Null, and the two interface kinds convert
    // into each other (a null interface stays null).
    if (vt == VT_EMPTY || vt == VT_NULL) {
        if (fromObjectOrError && from != VT_UNKNOWN) return kMismatch;
        out->vt = vt;
        return S_OK;
    }
    if ((from == VT_UNKNOWN || from == VT_DISPATCH) && (vt == VT_UNKNOWN || vt == VT_DISPATCH)) {
        IUnknown* object = nullptr;
        if (src.punkVal) {
            const HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                                           reinterpret_cast<void**>(&object));
            if (FAILED(hr)) return hr;
        }
        out->punkVal = object;
        out->vt = vt;
        return S_OK;
    }
    if (fromObjectOrError || vt == VT_ERROR || vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_VARIANT ||
        vt == VT_RECORD)
        return kMismatch;

    if (from == varString) {
        // 8-bit text converts as the same text in a BSTR.
        VARIANT text;
        VariantInit(&text);
        HRESULT hr = rtl::AnsiToBstr(src.strVal, &text.bstrVal);
        if (FAILED(hr)) return hr;
        text.vt = VT_BSTR;
        if (vt == VT_BSTR) {
            *out = text;
            return S_OK;
        }
        hr = Convert(text, flags, vt, out);
        VariantClear(&text);
        return hr;
    }
    if (vt == varString) {
        VARIANT text;
        VariantInit(&text);
        HRESULT hr = Convert(src, flags, VT_BSTR, &text);
        if (FAILED(hr)) return hr;
        char* ansi = nullptr;
        hr = rtl::BstrToAnsi(text.bstrVal, &ansi);
        VariantClear(&text);
        if (FAILED(hr)) return hr;
        out->strVal = ansi;
        out->vt = varString;
        return S_OK;
    }

    switch (Base(vt)) {
    case VT_R8: return ToR8(src, out);
    case VT_R4: return ToR4(src, out);
    case VT_DATE: return ToDate(src, out);
    case VT_CY: return ToCy(src, out);
    case VT_DECIMAL: return ToDecimalKind(src, out);
    case VT_BOOL: return ToBool(src, out);
    case VT_BSTR: return ToBstr(src, flags, out);
    default: return ToInteger(src, vt, out);  // the target is an integer kind
    }
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID, USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    // Flag bits (by reference, array, ...) are no valid target.
    if (!IsKnownTarget(vt)) return DISP_E_BADVARTYPE;
    if (!(pvarSrc->vt & VT_BYREF) && !IsKnownSource(pvarSrc->vt)) return DISP_E_BADVARTYPE;

    // Convert from a private copy of the (dereferenced) value into a private
    // result, so that a failure leaves the destination as it was and the
    // destination may be the source itself.
    VARIANT value;
    VariantInit(&value);
    const VARIANT* from = pvarSrc;
    if (pvarSrc->vt & VT_BYREF) {
        const HRESULT hr = VariantCopyInd(&value, pvarSrc);
        if (FAILED(hr)) return hr;
        if (!IsKnownSource(value.vt)) {
            VariantClear(&value);
            return DISP_E_BADVARTYPE;
        }
        from = &value;
    }
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = Convert(*from, wFlags, vt, &result);
    VariantClear(&value);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

}  // namespace calquor
