// The application framework's share of registration, used by the
// Calquor_MFC server and by the plain CLQMFC library: registering the
// module's type library by its identifier, and updating the framework's own
// factory registrations (it keeps none, so there is nothing to write).
#pragma once

#include <calquor/oleauto.h>

#include <string>

namespace calquor::framework {

inline std::u16string Wide(const std::string& text) {
    std::u16string wide(text.size(), u'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
    return wide;
}

// The full path of the module that holds anchor.
inline std::string ModulePathOf(const void* anchor) {
    HMODULE module = nullptr;
    if (!GetModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(anchor), &module))
        return {};
    char path[4096];
    const DWORD length = GetModuleFileName(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return {};
    return std::string(path, length);
}

// Loads the module's type library, checks that it is the one named and
// registers it (help directory: the module's). False on any failure.
inline bool RegisterTypeLib(const std::string& modulePath, REFGUID libid) {
    if (modulePath.empty()) return false;
    const std::u16string path = Wide(modulePath);
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLib(path.c_str(), &library))) return false;
    TLIBATTR* attr = nullptr;
    bool ok = SUCCEEDED(library->GetLibAttr(&attr)) && attr->guid == libid;
    if (attr) library->ReleaseTLibAttr(attr);
    if (ok) {
        const std::size_t slash = modulePath.rfind('/');
        const std::u16string directory = Wide(slash == std::string::npos ? std::string() : modulePath.substr(0, slash));
        ok = SUCCEEDED(calquor::RegisterTypeLib(library, path.c_str(), directory.c_str()));
    }
    library->Release();
    return ok;
}

// Removes that version's registration. Decided here: a library that is not
// registered (any more) counts as removed, so unregistering twice, or after
// another step already removed it, succeeds.
inline bool UnregisterTypeLib(REFGUID libid, WORD major, WORD minor) {
    const HRESULT hr = UnRegisterTypeLib(libid, major, minor, 0, SYS_WIN64);
    return SUCCEEDED(hr) || hr == TYPE_E_REGISTRYACCESS;
}

// The framework's factories: none, so there is nothing to register.
inline bool UpdateRegistryAll(bool /*registering*/) { return true; }

}  // namespace calquor::framework
