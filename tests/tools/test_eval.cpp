// eval: value and kind printing, operand typing, named formulas, bad input.
#include "ToolRunner.h"

#include <regex>

namespace calquor::tool::test {
namespace {

struct EvalRow {
    std::vector<std::string> args;  // after "eval"
    std::string out;                // expected standard output
};

using EvalTest = ToolTest;

TEST_F(EvalTest, PrintsValueAndKind) {
    const EvalRow rows[] = {
        {{"3 / 2 + 1.5"}, "3 (double)\n"},
        {{"12"}, "12 (integer)\n"},
        {{"'a' + 66"}, "\"a66\" (text)\n"},
        {{"1 < 2"}, "true (boolean)\n"},
        {{"'say \"hi\"'"}, "\"say \\\"hi\\\"\" (text)\n"},
        {{"AddMonths({D}, 1)", "--set", "D=2003-12-14"}, "1/14/2004 (date)\n"},
        {{"{E}", "--set", "E="}, "(empty)\n"},
        {{"{N}", "--set", "N:null="}, "(null)\n"},
        {{"--", "-{X}", "--set", "X=3"}, "-3 (double)\n"},  // options again after the formula
    };
    for (const EvalRow& row : rows) {
        SCOPED_TRACE(Joined(row.args));
        std::vector<std::string> args{"eval"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ToolResult result = Run(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, row.out);
    }
}

// --set X=VALUE, then {X} printed: the kind the typing rule chose.
TEST_F(EvalTest, TypesSetValuesAsAPersonReadsThem) {
    const std::pair<std::string, std::string> rows[] = {
        {"12", "12 (integer)"},
        {"-7", "-7 (integer)"},
        {" 12 ", "12 (integer)"},
        {"3.5", "3.5 (double)"},
        {".5", "0.5 (double)"},
        {"1.50", "1.5 (double)"},
        // Text that reading as a number would change: exponent forms (codes
        // such as 12E4) and more digits than a double holds.
        {"1e3", "\"1e3\" (text)"},
        {"12E4", "\"12E4\" (text)"},
        {"12345678901234567", "\"12345678901234567\" (text)"},
        {"3000000000", "3000000000 (double)"},  // beyond 32 bits
        {"0", "0 (integer)"},
        {"007", "\"007\" (text)"},              // a code, not a quantity
        {"1,5", "\"1,5\" (text)"},
        {"inf", "\"inf\" (text)"},
        {"2004-01-14", "1/14/2004 (date)"},
        {"2004-01-14 18:30", "1/14/2004 6:30:00 PM (date)"},
        {"2004-01-14T06:00:00", "1/14/2004 6:00:00 AM (date)"},
        {"2004-02-29", "2/29/2004 (date)"},
        {"2005-02-29", "\"2005-02-29\" (text)"},  // no such day
        {"2004-13-01", "\"2004-13-01\" (text)"},
        {"1/14/2004", "\"1/14/2004\" (text)"},    // only ISO dates are typed
        {"true", "true (boolean)"},
        {"FALSE", "false (boolean)"},
        {"yes", "\"yes\" (text)"},
        {"a=b", "\"a=b\" (text)"},                // the first '=' separates
        {"", "(empty)"},
        {"   ", "(empty)"},
    };
    for (const auto& [value, printed] : rows) {
        SCOPED_TRACE("X=" + value);
        const ToolResult result = Run({"eval", "{X}", "--set", "X=" + value});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, printed + "\n");
    }
}

TEST_F(EvalTest, ForcedKinds) {
    const std::pair<std::string, std::string> rows[] = {
        {"X:text=12", "\"12\" (text)"},
        {"X:text=", "\"\" (text)"},
        {"X:text= padded ", "\" padded \" (text)"},
        {"X:number=007", "7 (integer)"},
        {"X:number=2.50", "2.5 (double)"},
        {"X:number=12E4", "120000 (double)"},
        {"X:date=1/14/2004", "1/14/2004 (date)"},
        {"X:date=January 14, 2004", "1/14/2004 (date)"},
        {"X:date=2004-01-14", "1/14/2004 (date)"},
        {"X:bool=1", "true (boolean)"},
        {"X:bool=false", "false (boolean)"},
        {"X:null=anything", "(null)"},
    };
    for (const auto& [setting, printed] : rows) {
        SCOPED_TRACE(setting);
        const ToolResult result = Run({"eval", "{X}", "--set", setting});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, printed + "\n");
    }
}

TEST_F(EvalTest, LaterSetOfTheSameNameWins) {
    const ToolResult result = Run({"eval", "--set", "A=1", "--set", "A=5", "{A} * 2"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "10 (double)\n");
}

TEST_F(EvalTest, NamedFormulasFromAFile) {
    const std::string file = WriteFile("f.txt",
                                       "# prices\n"
                                       "\n"
                                       "Net = Round({Qty} * {Price}, 2)\r\n"
                                       "  Tax=@Net * 0.5\n"
                                       "Hash = '#' + @Net\n");
    const ToolResult result =
        Run({"eval", "@Tax + Length(@Hash)", "--formulas", file, "--set", "Qty=3", "--set", "Price=2.5"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "7.75 (double)\n");  // 3.75 + Length("#7.5")
}

TEST_F(EvalTest, FormulaErrorsExitWithOne) {
    ToolResult result = Run({"eval", "1 + * 2"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("1 + * 2\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("^\noffset "), std::string::npos) << result.err;

    // An unknown operand is shown where it stands; inside a named formula it
    // is not in this text, so no caret points into it.
    result = Run({"eval", "1 + {Missing}"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("calquor: error 5: Unrecognized element:Missing\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("1 + {Missing}\n    ^\noffset 4: Unrecognized element:Missing"), std::string::npos)
        << result.err;
}

// An error inside a named formula names it, its FILE:LINE, and points into
// its text; no formula error is an input error (exit code 2).
TEST_F(EvalTest, ErrorsInNamedFormulasSayWhere) {
    const std::string file = WriteFile("g.txt",
                                       "Gross = 1 + {Missing}\n"
                                       "Long = 1 + {Abcdefghij}\n"
                                       "Bad = 1 + (2\n"
                                       "Noted = 2 # a comment, and '#' in text stays: \n"
                                       "Hash = '#' + @Noted  # two\n"
                                       "X = @Y\n"
                                       "Y = @X + 1\n");
    const std::pair<std::string, std::string> rows[] = {
        {"@Gross", "g.txt:1: named formula Gross: error 5: Unrecognized element:Missing\n"
                   "1 + {Missing}\n    ^\n"},
        {"@Long", "g.txt:2: named formula Long: error 5: Unrecognized element:Abcdefghij\n"
                  "1 + {Abcdefghij}\n    ^\n"},
        {"2 * @Bad", "g.txt:3: named formula Bad: Unmatched left parentheses\n1 + (2\n      ^\n"},
        {"@X", "calquor: reference cycle: X -> Y -> X\n"},
    };
    for (const auto& [formula, message] : rows) {
        SCOPED_TRACE(formula);
        const ToolResult result = Run({"eval", formula, "--formulas", file});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    const ToolResult result = Run({"eval", "@Hash", "--formulas", file});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "\"#2\" (text)\n");

    // The shipped example's formulas without their operands.
    const std::string shipped = std::string(CALQUOR_SOURCE_DIR) + "/examples/orders.formulas";
    EXPECT_EQ(Run({"eval", "@Period", "--formulas", shipped}).exitCode, 1);
}

// Every command fails when its output cannot be written, rather than
// reporting success for results that never arrived.
TEST_F(EvalTest, OutputThatCannotBeWrittenIsAnError) {
    const std::string csv = WriteFile("in.csv", "A\n1\n");
    const std::vector<std::vector<std::string>> commands{
        {"eval", "1 + 2"}, {"check", "1 + 2"}, {"repl"}, {"csv", csv, "--column", "B={A}*2"},
        {"functions"}, {"--version"}, {"--help"}};
    for (const auto& args : commands) {
        const ToolResult result = Run(args, "1 + 2\n", "/dev/full");
        EXPECT_EQ(result.exitCode, 2) << Joined(args);
        const auto at = result.err.find("cannot write 'standard output'");
        EXPECT_NE(at, std::string::npos) << Joined(args) << result.err;
        EXPECT_EQ(result.err.find("cannot write", at + 1), std::string::npos) << "said twice: " << result.err;
    }
}

TEST_F(EvalTest, FormulasFileMayStartWithAByteOrderMark) {
    const std::string file = WriteFile("bom.txt", "\xEF\xBB\xBFNet = 2\nTax = @Net * 3\n");
    const ToolResult result = Run({"eval", "@Tax + @Net", "--formulas", file});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, 1), "8") << result.out;
}

TEST_F(EvalTest, UnknownNamedFormulaIsAFormulaError) {
    const std::string file = WriteFile("f.txt", "Net = 2\nTax = @Net + @Nte\n");
    ToolResult result = Run({"eval", "1 + @Nett", "--formulas", file});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("1 + @Nett\n    ^\noffset 4: unknown named formula @Nett"), std::string::npos)
        << result.err;

    result = Run({"eval", "@Tax", "--formulas", file});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("named formula Tax: unknown named formula @Nte"), std::string::npos) << result.err;
}

struct BadInputRow {
    std::vector<std::string> args;
    std::string message;  // a part of the message on stderr
};

TEST_F(EvalTest, BadInputExitsWithTwo) {
    const std::string longFormula = std::string(1022, ' ') + "12";  // 1024 bytes
    const std::string noEquals = WriteFile("noequals.txt", "Net = 1\nTax 2\n");
    const std::string twice = WriteFile("twice.txt", "A = 1\nA = 2\n");
    const std::string badName = WriteFile("badname.txt", "Net Price = 1\n");
    const std::string badBytes = WriteFile("badbytes.txt", "A = 'caf\xE9'\n");
    const BadInputRow rows[] = {
        {{"eval", "{A}", "--set", "A"}, "--set: expected NAME=VALUE"},
        {{"eval", "{A}", "--set", "Net Price=1"}, "'Net Price' is not an operand name"},
        {{"eval", "{A}", "--set", "A:number=abc"}, "'abc' is not a number"},
        {{"eval", "{A}", "--set", "A:date=2004-02-30"}, "is not a date"},
        {{"eval", "{A}", "--set", "A:date=0099-01-01"}, "is not a date"},  // not 1999
        {{"eval", "{A}", "--set", "A:date=0000-01-01 10:00"}, "is not a date"},
        {{"eval", "{A}", "--set", "A:colour=red"}, "unknown kind 'colour'"},
        {{"eval", "{A}", "--set", "A=caf\xE9"}, "invalid UTF-8 byte 0xE9 at offset 3"},
        {{"eval", longFormula}, "1024 bytes long; the engine holds at most 1023"},
        {{"eval", "'\xC3\x28'"}, "invalid UTF-8 byte 0xC3 at offset 1"},
        {{"eval", "'\xED\xA0\x80'"}, "invalid UTF-8 byte 0xED"},  // a surrogate
        {{"eval", "'\xC0\xAF'"}, "invalid UTF-8 byte 0xC0"},      // an overlong form
        {{"eval", "1", "--formulas", Path("absent.txt")}, "cannot open formulas file"},
        {{"eval", "1", "--formulas", noEquals}, "noequals.txt:2: expected 'name = formula'"},
        {{"eval", "1", "--formulas", twice}, "twice.txt:2: 'A' is defined twice"},
        {{"eval", "1", "--formulas", badName}, "badname.txt:1: 'Net Price' is not a formula name"},
        {{"eval", "1", "--formulas", badBytes}, "badbytes.txt:1: formula A: invalid UTF-8 byte 0xE9"},
        {{"eval"}, "FORMULA is required"},
        {{"eval", "1", "--bogus"}, "--bogus"},
        {{}, "A subcommand is required"},
        {{"evl", "1"}, "unknown command 'evl'; did you mean 'eval'?"},
        {{"func"}, "did you mean 'functions'?"},
        {{"xyz"}, "unknown command 'xyz' (commands: eval, check, csv, repl, functions)"},
    };
    for (const BadInputRow& row : rows) {
        SCOPED_TRACE(Joined(row.args));
        const ToolResult result = Run(row.args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err.rfind("calquor: ", 0), 0u) << result.err;  // argument errors included
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }
}

TEST_F(EvalTest, LongestFormulaTheEngineHoldsIsAccepted) {
    const std::string formula = std::string(1021, ' ') + "12";  // 1023 bytes
    const ToolResult result = Run({"eval", formula});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "12 (integer)\n");
}

// --max-text-bytes and --work-budget hold every calculation of eval, csv
// and repl; past them the formula fails as the engine reports it. The
// formula makes a 16-byte text, and 41 bytes of text in all.
TEST_F(EvalTest, TextLimitsFromTheCommandLine) {
    const std::string formula = "Length(Replace('aaaa', 'a', 'aaaa'))";
    const std::string input = WriteFile("limits.csv", "x\n1\n");
    const std::string column = "N=" + formula;
    const struct {
        std::vector<std::string> args;
        std::string stdinText;
        bool fails;
    } rows[] = {
        {{"eval", formula, "--max-text-bytes", "16"}, "", false},
        {{"eval", formula, "--max-text-bytes", "15"}, "", true},
        {{"eval", formula, "--work-budget", "1KiB"}, "", false},
        {{"eval", formula, "--work-budget", "40"}, "", true},
        {{"csv", input, "--strict", "--column", column, "--work-budget", "41"}, "", false},
        {{"csv", input, "--strict", "--column", column, "--max-text-bytes", "15"}, "", true},
        {{"repl", "--max-text-bytes", "15"}, formula + "\n", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Joined(row.args));
        const ToolResult result = Run(row.args, row.stdinText);
        const bool failed = (result.out + result.err).find("type cast error") != std::string::npos;
        EXPECT_EQ(failed, row.fails) << result.out << result.err;
        EXPECT_EQ(result.exitCode, row.fails && row.args[0] != "repl" ? 1 : 0) << result.err;
    }
}

TEST_F(EvalTest, HelpShowsExamplesAndExitCodes) {
    for (const char* command : {"eval", "check", "csv", "repl", "functions"}) {
        SCOPED_TRACE(command);
        const ToolResult result = Run({command, "--help"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.out.find("Examples:"), std::string::npos);
        EXPECT_NE(result.out.find("Exit codes: 0"), std::string::npos);
    }
    EXPECT_NE(Run({"csv", "--help"}).out.find("'Unit Price' is {UnitPrice}"), std::string::npos);
}

TEST_F(EvalTest, VersionNamesToolAndLibrary) {
    const ToolResult result = Run({"--version"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "calquor " CALQUOR_TOOL_VERSION "\nlibrary: Calquor  2.01a\n");
}

// Every listed call compiles as written, so the list names the engine's functions.
TEST_F(EvalTest, FunctionsListsEveryBuiltInFunction) {
    const ToolResult result = Run({"functions"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::istringstream lines(result.out);
    std::string line, calls;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        calls += (calls.empty() ? "" : " + ") + line.substr(0, line.find(')') + 1);
    }
    EXPECT_EQ(count, 37);
    EXPECT_NE(result.out.find("\nSubStr(text, start, end)  the bytes of text"), std::string::npos);
    EXPECT_NE(result.out.find("\nDayOfWeek(date, format) "), std::string::npos);
    EXPECT_NE(result.out.find("\nCalquorInfo() "), std::string::npos);
    // Each argument name (lower case, after "(" or ", ") becomes a value.
    calls = std::regex_replace(calls, std::regex("([(,] ?)[a-z]+"), "$011");
    EXPECT_EQ(Run({"check", calls}).out, "ok\n") << calls;
}

// The bash completion script asks the tool itself for its commands and options.
TEST_F(EvalTest, ShellCompletionOffersCommandsAndOptions) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "eval check csv repl functions"},
        {"f", "functions"},
        {"eval --", "--help --set --formulas --max-text-bytes --work-budget"},
        {"csv --st", "--strict"},
        {"eval 1 --set ", ""},
    };
    const std::string script = WriteFile(
        "complete.sh", "source '" CALQUOR_SOURCE_DIR "/tools/calquor/calquor.bash-completion'\n"
                       "read -ra COMP_WORDS <<<\"$1\"; [[ $1 == *' ' || -z $1 ]] && COMP_WORDS+=('')\n"
                       "COMP_WORDS=('" CALQUOR_TOOL_PATH "' \"${COMP_WORDS[@]}\")\n"
                       "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _calquor; echo \"${COMPREPLY[*]}\"\n");
    for (const auto& [typed, offered] : rows) {
        SCOPED_TRACE(typed);
        const ToolResult result = RunProgram({"/bin/bash", script, typed});
        EXPECT_EQ(result.out, offered + "\n") << result.err;
    }
}

}  // namespace
}  // namespace calquor::tool::test
