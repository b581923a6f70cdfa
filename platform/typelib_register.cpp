// Registering type libraries in HKEY_CLASSES_ROOT\TypeLib and
// HKEY_CLASSES_ROOT\Interface, and loading a registered one.
#include <calquor/oleauto.h>

#include "com_text.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace calquor {
namespace {

// 64-bit modules are registered under "win64", as Windows does for them.
constexpr const char* kPlatformKey = "win64";

std::string Hex(unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", value);
    return buffer;
}

std::string VersionText(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

std::string LibraryKey(REFGUID libid) { return "TypeLib\\" + com::GuidText(libid); }

// The interfaces a library describes for automation clients.
bool IsAutomationInterface(const TYPEATTR& attr) {
    return attr.typekind == TKIND_DISPATCH ||
           (attr.typekind == TKIND_INTERFACE && (attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}

struct InterfaceEntry {
    GUID iid;
    std::string name;
};

HRESULT Interfaces(ITypeLib* library, std::vector<InterfaceEntry>& out) {
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        com::Ref<ITypeInfo> info;
        if (HRESULT hr = library->GetTypeInfo(i, info.put()); FAILED(hr)) return hr;
        TYPEATTR* attr = nullptr;
        if (HRESULT hr = info->GetTypeAttr(&attr); FAILED(hr)) return hr;
        const TYPEATTR copy = *attr;
        info->ReleaseTypeAttr(attr);
        if (!IsAutomationInterface(copy)) continue;
        BSTR name = nullptr;
        library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
        std::string text = com::Utf8(name);
        SysFreeString(name);
        out.push_back(InterfaceEntry{copy.guid, std::move(text)});
    }
    return S_OK;
}

bool Write(const std::string& key, const char* valueName, std::string_view text) {
    return com::WriteText(HKEY_CLASSES_ROOT, key, valueName, text) == ERROR_SUCCESS;
}

// Deletes a key once nothing is left beneath it.
void DeleteIfEmpty(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
    DWORD subKeys = 0, values = 0;
    const LSTATUS status = RegQueryInfoKey(handle, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                           nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    if (status == ERROR_SUCCESS && subKeys == 0 && values == 0) RegDeleteKey(HKEY_CLASSES_ROOT, key.c_str());
}

// The registered path of a library version, trying the locale given, then
// the neutral one.
bool RegisteredPath(const std::string& versionKey, LCID lcid, std::string& path) {
    for (const std::string& locale : {Hex(lcid), std::string("0")})
        if (com::ReadText(HKEY_CLASSES_ROOT, versionKey + "\\" + locale + "\\" + kPlatformKey, nullptr, path) ==
                ERROR_SUCCESS &&
            !path.empty())
            return true;
    return false;
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath || !*szFullPath) return E_INVALIDARG;
    try {
        TLIBATTR* attr = nullptr;
        if (HRESULT hr = ptlib->GetLibAttr(&attr); FAILED(hr)) return hr;
        const TLIBATTR lib = *attr;
        ptlib->ReleaseTLibAttr(attr);
        BSTR name = nullptr;
        BSTR doc = nullptr;
        ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
        // The version key shows the help string, or the name without one.
        const std::string title = com::Utf8(doc && *doc ? doc : name);
        SysFreeString(name);
        SysFreeString(doc);
        const std::string path = com::Utf8(szFullPath);
        std::string helpDir = com::Utf8(szHelpDir);
        if (helpDir.empty()) {
            const std::size_t slash = path.rfind('/');
            helpDir = slash == std::string::npos ? std::string() : path.substr(0, slash);
        }
        std::vector<InterfaceEntry> interfaces;
        if (HRESULT hr = Interfaces(ptlib, interfaces); FAILED(hr)) return hr;

        const std::string libid = com::GuidText(lib.guid);
        const std::string version = VersionText(lib.wMajorVerNum, lib.wMinorVerNum);
        const std::string versionKey = LibraryKey(lib.guid) + "\\" + version;
        bool ok = Write(versionKey, nullptr, title) &&
                  Write(versionKey + "\\FLAGS", nullptr, std::to_string(lib.wLibFlags)) &&
                  Write(versionKey + "\\" + Hex(lib.lcid) + "\\" + kPlatformKey, nullptr, path) &&
                  Write(versionKey + "\\HELPDIR", nullptr, helpDir);
        const std::string marshaler = com::GuidText(CLSID_PSOAInterface);
        for (const InterfaceEntry& entry : interfaces) {
            if (!ok) break;
            const std::string key = "Interface\\" + com::GuidText(entry.iid);
            ok = Write(key, nullptr, entry.name) && Write(key + "\\ProxyStubClsid", nullptr, marshaler) &&
                 Write(key + "\\ProxyStubClsid32", nullptr, marshaler) &&
                 Write(key + "\\TypeLib", nullptr, libid) && Write(key + "\\TypeLib", "Version", version);
        }
        return ok ? S_OK : TYPE_E_REGISTRYACCESS;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND) {
    try {
        const std::string libraryKey = LibraryKey(libID);
        const std::string versionKey = libraryKey + "\\" + VersionText(wVerMajor, wVerMinor);
        HKEY handle = nullptr;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;
        RegCloseKey(handle);
        // The interfaces are found in the registered module's library; those
        // still naming this library as theirs go with it.
        std::string path;
        std::vector<InterfaceEntry> interfaces;
        if (RegisteredPath(versionKey, lcid, path)) {
            ITypeLib* library = nullptr;
            if (SUCCEEDED(LoadTypeLib(com::Utf16(path).c_str(), &library))) {
                Interfaces(library, interfaces);
                library->Release();
            }
        }
        const std::string libid = com::GuidText(libID);
        for (const InterfaceEntry& entry : interfaces) {
            const std::string key = "Interface\\" + com::GuidText(entry.iid);
            std::string owner;
            if (com::ReadText(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr, owner) == ERROR_SUCCESS &&
                com::EqualNoCase(owner, libid))
                RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
        }
        const LSTATUS status = RegDeleteTree(HKEY_CLASSES_ROOT, versionKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return TYPE_E_REGISTRYACCESS;
        DeleteIfEmpty(libraryKey);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    try {
        const std::string libraryKey = LibraryKey(rguid);
        HKEY handle = nullptr;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            return TYPE_E_LIBNOTREGISTERED;
        // The highest minor version of that major version, not below the one asked.
        long best = -1;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (RegEnumKeyEx(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            unsigned major = 0, minor = 0;
            char tail = 0;
            if (std::sscanf(name, "%x.%x%c", &major, &minor, &tail) == 2 && major == wVerMajor && minor >= wVerMinor &&
                static_cast<long>(minor) > best)
                best = static_cast<long>(minor);
        }
        RegCloseKey(handle);
        if (best < 0) return TYPE_E_LIBNOTREGISTERED;
        std::string path;
        if (!RegisteredPath(libraryKey + "\\" + VersionText(wVerMajor, static_cast<WORD>(best)), lcid, path))
            return TYPE_E_LIBNOTREGISTERED;
        return LoadTypeLib(com::Utf16(path).c_str(), pptlib);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace calquor
