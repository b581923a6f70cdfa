#include "CommandLine.h"

#include "Text.h"
#include "Values.h"

#include <calquor/Calquex.h>

#include <algorithm>
#include <sstream>

namespace calquor::tool {
namespace {

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

}  // namespace

std::string FullHelpFormatter::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const {
    if (mode != CLI::AppFormatMode::All) return CLI::Formatter::make_help(app, name, mode);
    return make_description(app) + make_usage(app, name) + make_positionals(app) + make_groups(app, mode) +
           make_subcommands(app, mode);
}

std::string FullHelpFormatter::make_expanded(const CLI::App* sub) const {
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

std::string VersionText() {
    Calquex engine("CalquorInfo()");
    int code = 0;
    std::string message;
    const _variant_t info = engine.Calculate(code, message);
    return std::string("calquor " CALQUOR_TOOL_VERSION "\nlibrary: ") + (code == 0 ? CellText(info) : message);
}

std::string FailureMessage(const CLI::App* app, const CLI::Error& error) {
    std::string command = "calquor";
    for (const CLI::App* sub : app->get_subcommands()) command += " " + sub->get_name();
    return "calquor: " + std::string(error.what()) + "\nRun '" + command + " --help' for more information.\n";
}

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto dashes = std::find(args.begin(), args.end(), "--");
    if (args.end() - dashes > 2) std::rotate(dashes, dashes + 2, args.end());
    return args;
}

std::optional<std::string> UnknownCommand(const std::vector<std::string>& args, const CLI::App& app) {
    const auto word =
        std::find_if(args.begin(), args.end(), [](const std::string& arg) { return arg.empty() || arg[0] != '-'; });
    if (word == args.end() || (word != args.begin() && *(word - 1) == "--")) return std::nullopt;
    std::string names, nearest;
    std::size_t best = 3;  // farther than two edits suggests nothing
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        const std::string& name = command->get_name();
        if (name == *word) return std::nullopt;
        names += (names.empty() ? "" : ", ") + name;
        const bool prefix = !word->empty() && name.rfind(*word, 0) == 0;
        const std::size_t distance = prefix ? 1 : EditDistance(*word, name);
        if (distance < best) best = distance, nearest = name;
    }
    return "unknown command " + Quoted(*word) +
           (nearest.empty() ? " (commands: " + names + ")" : "; did you mean " + Quoted(nearest) + "?");
}

}  // namespace calquor::tool
