// The operator table and the rules of the twelve operators on values.
#pragma once

#include <calquor/Calquex.h>

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

// The same rules, taken in place when both operands are numbers or booleans
// held directly (VT_R8, VT_INT, VT_I4, VT_BOOL): the result replaces left and
// true is returned. False means nothing was done: use ApplyBinary. The second
// flavour always answers false.
bool ApplyBinaryInPlace(TokenType op, VARIANT& left, const VARIANT& right) noexcept;
bool NegateInPlace(VARIANT& value) noexcept;

// Strict equality of "=": false for different kinds, without conversion.
bool StrictEquals(const VARIANT& left, const VARIANT& right);

}  // namespace calquor
