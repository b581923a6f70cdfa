// The consumers' tally: each check counts as passed or failed, and Report
// prints "N passed, N failed" and gives the exit code.
#pragma once

#include <cstdio>

namespace consumer {

inline int g_passed = 0;
inline int g_failed = 0;

inline void Check(bool ok, const char* what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED: %s\n", what);
    }
}

inline int Report() {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}

}  // namespace consumer
