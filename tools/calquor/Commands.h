// The commands of the calquor tool. Each returns the process exit code
// (see ExitCode) and writes its messages itself: results to stdout,
// problems to stderr prefixed with "calquor: ".
#pragma once

#include "Adapter.h"

#include <cstdio>
#include <string>
#include <vector>

namespace calquor::tool {

struct EvalOptions {
    std::string formula;
    std::vector<std::string> settings;  // NAME[:KIND]=VALUE
    std::string formulasPath;           // empty: no named formulas
};

struct CsvOptions {
    std::string inputPath;              // "-": standard input
    std::vector<std::string> columns;   // NAME=FORMULA, or NAME for @NAME
    std::string formulasPath;
    std::string outputPath;             // empty or "-": stdout
    bool strict = false;
    bool allowFailures = false;         // failing rows still exit with 0
    std::vector<std::string> types;     // NAME=KIND: the kind of input column {NAME}
    std::string delimiter;              // one character; empty: ',' (a tab with --tsv)
    bool tsv = false;                   // the input is TSV
    bool noHeader = false;              // the first line is data; columns are {C1}, {C2}...
    std::string outputFormat;           // csv, tsv or jsonl; empty: as the input
    std::string encoding;               // the input's encoding for iconv; empty: UTF-8
};

// The limits of every calculation the commands run (--max-text-bytes,
// --work-budget); the engine's defaults unless given.
extern CalculationLimits g_limits;

int RunEval(const EvalOptions& options);
int RunCheck(const std::string& formula);
int RunCsv(const CsvOptions& options);
int RunRepl(const std::string& formulasPath);
// Lists every built-in function with its arguments and one line.
int RunFunctions();

// The names of the built-in functions, in the engine's table order.
std::vector<std::string> FunctionNames();

// Shared by eval and the REPL: checks, compiles and calculates one formula
// with the adapter, printing the value as Describe does on out, or the
// caret display or calculation error on err. An @name missing from the
// adapter's book is a formula error. Returns the exit code.
int EvaluateFormula(const std::string& formula, ValuesAdapter& adapter, std::FILE* out, std::FILE* err);

// Prints "calquor: " and the message on stderr.
void Complain(const std::string& message);
// "cannot <what> '<path>': <the system's reason>" for the failure in errno.
std::string FileError(const std::string& what, const std::string& path);

}  // namespace calquor::tool
