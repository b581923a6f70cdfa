#include "Adapter.h"

#include "Text.h"

#include <algorithm>
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

std::optional<std::string> FormulaBook::Define(std::string_view name, std::string_view formula, std::string origin) {
    if (!IsOperandName(name))
        return Quoted(name) + " is not a formula name (ASCII letters and digits only)";
    if (auto problem = CheckFormulaText(formula)) return "formula " + std::string(name) + ": " + *problem;
    m_formulas[std::string(name)] = Entry{std::string(formula), std::move(origin)};
    return std::nullopt;
}

namespace {

// The formula without a trailing comment: a '#' where the engine's scanner
// expects a token (so not inside a text literal) ends it.
std::string_view WithoutComment(std::string_view formula) {
    if (formula.find('#') == std::string_view::npos || CheckFormulaText(formula)) return formula;
    const std::string text(formula);
    Calquex scanner(text.c_str());
    std::size_t end = 0;  // where the last good token ended
    for (Token token = scanner.GetNextToken(); token.nType != TT_END; token = scanner.GetNextToken()) {
        if (token.nType == TT_ERROR) {
            const std::size_t next = text.find_first_not_of(" \t", end);
            if (next != std::string::npos && text[next] == '#') return TrimBlanks(formula.substr(0, next));
            break;
        }
        end = static_cast<std::size_t>(std::max(scanner.GetCurrentPos(), 0));
    }
    return formula;
}

}  // namespace

std::optional<std::string> FormulaBook::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open formulas file '" + path + "': " + std::strerror(errno);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Editors on Windows start UTF-8 files with a byte order mark; the CSV
        // reader drops it too.
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        const std::string origin = path + ":" + std::to_string(number);
        const std::string where = origin + ": ";
        const std::string_view content = TrimBlanks(line);
        if (content.empty() || content[0] == '#') continue;
        const std::size_t equals = content.find('=');
        if (equals == std::string_view::npos) return where + "expected 'name = formula'";
        const std::string_view name = TrimBlanks(content.substr(0, equals));
        if (Contains(std::string(name))) return where + Quoted(name) + " is defined twice";
        const std::string_view formula = WithoutComment(TrimBlanks(content.substr(equals + 1)));
        if (auto problem = Define(name, formula, origin)) return where + *problem;
    }
    // A read error (a directory, an I/O failure) stops getline before the end.
    if (!in.eof()) return "cannot read formulas file '" + path + "'";
    return std::nullopt;
}

const std::string& FormulaBook::Find(const std::string& name) const {
    static const std::string kNone;
    const auto it = m_formulas.find(name);
    return it == m_formulas.end() ? kNone : it->second.text;
}

const std::string& FormulaBook::OriginOf(const std::string& name) const {
    static const std::string kNone;
    const auto it = m_formulas.find(name);
    return it == m_formulas.end() ? kNone : it->second.origin;
}

std::map<std::string, std::string> FormulaBook::All() const {
    std::map<std::string, std::string> all;
    for (const auto& [name, entry] : m_formulas) all.emplace(name, entry.text);
    return all;
}

namespace {

// "calquor: FILE:LINE: named formula NAME: " for a named formula.
std::string NamedHead(const FormulaBook& book, const std::string& name) {
    const std::string& origin = book.OriginOf(name);
    return "calquor: " + (origin.empty() ? std::string() : origin + ": ") + "named formula " + name + ": ";
}

// Walks the formulas reachable from the roots, depth first, with the state
// of each named formula: on the current path (a cycle when met again) or done.
class Walker {
public:
    Walker(const FormulaBook& book, const std::function<bool(const std::string&)>& isKnownOperand)
        : m_book(book), m_isKnown(isKnownOperand) {}

    void Root(const RootFormula& root) {
        if (!root.name.empty()) {
            if (m_done.count(root.name) != 0) return;
            m_path.push_back(root.name);
        }
        Visit(root.text, root.label, root.name);
        if (!root.name.empty()) {
            m_path.pop_back();
            m_done.insert(root.name);
        }
    }

