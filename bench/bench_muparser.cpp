// muparser as a peer: variables bound by pointer; it parses lazily, so
// "compile" is SetExpr followed by GetUsedVar, which builds the bytecode
// without calculating.
#include "bench_support.h"

#include <muParser.h>

namespace calquor::bench {
namespace {

class MuParserEngine {
public:
    static constexpr const char* kName = "muparser";
    static constexpr Dialect kDialect = Dialect::MuParser;

    MuParserEngine() {
        for (std::size_t i = 0; i < kOperandNames.size(); ++i) m_parser.DefineVar(kOperandNames[i], &m_values[i]);
    }

    void SetValues(const Values& values) { m_values = values; }

    bool Compile(const std::string& text, std::string& error) {
        try {
            m_parser.SetExpr(text);
            m_parser.GetUsedVar();
            return true;
        } catch (const mu::Parser::exception_type& e) {
            error = e.GetMsg();
            return false;
        }
    }

    bool CompileAndCalculate(const std::string& text, double& out, std::string& error) {
        try {
            m_parser.SetExpr(text);
            out = m_parser.Eval();
            return true;
        } catch (const mu::Parser::exception_type& e) {
            error = e.GetMsg();
            return false;
        }
    }

    double Calculate() { return m_parser.Eval(); }

    double CalculateFresh(const std::string& text) {
        m_parser.SetExpr(text);
        return m_parser.Eval();
    }

private:
    Values m_values{};
    mu::Parser m_parser;
};

}  // namespace

void RegisterMuParser(const Case& c, Mode mode) { RegisterCompared<MuParserEngine>(c, mode); }

}  // namespace calquor::bench
