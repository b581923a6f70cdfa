// How the tool turns text into engine values (--set, :set, CSV cells) and
// engine values back into text (eval output, CSV cells).
#pragma once

#include "CsvStream.h"

#include <calquor/oleauto.h>

#include <optional>
#include <string>
#include <string_view>

namespace calquor::tool {

// The kinds a user can declare for a value (--set NAME:KIND=, csv --type).
enum class Kind { Text, Number, Date, Bool, Null };

// The kind of that name ("text", "number", "date", "bool", "null"), or
// nullopt; KindNames lists them for messages ("text, number, ...").
std::optional<Kind> KindNamed(std::string_view name);
std::string KindNames();

// Types a text as a person reads it:
// - empty (or only blanks): Empty;
// - a decimal number ("12", "-3.5", ".5"): an integer (VT_INT, as the
//   engine's own integer literals) when it has no point and fits 32 bits,
//   otherwise a double. Text stays text when reading it as a number would
//   change it: a whole number with a leading zero ("007", "02134": codes,
//   not quantities), digits a double cannot hold ("12345678901234567" would
//   become ...568), and exponent forms ("12E4": product codes; the formula
//   language has no exponents either);
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

// The text as the declared kind: text as written (also when empty), number
// (any decimal number, leading zeros and exponents allowed), date (ISO, or
// any form the runtime's date parser reads, such as "1/14/2004"), bool
// (true/false/1/0), null (the text is ignored). nullopt when the text does
// not fit the kind.
std::optional<_variant_t> TypeAs(Kind kind, std::string_view text);

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
// time) so that another run reads them back as the same values, doubles in
// the shortest text that reads back as the same double (without exponent
// from 1e-7 up to 1e21), text unchanged. kind, when given, receives how the
// cell is written in JSON.
std::string CellText(const _variant_t& value, CellKind* kind = nullptr);

// The shortest text that reads back as the same double; see CellText.
std::string NumberText(double number);

}  // namespace calquor::tool
