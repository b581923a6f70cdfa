// Module state shared by the object, the factory and registration.
#include "ServerModule.h"

#include "Limits.h"
#include "OleText.h"
#include "ServerBuild.h"

#include <atomic>
#include <exception>
#include <string>
#include <mutex>

namespace calquor::server {
namespace {

std::atomic<long> g_lockCount{0};

// An address inside this module, to find the module by.
const char kModuleAnchor = 0;

// The type library built from this module's tables. Released when the
// module is unloaded (the copy holds the tables' method stubs).
struct CachedTypeLib {
    std::mutex mutex;
    ITypeLib* library = nullptr;
    ~CachedTypeLib() {
        if (library) library->Release();
    }
};
CachedTypeLib g_typeLib;

// The text of the exception being handled.
std::string CurrentMessage() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (const _com_error& error) {
        return error.ErrorMessage();
    } catch (...) {
        return "Unknown exception";
    }
}

}  // namespace

void Lock() noexcept { ++g_lockCount; }

void Unlock() noexcept { --g_lockCount; }

long LockCount() noexcept { return g_lockCount.load(); }

std::string ModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           &kModuleAnchor, &module))
        return {};
    char path[4096];
    const DWORD length = GetModuleFileName(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return {};
    return std::string(path, length);
}

std::string GuidText(REFGUID guid) {
    OLECHAR wide[39];
    StringFromGUID2(guid, wide, 39);
    std::string text;
    for (int i = 0; i < 38; ++i) text += static_cast<char>(wide[i]);  // the form is ASCII
    return text;
}

LSTATUS SetKeyText(const std::string& key, const char* valueName, const std::string& text) {
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                    nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueEx(handle, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
    RegCloseKey(handle);
    return status;
}

HRESULT GetTypeLib(ITypeLib** library) {
    if (!library) return E_POINTER;
    *library = nullptr;
    std::lock_guard<std::mutex> guard(g_typeLib.mutex);
    if (!g_typeLib.library) {
        const HRESULT hr = LoadModuleTypeLib(&g_typeLib.library);
        if (FAILED(hr)) return hr;
    }
    g_typeLib.library->AddRef();
    *library = g_typeLib.library;
    return S_OK;
}

namespace {

// The type information of one type of the library that load gives (it fills
// its ITypeLib** argument and returns an HRESULT).
template <class Load>
HRESULT TypeInfoFrom(Load&& load, REFGUID type, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* library = nullptr;
    HRESULT hr = load(&library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(type, info);
    library->Release();
    return hr;
}

}  // namespace

HRESULT GetTypeInfo(REFGUID type, ITypeInfo** info) { return TypeInfoFrom(GetTypeLib, type, info); }

HRESULT GetClientTypeInfo(REFGUID type, ITypeInfo** info) {
    return TypeInfoFrom(
        [](ITypeLib** library) {
            const std::string path = ModulePath();
            return path.empty() ? E_UNEXPECTED : LoadTypeLib(oletext::Wide(path).c_str(), library);
        },
        type, info);
}

HRESULT ReportException(REFIID iid) noexcept {
    try {
        try {
            throw;
        } catch (const LimitExceeded&) {
            // A calculation past its limits: memory is left to describe it.
            throw;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const _com_error& error) {
            if (error.Error() == E_OUTOFMEMORY) return E_OUTOFMEMORY;
            throw;
        }
    } catch (...) {
    }
    try {
        const oletext::OleString description = oletext::Wide(CurrentMessage());
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetGUID(iid);
            create->SetSource(const_cast<LPOLESTR>(kProgId));
            create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
            void* info = nullptr;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, &info))) {
                SetErrorInfo(0, static_cast<IErrorInfo*>(info));
                static_cast<IErrorInfo*>(info)->Release();
            }
            create->Release();
        }
    } catch (...) {
        // Without memory for the description the code alone must do.
    }
    return DISP_E_EXCEPTION;
}

}  // namespace calquor::server
