#include "Text.h"

#include <calquor/text_rules.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>

namespace calquor::tool {

std::optional<std::size_t> FindBadByte(std::string_view text) {
    std::size_t i = 0;
    // Eight bytes at a time while they are ASCII without NUL, as most are.
    constexpr std::uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    for (std::uint64_t word = 0; i + 8 <= text.size(); i += 8) {
        std::memcpy(&word, text.data() + i, 8);
        if (((word - kOnes) | word) & kHighs) break;
    }
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead == 0) return i;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The allowed range of the second byte excludes overlong forms,
        // surrogates and code points above U+10FFFF.
        const Utf8Lead rule = Utf8LeadOf(lead);
        if (rule.length == 0) return i;
        const auto length = static_cast<std::size_t>(rule.length);
        unsigned char low = rule.low, high = rule.high;
        if (text.size() - i < length) return i;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < low || next > high) return i;
            low = 0x80;
            high = 0xBF;
        }
        i += length;
    }
    return std::nullopt;
}

std::string DescribeBadByte(std::string_view text, std::size_t offset) {
    const auto byte = offset < text.size() ? static_cast<unsigned char>(text[offset]) : 0u;
    char buffer[64];
    if (byte == 0)
        std::snprintf(buffer, sizeof buffer, "NUL byte at offset %zu", offset);
    else
        std::snprintf(buffer, sizeof buffer, "invalid UTF-8 byte 0x%02X at offset %zu", byte, offset);
    return buffer;
}

namespace {
constexpr bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}  // namespace

bool IsOperandName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), IsAsciiAlnum);
}

std::string OperandNameOf(std::string_view header) {
    std::string name;
    std::copy_if(header.begin(), header.end(), std::back_inserter(name), IsAsciiAlnum);
    return name;
}

std::string Quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    out += text;
    out += '\'';
    return out;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string CaretBlock(std::string_view formula, int pos, std::string_view message) {
    const std::size_t at = std::min(static_cast<std::size_t>(std::max(pos, 0)), formula.size());
    const std::size_t newline = at == 0 ? std::string_view::npos : formula.rfind('\n', at - 1);
    const std::size_t begin = newline == std::string_view::npos ? 0 : newline + 1;
    const std::size_t end = std::min(formula.find('\n', at), formula.size());

    std::string block(formula.substr(begin, end - begin));
    block += '\n';
    // One column per character: UTF-8 continuation bytes take none, and tabs
    // are copied so that the caret stays under the same character.
    for (std::size_t i = begin; i < at; ++i) {
        const auto c = static_cast<unsigned char>(formula[i]);
        if (c == '\t')
            block += '\t';
        else if (c < 0x80 || c >= 0xC0)
            block += ' ';
    }
    block += "^\noffset ";
    block += std::to_string(pos);
    block += ": ";
    block += message;
    block += '\n';
    return block;
}

}  // namespace calquor::tool
