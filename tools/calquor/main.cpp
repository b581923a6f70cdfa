// calquor: the command-line face of the formula engine. Parses the command
// line with CLI11 and hands over to one of the commands.
#include "CommandLine.h"
#include "Commands.h"
#include "CsvStream.h"
#include "Text.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace {

using namespace calquor::tool;

constexpr const char* kExitCodes =
    "Exit codes: 0 success, 1 a formula error (syntax or calculation),\n"
    "2 a usage or input error (arguments, files, CSV, a formula longer than\n"
    "1023 bytes or not UTF-8).\n";

constexpr const char* kValueTyping =
    "Values are typed as a person reads them: 12 and -3.5 are numbers, 2004-01-14\n"
    "(or 2004-01-14 18:30[:00]) is a date, true/false are booleans, an empty\n"
    "value is Empty, anything else is text. Text stays text where reading it as\n"
    "a number would change it: a whole number with a leading zero (007), more\n"
    "digits than a double holds (12345678901234567) and exponent forms (12E4)\n"
    "are text unless declared a number.\n";

const std::string kEvalFooter = std::string(kValueTyping) +
    "NAME:KIND=VALUE forces the kind: text, number, date (ISO or forms such\n"
    "as 1/14/2004), bool (true/false/1/0) or null.\n\n"
    "A formulas file holds one 'name = formula' per line; a '#' outside a text\n"
    "literal starts a comment ('Net = {Qty} * 2  # before tax'). An error in a\n"
    "named formula names it and its FILE:LINE. A formula starting with '-' goes\n"
    "after '--'.\n\n"
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
    "{OrderID}; with --no-header they are {C1}, {C2}... by position (and no\n"
    "header line is written). Each cell is typed as eval types --set values.\n\n") +
    kValueTyping + std::string(
    "--type NAME=KIND declares the kind of column {NAME}: text, number (any\n"
    "decimal number, leading zeros and exponents allowed), date (ISO or forms\n"
    "such as 1/14/2004) or bool (true/false/1/0); a cell that does not fit\n"
    "fails the formulas that use it.\n\n"
    "--column NAME=FORMULA adds column NAME. Every added column is also the\n"
    "named formula @NAME, so another column can use it: '@Net * 0.2' calculates\n"
    "Net's formula again for the row. --column NAME alone outputs the named\n"
    "formula NAME of the --formulas file.\n\n"
    "Before the first row every formula a column reaches through @names is\n"
    "compiled: a syntax error, an operand or @name that nothing supplies, or a\n"
    "reference cycle (X -> Y -> X) stops the run (exit code 1). Rows stream\n"
    "through with constant memory, calculated on every core. A cell whose\n"
    "formula fails is left empty and reported on stderr (row, line, column,\n"
    "code, message; the first 20, then a count), and the run ends with exit\n"
    "code 1 (0 with --allow-failures); with --strict the first failure stops\n"
    "it. Output cells: a column that only passes a cell on ({ID}, or @Name of\n"
    "a formula that is just that) writes the cell's own text; calculated\n"
    "numbers in the shortest text that reads back as the same double, dates\n"
    "as 2004-01-14 (ISO, so a second run reads them back as dates), booleans\n"
    "as true/false, Empty and Null as an empty cell (null in JSON). CSV fields\n"
    "are quoted per RFC 4180 when needed; TSV escapes tabs, line breaks and\n"
    "backslashes as \\t \\n \\\\ (and --tsv reads them so).\n\n"
    "Limits: a record (several lines when a quoted field holds line breaks)\n"
    "of at most " + std::to_string(kMaxRecordBytes >> 20) + " MiB and " + std::to_string(kMaxFields) +
    " fields; beyond them the run stops with\n"
    "FILE:LINE (exit code 2). --encoding takes an iconv name (latin1,\n"
    "windows-1252...); the default is UTF-8.\n\n"
    "Examples:\n"
    "  calquor csv examples/orders.csv --column 'Total={Quantity}*{UnitPrice}'\n"
    "  calquor csv examples/orders.csv --formulas examples/orders.formulas \\\n"
    "      --column Net --column Quarter --column 'Big=@Net > 1000' -o out.csv\n"
    "  cat data.tsv | calquor csv - --tsv --type ID=text --column 'Twice={Qty}*2' \\\n"
    "      --output-format jsonl\n\n") + kExitCodes;

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
    "Exit codes: 0 at :quit or the end of input, 2 for an unreadable formulas file\n"
    "or input. A piped line is at most 1 MiB; a longer one is skipped.\n");

