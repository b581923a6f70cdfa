#include "Adapter.h"

#include "Text.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

namespace calquor::tool {

std::optional<std::string> CheckFormulaText(std::string_view formula) {
    if (const auto bad = FindBadByte(formula)) return DescribeBadByte(formula, *bad);
    if (formula.size() > static_cast<std::size_t>(Calquex::kMaxFormulaLength))
        return "the formula is " + std::to_string(formula.size()) + " bytes long; the engine holds at most " +
               std::to_string(Calquex::kMaxFormulaLength);
    return std::nullopt;
}

std::optional<std::string> FormulaBook::Define(std::string_view name, std::string_view formula) {
    if (!IsOperandName(name))
        return Quoted(name) + " is not a formula name (ASCII letters and digits only)";
    if (auto problem = CheckFormulaText(formula)) return "formula " + std::string(name) + ": " + *problem;
    m_formulas[std::string(name)] = std::string(formula);
    return std::nullopt;
}

std::optional<std::string> FormulaBook::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open formulas file '" + path + "': " + std::strerror(errno);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Editors on Windows start UTF-8 files with a byte order mark; the CSV
        // reader drops it too.
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string_view content = TrimBlanks(line);
        if (content.empty() || content[0] == '#') continue;
        const std::size_t equals = content.find('=');
        if (equals == std::string_view::npos) return where + "expected 'name = formula'";
        const std::string_view name = TrimBlanks(content.substr(0, equals));
        if (Contains(std::string(name))) return where + Quoted(name) + " is defined twice";
        if (auto problem = Define(name, TrimBlanks(content.substr(equals + 1)))) return where + *problem;
    }
    // A read error (a directory, an I/O failure) stops getline before the end.
    if (!in.eof()) return "cannot read formulas file '" + path + "'";
    return std::nullopt;
}

const std::string& FormulaBook::Find(const std::string& name) const {
    static const std::string kNone;
    const auto it = m_formulas.find(name);
    return it == m_formulas.end() ? kNone : it->second;
}

namespace {

std::optional<UnknownName> FindUnknownIn(const std::string& formula, const std::string& within,
                                         const FormulaBook& book,
                                         const std::function<bool(const std::string&)>& isKnownOperand,
                                         std::set<std::string>& visited) {
    Calquex scanner(formula.c_str());
    for (Token token = scanner.GetNextToken(); token.nType != TT_END && token.nType != TT_ERROR;
         token = scanner.GetNextToken()) {
        if (token.nType != TT_COLUMN && token.nType != TT_FORMULA) continue;
        const _bstr_t text = token.vValue;
        const char* chars = text;
        const std::string name = chars != nullptr ? chars : "";
        if (token.nType == TT_COLUMN) {
            if (!isKnownOperand(name)) return UnknownName{within, token.nPos, "{" + name + "}"};
        } else if (!book.Contains(name)) {
            return UnknownName{within, token.nPos, "@" + name};
        } else if (visited.insert(name).second) {
            if (auto unknown = FindUnknownIn(book.Find(name), name, book, isKnownOperand, visited)) return unknown;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<UnknownName> FindUnknownName(const std::string& formula, const FormulaBook& book,
                                           const std::function<bool(const std::string&)>& isKnownOperand) {
    std::set<std::string> visited;
    return FindUnknownIn(formula, std::string(), book, isKnownOperand, visited);
}

std::string DescribeUnknown(const UnknownName& unknown, const std::string& formula) {
    const std::string what =
        (unknown.text[0] == '@' ? "unknown named formula " : "unknown operand ") + unknown.text;
    if (unknown.within.empty()) return CaretBlock(formula, unknown.pos, what);
    return "calquor: named formula " + unknown.within + ": " + what + "\n";
}

_variant_t ValuesAdapter::GetOperantValue(const char* name) {
    const auto it = m_values.find(name);
    return it == m_values.end() ? _variant_t() : it->second;
}

}  // namespace calquor::tool
