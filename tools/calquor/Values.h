// How the tool turns text into engine values (--set, :set, CSV cells) and
// engine values back into text (eval output, CSV cells).
#pragma once

#include <calquor/oleauto.h>

#include <optional>
#include <string>
#include <string_view>

namespace calquor::tool {

// Types a text as a person reads it:
// - empty (or only blanks): Empty;
// - a decimal number ("12", "-3.5", ".5", "1e3"): an integer (VT_INT, as the
//   engine's own integer literals) when it has no point or exponent and fits
//   32 bits, otherwise a double. A whole number written with a leading zero
//   ("007", "02134") stays text: such cells are codes, not quantities;
// - an ISO date "YYYY-MM-DD", optionally followed by " HH:MM[:SS]" or
//   "THH:MM[:SS]": a date;
// - "true" or "false" in any letter case: a boolean;
// - anything else: the text itself, unchanged.
// Blanks around a number, date or boolean are ignored.
_variant_t TypeText(std::string_view text);

// One operand setting of --set or :set.
struct Setting {
    std::string name;
    _variant_t value;
};

// Reads "NAME=VALUE" or "NAME:KIND=VALUE". Without a kind the value is typed
// by TypeText. KIND forces the value: "text" (as written, also when empty),
// "number" (any decimal number, leading zeros allowed), "date" (ISO, or any
// form the runtime's date parser reads, such as "1/14/2004"), "bool"
// (true/false/1/0) or "null" (the value is ignored). nullopt with a message in
// error when the argument is malformed or the value does not fit the kind.
std::optional<Setting> ParseSetting(std::string_view argument, std::string& error);

// The name of a value's kind as the tool prints it: "integer", "double",
// "single", "currency", "decimal", "date", "text", "boolean", "empty",
// "null", or "kind N" for anything else.
std::string KindName(const _variant_t& value);

// The value and its kind, as eval and the REPL print them: `3 (double)`,
// `"a66" (text)`, `1/14/2004 (date)`, `true (boolean)`, `(empty)`, `(null)`.
// Text is quoted with C-style escapes for '"', '\\' and control characters.
std::string Describe(const _variant_t& value);

// The value as a CSV cell: Empty and Null give an empty cell, booleans
// "true"/"false", dates ISO ("2004-01-14", with " HH:MM:SS" when there is a
// time) so that another run reads them back as the same values, numbers as
// the runtime writes them (up to 15 significant digits), text unchanged.
std::string CellText(const _variant_t& value);

}  // namespace calquor::tool
