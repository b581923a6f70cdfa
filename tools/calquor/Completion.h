// What Tab offers in the repl, apart from the line editor, so that it can be
// tested without a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace calquor::tool {

// The names a line can be completed with.
struct CompletionNames {
    std::vector<std::string> functions;  // the built-in functions
    std::vector<std::string> operands;   // the operands set so far
    std::vector<std::string> formulas;   // the named formulas
    std::vector<std::string> commands;   // the repl's commands, without ':'
};

// The word being completed is the run of ASCII letters and digits before
// cursor (a byte offset into line); what stands before it decides what it
// may become:
// - after "{": an operand, closed with "}";
// - after "@": a named formula;
// - the argument of ":set" or ":formula": an operand, or a named formula,
//   followed by "=";
// - after ":" at the start of the line: a command;
// - anything else: a function, followed by "(".
// Returns every candidate that starts with the word, in the order of names,
// each as the text that replaces the word. File names are never offered.
std::vector<std::string> CompleteWord(std::string_view line, std::size_t cursor, const CompletionNames& names);

}  // namespace calquor::tool
