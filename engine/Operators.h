// The operator table and the rules of the twelve operators on values.
#pragma once

#include <calquor/Calquex.h>

#include "Flavour.h"

#include <string_view>

namespace calquor {

// Search order matters: IsOperator and GetTokenPriority take the first match.
inline constexpr OPERATOR OperatorTable[] = {
    {"(", 0},  {"&&", 1}, {"||", 1}, {"<=", 2}, {"<", 2}, {">=", 2},
    {">", 2},  {"=", 2},  {"+", 3},  {"-", 3},  {"*", 4}, {"/", 4},
};
inline constexpr int kOperatorCount = 12;
static_assert(sizeof(OperatorTable) / sizeof(OperatorTable[0]) == kOperatorCount, "12 operator rows");
static_assert(OperatorTable[0].nPriority == 0 && OperatorTable[1].nPriority == 1 &&
                  OperatorTable[7].nPriority == 2 && OperatorTable[8].nPriority == 3 &&
                  OperatorTable[11].nPriority == 4,
              "fixed priorities");

// Unary minus has no row; a function entry on the compiler's stack sits
// below every operator.
inline constexpr short kNegPriority = 5;
inline constexpr short kFunctionEntryPriority = -1;

// The row whose text equals text exactly; null when there is none.
const OPERATOR* FindOperator(std::string_view text) noexcept;

constexpr bool IsOperatorKind(int type) { return type >= TT_EQ && type <= TT_OR; }
constexpr bool IsOperandKind(int type) { return type >= TT_INTEGER && type <= TT_FORMULA; }

// Applies a binary operator (kinds 7 to 18 but TT_NEG) to the left and right
// operands. Throws the variant layer's error when a conversion is refused,
// and _com_error(E_INVALIDARG) when "=" meets kinds it cannot compare.
_variant_t ApplyBinary(TokenType op, const VARIANT& left, const VARIANT& right);

// Unary minus.
_variant_t Negate(const VARIANT& value);

namespace detail {
bool ApplyMixedInPlace(TokenType op, VARIANT& left, const VARIANT& right) noexcept;

// A number held directly (VT_R8, or an integer literal's VT_INT or VT_I4),
// exactly as to-number reads it.
inline bool DirectNumber(const VARIANT& v, double& out) noexcept {
    if (v.vt == VT_R8) {
        out = v.dblVal;
        return true;
    }
    if (v.vt == VT_INT || v.vt == VT_I4) {
        out = v.intVal;
        return true;
    }
    return false;
}

inline bool SetNumber(VARIANT& v, double x) noexcept {
    v.vt = VT_R8;
    v.dblVal = x;
    return true;
}

inline bool SetBoolean(VARIANT& v, bool x) noexcept {
    v.vt = VT_BOOL;
    v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
}
}  // namespace detail

// The same rules, taken in place when both operands are numbers or booleans
// held directly (VT_R8, VT_INT, VT_I4, VT_BOOL): the result replaces left and
// true is returned. False means nothing was done: use ApplyBinary. The second
// flavour always answers false.
//
// Inline for the commonest case, two numbers, so that the evaluator's loop
// does that arithmetic without a call. It gives what the general rules give:
// strict "=" needs the same kind (an integer is exact as a double, so equal
// values compare equal as doubles), a number is true when not 0, and every
// comparison with a NaN is false.
inline bool ApplyBinaryInPlace(TokenType op, VARIANT& left, const VARIANT& right) noexcept {
    if constexpr (flavour::kRuntimeRules) return false;
    double a = 0.0;
    double b = 0.0;
    if (!detail::DirectNumber(left, a) || !detail::DirectNumber(right, b))
        return detail::ApplyMixedInPlace(op, left, right);
    switch (op) {
    case TT_DIV: return detail::SetNumber(left, a / b);
    case TT_MUL: return detail::SetNumber(left, a * b);
    case TT_ADD: return detail::SetNumber(left, a + b);
    case TT_SUB: return detail::SetNumber(left, a - b);
    case TT_EQ: return detail::SetBoolean(left, left.vt == right.vt && a == b);
    case TT_GT: return detail::SetBoolean(left, a > b);
    case TT_LT: return detail::SetBoolean(left, a < b);
    case TT_GE: return detail::SetBoolean(left, a >= b);
    case TT_LE: return detail::SetBoolean(left, a <= b);
    case TT_AND: return detail::SetBoolean(left, !(b == 0.0) && !(a == 0.0));
    case TT_OR: return detail::SetBoolean(left, !(b == 0.0) || !(a == 0.0));
    default: return false;
    }
}

inline bool NegateInPlace(VARIANT& value) noexcept {
    if constexpr (flavour::kRuntimeRules) return false;
    double x = 0.0;
    if (!detail::DirectNumber(value, x)) return false;
    return detail::SetNumber(value, x * -1.0);
}

// Strict equality of "=": false for different kinds, without conversion.
bool StrictEquals(const VARIANT& left, const VARIANT& right);

}  // namespace calquor
