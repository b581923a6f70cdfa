#include "Completion.h"

#include <cctype>

namespace calquor::tool {
namespace {

bool IsNameByte(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80; }

void AddMatches(const std::vector<std::string>& candidates, std::string_view word, std::string_view suffix,
                std::vector<std::string>& out) {
    for (const std::string& candidate : candidates)
        if (candidate.compare(0, word.size(), word) == 0) out.push_back(candidate + std::string(suffix));
}

}  // namespace

std::vector<std::string> CompleteWord(std::string_view line, std::size_t cursor, const CompletionNames& names) {
    line = line.substr(0, cursor);
    std::size_t start = line.size();
    while (start > 0 && IsNameByte(line[start - 1])) --start;
    const std::string_view word = line.substr(start);
    const std::string_view before = line.substr(0, start);

    std::vector<std::string> matches;
    if (before.ends_with('{')) {
        AddMatches(names.operands, word, "}", matches);
    } else if (before.ends_with('@')) {
        AddMatches(names.formulas, word, "", matches);
    } else if (before == ":") {
        AddMatches(names.commands, word, "", matches);
    } else if (before.starts_with(":set ") && before.find_first_not_of(' ', 4) == std::string_view::npos) {
        AddMatches(names.operands, word, "=", matches);
    } else if (before.starts_with(":formula ") && before.find_first_not_of(' ', 8) == std::string_view::npos) {
        AddMatches(names.formulas, word, " = ", matches);
    } else if (!before.starts_with(':')) {
        AddMatches(names.functions, word, "(", matches);
    }
    return matches;
}

}  // namespace calquor::tool
