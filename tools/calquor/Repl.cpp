// The repl command: one formula or command per line. A terminal gets line
// editing and history through libedit; any other input is read line by line
// without prompts, so that scripts can pipe into it.
#include "Commands.h"

#include "Text.h"
#include "Values.h"

#include <editline/readline.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace calquor::tool {
namespace {

constexpr const char* kReplHelp =
    "Type a formula to calculate it, or a command:\n"
    "  :set NAME=VALUE        set operand {NAME}; the value is typed as with --set\n"
    "                         (NAME:text=, :number=, :date=, :bool=, :null= force a kind)\n"
    "  :formula NAME=FORMULA  define the named formula @NAME\n"
    "  :vars                  list the operands and named formulas\n"
    "  :help                  show this text\n"
    "  :quit                  leave (so does end of input)\n";

// Where history is kept between sessions: ~/.calquor_history.
std::string HistoryPath() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::string(home) + "/.calquor_history" : std::string();
}

class Session {
public:
    Session() : m_adapter(m_book) {}

    std::optional<std::string> LoadFormulas(const std::string& path) { return m_book.Load(path); }

    // Handles one line; false when the session should end.
    bool Handle(std::string_view line) {
        line = TrimBlanks(line);
        if (line.empty()) return true;
        if (line[0] != ':') {
            EvaluateFormula(std::string(line), m_adapter, stdout, stderr);
            return true;
        }
        const std::size_t space = line.find_first_of(" \t");
        const std::string_view command = line.substr(0, space);
        const std::string_view argument = space == std::string_view::npos ? "" : TrimBlanks(line.substr(space));
        if (command == ":quit" || command == ":q") return false;
        if (command == ":help") {
            std::fputs(kReplHelp, stdout);
        } else if (command == ":vars") {
            for (const auto& [name, value] : m_adapter.Values())
                std::printf("{%s} = %s\n", name.c_str(), Describe(value).c_str());
            for (const auto& [name, formula] : m_book.All()) std::printf("@%s = %s\n", name.c_str(), formula.c_str());
        } else if (command == ":set") {
            std::string error;
            if (const auto setting = ParseSetting(argument, error))
                m_adapter.Set(setting->name, setting->value);
            else
                Complain(":set: " + error);
        } else if (command == ":formula") {
            const std::size_t equals = argument.find('=');
            if (equals == std::string_view::npos) {
                Complain(":formula: expected NAME=FORMULA");
            } else if (auto problem = m_book.Define(TrimBlanks(argument.substr(0, equals)),
                                                    TrimBlanks(argument.substr(equals + 1)))) {
                Complain(":formula: " + *problem);
            }
        } else {
            Complain("unknown command '" + std::string(command) + "' (:help lists them)");
        }
        return true;
    }

    // As Handle, but a failure inside reports and keeps the session: only end
    // of input or :quit ends it.
    bool HandleSafely(std::string_view line) {
        try {
            return Handle(line);
        } catch (const _com_error& e) {
            Complain(std::string("runtime error: ") + e.ErrorMessage());
        } catch (const std::exception& e) {
            Complain(std::string("error: ") + e.what());
        }
        return true;
    }

private:
    FormulaBook m_book;
    ValuesAdapter m_adapter;
};

void RunInteractive(Session& session) {
    std::puts("calquor repl - :help lists the commands, :quit leaves");
    using_history();
    const std::string historyPath = HistoryPath();
    if (!historyPath.empty()) read_history(historyPath.c_str());
    for (;;) {
        char* raw = readline("calquor> ");
        if (raw == nullptr) {
            std::putchar('\n');
            break;
        }
        const std::string line = raw;
        std::free(raw);
        if (!TrimBlanks(line).empty()) add_history(line.c_str());
        if (!session.HandleSafely(line)) break;
        std::fflush(stdout);
    }
    if (!historyPath.empty()) write_history(historyPath.c_str());
}

}  // namespace

int RunRepl(const std::string& formulasPath) {
    Session session;
    if (!formulasPath.empty()) {
        if (auto problem = session.LoadFormulas(formulasPath)) {
            Complain(*problem);
            return kExitInput;
        }
    }
    if (isatty(STDIN_FILENO) != 0) {
        RunInteractive(session);
        return kExitOk;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool goOn = session.HandleSafely(line);
        // Results and errors go to different streams; flushing each line
        // keeps them in order when both reach the same file.
        std::fflush(stdout);
        if (!goOn) break;
    }
    return kExitOk;
}

}  // namespace calquor::tool
