// The application framework's share of registration, used by the
// Calquor_MFC server and by the plain CLQMFC library: registering the
// module's type library by its identifier, and updating the framework's own
// factory registrations (it keeps none, so there is nothing to write).
#pragma once

#include "OleText.h"

#include <calquor/oleauto.h>

#include <string>

namespace calquor::framework {

using oletext::Wide;

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
    const oletext::OleString path = Wide(modulePath);
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLib(path.c_str(), &library))) return false;
    TLIBATTR* attr = nullptr;
    bool ok = SUCCEEDED(library->GetLibAttr(&attr)) && attr->guid == libid;
    if (attr) library->ReleaseTLibAttr(attr);
    if (ok) {
        const oletext::OleString directory = Wide(oletext::DirectoryOf(modulePath));
        ok = SUCCEEDED(calquor::RegisterTypeLib(library, path.c_str(), directory.c_str()));
    }
    library->Release();
    return ok;
}

// Removes that version's registration. A library that is not
// registered (any more) counts as removed, so unregistering twice, or after
// another step already removed it, succeeds. Whether it is registered is
// asked first, because systems answer the removal of a missing library
// differently (TYPE_E_REGISTRYACCESS, or E_INVALIDARG under Wine).
inline HRESULT UnregisterTypeLibIfPresent(REFGUID libid, WORD major, WORD minor) {
    ITypeLib* registered = nullptr;
    if (FAILED(LoadRegTypeLib(libid, major, minor, 0, &registered))) return S_OK;
    registered->Release();
    const HRESULT hr = UnRegisterTypeLib(libid, major, minor, 0, oletext::kSysKind);
    return hr == TYPE_E_REGISTRYACCESS ? S_OK : hr;
}

inline bool UnregisterTypeLib(REFGUID libid, WORD major, WORD minor) {
    return SUCCEEDED(UnregisterTypeLibIfPresent(libid, major, minor));
}

// The framework's factories: none, so there is nothing to register.
inline bool UpdateRegistryAll(bool /*registering*/) { return true; }

}  // namespace calquor::framework
