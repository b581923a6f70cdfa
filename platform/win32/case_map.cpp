// Case mapping through the system's tables, as the runtime library does on
// Windows (CharUpperBuffW / CharLowerBuffW).
#include "../case_map.h"

#include <windows.h>

namespace calquor::rtl {

char32_t MapCaseOf(char32_t c, bool upper) noexcept {
    // The system maps UTF-16 units; characters beyond the basic plane have
    // no simple mapping there and stay as they are.
    if (c > 0xFFFF) return c;
    WCHAR unit = static_cast<WCHAR>(c);
    if (upper)
        CharUpperBuffW(&unit, 1);
    else
        CharLowerBuffW(&unit, 1);
    return unit;
}

}  // namespace calquor::rtl
