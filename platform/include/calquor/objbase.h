// Component services of the automation runtime stand-in: GUIDs and their text
// form, the class factory, in-process server loading (CoCreateInstance,
// CoGetClassObject, CoFreeUnusedLibraries), programmatic identifiers, module
// handles and module resources. Names, values and signatures follow the
// Windows headers (objbase.h, combaseapi.h, libloaderapi.h).
//
// Conventions of the stand-in: a module is a shared object; its handle is the
// dlopen handle. Module resources (what Windows keeps in the resource
// section: type libraries, registry scripts) are a constant table that the
// module exports under the C name CalquorModuleResources.
#pragma once

#include <calquor/unknwn.h>
#include <calquor/wtypes.h>

namespace calquor {

// ---- Result codes of the component services ---------------------------------
inline constexpr HRESULT NOERROR = S_OK;
inline constexpr HRESULT REGDB_E_IIDNOTREG = static_cast<HRESULT>(0x80040155u);
inline constexpr HRESULT CO_E_IIDSTRING = static_cast<HRESULT>(0x800401F4u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);

// The HRESULT that carries a system error code (a registry LSTATUS, say).
constexpr HRESULT HRESULT_FROM_WIN32(long x) {
    return x <= 0 ? static_cast<HRESULT>(x)
                  : static_cast<HRESULT>((static_cast<unsigned long>(x) & 0x0000FFFFu) | 0x80070000u);
}

// ---- GUIDs -----------------------------------------------------------------
using LPGUID = GUID*;
using LPCLSID = CLSID*;
using LPIID = IID*;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
constexpr bool operator==(const GUID& a, const GUID& b) { return IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The text form in braces, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with
// upper-case digits. Writes 39 characters (terminator included) and returns
// 39, or returns 0 and writes nothing when cchMax is smaller.
CALQUOR_PLATFORM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// Reads the text form in braces (digits in either case). Any other text is
// looked up as a programmatic identifier, as Windows does. CO_E_CLASSSTRING
// when it is neither; *pclsid is then GUID_NULL.
CALQUOR_PLATFORM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
// The braces form only.
CALQUOR_PLATFORM_API HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
// A new string from CoTaskMemAlloc that the caller frees with CoTaskMemFree.
CALQUOR_PLATFORM_API HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
CALQUOR_PLATFORM_API HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);

// Task memory: what the runtime hands back and the caller frees.
CALQUOR_PLATFORM_API void* CoTaskMemAlloc(std::size_t cb);
CALQUOR_PLATFORM_API void CoTaskMemFree(void* pv);

// ---- The class factory ---------------------------------------------------------
struct CALQUOR_PLATFORM_API IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// ---- Apartments --------------------------------------------------------------
// Stand-ins: the runtime needs no per-thread set-up. CoInitialize answers
// S_OK the first time on a thread and S_FALSE after that, as Windows does;
// every successful call is balanced by one CoUninitialize.
enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
};
CALQUOR_PLATFORM_API HRESULT CoInitialize(void* pvReserved);
CALQUOR_PLATFORM_API HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
CALQUOR_PLATFORM_API void CoUninitialize();

// ---- Creating objects ------------------------------------------------------------
enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER
};
struct COSERVERINFO;

// The class's factory. Only in-process servers exist here: the module named
// by HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 is loaded (once; it stays
// loaded until CoFreeUnusedLibraries finds it unused) and asked through its
// DllGetClassObject. The runtime's own classes (the registrar) are served
// without the registry. REGDB_E_CLASSNOTREG when the class is not registered
// or dwClsContext has no in-process server; CO_E_DLLNOTFOUND when the module
// cannot be loaded; CO_E_ERRORINDLL when it has no DllGetClassObject.
CALQUOR_PLATFORM_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                                              REFIID riid, void** ppv);
// CoGetClassObject for IClassFactory, then CreateInstance. *ppv is null on
// every failure.
CALQUOR_PLATFORM_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                              REFIID riid, void** ppv);
// Unloads every module loaded by CoGetClassObject whose DllCanUnloadNow
// answers S_OK.
CALQUOR_PLATFORM_API void CoFreeUnusedLibraries();

// HKEY_CLASSES_ROOT\<progid>\CLSID. CO_E_CLASSSTRING when the identifier is
// not registered (or the entry holds no class identifier).
CALQUOR_PLATFORM_API HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID, as a CoTaskMemAlloc string.
// REGDB_E_CLASSNOTREG when the class has none.
CALQUOR_PLATFORM_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// ---- Modules --------------------------------------------------------------------
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using FARPROC = void (*)();

inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

// Loads a module by path (UTF-8); null when it cannot be loaded. Each
// successful load is balanced by one FreeLibrary.
CALQUOR_PLATFORM_API HMODULE LoadLibrary(const char* lpLibFileName);
CALQUOR_PLATFORM_API BOOL FreeLibrary(HMODULE hLibModule);
CALQUOR_PLATFORM_API FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, lpModuleName is an address
// inside the module wanted (a module finds itself this way). Without
// UNCHANGED_REFCOUNT the handle carries a load to be freed with FreeLibrary.
CALQUOR_PLATFORM_API BOOL GetModuleHandleEx(DWORD dwFlags, const char* lpModuleName, HMODULE* phModule);
// The module's full path (UTF-8, symbolic links resolved). Returns the
// length copied without terminator; when the buffer is too small the path is
// cut to nSize - 1 characters, terminated, and nSize is returned. 0 on failure.
CALQUOR_PLATFORM_API DWORD GetModuleFileName(HMODULE hModule, char* lpFilename, DWORD nSize);

// ---- Module resources -------------------------------------------------------------
// One resource: its type ("TYPELIB", "REGISTRY"), its number and its data.
// A "TYPELIB" resource is a TLBLIBDATA (oaidl.h); a "REGISTRY" resource is
// the script text in UTF-8, cbData bytes without terminator.
struct MODULERESOURCE {
    const char* pszType;
    UINT nID;
    const void* pData;
    DWORD cbData;
};
using HRSRC = const MODULERESOURCE*;

// The resource of that type (compared without regard to case) and number in
// the module, or null.
CALQUOR_PLATFORM_API HRSRC FindResource(HMODULE hModule, UINT nID, const char* lpType);
CALQUOR_PLATFORM_API const void* LockResource(HRSRC hResInfo);
CALQUOR_PLATFORM_API DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);

}  // namespace calquor

// Default visibility and C linkage for what a module exports to the runtime.
#define CALQUOR_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
// How a module defines its exported entry points, as on Windows.
#define STDAPI extern "C" calquor::HRESULT

// The exports a server module provides, with the Windows signatures.
// CalquorModuleResources returns the module's resource table and its size.
CALQUOR_MODULE_EXPORT calquor::HRESULT DllGetClassObject(calquor::REFCLSID rclsid, calquor::REFIID riid,
                                                         void** ppv);
CALQUOR_MODULE_EXPORT calquor::HRESULT DllCanUnloadNow();
CALQUOR_MODULE_EXPORT calquor::HRESULT DllRegisterServer();
CALQUOR_MODULE_EXPORT calquor::HRESULT DllUnregisterServer();
CALQUOR_MODULE_EXPORT const calquor::MODULERESOURCE* CalquorModuleResources(calquor::UINT* pcEntries);

namespace calquor {
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT (*)();
using LPFNREGISTERSERVER = HRESULT (*)();
using LPFNMODULERESOURCES = const MODULERESOURCE* (*)(UINT*);
}  // namespace calquor