// The engine's limits per calculation, shared by eval, csv and repl.
void AddLimitOptions(CLI::App* command, calquor::CalculationLimits& limits) {
    command->add_option("--max-text-bytes", limits.maxTextBytes, "Largest text a calculation may make (16MiB)")
        ->transform(CLI::AsSizeValue(false));
    command->add_option("--work-budget", limits.workBytes, "Bytes of text a calculation may make in all (64MiB)")
        ->transform(CLI::AsSizeValue(false));
}
const std::string kFunctionsFooter = std::string(
    "Each line shows a call, NAME(ARGUMENTS), and what it gives. Names are\n"
    "case-sensitive; a call gives exactly the arguments shown.\n\n"
    "Examples:\n"
    "  calquor functions\n"
    "  calquor eval \"SubStr('abcdef', 2, 4)\"             \"bcd\" (text)\n\n") + kExitCodes;

// Output that never arrived is a failure, whatever the command said.
int Flushed(int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
    Complain(FileError("write", "standard output"));
    return kExitInput;
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
    app.failure_message(FailureMessage);

    EvalOptions eval;
    CLI::App* evalCommand = app.add_subcommand("eval", "Calculate a formula once and print its value and kind");
    evalCommand->add_option("FORMULA", eval.formula, "The formula, e.g. 'Round({Price} * 1.2, 2)'")->required();
    evalCommand->add_option("--set", eval.settings, "Operand value NAME=VALUE or NAME:KIND=VALUE (repeatable)")
        ->allow_extra_args(false);
    evalCommand->add_option("--formulas", eval.formulasPath, "File of named formulas for @name");
    AddLimitOptions(evalCommand, g_limits);
    evalCommand->footer(kEvalFooter);

    std::string checkFormula;
    CLI::App* checkCommand = app.add_subcommand("check", "Compile a formula only and show where it fails");
    checkCommand->add_option("FORMULA", checkFormula, "The formula to check")->required();
    checkCommand->footer(kCheckFooter);

    CsvOptions csv;
    CLI::App* csvCommand = app.add_subcommand("csv", "Add calculated columns to a CSV file, row by row");
    csvCommand->add_option("INPUT", csv.inputPath, "The input CSV file ('-': standard input); line 1 holds the headers")
        ->required();
    csvCommand->add_option("--column", csv.columns, "Column NAME=FORMULA, or NAME for @NAME (repeatable)")
        ->allow_extra_args(false)
        ->required();
    csvCommand->add_option("--formulas", csv.formulasPath, "File of named formulas for @name");
    csvCommand->add_option("-o,--output", csv.outputPath, "Write here instead of standard output ('-')");
    csvCommand->add_flag("--strict", csv.strict, "Stop at the first failing formula (exit code 1)");
    AddLimitOptions(csvCommand, g_limits);
    csvCommand->add_flag("--allow-failures", csv.allowFailures, "Exit with 0 although some rows failed");
    csvCommand->add_option("--type", csv.types, "Declare column {NAME} a KIND: NAME=text|number|date|bool (repeatable)")
        ->allow_extra_args(false);
    csvCommand->add_option("--delimiter", csv.delimiter, "The field separator of input and CSV output (default ',')");
    csvCommand->add_flag("--tsv", csv.tsv, "The input is tab-separated (TSV); so is the output unless told");
    csvCommand->add_flag("--no-header", csv.noHeader, "The first line is data; columns are {C1}, {C2}...");
    csvCommand->add_option("--output-format", csv.outputFormat, "csv, tsv or jsonl (JSON Lines)")
        ->check(CLI::IsMember({"csv", "tsv", "jsonl"}));
    csvCommand->add_option("--encoding", csv.encoding, "The input's encoding: latin1, windows-1252... (default UTF-8)");
    csvCommand->footer(kCsvFooter);

    std::string replFormulas;
    CLI::App* replCommand = app.add_subcommand("repl", "Calculate formulas typed one per line");
    replCommand->add_option("--formulas", replFormulas, "File of named formulas for @name");
    AddLimitOptions(replCommand, g_limits);
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
        return Flushed(app.exit(e));  // --help, --version
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
        return Flushed(code);
    } catch (const calquor::_com_error& e) {
        Complain(std::string("runtime error: ") + e.ErrorMessage());
    } catch (const std::exception& e) {
        Complain(std::string("error: ") + e.what());
    }
    return kExitInput;
}
