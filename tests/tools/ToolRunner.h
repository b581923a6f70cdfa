// Runs the calquor tool as a child process with files for its standard
// streams, so tests see its output, its messages and its exit code.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace calquor::tool::test {

struct ToolResult {
    int exitCode = -1;  // -1: the tool did not exit normally (a crash)
    std::string out;
    std::string err;
};

// Each test gets its own scratch directory for inputs and captured output.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        m_dir = std::filesystem::temp_directory_path() /
                ("calquor-tool-test-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // The path of a scratch file (not created).
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // Writes a scratch file with exactly these bytes and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Runs `calquor ARGS...` with input on its standard input; its standard
    // output goes to stdoutPath when given (then result.out stays empty).
    ToolResult Run(const std::vector<std::string>& args, const std::string& input = "",
                   const char* stdoutPath = nullptr) const {
        std::vector<std::string> command{CALQUOR_TOOL_PATH};
        command.insert(command.end(), args.begin(), args.end());
        return RunProgram(command, input, stdoutPath);
    }

    // As Run, for any program: command[0] is its path.
    ToolResult RunProgram(std::vector<std::string> command, const std::string& input = "",
                          const char* stdoutPath = nullptr) const {
        const std::string inPath = WriteFile("stdin.txt", input);
        const std::string outPath = stdoutPath ? stdoutPath : Path("stdout.txt"), errPath = Path("stderr.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

        std::vector<char*> argv;
        for (std::string& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);

        ToolResult result;
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
        if (!stdoutPath) result.out = ReadFile(outPath);
        result.err = ReadFile(errPath);
        return result;
    }

private:
    std::filesystem::path m_dir;
};

// Prints a table row's arguments by their text in test names and failures.
inline std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
    return text;
}

}  // namespace calquor::tool::test
