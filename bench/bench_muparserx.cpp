// muparserx as a peer: its own value objects bound as variables. It parses
// lazily, so "compile" is SetExpr followed by GetExprVar, which builds the
// reverse Polish code without calculating.
#include "bench_support.h"

#include <mpParser.h>

namespace calquor::bench {
namespace {

// A result as a double: booleans as 1/0.
double AsNumber(const mup::IValue& value) {
    if (value.GetType() == 'b') return value.GetBool() ? 1.0 : 0.0;
    return value.GetFloat();
}

class MuParserXEngine {
public:
    static constexpr const char* kName = "muparserx";
    static constexpr Dialect kDialect = Dialect::MuParserX;

    MuParserXEngine() {
        for (std::size_t i = 0; i < kOperandNames.size(); ++i)
            m_parser.DefineVar(kOperandNames[i], mup::Variable(&m_values[i]));
    }

    void SetValues(const Values& values) {
        for (std::size_t i = 0; i < values.size(); ++i) m_values[i] = values[i];
    }

    bool Compile(const std::string& text, std::string& error) {
        try {
            m_parser.SetExpr(text);
            m_parser.GetExprVar();
            return true;
        } catch (const mup::ParserError& e) {
            error = e.GetMsg();
            return false;
        }
    }

    bool CompileAndCalculate(const std::string& text, double& out, std::string& error) {
        try {
            m_parser.SetExpr(text);
            out = AsNumber(m_parser.Eval());
            return true;
        } catch (const mup::ParserError& e) {
            error = e.GetMsg();
            return false;
        }
    }

    double Calculate() { return AsNumber(m_parser.Eval()); }

    double CalculateFresh(const std::string& text) {
        m_parser.SetExpr(text);
        return AsNumber(m_parser.Eval());
    }

private:
    std::array<mup::Value, 4> m_values{mup::Value(0.0), mup::Value(0.0), mup::Value(0.0), mup::Value(0.0)};
    mup::ParserX m_parser;
};

}  // namespace

void RegisterMuParserX(const Case& c, Mode mode) { RegisterCompared<MuParserXEngine>(c, mode); }

}  // namespace calquor::bench
