// The system's simple case table, for the runtime library's text routines.
// One implementation per system: the C library's locale tables on Linux,
// the system's own tables on Windows.
#pragma once

namespace calquor::rtl {

// The upper (or lower) case of one character; the character itself when the
// table has no mapping. Safe from any thread.
char32_t MapCaseOf(char32_t c, bool upper) noexcept;

}  // namespace calquor::rtl
