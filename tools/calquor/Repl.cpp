// The repl command: one formula or command per line. A terminal gets line
// editing and history through libedit; any other input is read line by line
// without prompts, so that scripts can pipe into it.
#include "Commands.h"

#include "Completion.h"
#include "Text.h"
#include "Values.h"

#include <editline/readline.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

// The commands Handle knows, as Tab completes them after ':' (kReplHelp
// describes them).
constexpr std::array<const char*, 5> kCommands = {"set", "formula", "vars", "help", "quit"};

// The most lines the history keeps, in memory and in its file.
constexpr int kHistoryLines = 1000;

// The longest line read from a pipe or file; a longer one is skipped and
// reported, so that input without line breaks cannot fill memory.
constexpr std::size_t kMaxLineBytes = 1 << 20;

// Reads one line without its '\n'; false at the end of input. A line longer
// than kMaxLineBytes is read to its end but left empty, with `tooLong` set.
bool ReadLine(std::FILE* in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    bool any = false;
    for (int c; (c = std::getc(in)) != EOF;) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kMaxLineBytes)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    if (tooLong) line.clear();
    return any;
}

// Where history is kept between sessions: ~/.calquor_history.
std::string HistoryPath() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::string(home) + "/.calquor_history" : std::string();
}

class Session {
public:
    Session() : m_adapter(m_book) {}

    std::optional<std::string> LoadFormulas(const std::string& path) { return m_book.Load(path); }

    // What Tab may complete now: the functions, the operands and named
    // formulas defined so far, and the commands.
    CompletionNames Names() const {
        CompletionNames names{FunctionNames(), {}, {}, {kCommands.begin(), kCommands.end()}};
        for (const auto& entry : m_adapter.Values()) names.operands.push_back(entry.first);
        for (const auto& entry : m_book.All()) names.formulas.push_back(entry.first);
        return names;
    }

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

// The session whose names Tab completes; libedit's completion hook takes no
// context of its own. Set while RunInteractive runs.
const Session* g_completing = nullptr;
// The candidates of the completion under way, handed out one by one.
std::vector<std::string> g_candidates;

char* NextCandidate(const char* /*text*/, int state) {
    static std::size_t next = 0;
    if (state == 0) next = 0;
    return next < g_candidates.size() ? strdup(g_candidates[next++].c_str()) : nullptr;
}

// libedit's completion hook: the word before the cursor by CompleteWord,
// never file names.
char** CompleteForEditor(const char* text, int /*start*/, int end) {
    rl_attempted_completion_over = 1;
    g_candidates = CompleteWord(rl_line_buffer, static_cast<std::size_t>(end), g_completing->Names());
    return g_candidates.empty() ? nullptr : rl_completion_matches(text, NextCandidate);
}

// Ctrl-C abandons the line being typed; the session goes on.
volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

void RunInteractive(Session& session) {
    std::puts("calquor repl - :help lists the commands, :quit leaves");
    g_completing = &session;
    rl_attempted_completion_function = CompleteForEditor;
    // Words are runs of letters and digits: what stands before one ({, @, :)
    // tells CompleteWord what it names.
    static std::string breaks = " \t\n";
    for (int c = 0x21; c < 0x7F; ++c)
        if (std::isalnum(c) == 0) breaks += static_cast<char>(c);
    rl_completer_word_break_characters = breaks.data();
    rl_completion_append_character = '\0';
    // Without SA_RESTART, so that Ctrl-C ends the wait for input.
    struct sigaction interrupt {};
    interrupt.sa_handler = OnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);

    // Each line joins the history file as it is entered, so a session that
    // ends abruptly loses none. A full history is written back at the start,
    // which cuts the file to its newest kHistoryLines (libedit's
    // history_truncate_file drops the file's header, after which the file no
    // longer loads).
    using_history();
    stifle_history(kHistoryLines);
    const std::string historyPath = HistoryPath();
    if (!historyPath.empty() && read_history(historyPath.c_str()) == 0 && history_length >= kHistoryLines)
        write_history(historyPath.c_str());
    for (;;) {
        g_interrupted = 0;
        char* raw = readline("calquor> ");
        if (raw == nullptr) {
            std::putchar('\n');
            if (g_interrupted != 0) continue;
            break;
        }
        const std::string line = raw;
        std::free(raw);
        if (g_interrupted != 0) {
            std::putchar('\n');
            continue;
        }
        if (!TrimBlanks(line).empty()) {
            add_history(line.c_str());
            // libedit's append_history(n) writes the newest n + 1 entries
            // (fewer when the history holds fewer), so 0 writes just the line
            // added; a test holds the file to one copy of each line.
            if (!historyPath.empty()) append_history(0, historyPath.c_str());
        }
        if (!session.HandleSafely(line)) break;
        std::fflush(stdout);
    }
    g_completing = nullptr;
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
    bool tooLong = false;
    for (long number = 1; ReadLine(stdin, line, tooLong); ++number) {
        if (tooLong) {
            Complain("standard input:" + std::to_string(number) + ": a line longer than " +
                     std::to_string(kMaxLineBytes >> 20) + " MiB (the limit), skipped");
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A script saved by an editor on Windows starts with a byte order
        // mark; formulas files and CSV input drop it too.
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        const bool goOn = session.HandleSafely(line);
        // Results and errors go to different streams; flushing each line
        // keeps them in order when both reach the same file.
        std::fflush(stdout);
        if (!goOn) break;
    }
    if (std::ferror(stdin)) {
        Complain(FileError("read", "standard input"));
        return kExitInput;
    }
    return kExitOk;
}

}  // namespace calquor::tool
