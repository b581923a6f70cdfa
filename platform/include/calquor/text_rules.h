// Rules of text that the platform, the engines and the tools share: ASCII
// case folding and the UTF-8 well-formedness table. Header only (constexpr):
// no symbol of any library.
#pragma once

#include <cstddef>
#include <string_view>

namespace calquor {

// ASCII letters folded to lower case; every other unit unchanged.
constexpr char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Equality without regard to ASCII case; other bytes must be equal.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

// What a byte may start in UTF-8: the length of its character (1 for ASCII;
// 0 when it starts none: 80..C1 and F5..FF) and the allowed range of the
// second byte, which rules out overlong forms, UTF-16 surrogates and code
// points above U+10FFFF. Every later byte is 80..BF.
struct Utf8Lead {
    int length;
    unsigned char low;
    unsigned char high;
};

constexpr Utf8Lead Utf8LeadOf(unsigned char lead) {
    if (lead < 0x80) return {1, 0, 0};
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};  // overlong below
    if (lead == 0xED) return {3, 0x80, 0x9F};  // surrogates above
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};  // overlong below
    if (lead == 0xF4) return {4, 0x80, 0x8F};  // beyond U+10FFFF above
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    return {0, 0, 0};
}

constexpr bool IsUtf8Trail(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

static_assert(EqualsNoCase("Day", "dAY") && !EqualsNoCase("Day", "Days") && !EqualsNoCase("@", "`"));
static_assert(Utf8LeadOf(0xC1).length == 0 && Utf8LeadOf(0xF5).length == 0 && Utf8LeadOf(0x7F).length == 1);
static_assert(Utf8LeadOf(0xE0).low == 0xA0 && Utf8LeadOf(0xED).high == 0x9F && Utf8LeadOf(0xF4).high == 0x8F);

}  // namespace calquor
