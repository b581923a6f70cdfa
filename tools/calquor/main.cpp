// calquor: the command-line face of the formula engine. Parses the command
// line with CLI11 and hands over to one of the commands.
#include "Commands.h"
#include "Text.h"
#include "Values.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>

namespace {

using namespace calquor::tool;

constexpr const char* kExitCodes =
    "Exit codes: 0 success, 1 a formula error (syntax or calculation),\n"
    "2 a usage or input error (arguments, files, CSV, a formula longer than\n"
    "1023 bytes or not UTF-8).\n";

constexpr const char* kValueTyping =
    "Values are typed as a person reads them: 12 and -3.5 are numbers (a whole\n"
    "number with a leading zero, such as 007, stays text), 2004-01-14 (or\n"
    "2004-01-14 18:30[:00]) is a date, true/false are booleans, an empty value\n"
    "is Empty, anything else is text.\n";

const std::string kEvalFooter = std::string(kValueTyping) +
    "NAME:KIND=VALUE forces the kind: text, number, date (ISO or forms such\n"
    "as 1/14/2004), bool (true/false/1/0) or null.\n\n"
    "A formulas file holds one 'name = formula' per line; lines starting\n"
    "with # are comments. A formula starting with '-' goes after '--'.\n\n"
    "Examples:\n"
    "  calquor eval '3 / 2 + 1.5'                      3 (double)\n"
    "  calquor eval \"UpperCase('a') + 66\"              \"A66\" (text)\n"
    "  calquor eval '{Qty} * {Price}' --set Qty=3 --set Price=2.5\n"
    "  calquor eval 'AddMonths({Day}, 1)' --set Day=2004-01-14\n"
    "  calquor eval '@Net' --formulas examples/orders.formulas --set Quantity=2 \\\n"
    "      --set UnitPrice=9.5 --set Discount=0\n"
    "  calquor eval -- '-3 + 4'\n\n" + kExitCodes;

const std::string kCheckFooter = std::string(
    "Prints 'ok', or the formula with a caret under the position of the first\n"
    "error and the engine's message (offsets count bytes from 0).\n\n"
    "Examples:\n"
    "  calquor check 'Round({Price} * 1.2, 2)'\n"
    "  calquor check '1 + * 2'\n\n") + kExitCodes;

const std::string kCsvFooter = std::string(
    "Every input column is an operand: the letters and digits of its header\n"
    "form the name, so a header 'Unit Price' is {UnitPrice} and 'Order-ID' is\n"
    "{OrderID}. Each cell is typed as eval types --set values (an empty cell\n"
    "is Empty).\n\n"
    "--column NAME=FORMULA adds column NAME. Every added column is also the\n"
    "named formula @NAME, so another column can use it: '@Net * 0.2' calculates\n"
    "Net's formula again for the row. --column NAME alone outputs the named\n"
    "formula NAME of the --formulas file.\n\n"
    "An operand or @name that nothing supplies stops the run before the first\n"
    "row (exit code 1). Rows stream through with constant memory. A cell whose\n"
    "formula fails is left empty and reported on stderr (row, line, column,\n"
    "code, message); with --strict the first failure stops the run with exit\n"
    "code 1. Output cells: numbers as the engine writes them, dates as\n"
    "2004-01-14 (ISO, so a second run reads them back as dates), booleans as\n"
    "true/false, Empty and Null as an empty cell. Fields are quoted per\n"
    "RFC 4180 when needed.\n\n"
    "Examples:\n"
    "  calquor csv examples/orders.csv --column 'Total={Quantity}*{UnitPrice}'\n"
    "  calquor csv examples/orders.csv --formulas examples/orders.formulas \\\n"
    "      --column Net --column Quarter --column 'Big=@Net > 1000' -o out.csv\n\n") + kExitCodes;

const std::string kReplFooter = std::string(
    "Each line is a formula, calculated and printed as eval prints it, or a\n"
    "command: :set NAME=VALUE, :formula NAME=FORMULA, :vars, :help, :quit.\n"
    "On a terminal: Tab completes function names, {operands}, @names and\n"
    "commands; Ctrl-C abandons the line being typed; each line entered joins\n"
    "the history in ~/.calquor_history (the newest 1000 are kept). Other\n"
    "input (a pipe, a file) is read line by line without prompts.\n\n"
    "Examples:\n"
    "  calquor repl\n"
    "  printf ':set Qty=3\\n{Qty} * 2\\n' | calquor repl\n\n"
    "Exit codes: 0 at :quit or the end of input, 2 for an unreadable formulas file.\n");

const std::string kFunctionsFooter = std::string(
    "Each line shows a call, NAME(ARGUMENTS), and what it gives. Names are\n"
    "case-sensitive; a call gives exactly the arguments shown.\n\n"
    "Examples:\n"
    "  calquor functions\n"
    "  calquor eval \"SubStr('abcdef', 2, 4)\"             \"bcd\" (text)\n\n") + kExitCodes;

// --help-all prints the whole help of every command, footers included; the
// man page is made of it by help2man. Each command's help follows a line
// "*NAME command*", which help2man makes a section; its "Options:" and
// "Examples:" become "NAME options:" and "NAME examples:", which help2man keeps
// inside that section, and each example becomes one line "$ calquor ...",
// which help2man sets verbatim.
class FullHelpFormatter : public CLI::Formatter {
public:
    // The tool's own footer (its exit codes) is left out of --help-all: each
    // command's help ends with the exit codes that apply to it.
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        if (mode != CLI::AppFormatMode::All) return CLI::Formatter::make_help(app, name, mode);
        return make_description(app) + make_usage(app, name) + make_positionals(app) + make_groups(app, mode) +
               make_subcommands(app, mode);
    }

