// Modules: loading by path, finding a module from an address, its path and
// its resource table. A module handle is the dlopen handle.
#include <calquor/oleauto.h>

#include "com_text.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace calquor {
namespace {

void* Native(HMODULE module) { return static_cast<void*>(module); }
HMODULE Handle(void* native) { return static_cast<HMODULE>(native); }

std::string ResolvedPath(const char* path) {
    char resolved[PATH_MAX];
    if (path && realpath(path, resolved)) return resolved;
    return path ? path : "";
}

// The path of the running program, for the main program's handle.
std::string ProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    buffer[n] = '\0';
    return buffer;
}

}  // namespace

HMODULE LoadLibrary(const char* lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) return nullptr;
    // Local binding: a module's symbols never stand in for another's.
    return Handle(dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL));
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (!hLibModule) return FALSE;
    return dlclose(Native(hLibModule)) == 0 ? TRUE : FALSE;
}

FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName) {
    if (!hModule || !lpProcName) return nullptr;
    void* symbol = dlsym(Native(hModule), lpProcName);
    // POSIX guarantees that an object pointer from dlsym converts to a
    // function pointer.
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL GetModuleHandleEx(DWORD dwFlags, const char* lpModuleName, HMODULE* phModule) {
    if (!phModule) return FALSE;
    *phModule = nullptr;
    void* native = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info{};
        if (!lpModuleName || dladdr(lpModuleName, &info) == 0 || !info.dli_fname) return FALSE;
        native = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
        // The main program is not found by its path; it has a handle of its own.
        if (!native) native = dlopen(nullptr, RTLD_NOW);
    } else if (!lpModuleName) {
        native = dlopen(nullptr, RTLD_NOW);
    } else {
        native = dlopen(lpModuleName, RTLD_NOW | RTLD_NOLOAD);
    }
    if (!native) return FALSE;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) dlclose(native);
    *phModule = Handle(native);
    return TRUE;
}

DWORD GetModuleFileName(HMODULE hModule, char* lpFilename, DWORD nSize) {
    if (!lpFilename || nSize == 0) return 0;
    std::string path;
    if (!hModule) {
        path = ProgramPath();
    } else {
        link_map* map = nullptr;
        if (dlinfo(Native(hModule), RTLD_DI_LINKMAP, &map) != 0 || !map) return 0;
        path = map->l_name && *map->l_name ? ResolvedPath(map->l_name) : ProgramPath();
    }
    if (path.empty()) return 0;
    if (path.size() + 1 > nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

HRSRC FindResource(HMODULE hModule, UINT nID, const char* lpType) {
    if (!hModule || !lpType) return nullptr;
    void* symbol = dlsym(Native(hModule), "CalquorModuleResources");
    if (!symbol) return nullptr;
    const auto table = reinterpret_cast<LPFNMODULERESOURCES>(symbol);
    UINT count = 0;
    const MODULERESOURCE* entries = table(&count);
    if (!entries) return nullptr;
    for (UINT i = 0; i < count; ++i) {
        const MODULERESOURCE& entry = entries[i];
        if (entry.nID == nID && entry.pszType && com::EqualNoCase(entry.pszType, lpType)) return &entry;
    }
    return nullptr;
}

const void* LockResource(HRSRC hResInfo) { return hResInfo ? hResInfo->pData : nullptr; }

DWORD SizeofResource(HMODULE, HRSRC hResInfo) { return hResInfo ? hResInfo->cbData : 0; }

}  // namespace calquor
