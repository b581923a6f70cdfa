// The plain library's C++ interface: the formula engine Calquex, its token
// records and the data adapter. One header serves both plain libraries:
// linking Calquor::CLQMFC or Calquor::Calquor_VCL picks the build's rules.
#pragma once

#include <calquor/CalquexBinding.h>
#include <calquor/CalquorExport.h>
#include <calquor/DataAdapter.h>
#include <calquor/oleauto.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

namespace calquor {

namespace detail {
struct CompiledProgram;
struct CalquexAccess;
}

// Token kinds. The values are fixed: operands are 1 to 5, operators 7 to 18.
enum TokenType {
    TT_END = -2,
    TT_ERROR = -1,
    TT_INTEGER = 1,
    TT_REAL = 2,
    TT_STRING = 3,
    TT_COLUMN = 4,
    TT_FORMULA = 5,
    TT_FUNCTION = 6,
    TT_EQ = 7,
    TT_DIV = 8,
    TT_MUL = 9,
    TT_ADD = 10,
    TT_SUB = 11,
    TT_NEG = 12,
    TT_GT = 13,
    TT_LT = 14,
    TT_GE = 15,
    TT_LE = 16,
    TT_AND = 17,
    TT_OR = 18,
    TT_LPAREN = 19,
    TT_RPAREN = 20,
    TT_COMMA = 21
};

// One lexical element, copied by value: its kind, its value (number, text,
// name or operator text) and the 0-based offset of its first character.
struct Token {
    TokenType nType = TT_END;
    _variant_t vValue;
    int nPos = 0;
};

// An operator's text and binding priority (a higher number binds tighter).
struct OPERATOR {
    const char* szOper;
    short nPriority;
};

// What one top-level calculation may make of texts, so that formulas from
// untrusted users cannot take the host's memory or a core: the largest text
// value, and the bytes of text it may make in all (string function results,
// concatenations and conversions to text, at every level of @name
// references together, beside their limit of 100,000 reference
// calculations). A text the calculation would make past either fails the
// calculation as running out of memory does: code 1 "type cast error" in
// CLQMFC, _com_error (E_OUTOFMEMORY) leaving Calculate in Calquor_VCL. The
// defaults are far beyond any real formula (a formula of 1023 bytes makes
// texts of a few kilobytes) and stop a runaway one within a fraction of a
// second. Counted in bytes of 8-bit text (UTF-16 units for a concatenation of
// wide texts); SIZE_MAX leaves a limit open.
struct CalculationLimits {
    static constexpr std::size_t kDefaultMaxTextBytes = std::size_t{16} << 20;
    static constexpr std::size_t kDefaultWorkBytes = std::size_t{64} << 20;
    std::size_t maxTextBytes = kDefaultMaxTextBytes;
    std::size_t workBytes = kDefaultWorkBytes;
};

// The formula engine. Holds a formula text (at most 1023 bytes of UTF-8), its
// compiled postfix form and the data adapter that supplies operand values.
//
// Threading: one thread at a time per engine; engines share nothing but the
// constant tables and the library's stateless default adapter.
//
// Reporting: Compile and Calculate never fail by their return alone; they
// fill a position or code and a fixed English message. Exceptions that may
// leave them: _com_error (out of memory, or past the CalculationLimits,
// in the variant layer); in Calquor_VCL also the errors its Calculate lets through.
//
// Both plain libraries export every member declared here, the destructor,
// copy constructor, GetFormulaStr and GetCurrentPos included: a library
// without them would leave a host unable to destroy, copy or inspect an
// engine it created, since nothing here defines them inline.
class CALQUOR_API Calquex {
public:
    // The longest text the engine holds, in bytes.
    static constexpr int kMaxFormulaLength = 1023;

    // Starts with the empty text, not compiled, bound to the library's
    // default adapter (which knows no operand).
    Calquex();
    // As Calquex(), then the text is copied (null gives the empty text). A
    // text longer than kMaxFormulaLength bytes is cut there, and compiling
    // the cut text then fails, with "Unknown element" at that offset or with
    // an error the cut leaves before it (a function name without its
    // parenthesis), so a cut formula never calculates to a wrong value.
    explicit Calquex(const char* formula);
    // A full copy: compiled form, text, scan position, compiled flag, adapter,
    // limits.
    Calquex(const Calquex& other);
    ~Calquex();
    // Takes the other engine's text only; the target is no longer compiled
    // and keeps its own adapter, scan position and limits.
    Calquex& operator=(const Calquex& other);

    // Stores the text (see the text constructor for overlong texts) and drops
    // the compiled form. A null pointer sets the empty text.
    void SetFormulaStr(const char* formula);
    // Valid until the text changes or the engine is destroyed.
    const char* GetFormulaStr() const;
    // The scan position; after a failed Compile, where scanning stopped.
    int GetCurrentPos();
    using AdapterHandle = CalquexBinding::Handle;
    // Binds an adapter without taking ownership; null leaves the engine
    // without adapter (operands are then unknown, references Null).
    // (The automation servers' engine asks the object it is given for
    // IDataAdapter and holds one counted reference to it instead.)
    void SetDataAdapter(CalquexBinding::Source adapter);

    // Compiles the text into postfix form. Returns true with "Succeed", or
    // false with the 0-based position and message of the first syntax error.
    bool Compile(int& pos, std::string& message);
    // Calculates the formula (compiling first when needed). code is 0 on
    // success; otherwise code and message tell what failed. The caller owns
    // the returned value.
    _variant_t Calculate(int& code, std::string& message);

    // The limits of this engine's calculations (see CalculationLimits); a
    // new engine has the defaults, a copy its source's. They apply when this
    // engine calculates outermost: a calculation inside another one, an
    // @name reference's included, shares the outer one's limits and budget.
    // Kept beside the engine rather than in it, so the class keeps its layout.
    void SetLimits(const CalculationLimits& limits);
    CalculationLimits GetLimits() const;

    // The scanner: the next token from the scan position.
    Token GetNextToken();

private:
    // Reads the compiled form for the engine's tests (a private header).
    friend struct detail::CalquexAccess;

    Token GetNumber();
    Token GetString();
    Token GetFunction();
    Token GetColumn();
    Token GetFormula();
    Token GetOperDel();
    bool IsOperator(const char* text, OPERATOR* op);
    unsigned short OperantNum();
    short GetTokenPriority(Token token);

    void StoreText(const char* formula);
    void DropCompiled();

    std::deque<Token> m_Postfix;
    char m_szFormula[kMaxFormulaLength + 1];
    int m_nCurPos;
    bool m_bCompiled;
    AdapterHandle m_pAdapter;
    // True when the stored text was cut to kMaxFormulaLength bytes.
    bool m_bTextCut;
    // The executable form of m_Postfix (values, function rows, operand
    // names, how it runs) and the compiled forms of referenced formulas;
    // built by Compile with m_Postfix and dropped with it. A calculation
    // running on it keeps it until the calculation ends, even when the
    // engine lets go of it meanwhile, so that an adapter that changes or
    // recalculates this engine never frees what the calculation reads.
    std::shared_ptr<detail::CompiledProgram> m_pProgram;
};

}  // namespace calquor
