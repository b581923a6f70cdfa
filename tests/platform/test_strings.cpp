// Code-page conversion, wide strings (BSTR) and the 8-bit counted strings.
#include "PlatformSupport.h"

#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace calquor {
namespace {

using test::OleString;

OleString ToWide(const std::string& in) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    OleString out(static_cast<std::size_t>(n), OLECHAR('\0'));
    if (n != MultiByteToWideChar(CP_UTF8, 0, in.data(), static_cast<int>(in.size()), out.data(), n))
        return OLESTR("<size>");
    return out;
}

std::string ToUtf8(const OleString& in) {
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, in.data(), static_cast<int>(in.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    if (n != WideCharToMultiByte(CP_UTF8, 0, in.data(), static_cast<int>(in.size()), out.data(), n, nullptr,
                                 nullptr))
        return "<size>";
    return out;
}

struct Utf8Case {
    const char* name;
    std::string in;
    OleString out;
    std::optional<OleString> wineDiffers = std::nullopt;  // under Wine only
};
void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class Utf8ToWide : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToWide, Converts) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(ToWide(c.in), c.wineDiffers && test::OnWine() ? *c.wineDiffers : c.out);
}

INSTANTIATE_TEST_SUITE_P(
    CodePage, Utf8ToWide,
    testing::Values(
        Utf8Case{"ascii", "abc 123", OLESTR("abc 123")}, Utf8Case{"two_byte", "\xC3\xA9", OLESTR("\u00E9")},
        Utf8Case{"three_byte", "\xE2\x82\xAC", OLESTR("\u20AC")},
        Utf8Case{"four_byte", "\xF0\x9F\x98\x80", OLESTR("\xD83D\xDE00")},
        Utf8Case{"highest", "\xF4\x8F\xBF\xBF", OLESTR("\xDBFF\xDFFF")},
        Utf8Case{"embedded_nul", std::string("a\0b", 3), OleString(OLESTR("a\0b"), 3)},
        Utf8Case{"lone_trail", "\x80", OLESTR("\uFFFD")}, Utf8Case{"ff", "a\xFF" "b", OLESTR("a\uFFFD") "b"},
        Utf8Case{"overlong_two", "\xC0\xAF", OLESTR("\uFFFD\uFFFD")},
        // One replacement per byte that cannot start or continue a sequence:
        // the second byte after E0, ED, F0 and F4 has a narrower range.
        // Wine takes any continuation byte there and replaces one byte fewer
        // (Windows undocumented).
        Utf8Case{"overlong_three", "\xE0\x80\xAF", OLESTR("\uFFFD\uFFFD\uFFFD"), OLESTR("\uFFFD\uFFFD")},
        Utf8Case{"overlong_four", "\xF0\x8F\xBF\xBF", OLESTR("\uFFFD\uFFFD\uFFFD\uFFFD"),
                 OLESTR("\uFFFD\uFFFD\uFFFD")},
        Utf8Case{"encoded_surrogate", "\xED\xA0\x80", OLESTR("\uFFFD\uFFFD\uFFFD"), OLESTR("\uFFFD\uFFFD")},
        Utf8Case{"above_max", "\xF4\x90\x80\x80", OLESTR("\uFFFD\uFFFD\uFFFD\uFFFD"),
                 OLESTR("\uFFFD\uFFFD\uFFFD")},
        Utf8Case{"f5_lead", "\xF5\x80", OLESTR("\uFFFD\uFFFD")},
        Utf8Case{"truncated_at_end", "\xE2\x82", OLESTR("\uFFFD")},
        Utf8Case{"truncated_before_ascii", "\xE2\x82" "A", OLESTR("\uFFFD") "A"},
        Utf8Case{"truncated_four", "\xF0\x9F\x98x", OLESTR("\uFFFDx")},
        // The mixed example of the Unicode standard (maximal subparts).
        Utf8Case{"unicode_example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                 OLESTR("a\uFFFD\uFFFD\uFFFD") "b\uFFFD" "c\uFFFD\uFFFD" "d"}),
    [](const auto& info) { return std::string(info.param.name); });

struct WideCase {
    const char* name;
    OleString in;
    std::string out;
};
void PrintTo(const WideCase& c, std::ostream* os) { *os << c.name; }

class WideToUtf8 : public testing::TestWithParam<WideCase> {};

TEST_P(WideToUtf8, Converts) { EXPECT_EQ(ToUtf8(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    CodePage, WideToUtf8,
    testing::Values(WideCase{"ascii", OLESTR("abc"), "abc"}, WideCase{"two_byte", OLESTR("\u00E9"), "\xC3\xA9"},
                    WideCase{"three_byte", OLESTR("\u20AC"), "\xE2\x82\xAC"},
                    WideCase{"pair", OLESTR("\xD83D\xDE00"), "\xF0\x9F\x98\x80"},
                    WideCase{"lone_high", OLESTR("\xD800"), "\xEF\xBF\xBD"},
                    WideCase{"lone_low", OLESTR("\xDC00"), "\xEF\xBF\xBD"},
                    WideCase{"high_then_ascii", OLESTR("\xD800") "A", "\xEF\xBF\xBD" "A"},
                    WideCase{"reversed_pair", OLESTR("\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD"},
                    WideCase{"high_then_pair", OLESTR("\xD800\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
                    WideCase{"embedded_nul", OleString(OLESTR("a\0b"), 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodePage, ValidTextRoundTrips) {
    const std::string text = "plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF end";
    EXPECT_EQ(ToUtf8(ToWide(text)), text);
    const OleString wide = OLESTR("x\u00FF\u0800\uFFFD\xD800\xDC00\xDBFF\xDFFF");
    EXPECT_EQ(ToWide(ToUtf8(wide)), wide);
}

// -1 counts the terminator; CP_ACP is UTF-8; output size 0 asks for the size
// even with a buffer.
TEST(CodePage, TerminatedInputAndSizeQueries) {
    OLECHAR w[3] = {OLECHAR('x'), OLECHAR('x'), OLECHAR('x')};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "h\xC3\xA9", -1, w, 0), 3);
    EXPECT_EQ(w[0], OLECHAR('x'));
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "h\xC3\xA9", -1, w, 3), 3);
    EXPECT_EQ(OleString(w, 3), OleString(OLESTR("h\u00E9\0"), 3));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", -1, nullptr, 0), 1);
    // Every negative size means a terminated input, as -1 does.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -2, nullptr, 0), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("abc"), -2, nullptr, 0, nullptr, nullptr), 4);

    char m[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("h\u00E9"), -1, nullptr, 0, nullptr, nullptr), 4);
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("h\u00E9"), -1, m, 4, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(m, 4), std::string("h\xC3\xA9\0", 4));
}

TEST(CodePage, TooSmallOutputFailsWithoutOverrun) {
    // Three units needed, room for two; the guard after the room stays.
    OLECHAR w[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
    // Windows fails when the output does not fit (documented); Wine returns
    // what fits, here without the pair's second half.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, w, 2), (test::Expect<int>{0, 2}.Get()));
    EXPECT_EQ(w[2], 0x5A5A);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, w, 3), 0);  // terminator does not fit
    EXPECT_EQ(w[3], 0x5A5A);

    char m[6] = {'#', '#', '#', '#', '#', '#'};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a\u20AC"), 2, m, 3, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(m + 3, 3), "###");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("\xD83D\xDE00"), 2, m, 3, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(m + 3, 3), "###");
}

struct BadCall {
    const char* name;
    UINT codePage;
    bool nullInput;
    int inSize;
    bool nullOutput;
    int outSize;
    bool standInOnly = false;  // the stand-in knows UTF-8 only
};

void PrintTo(const BadCall& c, std::ostream* os) { *os << c.name; }

class CodePageRefuses : public testing::TestWithParam<BadCall> {};

TEST_P(CodePageRefuses, ReturnsZero) {
    const BadCall& c = GetParam();
    if (c.standInOnly) CALQUOR_STAND_IN_ONLY("code pages (UTF-8 only)");
    OLECHAR w[8] = {};
    char m[8] = {};
    EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.nullInput ? nullptr : "abc", c.inSize,
                                  c.nullOutput ? nullptr : w, c.outSize),
              0);
    EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, c.nullInput ? nullptr : OLESTR("abc"), c.inSize,
                                  c.nullOutput ? nullptr : m, c.outSize, nullptr, nullptr),
              0);
}

