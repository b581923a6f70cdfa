// Case mapping through a UTF-8 character-type locale of the C library.
#include "case_map.h"

#include <initializer_list>

#include <locale.h>
#include <wctype.h>

namespace calquor::rtl {
namespace {

// Created once and kept for the life of the process; the global locale is
// never touched. Null when the system has none (case mapping then covers
// ASCII only).
locale_t CaseLocale() {
    static const locale_t loc = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            const locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (l) return l;
        }
        return static_cast<locale_t>(nullptr);
    }();
    return loc;
}

}  // namespace

char32_t MapCaseOf(char32_t c, bool upper) noexcept {
    if (const locale_t loc = CaseLocale()) {
        const wint_t m = upper ? towupper_l(static_cast<wint_t>(c), loc) : towlower_l(static_cast<wint_t>(c), loc);
        return static_cast<char32_t>(m);
    }
    if (upper && c >= U'a' && c <= U'z') return c - U'a' + U'A';
    if (!upper && c >= U'A' && c <= U'Z') return c - U'A' + U'a';
    return c;
}

}  // namespace calquor::rtl
