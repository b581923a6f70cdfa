// The tool's data adapters and its table of named formulas.
#pragma once

#include <calquor/Calquex.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace calquor::tool {

// Named formulas (@name), from a --formulas file, :formula lines and the
// computed columns of the csv command.
class FormulaBook {
public:
    // Reads "name = formula" lines; blank lines and lines whose first non-blank
    // character is '#' are skipped ('#' later in a line belongs to the formula,
    // where it may sit inside a text literal). Returns an error message naming
    // the file and line for an unreadable file, a line without '=', a bad name,
    // a name defined twice, or a formula the engine cannot hold.
    std::optional<std::string> Load(const std::string& path);

    // Adds or replaces one formula; returns an error message when the name or
    // the formula is unusable (see CheckFormulaText).
    std::optional<std::string> Define(std::string_view name, std::string_view formula);

    bool Contains(const std::string& name) const { return m_formulas.count(name) != 0; }
    // The formula's text, or the empty text for an unknown name.
    const std::string& Find(const std::string& name) const;
    const std::map<std::string, std::string>& All() const { return m_formulas; }

private:
    std::map<std::string, std::string> m_formulas;
};

// What the tool checks before a formula text reaches the engine: its length
// (the engine would cut a longer text) and its bytes (UTF-8 without NUL).
// Returns a message, or nullopt when the text is fine.
std::optional<std::string> CheckFormulaText(std::string_view formula);

// A name a formula uses that nothing supplies.
struct UnknownName {
    std::string within;  // the named formula it was found in; empty for the formula itself
    int pos = 0;         // its 0-based offset there
    std::string text;    // as written: "{Qty}" or "@Net"
};

// Finds the first operand that isKnownOperand refuses, or @name the book
// lacks, in the formula and in the named formulas it uses (followed through
// the book). The engine would calculate an unknown @name as the empty text,
// so the tool reports it instead. Uses the engine's own scanner; scanning
// stops at the first token it cannot read (Compile reports that).
std::optional<UnknownName> FindUnknownName(const std::string& formula, const FormulaBook& book,
                                           const std::function<bool(const std::string&)>& isKnownOperand);

// The report of an unknown name: the caret display when it is in the formula
// itself, else one "calquor: named formula ..." line; ends with '\n'.
std::string DescribeUnknown(const UnknownName& unknown, const std::string& formula);

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