    std::string make_expanded(const CLI::App* sub) const override {
        const std::string& name = sub->get_name();
        std::istringstream help(make_help(sub, "calquor " + name, CLI::AppFormatMode::Normal));
        std::string text = "\n*" + name + " command*\n", line;
        bool examples = false;
        while (std::getline(help, line)) {
            if (line.rfind("Usage:", 0) == 0) text += '\n';
            if (line == "Options:" || line == "Examples:") {
                examples = line == "Examples:";
                // help2man sets the examples verbatim only after a blank line.
                line = name + (examples ? " examples:\n" : " options:");
            } else if (examples && line.rfind("  ", 0) == 0) {
                std::string next;
                while (line.back() == '\\' && std::getline(help, next))
                    line.replace(line.size() - 1, 1, TrimBlanks(next));
                line = "  $ " + line.substr(2);
            } else {
                examples = examples && !line.empty();
            }
            text += line + '\n';
        }
        return text;
    }
};

// The first line names the tool and its version (help2man reads it); the
// second is the library's own report, which the engine gives as the value of
// its CalquorInfo() function.
std::string VersionText() {
    calquor::Calquex engine("CalquorInfo()");
    int code = 0;
    std::string message;
    const calquor::_variant_t info = engine.Calculate(code, message);
    return std::string("calquor " CALQUOR_TOOL_VERSION "\nlibrary: ") + (code == 0 ? CellText(info) : message);
}

// The number of single-character edits that turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The command line without the program name. `--` marks the one argument
// after it as a value even when it starts with '-' (a formula such as
// '-{X}'); the arguments after that one are options again, so that
// `eval -- '-{X}' --set X=3` works. CLI11 takes everything after `--` as
// positional, so the marked value moves to the end, behind its `--`.
std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto dashes = std::find(args.begin(), args.end(), "--");
    if (args.end() - dashes > 2) std::rotate(dashes, dashes + 2, args.end());
    return args;
}

