// The command line's own behaviour beyond what CLI11 does unasked: the
// version text, messages for argument errors and mistyped commands, `--`
// before a formula, and --help-all in the form help2man makes the man page of.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace calquor::tool {

// --help-all prints the whole help of every command, footers included; the
// man page is made of it by help2man. Each command's help follows a line
// "*NAME command*", which help2man makes a section; its "Options:" and
// "Examples:" become "NAME options:" and "NAME examples:", which help2man keeps
// inside that section, and each example becomes one line "$ calquor ...",
// which help2man sets verbatim. The tool's own footer (its exit codes) is
// left out: each command's help ends with the exit codes that apply to it.
class FullHelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;
    std::string make_expanded(const CLI::App* sub) const override;
};

// The first line names the tool and its version (help2man reads it); the
// second is the library's own report, which the engine gives as the value of
// its CalquorInfo() function.
std::string VersionText();

// A CLI11 argument error as the tool prints it: "calquor: " and the message,
// then where help is found.
std::string FailureMessage(const CLI::App* app, const CLI::Error& error);

// The command line without the program name. `--` marks the one argument
// after it as a value even when it starts with '-' (a formula such as
// '-{X}'); the arguments after that one are options again, so that
// `eval -- '-{X}' --set X=3` works. CLI11 takes everything after `--` as
// positional, so the marked value moves to the end, behind its `--`.
std::vector<std::string> Arguments(int argc, char** argv);

// When the command word (the first argument that is no option) names none
// of app's commands: the message for it, with the nearest command when one
// is at most two edits away or starts with the word.
std::optional<std::string> UnknownCommand(const std::vector<std::string>& args, const CLI::App& app);

}  // namespace calquor::tool
