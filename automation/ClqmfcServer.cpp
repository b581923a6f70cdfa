// The in-process server entry points of the plain CLQMFC library. It serves
// no class; registration registers (and unregisters) only its empty type
// library, with the framework's two error codes.
#include "FrameworkRegistration.h"

#include <calquor/oleauto.h>

#include <new>

namespace calquor::plain {
namespace {

// The library's identifier (CLQMFC.idl on Windows).
constexpr GUID kLibraryId = {0x95F4BC34, 0x7AAF, 0x426E, {0x97, 0xF8, 0x52, 0x3C, 0x85, 0x6B, 0xB9, 0x13}};

const char kModuleAnchor = 0;

template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace
}  // namespace calquor::plain

using namespace calquor;

STDAPI DllGetClassObject(REFCLSID, REFIID, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return S_OK; }

STDAPI DllRegisterServer() {
    return plain::Guarded([]() -> HRESULT {
        if (!framework::RegisterTypeLib(framework::ModulePathOf(&plain::kModuleAnchor), plain::kLibraryId))
            return SELFREG_E_TYPELIB;
        if (!framework::UpdateRegistryAll(true)) return SELFREG_E_CLASS;
        return S_OK;
    });
}

STDAPI DllUnregisterServer() {
    return plain::Guarded([]() -> HRESULT {
        if (!framework::UnregisterTypeLib(plain::kLibraryId, 1, 0)) return SELFREG_E_TYPELIB;
        if (!framework::UpdateRegistryAll(false)) return SELFREG_E_CLASS;
        return S_OK;
    });
}
