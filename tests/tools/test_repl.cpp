// repl: piped input is read line by line, printed as eval prints.
#include "ToolRunner.h"

namespace calquor::tool::test {
namespace {

using ReplTest = ToolTest;

TEST_F(ReplTest, PipedSessionCalculatesEachLine) {
    const ToolResult result = Run({"repl"},
                                  ":set Qty=3\n"
                                  ":set Price:number=2.50\n"
                                  ":formula Net = {Qty} * {Price}\n"
                                  "@Net + 1\n"
                                  "\n"
                                  "{Qty} > 2\r\n"
                                  ":vars\n"
                                  ":quit\n"
                                  "99\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "8.5 (double)\n"
              "true (boolean)\n"
              "{Price} = 2.5 (double)\n"
              "{Qty} = 3 (integer)\n"
              "@Net = {Qty} * {Price}\n");  // nothing after :quit
}

TEST_F(ReplTest, ProblemsAreReportedAndTheSessionGoesOn) {
    const ToolResult result = Run({"repl"},
                                  "1 + * 2\n"
                                  ":set Qty\n"
                                  ":formula Bad Name = 1\n"
                                  ":nonsense\n"
                                  "{Unknown}\n"
                                  "'caf\xE9'\n"
                                  ":formula P = 1 + {Abcdefghij}\n"
                                  "@P\n"
                                  "'end'\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "\"end\" (text)\n");
    for (const char* message : {"1 + * 2\n", ":set: expected NAME=VALUE", ":formula: 'Bad Name' is not a formula name",
                                "unknown command ':nonsense'", "calquor: error ", "invalid UTF-8 byte 0xE9",
                                "named formula P: error 5"}) {
        EXPECT_NE(result.err.find(message), std::string::npos) << message << "\n" << result.err;
    }
}

TEST_F(ReplTest, HelpAndFormulasFile) {
    const std::string formulas = WriteFile("f.txt", "Two = 1 + 1\n");
    const ToolResult result = Run({"repl", "--formulas", formulas}, ":help\n@Two * 5\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(":set NAME=VALUE"), std::string::npos);
    EXPECT_NE(result.out.find("10 (double)\n"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace calquor::tool::test
