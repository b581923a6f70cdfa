// The scanner: cuts the formula text into tokens, one per GetNextToken call.
#include <calquor/Calquex.h>

#include "Conversions.h"
#include "Lexer.h"
#include "Operators.h"
#include "Rules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <iterator>
#include <string>

namespace calquor {
namespace {

// Character classes of the plain "C" locale; bytes from 128 up are in none.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// What a token's first character starts, looked up in one step.
enum class Start : unsigned char { Other, End, Blank, Digit, Quote, At, Letter, Brace };

constexpr auto kStarts = [] {
    std::array<Start, 256> starts{};
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        Start start = Start::Other;
        if (c == '\0') start = Start::End;
        else if (IsBlank(c)) start = Start::Blank;
        else if (IsDigit(c)) start = Start::Digit;
        else if (c == '"' || c == '\'') start = Start::Quote;
        else if (c == '@') start = Start::At;
        else if (IsLetter(c)) start = Start::Letter;
        else if (c == '{') start = Start::Brace;
        starts[static_cast<std::size_t>(i)] = start;
    }
    return starts;
}();

constexpr Start StartOf(char c) { return kStarts[static_cast<unsigned char>(c)]; }
constexpr bool IsAlnum(char c) { return StartOf(c) == Start::Digit || StartOf(c) == Start::Letter; }

using detail::Lexeme;

Lexeme Make(TokenType type, int pos, const char* text = nullptr, int length = 0) noexcept {
    Lexeme lexeme;
    lexeme.type = type;
    lexeme.pos = pos;
    lexeme.text = text;
    lexeme.length = length;
    return lexeme;
}

Lexeme ScanNumber(const char* s, int& cur) noexcept {
    const int start = cur;
    bool hasPoint = false;
    while (IsDigit(s[cur]) || s[cur] == '.') {
        hasPoint = hasPoint || s[cur] == '.';
        ++cur;
    }
    const char* first = s + start;
    const char* last = s + cur;
    if (!hasPoint) {
        int value = 0;
        // Up to nine digits cannot overflow: read them here, the common case.
        if (cur - start <= 9) {
            for (const char* p = first; p != last; ++p) value = value * 10 + (*p - '0');
            Lexeme lexeme = Make(TT_INTEGER, start, first, cur - start);
            lexeme.number = value;
            return lexeme;
        }
        const auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || end != last) {
            // An integer literal beyond 32 bits is refused
            // rather than wrapped or clamped to a different number. Nothing is
            // consumed, so the scan stops on the literal.
            cur = start;
            return Make(TT_ERROR, start);
        }
        Lexeme lexeme = Make(TT_INTEGER, start, first, cur - start);
        lexeme.number = value;
        return lexeme;
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
        // As for integers, a literal beyond the double range is
        // refused rather than read as another number. One too small for a
        // double is 0, the nearest double.
        const char* firstNonZero = std::find_if(first, end, [](char c) { return c >= '1' && c <= '9'; });
        const bool tooLarge = firstNonZero < std::find(first, end, '.');
        if (tooLarge) {
            cur = start;
            return Make(TT_ERROR, start);
        }
        value = 0.0;
    }
    Lexeme lexeme = Make(TT_REAL, start, first, static_cast<int>(end - first));
    lexeme.number = value;
    return lexeme;
}

Lexeme ScanString(const char* s, int& cur) noexcept {
    const int start = cur;
    const char delimiter = s[cur++];
    const int first = cur;
    while (s[cur] != '\0' && s[cur] != delimiter) ++cur;
    const Lexeme lexeme = Make(TT_STRING, start, s + first, cur - first);
    // An unterminated string runs to the end of the text.
    if (s[cur] == delimiter) ++cur;
    return lexeme;
}

Lexeme ScanFunction(const char* s, int& cur) noexcept {
    const int start = cur;
    while (IsAlnum(s[cur])) ++cur;
    const char next = s[cur];
    if (next != '(' && next != '\0') return Make(TT_ERROR, start);
    return Make(TT_FUNCTION, start, s + start, cur - start);
}

// {name}: letters and digits; a '{' inside is skipped, the text's end closes
// the name, anything else is an error where it stands.
Lexeme ScanColumn(const char* s, int& cur) noexcept {
    const int start = cur++;
    const int first = cur;
    bool skips = false;
    for (;;) {
        const char c = s[cur];
        if (c == '\0' || c == '}') {
            Lexeme lexeme = Make(TT_COLUMN, start, s + first, cur - first);
            lexeme.skips = skips;
            if (c == '}') ++cur;
            return lexeme;
        }
        if (c == '{') {
            skips = true;
        } else if (!IsAlnum(c)) {
            return Make(TT_ERROR, start);
        }
        ++cur;
    }
}

