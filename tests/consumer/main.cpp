// Checks the installed package from a host's point of view; prints
// "N passed, N failed" and exits non-zero on any failure.
#include <calquor/Calquex.h>

#include "Checks.h"

#include <cstdio>
#include <map>
#include <string>

using namespace calquor;

namespace {

using consumer::Check;

class HostAdapter : public DataAdapter {
public:
    std::map<std::string, double> values{{"a", 4.0}};
    std::map<std::string, std::string> formulas{{"F", "{a}*2"}, {"Loop", "@Loop+1"}};
    _variant_t GetOperantValue(const char* name) override { return _variant_t(values.at(name)); }
    std::string GetFormulaByName(const char* name) override {
        auto it = formulas.find(name);
        return it == formulas.end() ? std::string() : it->second;
    }
    bool IsKnown(const char* name) override { return values.count(name) != 0; }
};

}  // namespace

int main() {
    // The scanner through the public interface.
    Calquex scanner("12+3.5");
    const Token t1 = scanner.GetNextToken();
    Check(t1.nType == TT_INTEGER && t1.vValue.vt == VT_INT && t1.vValue.intVal == 12 && t1.nPos == 0, "12 at 0");
    const Token t2 = scanner.GetNextToken();
    Check(t2.nType == TT_ADD && t2.nPos == 2, "+ at 2");
    const Token t3 = scanner.GetNextToken();
    Check(t3.nType == TT_REAL && t3.vValue.dblVal == 3.5 && t3.nPos == 3, "3.5 at 3");
    Check(scanner.GetNextToken().nType == TT_END, "end");

    consumer::CheckVersion();
    Calquex info("CalquorInfo()");
    int infoCode = -1;
    std::string infoMessage;
    const _bstr_t label = info.Calculate(infoCode, infoMessage);
    Check(std::string(static_cast<const char*>(label)) == std::string("Calquor  ") + CALQUOR_VERSION_LABEL,
          "CalquorInfo() reports the headers' label");

    // The platform's conversions.
    const _bstr_t text = _variant_t(12.5);
    Check(std::string(static_cast<const char*>(text)) == "12.5", "12.5 as text");
    _variant_t date("1/14/2004");
    date.ChangeType(VT_DATE);
    Check(date.vt == VT_DATE && date.date == 38000.0, "1/14/2004 as date 38000");

    // Calculation with the host's own adapter.
    HostAdapter adapter;
    Calquex engine("@F+1");
    engine.SetDataAdapter(&adapter);
    int code = -1;
    std::string message;
    const _variant_t nine = engine.Calculate(code, message);
    Check(code == 0 && nine.vt == VT_R8 && nine.dblVal == 9.0, "@F+1 is 9");

    engine.SetFormulaStr("{nosuch} + 1");
    engine.Calculate(code, message);
    Check(code == 1 && message == "Unrecognized element:nosuch", "unknown operand");

    engine.SetFormulaStr("@Loop");
    engine.Calculate(code, message);
    Check(code != 0, "a formula that refers to itself ends with an error");

    return consumer::Report();
}