INSTANTIATE_TEST_SUITE_P(CodePage, CodePageRefuses,
                         testing::Values(BadCall{"other_code_page", 1252, false, 3, false, 8, true},
                                         BadCall{"empty_input", CP_UTF8, false, 0, false, 8},
                                         BadCall{"null_input", CP_UTF8, true, 3, false, 8},
                                         BadCall{"null_input_terminated", CP_UTF8, true, -1, false, 8},
                                         BadCall{"null_output_with_size", CP_UTF8, false, 3, true, 8},
                                         BadCall{"negative_output_size", CP_UTF8, false, 3, false, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CodePage, DefaultCharacterArguments) {
    BOOL used = -7;
    char m[8];
    // Refused for UTF-8, as Windows documents; Wine ignores them.
    const test::Expect<int> refused{0, 1};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a"), 1, m, 8, nullptr, &used), refused.Get());
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a"), 1, m, 8, "?", nullptr), refused.Get());
    // Accepted for the ANSI page; reports a replaced unpaired surrogate.
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), 1, m, 8, "?", &used), 1);
    EXPECT_EQ(used, FALSE);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("\xDC00"), 1, m, 8, nullptr, &used), 3);
    EXPECT_EQ(used, TRUE);
}

// ---- BSTR -------------------------------------------------------------------

