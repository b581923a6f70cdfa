// Small text helpers shared by the commands: exit codes, UTF-8 checks,
// operand names and the caret display of a formula error.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace calquor::tool {

// The process exit codes every command uses.
enum ExitCode : int {
    kExitOk = 0,       // success
    kExitFormula = 1,  // a formula failed to compile or to calculate
    kExitInput = 2,    // bad usage or bad input (arguments, files, CSV)
};

// The offset of the first byte that does not belong to a well-formed UTF-8
// sequence (overlong forms, surrogates and values above U+10FFFF included), or
// of the first NUL byte, which no engine text can hold; nullopt when the
// whole text is clean.
std::optional<std::size_t> FindBadByte(std::string_view text);

// "invalid UTF-8 byte 0xFF at offset 3" (or "NUL byte ...") for the byte that
// FindBadByte reported.
std::string DescribeBadByte(std::string_view text, std::size_t offset);

// True for a name the engine can read between braces or after "@": one or
// more ASCII letters and digits.
bool IsOperandName(std::string_view name);

// The operand name of a CSV header: its ASCII letters and digits in order
// ("Unit Price" gives "UnitPrice"); empty when it has none.
std::string OperandNameOf(std::string_view header);

// The text between single quotes, for messages.
std::string Quoted(std::string_view text);

// Text without leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view text);

// Three lines that show where a formula failed: the formula line holding the
// position, a caret under the byte at the 0-based position pos (counted in
// characters, tabs kept so the caret lines up) and "offset N: message". Each
// line ends with '\n'.
std::string CaretBlock(std::string_view formula, int pos, std::string_view message);

}  // namespace calquor::tool