    std::vector<std::string> reports;

private:
    // rootLabel is set for a root's own text, name for a named formula's.
    void Visit(const std::string& text, const std::string& rootLabel, const std::string& name) {
        const auto report = [&](int pos, const std::string& message) {
            std::string head;
            if (!rootLabel.empty())
                head = "calquor: " + rootLabel + ":\n";
            else if (!name.empty())
                head = NamedHead(m_book, name) + message + "\n";
            reports.push_back(head + CaretBlock(text, pos, message));
        };
        Calquex engine(text.c_str());
        int pos = 0;
        std::string message;
        if (!engine.Compile(pos, message)) report(pos, message);
        Calquex scanner(text.c_str());
        for (Token token = scanner.GetNextToken(); token.nType != TT_END && token.nType != TT_ERROR;
             token = scanner.GetNextToken()) {
            if (token.nType != TT_COLUMN && token.nType != TT_FORMULA) continue;
            const _bstr_t chars = token.vValue;
            const std::string used = static_cast<const char*>(chars) != nullptr ? static_cast<const char*>(chars) : "";
            if (token.nType == TT_COLUMN) {
                if (m_isKnown && !m_isKnown(used)) report(token.nPos, "unknown operand {" + used + "}");
                continue;
            }
            if (!m_book.Contains(used)) {
                report(token.nPos, "unknown named formula @" + used);
                continue;
            }
            const auto onPath = std::find(m_path.begin(), m_path.end(), used);
            if (onPath != m_path.end()) {
                std::string cycle;
                for (auto it = onPath; it != m_path.end(); ++it) cycle += *it + " -> ";
                reports.push_back("calquor: reference cycle: " + cycle + used + "\n");
                continue;
            }
            if (m_done.count(used) != 0) continue;
            m_path.push_back(used);
            Visit(m_book.Find(used), std::string(), used);
            m_path.pop_back();
            m_done.insert(used);
        }
    }

    const FormulaBook& m_book;
    const std::function<bool(const std::string&)>& m_isKnown;
    std::vector<std::string> m_path;
    std::set<std::string> m_done;
};

// The names of the named formulas reachable from text, innermost first.
void CollectReachable(const std::string& text, const FormulaBook& book, std::set<std::string>& seen,
                      std::vector<std::string>& order) {
    Calquex scanner(text.c_str());
    for (Token token = scanner.GetNextToken(); token.nType != TT_END && token.nType != TT_ERROR;
         token = scanner.GetNextToken()) {
        if (token.nType != TT_FORMULA) continue;
        const _bstr_t chars = token.vValue;
        const std::string used = static_cast<const char*>(chars) != nullptr ? static_cast<const char*>(chars) : "";
        if (!book.Contains(used) || !seen.insert(used).second) continue;
        CollectReachable(book.Find(used), book, seen, order);
        order.push_back(used);
    }
}

// The 0-based position a calculation failure points at in text, or -1. An
// unknown operand's or a runaway reference's code is one past the offset of
// that operand or @name; any other code is no position.
int FailurePosition(const std::string& text, int code, const std::string& message) {
    static constexpr std::pair<std::string_view, std::string_view> kPointing[] = {
        {"Unrecognized element:", "{"}, {"Formula reference too deep:", "@"}};
    for (const auto& [start, sigil] : kPointing) {
        if (code < 1 || message.compare(0, start.size(), start) != 0) continue;
        const std::string element = std::string(sigil) + message.substr(start.size());
        const auto at = static_cast<std::size_t>(code - 1);
        if (at <= text.size() && text.compare(at, element.size(), element) == 0) return code - 1;
    }
    return -1;
}

}  // namespace

std::vector<std::string> CheckReachable(const std::vector<RootFormula>& roots, const FormulaBook& book,
                                        const std::function<bool(const std::string&)>& isKnownOperand) {
    Walker walker(book, isKnownOperand);
    for (const RootFormula& root : roots) walker.Root(root);
    return std::move(walker.reports);
}

std::string DescribeFailure(const std::string& formula, const FormulaBook& book, DataAdapter& adapter, int code,
                            const std::string& message, const CalculationLimits& limits) {
    std::set<std::string> seen;
    std::vector<std::string> order;
    CollectReachable(formula, book, seen, order);
    for (const std::string& name : order) {
        Calquex engine(book.Find(name).c_str());
        engine.SetDataAdapter(&adapter);
        engine.SetLimits(limits);
        int ownCode = 0;
        std::string ownMessage;
        engine.Calculate(ownCode, ownMessage);
        if (ownCode != code || ownMessage != message) continue;
        const std::string& text = book.Find(name);
        const int at = FailurePosition(text, code, message);
        const std::string head = NamedHead(book, name) + "error " + std::to_string(code) + ": " + message + "\n";
        return at >= 0 ? head + CaretBlock(text, at, message) : head + text + "\n";
    }
    const int at = FailurePosition(formula, code, message);
    return at >= 0 ? CaretBlock(formula, at, message) : std::string();
}

_variant_t ValuesAdapter::GetOperantValue(const char* name) {
    const auto it = m_values.find(name);
    return it == m_values.end() ? _variant_t() : it->second;
}

}  // namespace calquor::tool
