// The eval and check commands.
#include "Commands.h"

#include "Text.h"
#include "Values.h"

namespace calquor::tool {

void Complain(const std::string& message) { std::fprintf(stderr, "calquor: %s\n", message.c_str()); }

namespace {

// The 0-based position in formula that a calculation error points at, or -1.
// Only an unknown operand's code is a position in the formula itself (one
// past it); the operand must stand there, since the same message from inside
// a named formula counts in that formula's text.
int ErrorPosition(const std::string& formula, int code, const std::string& message) {
    constexpr std::string_view kUnknown = "Unrecognized element:";
    if (code < 1 || message.compare(0, kUnknown.size(), kUnknown) != 0) return -1;
    const std::string operand = "{" + message.substr(kUnknown.size()) + "}";
    const auto at = static_cast<std::size_t>(code - 1);
    return formula.compare(at, operand.size(), operand) == 0 ? code - 1 : -1;
}

}  // namespace

CalculationLimits g_limits;

int EvaluateFormula(const std::string& formula, ValuesAdapter& adapter, std::FILE* out, std::FILE* err) {
    if (auto problem = CheckFormulaText(formula)) {
        std::fprintf(err, "calquor: %s\n", problem->c_str());
        return kExitInput;
    }
    Calquex engine(formula.c_str());
    engine.SetLimits(g_limits);
    engine.SetDataAdapter(&adapter);
    int pos = 0;
    std::string message;
    if (!engine.Compile(pos, message)) {
        std::fputs(CaretBlock(formula, pos, message).c_str(), err);
        return kExitFormula;
    }
    // Operands are left to the engine, which names an unknown one itself.
    if (const auto unknown = FindUnknownName(formula, adapter.Book(), [](const std::string&) { return true; })) {
        std::fputs(DescribeUnknown(*unknown, formula).c_str(), err);
        return kExitFormula;
    }
    int code = 0;
    const _variant_t value = engine.Calculate(code, message);
    if (code != 0) {
        std::fprintf(err, "calquor: error %d: %s\n", code, message.c_str());
        if (const int at = ErrorPosition(formula, code, message); at >= 0)
            std::fputs(CaretBlock(formula, at, message).c_str(), err);
        return kExitFormula;
    }
    std::fprintf(out, "%s\n", Describe(value).c_str());
    return kExitOk;
}

int RunEval(const EvalOptions& options) {
    FormulaBook book;
    if (!options.formulasPath.empty()) {
        if (auto problem = book.Load(options.formulasPath)) {
            Complain(*problem);
            return kExitInput;
        }
    }
    ValuesAdapter adapter(book);
    for (const std::string& argument : options.settings) {
        std::string error;
        const auto setting = ParseSetting(argument, error);
        if (!setting) {
            Complain("--set: " + error);
            return kExitInput;
        }
        adapter.Set(setting->name, setting->value);
    }
    return EvaluateFormula(options.formula, adapter, stdout, stderr);
}

int RunCheck(const std::string& formula) {
    if (auto problem = CheckFormulaText(formula)) {
        Complain(*problem);
        return kExitInput;
    }
    Calquex engine(formula.c_str());
    int pos = 0;
    std::string message;
    if (!engine.Compile(pos, message)) {
        std::fputs(CaretBlock(formula, pos, message).c_str(), stdout);
        return kExitFormula;
    }
    std::puts("ok");
    return kExitOk;
}

}  // namespace calquor::tool
