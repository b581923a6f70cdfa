// calquor-regsvr: registers or unregisters an in-process server module, as
// regsvr32 does on Windows.
//
//   calquor-regsvr [/u] MODULE
//
// Loads MODULE and calls its DllRegisterServer (with /u: DllUnregisterServer)
// against the registry file ($CALQUOR_REGISTRY, else the user's
// configuration directory). Exit codes follow regsvr32: 0 success, 1 bad
// arguments, 3 the module cannot be loaded, 4 it has no such entry point,
// 5 the entry point failed (its HRESULT is printed as 0x%08X).
#include <calquor/oleauto.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace calquor;

enum ExitCode { kSuccess = 0, kBadArguments = 1, kCannotLoad = 3, kNoEntry = 4, kEntryFailed = 5 };

int Usage() {
    std::fputs("usage: calquor-regsvr [/u] MODULE\n"
               "  registers MODULE (with /u: unregisters it) in the Calquor registry\n",
               stderr);
    return kBadArguments;
}

bool IsUnregisterSwitch(const char* arg) {
    return std::strcmp(arg, "/u") == 0 || std::strcmp(arg, "/U") == 0 || std::strcmp(arg, "-u") == 0;
}

// A module named by an existing file is loaded by its full path, so that a
// bare file name means the one in the current directory, as on Windows.
std::string ModulePath(const char* arg) {
    char resolved[PATH_MAX];
    if (realpath(arg, resolved)) return resolved;
    return arg;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* module = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (IsUnregisterSwitch(argv[i]))
            unregister = true;
        else if (!module && argv[i][0] != '/' && argv[i][0] != '-')
            module = argv[i];
        else if (!module && argv[i][0] == '/' && std::strlen(argv[i]) > 2)
            module = argv[i];  // an absolute path
        else
            return Usage();
    }
    if (!module) return Usage();

    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const std::string path = ModulePath(module);
    CoInitialize(nullptr);
    HMODULE handle = LoadLibrary(path.c_str());
    if (!handle) {
        std::fprintf(stderr, "calquor-regsvr: cannot load %s\n", path.c_str());
        CoUninitialize();
        return kCannotLoad;
    }
    int result = kSuccess;
    auto function = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(handle, entry));
    if (!function) {
        std::fprintf(stderr, "calquor-regsvr: %s has no entry point %s\n", path.c_str(), entry);
        result = kNoEntry;
    } else if (const HRESULT hr = function(); FAILED(hr)) {
        std::fprintf(stderr, "calquor-regsvr: %s in %s failed: 0x%08X\n", entry, path.c_str(),
                     static_cast<unsigned>(hr));
        result = kEntryFailed;
    } else {
        std::printf("%s in %s succeeded.\n", entry, path.c_str());
    }
    FreeLibrary(handle);
    CoUninitialize();
    return result;
}
