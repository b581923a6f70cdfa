// The scanner: cuts the formula text into tokens, one per GetNextToken call.
#include <calquor/Calquex.h>

#include "Conversions.h"
#include "Flavour.h"
#include "Operators.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>

namespace calquor {
namespace {

// Character classes of the plain "C" locale; bytes from 128 up are in none.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool IsAlnum(char c) { return IsDigit(c) || IsLetter(c); }

Token MakeToken(TokenType type, int pos) {
    Token token;
    token.nType = type;
    token.nPos = pos;
    return token;
}

Token TextToken(TokenType type, int pos, std::string_view text) {
    Token token = MakeToken(type, pos);
    token.vValue = conv::MakeText(text);
    return token;
}

}  // namespace

Token Calquex::GetNextToken() {
    while (IsBlank(m_szFormula[m_nCurPos])) ++m_nCurPos;
    const char c = m_szFormula[m_nCurPos];
    if (c == '\0') return MakeToken(TT_END, m_nCurPos);
    if (IsDigit(c)) return GetNumber();
    if (c == '"' || c == '\'') return GetString();
    if (c == '@') return GetFormula();
    if (IsLetter(c)) return GetFunction();
    if (c == '{') return GetColumn();
    return GetOperDel();
}

Token Calquex::GetNumber() {
    const int start = m_nCurPos;
    bool hasPoint = false;
    while (IsDigit(m_szFormula[m_nCurPos]) || m_szFormula[m_nCurPos] == '.') {
        hasPoint = hasPoint || m_szFormula[m_nCurPos] == '.';
        ++m_nCurPos;
    }
    const char* first = m_szFormula + start;
    const char* last = m_szFormula + m_nCurPos;
    if (!hasPoint) {
        int value = 0;
        const auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || end != last) {
            // Decided here: an integer literal beyond 32 bits is refused
            // rather than wrapped or clamped to a different number. Nothing is
            // consumed, so the scan stops on the literal.
            m_nCurPos = start;
            return MakeToken(TT_ERROR, start);
        }
        Token token = MakeToken(TT_INTEGER, start);
        if constexpr (flavour::kRuntimeRules)
            token.vValue = _variant_t(static_cast<long>(value));
        else
            token.vValue = _variant_t(value);
        return token;
    }
    // The longest leading decimal number: digits, one point, digits. The rest
    // of the run ("1.2.3") is consumed without effect.
    const char* end = first;
    while (IsDigit(*end)) ++end;
    ++end;  // the first point
    while (IsDigit(*end)) ++end;
    double value = 0.0;
    const auto [parsed, ec] = std::from_chars(first, end, value, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) {
        // Decided here, as for integers: a literal beyond the double range is
        // refused rather than read as another number. One too small for a
        // double is 0, the nearest double.
        const char* firstNonZero = std::find_if(first, end, [](char c) { return c >= '1' && c <= '9'; });
        const bool tooLarge = firstNonZero < std::find(first, end, '.');
        if (tooLarge) {
            m_nCurPos = start;
            return MakeToken(TT_ERROR, start);
        }
        value = 0.0;
    }
    Token token = MakeToken(TT_REAL, start);
    token.vValue = _variant_t(value);
    return token;
}

Token Calquex::GetString() {
    const int start = m_nCurPos;
    const char delimiter = m_szFormula[m_nCurPos++];
    const int first = m_nCurPos;
    while (m_szFormula[m_nCurPos] != '\0' && m_szFormula[m_nCurPos] != delimiter) ++m_nCurPos;
    const std::string_view text(m_szFormula + first, static_cast<std::size_t>(m_nCurPos - first));
    // An unterminated string runs to the end of the text.
    if (m_szFormula[m_nCurPos] == delimiter) ++m_nCurPos;
    return TextToken(TT_STRING, start, text);
}

Token Calquex::GetFunction() {
    const int start = m_nCurPos;
    while (IsAlnum(m_szFormula[m_nCurPos])) ++m_nCurPos;
    const char next = m_szFormula[m_nCurPos];
    if (next != '(' && next != '\0') return MakeToken(TT_ERROR, start);
    return TextToken(TT_FUNCTION, start, std::string_view(m_szFormula + start, static_cast<std::size_t>(m_nCurPos - start)));
}

Token Calquex::GetColumn() {
    const int start = m_nCurPos++;
    std::string name;
    for (;;) {
        const char c = m_szFormula[m_nCurPos];
        if (c == '\0') break;
        if (IsAlnum(c)) {
            name += c;
        } else if (c == '}') {
            ++m_nCurPos;
            break;
        } else if (c != '{') {
            return MakeToken(TT_ERROR, start);
        }
        ++m_nCurPos;
    }
    return TextToken(TT_COLUMN, start, name);
}

Token Calquex::GetFormula() {
    const int start = m_nCurPos++;
    std::string name;
    for (;;) {
        const char c = m_szFormula[m_nCurPos];
        if (IsAlnum(c))
            name += c;
        else if (c != '@')
            break;
        ++m_nCurPos;
    }
    return TextToken(TT_FORMULA, start, name);
}

Token Calquex::GetOperDel() {
    const int start = m_nCurPos;
    const char c = m_szFormula[m_nCurPos];
    const char next = m_szFormula[m_nCurPos + 1];
    TokenType type = TT_ERROR;
    int length = 1;
    switch (c) {
    case '=': type = TT_EQ; break;
    case '/': type = TT_DIV; break;
    case '*': type = TT_MUL; break;
    case '+': type = TT_ADD; break;
    case '-': type = TT_SUB; break;
    case '(': type = TT_LPAREN; break;
    case ')': type = TT_RPAREN; break;
    case ',': type = TT_COMMA; break;
    case '>': if (next == '=') { type = TT_GE; length = 2; } else { type = TT_GT; } break;
    case '<': if (next == '=') { type = TT_LE; length = 2; } else { type = TT_LT; } break;
    case '&': if (next == '&') { type = TT_AND; length = 2; } break;
    case '|': if (next == '|') { type = TT_OR; length = 2; } break;
    default: length = 0; break;
    }
    m_nCurPos += length;
    if (type == TT_ERROR) return MakeToken(TT_ERROR, start);
    return TextToken(type, start, std::string_view(m_szFormula + start, static_cast<std::size_t>(length)));
}

bool Calquex::IsOperator(const char* text, OPERATOR* op) {
    const OPERATOR* row = text ? FindOperator(text) : nullptr;
    if (!row) return false;
    if (op) *op = *row;
    return true;
}

}  // namespace calquor
