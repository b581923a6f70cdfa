// The eval and check commands.
#include "Commands.h"

#include "Text.h"
#include "Values.h"

namespace calquor::tool {

void Complain(const std::string& message) { std::fprintf(stderr, "calquor: %s\n", message.c_str()); }

CalculationLimits g_limits;

int EvaluateFormula(const std::string& formula, ValuesAdapter& adapter, std::FILE* out, std::FILE* err) {
    if (auto problem = CheckFormulaText(formula)) {
        std::fprintf(err, "calquor: %s\n", problem->c_str());
        return kExitInput;
    }
    // Operands are left to the engine, which names an unknown one itself.
    const auto problems = CheckReachable({RootFormula{std::string(), std::string(), formula}}, adapter.Book(), nullptr);
    if (!problems.empty()) {
        for (const std::string& report : problems) std::fputs(report.c_str(), err);
        return kExitFormula;
    }
    Calquex engine(formula.c_str());
    engine.SetLimits(g_limits);
    engine.SetDataAdapter(&adapter);
    int code = 0;
    std::string message;
    const _variant_t value = engine.Calculate(code, message);
    if (code != 0) {
        std::fprintf(err, "calquor: error %d: %s\n", code, message.c_str());
        std::fputs(DescribeFailure(formula, adapter.Book(), adapter, code, message, g_limits).c_str(), err);
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