// @name: letters and digits; a further '@' is skipped.
Lexeme ScanFormula(const char* s, int& cur) noexcept {
    const int start = cur++;
    const int first = cur;
    bool skips = false;
    for (;; ++cur) {
        if (s[cur] == '@')
            skips = true;
        else if (!IsAlnum(s[cur]))
            break;
    }
    Lexeme lexeme = Make(TT_FORMULA, start, s + first, cur - first);
    lexeme.skips = skips;
    return lexeme;
}

// Punctuation by the operator rows: the two-character text when it matches,
// else the one-character text. A character that starts only a two-character
// text ('&' or '|' alone) is consumed and is an error.
Lexeme ScanOperDel(const char* s, int& cur) noexcept {
    const int start = cur;
    const unsigned char c = static_cast<unsigned char>(s[cur]);
    if (c >= std::size(kOperatorStarts.byChar)) return Make(TT_ERROR, start);
    const OperatorStart& row = kOperatorStarts.byChar[c];
    if (row.pair != TT_ERROR && s[cur + 1] == row.second) {
        cur += 2;
        return Make(row.pair, start, s + start, 2);
    }
    if (row.single == TT_ERROR) {
        if (row.pair != TT_ERROR) ++cur;
        return Make(TT_ERROR, start);
    }
    ++cur;
    return Make(row.single, start, s + start, 1);
}

}  // namespace

namespace detail {

Lexeme Scan(const char* s, int& cur) noexcept {
    for (;; ++cur) {
        switch (StartOf(s[cur])) {
        case Start::Blank: continue;
        case Start::End: return Make(TT_END, cur);
        case Start::Digit: return ScanNumber(s, cur);
        case Start::Quote: return ScanString(s, cur);
        case Start::At: return ScanFormula(s, cur);
        case Start::Letter: return ScanFunction(s, cur);
        case Start::Brace: return ScanColumn(s, cur);
        case Start::Other: return ScanOperDel(s, cur);
        }
    }
}

std::string_view NameOf(const Lexeme& lexeme, char* buffer) noexcept {
    const std::string_view run = lexeme.View();
    if (!lexeme.skips) return run;
    const char skipped = lexeme.type == TT_COLUMN ? '{' : '@';
    char* out = buffer;
    for (const char c : run)
        if (c != skipped) *out++ = c;
    return {buffer, static_cast<std::size_t>(out - buffer)};
}

_variant_t ValueOf(const Lexeme& lexeme) {
    switch (lexeme.type) {
    case TT_END: case TT_ERROR: return _variant_t();
    case TT_INTEGER: {
        const int value = static_cast<int>(lexeme.number);
        return Rules::IntegerValue(value);
    }
    case TT_REAL: return _variant_t(lexeme.number);
    case TT_COLUMN: case TT_FORMULA: {
        // A name from the engine's text fits the buffer; a longer run (not
        // from an engine) takes a heap copy.
        char buffer[Calquex::kMaxFormulaLength + 1];
        if (lexeme.length <= Calquex::kMaxFormulaLength) return conv::MakeText(NameOf(lexeme, buffer));
        std::string name(static_cast<std::size_t>(lexeme.length), '\0');
        return conv::MakeText(NameOf(lexeme, name.data()));
    }
    default: return conv::MakeText(lexeme.View());
    }
}

}  // namespace detail

namespace {

Token Record(const Lexeme& lexeme) {
    Token token;
    token.nType = lexeme.type;
    token.nPos = lexeme.pos;
    token.vValue = detail::ValueOf(lexeme);
    return token;
}

}  // namespace

Token Calquex::GetNextToken() {
    // The scan position outlives a change of text. Beyond the end of a shorter
    // text it stands at that end: the bytes after the terminator are left from
    // the earlier text and are no tokens of this one.
    if (m_nCurPos > 0) {
        const void* end = std::memchr(m_szFormula, '\0', static_cast<std::size_t>(m_nCurPos));
        if (end) m_nCurPos = static_cast<int>(static_cast<const char*>(end) - m_szFormula);
    }
    return Record(detail::Scan(m_szFormula, m_nCurPos));
}

// The scanner's parts, each for a token of its kind at the scan position.
Token Calquex::GetNumber() { return Record(ScanNumber(m_szFormula, m_nCurPos)); }
Token Calquex::GetString() { return Record(ScanString(m_szFormula, m_nCurPos)); }
Token Calquex::GetFunction() { return Record(ScanFunction(m_szFormula, m_nCurPos)); }
Token Calquex::GetColumn() { return Record(ScanColumn(m_szFormula, m_nCurPos)); }
Token Calquex::GetFormula() { return Record(ScanFormula(m_szFormula, m_nCurPos)); }
Token Calquex::GetOperDel() { return Record(ScanOperDel(m_szFormula, m_nCurPos)); }

bool Calquex::IsOperator(const char* text, OPERATOR* op) {
    const OperatorRow* row = text ? FindOperator(text) : nullptr;
    if (!row) return false;
    if (op) *op = OPERATOR{row->text, row->priority};
    return true;
}

}  // namespace calquor
