// repl: piped input is read line by line, printed as eval prints; on a
// terminal, completion, Ctrl-C and history.
#include "ToolRunner.h"

#include "Completion.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>

namespace calquor::tool::test {
namespace {

using ReplTest = ToolTest;

TEST_F(ReplTest, PipedSessionCalculatesEachLine) {
    const ToolResult result = Run({"repl"},
                                  "\xEF\xBB\xBF:set Qty=3\n"  // a script saved with a byte order mark
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
                                  "@P\n" +
                                      std::string(3 << 20, '1') +  // beyond the line limit
                                      "\n'end'\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "\"end\" (text)\n");
    for (const char* message : {"1 + * 2\n", ":set: expected NAME=VALUE", ":formula: 'Bad Name' is not a formula name",
                                "unknown command ':nonsense'", "calquor: error ", "invalid UTF-8 byte 0xE9",
                                "named formula P: error 5", "standard input:9: a line longer than 1 MiB"}) {
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

TEST(ReplCompletion, TheWordBeforeTheCursorByWhatPrecedesIt) {
    const CompletionNames names{{"Trim", "TrimLeft", "Today"}, {"Qty", "Quarter"}, {"Net"}, {"set", "formula"}};
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"Tr", {"Trim(", "TrimLeft("}},
        {"1 + T", {"Trim(", "TrimLeft(", "Today("}},
        {"{Q", {"Qty}", "Quarter}"}},
        {"Round({Qt", {"Qty}"}},
        {"@N", {"Net"}},
        {"@", {"Net"}},
        {":s", {"set"}},
        {":set Q", {"Qty=", "Quarter="}},
        {":formula N", {"Net = "}},
        {":set Qty=T", {}},  // a value: nothing to offer
        {"'Tr", {"Trim(", "TrimLeft("}},
        {"x", {}},           // nothing matches: never file names
    };
    for (const auto& [line, offered] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(CompleteWord(line, line.size(), names), offered);
    }
    EXPECT_EQ(CompleteWord("{Q} + 1", 2, names), (std::vector<std::string>{"Qty}", "Quarter}"}));
}

// Drives the repl on a terminal: each step waits for its text in the output,
// then types its keys.
TEST_F(ReplTest, OnATerminalTabCompletesCtrlCAbandonsTheLineAndHistoryIsKept) {
    std::string history = "_HiStOrY_V2_\n";
    for (int i = 0; i < 1200; ++i) history += "old" + std::to_string(i) + "\n";
    WriteFile(".calquor_history", history);
    const std::pair<std::string, std::string> steps[] = {
        {"calquor> ", ":set Qty=3\r"},
        {"calquor> ", "UpperC\t'a')\r"},  // completes "UpperCase("
        {"\"A\" (text)", ""},
        {"calquor> ", "{Q\t * 2\r"},
        {"6 (double)", ""},
        {"calquor> ", "1 + \x03"},  // Ctrl-C
        {"calquor> ", "5\r"},
        {"5 (integer)", ""},
        {"calquor> ", ":quit\r"},
    };
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("HOME", Path("").c_str(), 1);
        setenv("TERM", "dumb", 1);
        execl(CALQUOR_TOOL_PATH, CALQUOR_TOOL_PATH, "repl", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    std::size_t seen = 0;
    // Reads until text appears after seen (or the tool ends or stalls).
    const auto waitFor = [&](const std::string& text) {
        std::size_t at;
        while ((at = out.find(text, seen)) == std::string::npos) {
            pollfd ready{terminal, POLLIN, 0};
            char buffer[512];
            ssize_t n = 0;
            if (poll(&ready, 1, 20000) <= 0 || (n = read(terminal, buffer, sizeof buffer)) <= 0) return false;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        seen = at + text.size();
        return true;
    };
    // Keys typed before the line editor has taken the terminal out of line
    // mode would meet the kernel's line discipline instead of the editor.
    const auto waitForEditor = [&] {
        termios mode{};
        for (int tries = 0; tries < 2000; ++tries, usleep(10000))
            if (tcgetattr(terminal, &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
        return false;
    };
    for (const auto& [text, keys] : steps) {
        ASSERT_TRUE(waitFor(text)) << "waiting for " << text << " in\n" << out;
        if (keys.empty()) continue;
        ASSERT_TRUE(waitForEditor()) << out;
        ASSERT_EQ(write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    waitFor("\x04never");  // the rest of the output, to the end
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_EQ(out.find("6 (integer)"), std::string::npos) << out;  // "1 + 5" never ran

    // Cut to the newest 1000 lines when the session began, then each line
    // appended once, as it was entered.
    const std::string kept = ReadFile(Path(".calquor_history"));
    EXPECT_EQ(kept.find("old199\n"), std::string::npos);
    EXPECT_EQ(kept.rfind("_HiStOrY_V2_\nold200\n", 0), 0u) << kept.substr(0, 40);
    EXPECT_NE(kept.find("old1199\n:set\\040Qty=3\nUpperCase('a')\n{Qty}\\040*\\0402\n5\n:quit\n"), std::string::npos)
        << kept.substr(kept.size() - 120);
}

}  // namespace
}  // namespace calquor::tool::test