// When the command word (the first argument that is no option) names no
// command: the message for it, with the nearest command when one is close.
std::optional<std::string> UnknownCommand(const std::vector<std::string>& args, CLI::App& app) {
    const auto word = std::find_if(args.begin(), args.end(), [](const std::string& arg) { return arg.empty() || arg[0] != '-'; });
    if (word == args.end() || (word != args.begin() && *(word - 1) == "--")) return std::nullopt;
    std::string names, nearest;
    std::size_t best = 3;  // farther than two edits suggests nothing
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        const std::string& name = command->get_name();
        if (name == *word) return std::nullopt;
        names += (names.empty() ? "" : ", ") + name;
        const std::size_t distance = name.rfind(*word, 0) == 0 ? 1 : EditDistance(*word, name);
        if (distance < best) best = distance, nearest = name;
    }
    return "unknown command " + Quoted(*word) +
           (nearest.empty() ? " (commands: " + names + ")" : "; did you mean " + Quoted(nearest) + "?");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"calquor - calculate Calquor formulas from the command line", "calquor"};
    app.require_subcommand(1);
    app.footer(kExitCodes);
    app.formatter(std::make_shared<FullHelpFormatter>());
    app.get_formatter()->column_width(30);
    app.set_version_flag("--version", VersionText, "Print the tool's and the library's version");
    // Every message starts with "calquor:", CLI11's argument errors included.
    app.failure_message([](const CLI::App* parsed, const CLI::Error& e) {
        std::string command = "calquor";
        for (const CLI::App* sub : parsed->get_subcommands()) command += " " + sub->get_name();
        return "calquor: " + std::string(e.what()) + "\nRun '" + command + " --help' for more information.\n";
    });

    EvalOptions eval;
    CLI::App* evalCommand = app.add_subcommand("eval", "Calculate a formula once and print its value and kind");
    evalCommand->add_option("FORMULA", eval.formula, "The formula, e.g. 'Round({Price} * 1.2, 2)'")->required();
    evalCommand->add_option("--set", eval.settings, "Operand value NAME=VALUE or NAME:KIND=VALUE (repeatable)")
        ->allow_extra_args(false);
    evalCommand->add_option("--formulas", eval.formulasPath, "File of named formulas for @name");
    evalCommand->footer(kEvalFooter);

    std::string checkFormula;
    CLI::App* checkCommand = app.add_subcommand("check", "Compile a formula only and show where it fails");
    checkCommand->add_option("FORMULA", checkFormula, "The formula to check")->required();
    checkCommand->footer(kCheckFooter);

    CsvOptions csv;
    CLI::App* csvCommand = app.add_subcommand("csv", "Add calculated columns to a CSV file, row by row");
    csvCommand->add_option("INPUT", csv.inputPath, "The input CSV file; its first line holds the headers")
        ->required();
    csvCommand->add_option("--column", csv.columns, "Column NAME=FORMULA, or NAME for @NAME (repeatable)")
        ->allow_extra_args(false)
        ->required();
    csvCommand->add_option("--formulas", csv.formulasPath, "File of named formulas for @name");
    csvCommand->add_option("-o,--output", csv.outputPath, "Write here instead of standard output");
    csvCommand->add_flag("--strict", csv.strict, "Stop at the first failing formula (exit code 1)");
    csvCommand->footer(kCsvFooter);

    std::string replFormulas;
    CLI::App* replCommand = app.add_subcommand("repl", "Calculate formulas typed one per line");
    replCommand->add_option("--formulas", replFormulas, "File of named formulas for @name");
    replCommand->footer(kReplFooter);

    CLI::App* functionsCommand = app.add_subcommand("functions", "List the built-in functions with their arguments");
    functionsCommand->footer(kFunctionsFooter);

    // Added after the commands, so that only the tool itself offers it.
    app.set_help_all_flag("--help-all", "Print the whole help of every command");

    std::vector<std::string> args = Arguments(argc, argv);
    if (const auto unknown = UnknownCommand(args, app)) {
        Complain(*unknown + "\nRun 'calquor --help' for the commands.");
        return kExitInput;
    }
    try {
        std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
        app.parse(args);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitInput;
    }

    try {
        int code = kExitOk;
        if (*evalCommand)
            code = RunEval(eval);
        else if (*checkCommand)
            code = RunCheck(checkFormula);
        else if (*csvCommand)
            code = RunCsv(csv);
        else if (*functionsCommand)
            code = RunFunctions();
        else
            code = RunRepl(replFormulas);
        // Output that never arrived is a failure, whatever the command said.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            Complain(FileError("write", "standard output"));
            return kExitInput;
        }
        return code;
    } catch (const calquor::_com_error& e) {
        Complain(std::string("runtime error: ") + e.ErrorMessage());
    } catch (const std::exception& e) {
        Complain(std::string("error: ") + e.what());
    }
    return kExitInput;
}
