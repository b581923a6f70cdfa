// The consumers' tally: each check counts as passed or failed, and Report
// prints "N passed, N failed" and gives the exit code.
#pragma once

#include <calquor/version.h>

#include <cstdio>
#include <cstring>

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

// The version the host's build system found (CMake package or pkg-config),
// passed in as CALQUOR_EXPECTED_VERSION, is the one the headers carry.
inline void CheckVersion() {
    Check(std::strcmp(CALQUOR_VERSION_STRING, CALQUOR_EXPECTED_VERSION) == 0,
          "the package's version is the headers' version");
}

inline int Report() {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}

}  // namespace consumer
