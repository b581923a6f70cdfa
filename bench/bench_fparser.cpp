// fparser as a peer: Parse builds its bytecode (not optimized: this engine
// does no constant folding either), Eval takes the values as an array.
#include "bench_support.h"

#include <fparser.hh>

namespace calquor::bench {
namespace {

class FParserEngine {
public:
    static constexpr const char* kName = "fparser";
    static constexpr Dialect kDialect = Dialect::FParser;

    void SetValues(const Values& values) { m_values = values; }

    bool Compile(const std::string& text, std::string& error) {
        if (m_parser.Parse(text, "a,b,c,d") < 0) return true;
        error = m_parser.ErrorMsg();
        return false;
    }

    bool CompileAndCalculate(const std::string& text, double& out, std::string& error) {
        if (!Compile(text, error)) return false;
        out = m_parser.Eval(m_values.data());
        if (m_parser.EvalError() == 0) return true;
        error = std::string("evaluation error ").append(std::to_string(m_parser.EvalError()));
        return false;
    }

    double Calculate() { return m_parser.Eval(m_values.data()); }

    double CalculateFresh(const std::string& text) {
        m_parser.Parse(text, "a,b,c,d");
        return m_parser.Eval(m_values.data());
    }

private:
    Values m_values{};
    FunctionParser m_parser;
};

}  // namespace

void RegisterFParser(const Case& c, Mode mode) { RegisterCompared<FParserEngine>(c, mode); }

}  // namespace calquor::bench
