// The shared value conversions, on top of the platform's VariantChangeType.
#include "Conversions.h"

#include "Limits.h"
#include "Rules.h"

#include <algorithm>
#include <climits>

#include <calquor/rtl.h>

namespace calquor::conv {
namespace {

// Converts v to kind vt into out (a plain VARIANT whose kind needs no
// clearing for numeric targets); throws on refusal.
void ChangeTo(VARIANT& out, const VARIANT& v, VARTYPE vt) {
    VariantInit(&out);
    Check(rtl::VarCast(&out, &v, 0, vt));
}

}  // namespace

double ToNumber(const VARIANT& v) {
    switch (v.vt) {
    case VT_R8: return v.dblVal;
    // Exact for every 32-bit integer: the same result as the conversion.
    case VT_INT: case VT_I4: return v.intVal;
    default: break;
    }
    return Rules::NumberOf(v);
}

int ToInteger(const VARIANT& v) {
    if (v.vt == VT_INT || v.vt == VT_I4) return v.intVal;
    return Rules::IntegerOf(v);
}

bool ToBoolean(const VARIANT& v) {
    if (v.vt == VT_BOOL) return v.boolVal != 0;
    return Rules::BooleanOf(v);
}

_bstr_t ToBstr(const VARIANT& v) {
    if (v.vt == VT_BSTR) return _bstr_t(v.bstrVal, true);
    VARIANT out;
    ChangeTo(out, v, VT_BSTR);
    return _bstr_t(out.bstrVal, false);
}

std::string Narrow(const OLECHAR* wide, std::size_t length) {
    if (!wide || length == 0) return {};
    // ASCII, the common case of names and numbers, maps unit to byte.
    if (std::all_of(wide, wide + length, [](OLECHAR c) { return c < 0x80; })) {
        detail::ChargeText(length);
        return std::string(wide, wide + length);
    }
    const int count = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) _com_issue_error(E_OUTOFMEMORY);
    detail::ChargeText(static_cast<std::size_t>(bytes));
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, count, text.data(), bytes, nullptr, nullptr);
    return text;
}

namespace {

// A new BSTR of text (ANSI code page) that the caller owns.
BSTR AllocWide(std::string_view text) {
    // The platform counts in 32 bits; a longer text cannot be held.
    if (text.size() > static_cast<std::size_t>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    // ASCII, the common case of names and operators, maps byte to unit: the
    // copy checks as it goes and gives way to the conversion at the first
    // byte that is not ASCII.
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (!wide) _com_issue_error(E_OUTOFMEMORY);
    std::size_t i = 0;
    for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i) wide[i] = static_cast<OLECHAR>(text[i]);
    if (i == text.size()) return wide;
    SysFreeString(wide);
    const int bytes = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
    if (units <= 0) _com_issue_error(E_OUTOFMEMORY);
    BSTR converted = SysAllocStringLen(nullptr, static_cast<UINT>(units));
    if (!converted) _com_issue_error(E_OUTOFMEMORY);
    MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, converted, units);
    return converted;
}

}  // namespace

_bstr_t Widen(std::string_view text) {
    detail::ChargeText(text.size());
    return _bstr_t(AllocWide(text), false);
}

std::string TextOf(const VARIANT& v) {
    if (v.vt == VT_BSTR) return Narrow(v.bstrVal, SysStringLen(v.bstrVal));
    if (v.vt == varString) {
        const char* str = GetStrVal(v);
        const std::size_t length = AnsiStrLen(str);
        detail::ChargeText(length);
        return std::string(str ? str : "", length);
    }
    return ToText(v);
}

std::string ToText(const VARIANT& v) {
    if (v.vt == VT_BSTR || v.vt == varString) return TextOf(v);
    return Rules::TextOf(v);
}

_variant_t MakeText(std::string_view text) {
    detail::ChargeText(text.size());
    return Rules::TextValue(text);
}

WorkingDate ToDate(const VARIANT& v) {
    if (v.vt == VT_DATE) return {v.date, true};
    return Rules::DateOf(v);
}

}  // namespace calquor::conv

namespace calquor {

double AutomationRules::NumberOf(const VARIANT& v) {
    VARIANT out;
    conv::ChangeTo(out, v, VT_R8);
    return out.dblVal;
}

int AutomationRules::IntegerOf(const VARIANT& v) {
    VARIANT out;
    conv::ChangeTo(out, v, VT_INT);
    return out.intVal;
}

bool AutomationRules::BooleanOf(const VARIANT& v) {
    VARIANT out;
    conv::ChangeTo(out, v, VT_BOOL);
    return out.boolVal == VARIANT_TRUE;
}

std::string AutomationRules::TextOf(const VARIANT& v) {
    const _bstr_t wide = conv::ToBstr(v);
    return conv::Narrow(wide, wide.length());
}

_variant_t AutomationRules::TextValue(std::string_view text) {
    // Built in place: no wrapper to make, detach and destroy per token.
    _variant_t value;
    value.bstrVal = conv::AllocWide(text);
    value.vt = VT_BSTR;
    return value;
}

conv::WorkingDate AutomationRules::DateOf(const VARIANT& v) {
    VARIANT out;
    VariantInit(&out);
    if (FAILED(VariantChangeType(&out, &v, 0, VT_DATE))) return {0.0, false};
    return {out.date, true};
}

std::string RuntimeLibraryRules::TextOf(const VARIANT& v) {
    std::string text = rtl::VarToString(v);
    detail::ChargeText(text.size());
    return text;
}

_variant_t RuntimeLibraryRules::TextValue(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    char* str = AnsiStrAlloc(text.data(), static_cast<UINT>(text.size()));
    if (!str) _com_issue_error(E_OUTOFMEMORY);
    _variant_t value;
    value.vt = varString;
    SetStrVal(value, str);
    return value;
}

}  // namespace calquor
