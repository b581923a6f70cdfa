// The string functions. They work on the UTF-8 form of their text arguments
// and count bytes. There is no frame: a refused conversion leaves a function
// as the variant layer's error. Arguments are converted left to right.
#include "StringFunctions.h"

#include "Conversions.h"
#include "Limits.h"
#include "Rules.h"

#include <calquor/rtl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace calquor {
namespace {

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

std::string_view TrimmedLeft(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view TrimmedRight(std::string_view text) {
    const std::size_t last = text.find_last_not_of(kWhiteSpace);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

// Case mapping touches ASCII letters only. Every byte from 128 up is a piece
// of a UTF-8 character and is left alone, so the text stays valid UTF-8 and
// its byte length (which Length and SubStr count) never changes.
std::string MapAscii(std::string text, char from, char to) {
    for (char& c : text) {
        if (c >= from && c <= static_cast<char>(from + 25)) c = static_cast<char>(c - from + to);
    }
    return text;
}

// The byte count of the UTF-8 character starting at text[at]: its lead byte's
// length when that many continuation bytes follow, else 1 (an invalid or cut
// sequence is kept byte by byte).
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xC0 && lead < 0xE0) length = 2;
    else if (lead >= 0xE0 && lead < 0xF0) length = 3;
    else if (lead >= 0xF0 && lead < 0xF8) length = 4;
    if (length > text.size() - at) return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

}  // namespace

_variant_t FnLength(const _variant_t& s) {
    return _variant_t(static_cast<long>(conv::ToText(s).size()));
}

_variant_t FnTrim(const _variant_t& s) { return Rules::Trim(conv::ToText(s)); }

_variant_t FnTrimLeft(const _variant_t& s) { return Rules::TrimLeft(conv::ToText(s)); }

_variant_t FnTrimRight(const _variant_t& s) { return Rules::TrimRight(conv::ToText(s)); }

_variant_t FnUpperCase(const _variant_t& s) { return Rules::UpperCase(conv::ToText(s)); }

_variant_t FnLowerCase(const _variant_t& s) { return Rules::LowerCase(conv::ToText(s)); }

_variant_t FnReverse(const _variant_t& s) { return Rules::Reverse(conv::ToText(s)); }

_variant_t FnSubStr(const _variant_t& s, const _variant_t& start, const _variant_t& end) {
    const std::string text = conv::ToText(s);
    // 64 bits: the differences of two extreme 32-bit values do not overflow.
    const std::int64_t first = Rules::SubStrPosition(start);
    const std::int64_t last = Rules::SubStrPosition(end);
    std::string_view part = text;
    // Keep the last (length - start + 1) bytes, then the first
    // (end - start + 1) bytes of those.
    const std::int64_t tail = static_cast<std::int64_t>(part.size()) - first + 1;
    if (tail <= 0) part = {};
    else if (tail < static_cast<std::int64_t>(part.size())) part = part.substr(part.size() - static_cast<std::size_t>(tail));
    const std::int64_t head = last - first + 1;
    if (head <= 0) part = {};
    else if (head < static_cast<std::int64_t>(part.size())) part = part.substr(0, static_cast<std::size_t>(head));
    return conv::MakeText(part);
}

_variant_t FnFindSub(const _variant_t& s, const _variant_t& sub) {
    const std::string text = conv::ToText(s);
    const std::string wanted = conv::ToText(sub);
    const std::size_t at = text.find(wanted);
    return _variant_t(static_cast<long>(at == std::string::npos ? 0 : at + 1));
}

_variant_t FnReplace(const _variant_t& s, const _variant_t& oldText, const _variant_t& newText) {
    const std::string text = conv::ToText(s);
    const std::string from = conv::ToText(oldText);
    const std::string to = conv::ToText(newText);
    if (from.empty()) return conv::MakeText(text);
    // The scan resumes after each replaced occurrence, so inserted text is
    // never searched again and occurrences never overlap.
    // Replacing can multiply a text's length, so the result is held to the
    // largest text while it grows, before it takes the memory.
    const std::size_t most = detail::t_counters.maxTextBytes;
    std::string result;
    std::size_t done = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, done)) {
        result.append(text, done, at - done);
        result += to;
        if (result.size() > most) detail::ThrowLimitExceeded();
        done = at + from.size();
        if (Rules::kReplaceFirstOnly) break;
    }
    result.append(text, done, std::string::npos);
    return conv::MakeText(result);
}

_variant_t FnChar(const _variant_t& code) { return Rules::Char(code); }

}  // namespace calquor

namespace calquor {

_variant_t AutomationRules::Trim(const std::string& text) { return conv::MakeText(TrimmedRight(TrimmedLeft(text))); }

_variant_t AutomationRules::TrimLeft(const std::string& text) { return conv::MakeText(TrimmedLeft(text)); }

_variant_t AutomationRules::TrimRight(const std::string& text) { return conv::MakeText(TrimmedRight(text)); }

_variant_t AutomationRules::UpperCase(std::string text) { return conv::MakeText(MapAscii(std::move(text), 'a', 'A')); }

_variant_t AutomationRules::LowerCase(std::string text) { return conv::MakeText(MapAscii(std::move(text), 'A', 'a')); }

// Each character is copied whole to its mirrored place, so a multi-byte
// character keeps its bytes in order.
_variant_t AutomationRules::Reverse(const std::string& text) {
    std::string reversed(text.size(), '\0');
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = CharacterLength(text, at);
        text.copy(reversed.data() + (text.size() - at - length), length, at);
        at += length;
    }
    return conv::MakeText(reversed);
}

_variant_t AutomationRules::Char(const VARIANT& code) {
    const int value = conv::ToInteger(code);
    // The low 8 bits as a signed byte: 200 is -56, 321 is 65.
    _variant_t result;
    result.vt = VT_I1;
    result.cVal = static_cast<CHAR>(static_cast<std::int8_t>(static_cast<std::uint8_t>(value & 0xFF)));
    return result;
}

}  // namespace calquor
