// The value conversions every operator and function shares. Each one either
// returns the converted value or throws the variant layer's error: _com_error
// with the failing HRESULT (DISP_E_TYPEMISMATCH for Null or text that spells
// no value, DISP_E_OVERFLOW for a value outside the target's range). In
// Calquor_VCL they convert by the runtime library's rules and
// throw its errors (rtl::EVariantTypeCastError, rtl::EVariantOverflowError).
#pragma once

#include <calquor/oleauto.h>

#include <string>
#include <string_view>

namespace calquor::conv {

// to-number: VT_R8 unchanged, anything else by VariantChangeType to VT_R8.
double ToNumber(const VARIANT& v);

// to-integer: VT_INT unchanged, anything else converted to VT_INT (reals
// rounded half to even; outside 32 bits refused).
int ToInteger(const VARIANT& v);

// to-boolean: a VT_BOOL is true when not 0; any other kind is converted to
// VT_BOOL and is true only when the converted value is VARIANT_TRUE.
bool ToBoolean(const VARIANT& v);

// to-string as a wide string: VT_BSTR copied, anything else converted.
_bstr_t ToBstr(const VARIANT& v);

// to-string as 8-bit (UTF-8) text, the form the string functions work on.
std::string ToText(const VARIANT& v);

// The engine's text value: VT_BSTR made from 8-bit text (in Calquor_VCL:
// the runtime's 8-bit string kind). Throws _com_error(E_OUTOFMEMORY).
_variant_t MakeText(std::string_view text);

// Wide <-> 8-bit text in the ANSI code page (UTF-8).
std::string Narrow(const OLECHAR* wide, std::size_t length);
_bstr_t Widen(std::string_view text);

// 8-bit text of a text value (VT_BSTR or the 8-bit kind) without conversion
// rules; other kinds go through ToText.
std::string TextOf(const VARIANT& v);

// A date as the date functions hold it: the value and whether it is valid.
struct WorkingDate {
    DATE value = 0.0;
    bool valid = false;
};

// to-date: VT_DATE unchanged and valid; anything else converted to VT_DATE;
// a refused conversion gives an invalid date with value 0 (never throws).
// In Calquor_VCL a refused conversion throws instead.
WorkingDate ToDate(const VARIANT& v);

// Throws the variant layer's error for hr when it failed.
inline void Check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace calquor::conv
