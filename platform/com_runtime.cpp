// Creating objects: apartments (stand-ins), class lookup in the registry,
// loading and unloading in-process servers, programmatic identifiers.
#include <calquor/oleauto.h>

#include "com_builtin.h"
#include "com_text.h"

#include <map>
#include <mutex>
#include <new>
#include <string>

namespace calquor {
namespace {

thread_local int t_initialised = 0;

// A server module loaded for its classes, with its two entry points.
struct Server {
    HMODULE module = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;
};

// Loaded servers by path. Recursive: a server may create objects of other
// servers while it is asked for a class object or whether it can unload.
std::recursive_mutex g_serversMutex;
std::map<std::string, Server> g_servers;

// The registered module of a class.
HRESULT ServerPath(REFCLSID clsid, std::string& path) {
    const std::string key = "CLSID\\" + com::GuidText(clsid) + "\\InprocServer32";
    if (com::ReadText(HKEY_CLASSES_ROOT, key, nullptr, path) != ERROR_SUCCESS || path.empty())
        return REGDB_E_CLASSNOTREG;
    return S_OK;
}

// The loaded server of that path, loading it on first use. Call with the
// lock held.
HRESULT LoadServer(const std::string& path, Server*& server) {
    const auto found = g_servers.find(path);
    if (found != g_servers.end()) {
        server = &found->second;
        return S_OK;
    }
    Server loaded;
    loaded.module = LoadLibrary(path.c_str());
    if (!loaded.module) return CO_E_DLLNOTFOUND;
    loaded.getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(loaded.module, "DllGetClassObject"));
    loaded.canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(loaded.module, "DllCanUnloadNow"));
    if (!loaded.getClassObject) {
        FreeLibrary(loaded.module);
        return CO_E_ERRORINDLL;
    }
    try {
        server = &g_servers.emplace(path, loaded).first->second;
    } catch (...) {
        FreeLibrary(loaded.module);
        throw;
    }
    return S_OK;
}

HRESULT TaskCopy(const std::string& text, LPOLESTR* out) {
    const std::u16string wide = com::Utf16(text);
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!*out) return E_OUTOFMEMORY;
    wide.copy(*out, wide.size());
    (*out)[wide.size()] = u'\0';
    return S_OK;
}

}  // namespace

HRESULT CoInitialize(void* pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return t_initialised++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (t_initialised > 0) --t_initialised;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid, void** ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    try {
        if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
        if (rclsid == CLSID_Registrar) return com::GetRegistrarClassObject(riid, ppv);
        std::string path;
        if (const HRESULT hr = ServerPath(rclsid, path); FAILED(hr)) return hr;
        std::lock_guard<std::recursive_mutex> guard(g_serversMutex);
        Server* server = nullptr;
        if (const HRESULT hr = LoadServer(path, server); FAILED(hr)) return hr;
        const HRESULT hr = server->getClassObject(rclsid, riid, ppv);
        if (FAILED(hr)) *ppv = nullptr;
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    void* raw = nullptr;
    const HRESULT found = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, &raw);
    if (FAILED(found)) return found;
    com::Ref<IClassFactory> factory(static_cast<IClassFactory*>(raw));
    const HRESULT hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

void CoFreeUnusedLibraries() {
    std::lock_guard<std::recursive_mutex> guard(g_serversMutex);
    for (auto it = g_servers.begin(); it != g_servers.end();) {
        const Server& server = it->second;
        if (server.canUnloadNow && server.canUnloadNow() == S_OK) {
            FreeLibrary(server.module);
            it = g_servers.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpclsid || !lpszProgID) return E_INVALIDARG;
    *lpclsid = GUID_NULL;
    try {
        const std::string progId = com::Utf8(lpszProgID);
        if (progId.empty() || progId.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
        std::string text;
        if (com::ReadText(HKEY_CLASSES_ROOT, progId + "\\CLSID", nullptr, text) != ERROR_SUCCESS)
            return CO_E_CLASSSTRING;
        return com::ParseGuid(com::Utf16(text), *lpclsid) ? S_OK : CO_E_CLASSSTRING;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    try {
        std::string text;
        if (com::ReadText(HKEY_CLASSES_ROOT, "CLSID\\" + com::GuidText(clsid) + "\\ProgID", nullptr, text) !=
                ERROR_SUCCESS ||
            text.empty())
            return REGDB_E_CLASSNOTREG;
        return TaskCopy(text, lplpszProgID);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace calquor