std::uint32_t Prefix(BSTR b) {
    std::uint32_t n;
    std::memcpy(&n, reinterpret_cast<const char*>(b) - sizeof n, sizeof n);
    return n;
}

TEST(Bstr, LayoutIsByteLengthThenTerminatedText) {
    BSTR b = SysAllocString(OLESTR("abc"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Prefix(b), 6u);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(OleString(b, 4), OleString(OLESTR("abc\0"), 4));
    SysFreeString(b);
}

TEST(Bstr, NullIsEmpty) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    BSTR zeros = SysAllocStringLen(nullptr, 2);  // no source: zero-filled
    EXPECT_EQ(OleString(zeros, 3), OleString(3, OLECHAR('\0')));
    SysFreeString(zeros);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
}

struct ByteLenCase {
    const char* text;
    UINT len;
    UINT units;
};

class BstrByteLen : public testing::TestWithParam<ByteLenCase> {};

TEST_P(BstrByteLen, KeepsTheExactByteCount) {
    const ByteLenCase& c = GetParam();
    BSTR b = SysAllocStringByteLen(c.text, c.len);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), c.len);
    EXPECT_EQ(SysStringLen(b), c.units);
    const char* bytes = reinterpret_cast<const char*>(b);
    if (c.text) EXPECT_EQ(std::memcmp(bytes, c.text, c.len), 0);
    else EXPECT_EQ(std::string(bytes, c.len), std::string(c.len, '\0'));
    // A NUL byte follows the content, and a whole wide NUL the last full unit.
    EXPECT_EQ(bytes[c.len], '\0');
    EXPECT_EQ(b[(c.len + 1) / 2], OLECHAR('\0'));
    SysFreeString(b);
}

INSTANTIATE_TEST_SUITE_P(Bstr, BstrByteLen,
                         testing::Values(ByteLenCase{"", 0, 0}, ByteLenCase{"a", 1, 0},
                                         ByteLenCase{"abc", 3, 1}, ByteLenCase{"abcd", 4, 2},
                                         ByteLenCase{nullptr, 5, 2}, ByteLenCase{"ab\0d", 4, 2}));

