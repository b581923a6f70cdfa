// What the platform tables share. They run against the Linux stand-in and,
// on Windows, against the system's own automation runtime (oleaut32, under
// Wine when cross-built); the few differences are
// recorded here.
#pragma once

#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#if !defined(_WIN32)
#  include <clocale>
#  include <cstdlib>
#  include <ctime>
#  include <locale.h>
#endif

namespace calquor::test {

// Wide text in the system's character type (char16_t on Linux, wchar_t on
// Windows); literals are written OLESTR("...").
using OleString = std::basic_string<OLECHAR>;

// True against the stand-in. Tests of services only the stand-in has (its
// VariantClear/Copy/ChangeType knowing varString, its fixed locale and code
// page, its own functions) run there only and skip themselves elsewhere with
// CALQUOR_STAND_IN_ONLY.
#if defined(_WIN32)
inline constexpr bool kStandIn = false;
#else
inline constexpr bool kStandIn = true;
#endif

// Skips the rest of a test that checks a service of the stand-in alone.
#define CALQUOR_STAND_IN_ONLY(why)                                                \
    do {                                                                          \
        if (!::calquor::test::kStandIn) GTEST_SKIP() << "the stand-in's own " why; \
    } while (false)

// True when the system's runtime is Wine's reimplementation, which exports
// wine_get_version from its ntdll.
inline bool OnWine() {
#if defined(_WIN32)
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
#else
    return false;
#endif
}

// A row's expectation: what Windows gives (and the stand-in reproduces), and
// where Wine's runtime gives something else, what it gives. Each wineDiffers
// value has a comment at its row with the reason, saying whether Windows is
// known to behave otherwise or does not document the case.
template <class T>
struct Expect {
    T value;
    std::optional<T> wineDiffers;

    Expect(T v) : value(std::move(v)) {}  // NOLINT: rows write plain values
    Expect(T v, T wine) : value(std::move(v)), wineDiffers(std::move(wine)) {}

    // The value this run must produce.
    const T& Get() const { return wineDiffers && OnWine() ? *wineDiffers : value; }
};

// Sets (or, with a null value, removes) the time zone variable and makes the
// C library read it again.
inline void SetTimeZoneVariable(const char* value) {
#if defined(_WIN32)
    _putenv_s("TZ", value ? value : "");
    _tzset();
#else
    if (value)
        setenv("TZ", value, 1);
    else
        unsetenv("TZ");
    tzset();
#endif
}

// Whether case mapping beyond ASCII can be checked: the stand-in maps with
// the C library's UTF-8 tables, which a system may lack; Windows has its own.
inline bool HaveUtf8CaseTables() {
#if defined(_WIN32)
    return true;
#else
    const locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!l) return false;
    freelocale(l);
    return true;
#endif
}

}  // namespace calquor::test
