// The scanner's first result: a token as a kind, a position and where its
// text lies in the formula, with no value built yet. The compiler works on
// these and builds a Token record (with its variant) only for the tokens it
// keeps, so that parentheses, commas and the operators waiting on its stack
// cost no string; GetNextToken builds the record of every token.
#pragma once

#include <calquor/Calquex.h>

#include <string_view>

namespace calquor::detail {

struct Lexeme {
    TokenType type = TT_END;
    // Offset of the token's first character.
    int pos = 0;
    // The token's text in the formula: a string's content, a function's
    // name, an operator's characters, a number's digits. For a name ({...}
    // or @...) it is the run between the delimiters, which may still hold
    // the '{' or '@' characters the name skips (see NameOf).
    const char* text = nullptr;
    int length = 0;
    // A name's run holds a '{' or '@' that the name skips.
    bool skips = false;
    // TT_INTEGER and TT_REAL: the literal's value (a 32-bit integer is exact
    // as a double).
    double number = 0.0;

    std::string_view View() const noexcept { return {text, static_cast<std::size_t>(length)}; }
};

// Scans the token that starts at cursor (blanks first skipped) in the
// NUL-terminated text and moves cursor exactly as Calquex::GetNextToken moves
// its scan position, also on errors.
Lexeme Scan(const char* text, int& cursor) noexcept;

// The name of a TT_COLUMN or TT_FORMULA lexeme: its run without the '{' or
// '@' characters it skips. Uses buffer (at least length bytes) only when
// something is skipped; the result views the formula or buffer.
std::string_view NameOf(const Lexeme& lexeme, char* buffer) noexcept;

// The value a Token record of the lexeme carries: the number, or the text
// (the name for operands and references, "-" for a unary minus) as the
// engine's text kind; Empty for TT_END and TT_ERROR. Throws _com_error when
// memory runs out.
_variant_t ValueOf(const Lexeme& lexeme);

}  // namespace calquor::detail