// Freed strings are reused: each length keeps its exact count, content and
// terminators whatever block it is given, also once another thread freed it
// and after a thread that kept blocks has ended.
TEST(Bstr, ReusedBlocksKeepExactLengths) {
    auto cycle = [] {
        for (int round = 0; round < 3; ++round) {
            std::vector<BSTR> held;
            for (UINT len = 0; len < 40; ++len) {
                BSTR wide = SysAllocStringLen(nullptr, len);
                BSTR bytes = SysAllocStringByteLen(nullptr, len);
                if (!wide || !bytes) return false;
                if (SysStringLen(wide) != len || SysStringByteLen(bytes) != len) return false;
                for (UINT i = 0; i < len; ++i) {
                    if (wide[i] != 0 || reinterpret_cast<const char*>(bytes)[i] != 0) return false;
                    wide[i] = OLECHAR('a' + i % 26);
                    reinterpret_cast<char*>(bytes)[i] = 'x';
                }
                if (wide[len] != 0 || reinterpret_cast<const char*>(bytes)[len] != 0 || bytes[(len + 1) / 2] != 0)
                    return false;
                held.push_back(wide);
                held.push_back(bytes);
            }
            for (BSTR b : held) SysFreeString(b);
        }
        return true;
    };
    EXPECT_TRUE(cycle());
    std::vector<BSTR> fromHere;
    for (UINT len = 0; len < 40; ++len)
        fromHere.push_back(SysAllocStringLen(OLESTR("0123456789012345678901234567890123456789"), len));
    bool other = false;
    std::thread([&] {
        for (BSTR b : fromHere) SysFreeString(b);
        other = cycle();
    }).join();
    EXPECT_TRUE(other);
    EXPECT_TRUE(cycle());
}

TEST(Bstr, LengthsBeyondThePrefixAreRefused) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(AnsiStrAlloc(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ReAlloc) {
    BSTR b = SysAllocString(OLESTR("abc"));
    ASSERT_EQ(SysReAllocString(&b, OLESTR("hello")), TRUE);
    EXPECT_EQ(OleString(b, SysStringLen(b)), OLESTR("hello"));
    // The source may be the string being replaced.
    ASSERT_EQ(SysReAllocString(&b, b + 1), TRUE);
    EXPECT_EQ(OleString(b, SysStringLen(b)), OLESTR("ello"));
    ASSERT_EQ(SysReAllocStringLen(&b, b, 2), TRUE);
    EXPECT_EQ(OleString(b, 3), OleString(OLESTR("el\0"), 3));
    ASSERT_EQ(SysReAllocString(&b, nullptr), TRUE);
    EXPECT_EQ(SysStringLen(b), 0u);
    EXPECT_EQ(SysReAllocString(nullptr, OLESTR("x")), FALSE);
    SysFreeString(b);

    BSTR fresh = nullptr;  // reallocating a null BSTR allocates
    ASSERT_EQ(SysReAllocString(&fresh, OLESTR("new")), TRUE);
    EXPECT_EQ(OleString(fresh, SysStringLen(fresh)), OLESTR("new"));
    SysFreeString(fresh);
}

TEST(Bstr, ReAllocLenRefusesANullTarget) {
    CALQUOR_STAND_IN_ONLY("null pointer check (Wine's runtime crashes on it)");
    EXPECT_EQ(SysReAllocStringLen(nullptr, OLESTR("x"), 1), FALSE);
}

TEST(AnsiStr, CountedAndTerminated) {
    char* s = AnsiStrAlloc("h\xC3\xA9llo", 6);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(AnsiStrLen(s), 6u);
    EXPECT_STREQ(s, "h\xC3\xA9llo");
    AnsiStrFree(s);

    char* z = AnsiStrAlloc(nullptr, 3);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(std::string(z, 4), std::string(4, '\0'));
    AnsiStrFree(z);

    EXPECT_EQ(AnsiStrLen(nullptr), 0u);
    AnsiStrFree(nullptr);
}

}  // namespace
}  // namespace calquor
