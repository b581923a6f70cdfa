// Code-page conversion between 8-bit text and UTF-16. The ANSI code page of
// the stand-in is UTF-8, so CP_ACP and CP_UTF8 behave alike; other code pages
// are not installed and fail. Flags are accepted and ignored: the ones Windows
// defines only tune legacy code pages or ask for strict rejection, which no
// caller here relies on.
#include <calquor/oleauto.h>
#include <calquor/text_rules.h>

#include <climits>
#include <cstring>

namespace calquor {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSupported(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

// Decodes one character at s[i] (n bytes in all) and advances i. Ill-formed
// input yields U+FFFD and consumes its maximal subpart: the longest prefix of
// a well-formed sequence, or one byte when even the lead byte is unusable.
// Checking the second byte against the lead's own range (Utf8LeadOf) rejects
// overlongs, UTF-8 encoded surrogates and values above U+10FFFF in one place.
char32_t DecodeUtf8(const unsigned char* s, std::size_t n, std::size_t& i) {
    const unsigned char lead = s[i++];
    if (lead < 0x80) return lead;
    const Utf8Lead rule = Utf8LeadOf(lead);
    if (rule.length == 0) return kReplacement;  // 80..C1 and F5..FF never start a character
    // The lead's bits of the code point, by the character's length.
    constexpr unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
    char32_t cp = lead & kLeadBits[rule.length];
    for (int k = 1; k < rule.length; ++k) {
        if (i >= n) return kReplacement;
        const unsigned char b = s[i];
        if (k == 1 ? (b < rule.low || b > rule.high) : !IsUtf8Trail(b)) return kReplacement;
        cp = (cp << 6) | (b & 0x3Fu);
        ++i;
    }
    return cp;
}

// Decodes one code point from UTF-16 at s[i] and advances i; an unpaired
// surrogate yields U+FFFD.
char32_t DecodeUtf16(const OLECHAR* s, std::size_t n, std::size_t& i, bool& replaced) {
    const char32_t u = s[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF)
        return 0x10000 + ((u - 0xD800) << 10) + (s[i++] - 0xDC00);
    replaced = true;
    return kReplacement;
}

// Resolves a Windows-style input length: a negative count means
// NUL-terminated with the terminator counted (Windows 10 reads -2 as it
// reads -1); zero and a null input fail.
template <class Char>
bool InputLength(const Char* s, int count, std::size_t& n) {
    if (!s || count == 0) return false;
    if (count > 0) {
        n = static_cast<std::size_t>(count);
    } else {
        n = 0;
        while (s[n]) ++n;
        ++n;
    }
    return true;
}

bool OutputValid(const void* out, int size) { return size >= 0 && (out || size == 0); }

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD /*dwFlags*/, const char* lpMultiByteStr, int cbMultiByte,
                        OLECHAR* lpWideCharStr, int cchWideChar) {
    std::size_t n;
    if (!IsSupported(CodePage) || !InputLength(lpMultiByteStr, cbMultiByte, n) ||
        !OutputValid(lpWideCharStr, cchWideChar))
        return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const std::size_t cap = lpWideCharStr ? static_cast<std::size_t>(cchWideChar) : 0;
    std::size_t out = 0;
    auto put = [&](char32_t u) {
        if (out < cap) lpWideCharStr[out] = static_cast<OLECHAR>(u);
        ++out;
    };
    for (std::size_t i = 0; i < n;) {
        const char32_t cp = DecodeUtf8(s, n, i);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    // A NUL-terminated input longer than INT_MAX cannot report its size.
    if (out > static_cast<std::size_t>(INT_MAX)) return 0;
    if (cchWideChar != 0 && out > cap) return 0;  // too small
    return static_cast<int>(out);
}

int WideCharToMultiByte(UINT CodePage, DWORD /*dwFlags*/, const OLECHAR* lpWideCharStr, int cchWideChar,
                        char* lpMultiByteStr, int cbMultiByte, const char* lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
    std::size_t n;
    if (!IsSupported(CodePage) || !InputLength(lpWideCharStr, cchWideChar, n) ||
        !OutputValid(lpMultiByteStr, cbMultiByte))
        return 0;
    // Windows refuses a default character for UTF-8, where every character
    // is representable. CP_ACP stands in for a legacy page here, so callers
    // written for one may pass them; they are accepted, and the flag reports
    // whether an unpaired surrogate had to be replaced.
    if (CodePage == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar)) return 0;
    const std::size_t cap = lpMultiByteStr ? static_cast<std::size_t>(cbMultiByte) : 0;
    unsigned long long out = 0;  // up to three bytes per unit: may exceed int
    bool replaced = false;
    for (std::size_t i = 0; i < n;) {
        const char32_t cp = DecodeUtf16(lpWideCharStr, n, i, replaced);
        unsigned char buf[4];
        std::size_t len;
        if (cp < 0x80) {
            buf[0] = static_cast<unsigned char>(cp);
            len = 1;
        } else if (cp < 0x800) {
            buf[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
            buf[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            len = 2;
        } else if (cp < 0x10000) {
            buf[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
            buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            len = 3;
        } else {
            buf[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            buf[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            len = 4;
        }
        // A character is written whole or not at all.
        if (out + len <= cap) std::memcpy(lpMultiByteStr + out, buf, len);
        out += len;
    }
    if (out > static_cast<unsigned long long>(INT_MAX)) return 0;
    if (cbMultiByte != 0 && out > cap) return 0;  // too small
    if (lpUsedDefaultChar) *lpUsedDefaultChar = replaced ? TRUE : FALSE;
    return static_cast<int>(out);
}

}  // namespace calquor
