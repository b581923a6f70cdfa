// The tool's data adapters and its table of named formulas.
#pragma once

#include <calquor/Calquex.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calquor::tool {

// Named formulas (@name), from a --formulas file, :formula lines and the
// computed columns of the csv command.
class FormulaBook {
public:
    // Reads "name = formula" lines; blank lines and lines whose first non-blank
    // character is '#' are skipped, and a '#' outside a text literal ends the
    // formula (a comment after it: 'A = 1 # note'). Returns an error message
    // naming the file and line for an unreadable file, a line without '=', a
    // bad name, a name defined twice, or a formula the engine cannot hold.
    std::optional<std::string> Load(const std::string& path);

    // Adds or replaces one formula; origin is where it was written ("FILE:LINE")
    // or empty. Returns an error message when the name or the formula is
    // unusable (see CheckFormulaText).
    std::optional<std::string> Define(std::string_view name, std::string_view formula, std::string origin = {});

    bool Contains(const std::string& name) const { return m_formulas.count(name) != 0; }
    // The formula's text, or the empty text for an unknown name.
    const std::string& Find(const std::string& name) const;
    // "FILE:LINE" of a formula from a file, else empty.
    const std::string& OriginOf(const std::string& name) const;
    std::map<std::string, std::string> All() const;

private:
    struct Entry {
        std::string text;
        std::string origin;
    };
    std::map<std::string, Entry> m_formulas;
};

// What the tool checks before a formula text reaches the engine: its length
// (the engine would cut a longer text) and its bytes (UTF-8 without NUL).
// Returns a message, or nullopt when the text is fine.
std::optional<std::string> CheckFormulaText(std::string_view formula);

// A formula the tool calculates: shown as label in messages ("column T", or
// empty for the formula given to eval), and its name in the book when it is
// also a named formula (a csv column), so that a cycle through it is found.
struct RootFormula {
    std::string label;
    std::string name;
    std::string text;
};

// Checks before anything is calculated: compiles each root and every named
// formula reachable from the roots through @name, and reports every syntax
// error, every @name the book lacks (the engine would calculate it as the
// empty text), every operand that isKnownOperand refuses (null: all are
// known), and every reference cycle with its path ("X -> Y -> X"). Returns
// the reports, each ending with '\n', lines prefixed "calquor: " with a caret
// display under the formula's text; empty when all is well.
std::vector<std::string> CheckReachable(const std::vector<RootFormula>& roots, const FormulaBook& book,
                                        const std::function<bool(const std::string&)>& isKnownOperand);

// Where a failed calculation of formula went wrong, for its report: the
// innermost named formula it reaches that fails alike on its own (found by
// calculating them with adapter under the calculation's limits), with "FILE:LINE: named formula NAME: " and
// its text with a caret where the position is known; else the caret display
// in formula itself when the failure points into it; else empty.
std::string DescribeFailure(const std::string& formula, const FormulaBook& book, DataAdapter& adapter, int code,
                            const std::string& message, const CalculationLimits& limits);

// Serves operands from a fixed set of named values (eval and the REPL) and
// named formulas from a book. Unknown operands stay unknown to the engine,
// which then reports them by name.
class ValuesAdapter : public DataAdapter {
public:
    explicit ValuesAdapter(const FormulaBook& book) : m_book(book) {}

    void Set(const std::string& name, const _variant_t& value) { m_values[name] = value; }
    const std::map<std::string, _variant_t>& Values() const { return m_values; }
    const FormulaBook& Book() const { return m_book; }

    bool IsKnown(const char* name) override { return m_values.count(name) != 0; }
    _variant_t GetOperantValue(const char* name) override;
    std::string GetFormulaByName(const char* name) override { return m_book.Find(name); }

private:
    const FormulaBook& m_book;
    std::map<std::string, _variant_t> m_values;
};

}  // namespace calquor::tool
