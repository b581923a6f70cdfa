// The operator table and the rules of the twelve operators on values.
#pragma once

#include <calquor/Calquex.h>

#include "Rules.h"

#include <cstddef>
#include <iterator>
#include <string_view>

namespace calquor {

// What the compiler and the evaluator do with an operator kind's values.
enum class OperatorRule : unsigned char {
    None,        // "(", ")" and ",": no values
    Arithmetic,  // "/", "*", "+", "-": a number ("+" also joins texts)
    Comparison,  // ">", "<", ">=", "<=": a boolean, texts by code units
    Equality,    // "=": a boolean, strict (kinds that differ are unequal)
    Logic,       // "&&", "||": a boolean, the right operand decided first
    Negation,    // unary minus: a number
};

// One row per punctuation token kind, from TT_EQ to TT_COMMA in kind order:
// its text as the scanner reads it, its priority on the compiler's stack (a
// higher number binds tighter; "(" lowest, so that it stays until its ")"),
// how many values it takes and its rule. The scanner, the compiler, the
// evaluator and the public IsOperator, GetTokenPriority and OperantNum all
// read these rows.
struct OperatorRow {
    TokenType type;
    const char* text;
    short priority;
    unsigned char operands;
    OperatorRule rule;
};

inline constexpr OperatorRow kOperatorRows[] = {
    {TT_EQ, "=", 2, 2, OperatorRule::Equality},
    {TT_DIV, "/", 4, 2, OperatorRule::Arithmetic},
    {TT_MUL, "*", 4, 2, OperatorRule::Arithmetic},
    {TT_ADD, "+", 3, 2, OperatorRule::Arithmetic},
    {TT_SUB, "-", 3, 2, OperatorRule::Arithmetic},
    // Unary minus: the scanner's "-" where a value is expected.
    {TT_NEG, "-", 5, 1, OperatorRule::Negation},
    {TT_GT, ">", 2, 2, OperatorRule::Comparison},
    {TT_LT, "<", 2, 2, OperatorRule::Comparison},
    {TT_GE, ">=", 2, 2, OperatorRule::Comparison},
    {TT_LE, "<=", 2, 2, OperatorRule::Comparison},
    {TT_AND, "&&", 1, 2, OperatorRule::Logic},
    {TT_OR, "||", 1, 2, OperatorRule::Logic},
    {TT_LPAREN, "(", 0, 0, OperatorRule::None},
    {TT_RPAREN, ")", 0, 0, OperatorRule::None},
    {TT_COMMA, ",", 0, 0, OperatorRule::None},
};

// The row of a kind from TT_EQ to TT_COMMA.
constexpr const OperatorRow& RowOf(TokenType type) noexcept { return kOperatorRows[type - TT_EQ]; }

// The text of a kind from TT_EQ to TT_COMMA, its length known without a
// search for its end (texts are one or two characters).
constexpr std::string_view OperatorText(TokenType type) noexcept {
    const char* text = RowOf(type).text;
    return {text, text[1] ? std::size_t{2} : std::size_t{1}};
}

// The operators: the kinds that take values.
constexpr bool IsOperatorKind(int type) { return type >= TT_EQ && type <= TT_OR; }

// A function entry on the compiler's stack sits below every operator.
inline constexpr short kFunctionEntryPriority = -1;

namespace detail {
constexpr bool RowsInKindOrder() {
    for (std::size_t i = 0; i < std::size(kOperatorRows); ++i)
        if (kOperatorRows[i].type != static_cast<TokenType>(TT_EQ + static_cast<int>(i))) return false;
    return true;
}
constexpr bool OperatorsTakeValues() {
    for (const OperatorRow& row : kOperatorRows)
        if (IsOperatorKind(row.type) != (row.operands > 0) || (row.operands > 0) != (row.rule != OperatorRule::None) ||
            (row.operands == 1) != (row.type == TT_NEG) || row.priority <= kFunctionEntryPriority)
            return false;
    return true;
}
// Texts are one or two characters; two rows share one only for "-".
constexpr bool TextsDistinct() {
    for (const OperatorRow& a : kOperatorRows) {
        if (!a.text[0] || (a.text[1] && a.text[2])) return false;
        for (const OperatorRow& b : kOperatorRows)
            if (&a != &b && a.text[0] == b.text[0] && a.text[1] == b.text[1] &&
                !((a.type == TT_SUB || a.type == TT_NEG) && (b.type == TT_SUB || b.type == TT_NEG)))
                return false;
    }
    return true;
}
}  // namespace detail
static_assert(std::size(kOperatorRows) == TT_COMMA - TT_EQ + 1, "one row per punctuation kind");
static_assert(detail::RowsInKindOrder(), "rows in kind order, so that RowOf indexes them");
static_assert(detail::OperatorsTakeValues(), "operators take values, the unary minus one, punctuation none");
static_assert(detail::TextsDistinct(), "each text names one kind but for the minus");
static_assert(RowOf(TT_MUL).priority > RowOf(TT_ADD).priority && RowOf(TT_ADD).priority > RowOf(TT_EQ).priority &&
                  RowOf(TT_EQ).priority > RowOf(TT_AND).priority && RowOf(TT_AND).priority > RowOf(TT_LPAREN).priority &&
                  RowOf(TT_NEG).priority > RowOf(TT_MUL).priority,
              "unary minus binds tightest, then * /, + -, comparisons, && ||, and ( lowest");

// The row of an operator or "(" whose text equals text exactly, the binary
// "-" for "-"; null for any other text.
const OperatorRow* FindOperator(std::string_view text) noexcept;

// How the scanner reads punctuation starting with a character: the kind of
// its one-character text and of its two-character text with its second
// character (TT_ERROR where there is none). Built from kOperatorRows.
struct OperatorStart {
    TokenType single = TT_ERROR;
    TokenType pair = TT_ERROR;
    char second = 0;
};
namespace detail {
struct OperatorStarts {
    OperatorStart byChar[128] = {};
    constexpr OperatorStarts() {
        for (const OperatorRow& row : kOperatorRows) {
            if (row.type == TT_NEG) continue;
            OperatorStart& start = byChar[static_cast<unsigned char>(row.text[0])];
            if (row.text[1]) {
                start.pair = row.type;
                start.second = row.text[1];
            } else {
                start.single = row.type;
            }
        }
    }
};
}  // namespace detail
inline constexpr detail::OperatorStarts kOperatorStarts{};
static_assert(kOperatorStarts.byChar['>'].single == TT_GT && kOperatorStarts.byChar['>'].pair == TT_GE &&
                  kOperatorStarts.byChar['&'].single == TT_ERROR && kOperatorStarts.byChar['&'].pair == TT_AND &&
                  kOperatorStarts.byChar['-'].single == TT_SUB,
              "the scanner's view of the rows");

// Applies a binary operator (kinds 7 to 18 but TT_NEG) to the left and right
// operands. Throws the variant layer's error when a conversion is refused,
// and _com_error(E_INVALIDARG) when "=" meets kinds it cannot compare.
_variant_t ApplyBinary(TokenType op, const VARIANT& left, const VARIANT& right);

// Unary minus.
_variant_t Negate(const VARIANT& value);

namespace detail {
// The in-place rule's part for booleans: "&&", "||" and "=" when either side
// is a boolean and both are numbers or booleans held directly.
bool ApplyTruthInPlace(TokenType op, VARIANT& left, const VARIANT& right) noexcept;

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

// The in-place rule's results on two numbers a (left) and b (right): the
// number of "/", "*", "+" and "-", and the truth of the comparisons, of "&&"
// and "||" (a number is true when not 0, a NaN too) and of "=" on two values
// of the same kind. Every comparison with a NaN is false.
constexpr double NumberOf(TokenType op, double a, double b) noexcept {
    switch (op) {
    case TT_DIV: return a / b;
    case TT_MUL: return a * b;
    case TT_ADD: return a + b;
    default: return a - b;
    }
}
constexpr bool TruthOf(TokenType op, double a, double b) noexcept {
    switch (op) {
    case TT_EQ: return a == b;
    case TT_GT: return a > b;
    case TT_LT: return a < b;
    case TT_GE: return a >= b;
    case TT_LE: return a <= b;
    case TT_AND: return !(b == 0.0) && !(a == 0.0);
    default: return !(b == 0.0) || !(a == 0.0);
    }
}
}  // namespace detail

// The in-place rule: the rules of ApplyBinary, taken in place when both
// operands are numbers or booleans held directly (VT_R8, VT_INT, VT_I4,
// VT_BOOL): the result replaces left and true is returned. False means
// nothing was done: use ApplyBinary. Calquor_VCL always answers false: its
// runtime's operations keep integer kinds.
//
// Inline for the commonest case, two numbers, so that the evaluator's loop
// does that arithmetic without a call. It gives what the general rules give:
// strict "=" needs the same kind (an integer is exact as a double, so equal
// values compare equal as doubles), a number is true when not 0, and every
// comparison with a NaN is false.
inline bool ApplyBinaryInPlace(TokenType op, VARIANT& left, const VARIANT& right) noexcept {
    if constexpr (Rules::kRuntimeOperators) return false;
    double a = 0.0;
    double b = 0.0;
    if (!detail::DirectNumber(left, a) || !detail::DirectNumber(right, b))
        return detail::ApplyTruthInPlace(op, left, right);
    switch (op) {
    case TT_DIV: case TT_MUL: case TT_ADD: case TT_SUB: return detail::SetNumber(left, detail::NumberOf(op, a, b));
    case TT_EQ: return detail::SetBoolean(left, left.vt == right.vt && a == b);
    case TT_GT: case TT_LT: case TT_GE: case TT_LE: case TT_AND: case TT_OR:
        return detail::SetBoolean(left, detail::TruthOf(op, a, b));
    default: return false;
    }
}

namespace detail {
// Unary minus on a number: by multiplication, so that 0 gives -0.
constexpr double NegativeOf(double x) noexcept { return x * -1.0; }
}  // namespace detail

inline bool NegateInPlace(VARIANT& value) noexcept {
    if constexpr (Rules::kRuntimeOperators) return false;
    double x = 0.0;
    if (!detail::DirectNumber(value, x)) return false;
    return detail::SetNumber(value, detail::NegativeOf(x));
}

// Strict equality of "=": false for different kinds, without conversion.
bool StrictEquals(const VARIANT& left, const VARIANT& right);

}  // namespace calquor
