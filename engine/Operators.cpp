// The operators of the formula language on variant values.
#include "Operators.h"

#include "Conversions.h"
#include "Limits.h"
#include "ResultCodes.h"
#include "Rules.h"

#include <calquor/rtl.h>

#include <algorithm>
#include <cstring>

namespace calquor {
namespace {

_variant_t Boolean(bool value) { return _variant_t(value); }

_variant_t Number(double value) { return _variant_t(value); }

// UTF-16 code unit order; a prefix sorts first. Returns <0, 0 or >0.
int CompareUnits(const _bstr_t& a, const _bstr_t& b) {
    const unsigned la = a.length(), lb = b.length();
    const OLECHAR* pa = a;
    const OLECHAR* pb = b;
    const unsigned common = std::min(la, lb);
    for (unsigned i = 0; i < common; ++i)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

bool Holds(TokenType op, int order) {
    switch (op) {
    case TT_GT: return order > 0;
    case TT_LT: return order < 0;
    case TT_GE: return order >= 0;
    default: return order <= 0;  // TT_LE
    }
}

// Every comparison with a NaN is false, which the plain double operators give.
bool Holds(TokenType op, double l, double r) {
    switch (op) {
    case TT_GT: return l > r;
    case TT_LT: return l < r;
    case TT_GE: return l >= r;
    default: return l <= r;  // TT_LE
    }
}

_variant_t Compare(TokenType op, const VARIANT& l, const VARIANT& r) {
    if (l.vt == VT_BSTR || r.vt == VT_BSTR)
        return Boolean(Holds(op, CompareUnits(conv::ToBstr(l), conv::ToBstr(r))));
    return Boolean(Holds(op, conv::ToNumber(l), conv::ToNumber(r)));
}

bool IsText(const VARIANT& v) { return v.vt == VT_BSTR || v.vt == varString; }

// Calquor_VCL's "+" on texts: its 8-bit kind, or a wide string when
// either side is one, as that runtime joins them.
_variant_t ConcatenateRuntime(const VARIANT& l, const VARIANT& r) {
    const std::string left = conv::ToText(l);
    const std::string right = conv::ToText(r);
    // Refused before the join is built, not after.
    detail::CheckTextSize(left.size() + right.size());
    const std::string joined = left + right;
    if (l.vt == VT_BSTR || r.vt == VT_BSTR) return _variant_t(conv::Widen(joined));
    return conv::MakeText(joined);
}

// Calquor_VCL's operators: the runtime library's generic variant
// operations, which convert between kinds and keep integer results.
[[maybe_unused]] _variant_t ApplyRuntime(TokenType op, const VARIANT& l, const VARIANT& r) {
    switch (op) {
    case TT_EQ: return Boolean(rtl::VarCompare(rtl::VarCmp::Equal, l, r));
    case TT_GT: return Boolean(rtl::VarCompare(rtl::VarCmp::Greater, l, r));
    case TT_LT: return Boolean(rtl::VarCompare(rtl::VarCmp::Less, l, r));
    case TT_GE: return Boolean(rtl::VarCompare(rtl::VarCmp::GreaterEqual, l, r));
    case TT_LE: return Boolean(rtl::VarCompare(rtl::VarCmp::LessEqual, l, r));
    case TT_DIV: return rtl::VarArith(rtl::VarOp::Divide, l, r);
    case TT_MUL: return rtl::VarArith(rtl::VarOp::Multiply, l, r);
    case TT_SUB: return rtl::VarArith(rtl::VarOp::Subtract, l, r);
    case TT_ADD:
        if (r.vt == VT_NULL) return _variant_t(l);
        if (l.vt == VT_NULL) return _variant_t(r);
        if (IsText(l) || IsText(r)) return ConcatenateRuntime(l, r);
        return rtl::VarArith(rtl::VarOp::Add, l, r);
    case TT_AND: return Boolean(conv::ToBoolean(r) && conv::ToBoolean(l));
    case TT_OR: return Boolean(conv::ToBoolean(r) || conv::ToBoolean(l));
    default: throw rtl::EVariantInvalidOpError(msg::kInvalidVariantOperation);
    }
}

_variant_t Concatenate(const VARIANT& l, const VARIANT& r) {
    const _bstr_t a = conv::ToBstr(l);
    const _bstr_t b = conv::ToBstr(r);
    const unsigned la = a.length(), lb = b.length();
    if (la > UINT32_MAX / 2 - lb) _com_issue_error(E_OUTOFMEMORY);
    detail::ChargeText(std::size_t{la} + lb);
    BSTR joined = SysAllocStringLen(nullptr, la + lb);
    if (!joined) _com_issue_error(E_OUTOFMEMORY);
    if (la) std::memcpy(joined, static_cast<const OLECHAR*>(a), la * sizeof(OLECHAR));
    if (lb) std::memcpy(joined + la, static_cast<const OLECHAR*>(b), lb * sizeof(OLECHAR));
    _variant_t result;
    result.vt = VT_BSTR;
    result.bstrVal = joined;
    return result;
}

_variant_t Add(const VARIANT& l, const VARIANT& r) {
    if (r.vt == VT_NULL) return _variant_t(l);
    if (l.vt == VT_NULL) return _variant_t(r);
    if (l.vt == VT_BSTR || r.vt == VT_BSTR) return Concatenate(l, r);
    return Number(conv::ToNumber(l) + conv::ToNumber(r));
}

// A boolean, number or integer held directly, as to-boolean reads it: a
// number is true when not 0 (a NaN is not 0).
bool PlainTruth(const VARIANT& v, bool& out) noexcept {
    switch (v.vt) {
    case VT_BOOL: out = v.boolVal != 0; return true;
    case VT_R8: out = !(v.dblVal == 0.0); return true;
    case VT_INT: case VT_I4: out = v.intVal != 0; return true;
    default: return false;
    }
}

}  // namespace

namespace detail {

bool ApplyTruthInPlace(TokenType op, VARIANT& l, const VARIANT& r) noexcept {
    if constexpr (Rules::kRuntimeOperators) return false;
    bool a = false, b = false;
    if (!PlainTruth(l, a) || !PlainTruth(r, b)) return false;
    switch (RowOf(op).rule) {
    case OperatorRule::Equality:
        // Strict: kinds that differ are unequal without conversion.
        return detail::SetBoolean(l, StrictEquals(l, r));
    case OperatorRule::Logic: return detail::SetBoolean(l, op == TT_AND ? (b && a) : (b || a));
    default: return false;  // a number takes the general rule
    }
}

}  // namespace detail

const OperatorRow* FindOperator(std::string_view text) noexcept {
    for (const OperatorRow& row : kOperatorRows)
        if (row.type != TT_NEG && row.type <= TT_LPAREN && text == row.text) return &row;
    return nullptr;
}

bool StrictEquals(const VARIANT& l, const VARIANT& r) {
    if (l.vt != r.vt) return false;
    switch (l.vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I2: case VT_BOOL: case VT_UI2: return l.iVal == r.iVal;
    case VT_I4: case VT_INT: case VT_UI4: case VT_UINT: case VT_ERROR: return l.lVal == r.lVal;
    case VT_DISPATCH: case VT_UNKNOWN: return l.punkVal == r.punkVal;
    case VT_R4: return l.fltVal == r.fltVal;
    case VT_R8: case VT_DATE: return l.dblVal == r.dblVal;
    case VT_CY: case VT_I8: case VT_UI8: return l.llVal == r.llVal;
    case VT_I1: case VT_UI1: return l.bVal == r.bVal;
    case VT_BSTR: {
        const UINT n = SysStringByteLen(l.bstrVal);
        return n == SysStringByteLen(r.bstrVal) && (n == 0 || std::memcmp(l.bstrVal, r.bstrVal, n) == 0);
    }
    // All 16 bytes, the kind word included: 1 and 1.0 differ, as do +0 and -0.
    case VT_DECIMAL: return std::memcmp(&l.decVal, &r.decVal, sizeof(DECIMAL)) == 0;
    default: _com_issue_error(E_INVALIDARG);
    }
}

_variant_t ApplyBinary(TokenType op, const VARIANT& l, const VARIANT& r) {
    if constexpr (Rules::kRuntimeOperators) return ApplyRuntime(op, l, r);
    switch (op) {
    case TT_EQ: return Boolean(StrictEquals(l, r));
    case TT_DIV: return Number(conv::ToNumber(l) / conv::ToNumber(r));
    case TT_MUL: return Number(conv::ToNumber(l) * conv::ToNumber(r));
    case TT_ADD: return Add(l, r);
    case TT_SUB: return Number(conv::ToNumber(l) - conv::ToNumber(r));
    case TT_GT: case TT_LT: case TT_GE: case TT_LE: return Compare(op, l, r);
    // The right operand decides first; the left one is converted only when
    // it can still change the outcome.
    case TT_AND: return Boolean(conv::ToBoolean(r) && conv::ToBoolean(l));
    case TT_OR: return Boolean(conv::ToBoolean(r) || conv::ToBoolean(l));
    default: _com_issue_error(E_INVALIDARG);
    }
}

_variant_t Negate(const VARIANT& value) {
    if constexpr (Rules::kRuntimeOperators) return rtl::VarNeg(value);
    return Number(conv::ToNumber(value) * -1.0);
}

}  // namespace calquor
