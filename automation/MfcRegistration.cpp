// Registration of Calquor_MFC: the registry scripts 3000 (the application
// identifier) and 3001 (the class), run by the registrar with %MODULE% and
// %APPID%, the type library, and the framework's steps with their fixed
// error codes.
#include "FrameworkRegistration.h"
#include "ServerBuild.h"
#include "ServerModule.h"

#include <calquor/Calquor_MFC.h>

#include <string>

namespace calquor::server {
namespace {

constexpr GUID kAppId = {0x1CDBAD04, 0x925B, 0x41B7, {0x90, 0x4E, 0x9D, 0x6B, 0x0D, 0x70, 0x93, 0xE2}};

// The registry scripts are resources of type "REGISTRY" with these numbers
// (Calquor_MFC_3000.rgs and Calquor_MFC_3001.rgs).
constexpr UINT kAppIdScript = 3000;
constexpr UINT kClassScript = 3001;

// A registrar with the two replacements of this module's scripts.
HRESULT NewRegistrar(const oletext::OleString& modulePath, IRegistrar** registrar) {
    void* created = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, &created);
    if (FAILED(hr)) return hr;
    *registrar = static_cast<IRegistrar*>(created);
    const oletext::OleString appId = framework::Wide(GuidText(kAppId));
    hr = (*registrar)->AddReplacement(OLESTR("MODULE"), modulePath.c_str());
    if (SUCCEEDED(hr)) hr = (*registrar)->AddReplacement(OLESTR("APPID"), appId.c_str());
    if (FAILED(hr)) {
        (*registrar)->Release();
        *registrar = nullptr;
    }
    return hr;
}

HRESULT RunScript(IRegistrar* registrar, const oletext::OleString& modulePath, UINT id, bool registering) {
    return registering ? registrar->ResourceRegister(modulePath.c_str(), id, OLESTR("REGISTRY"))
                       : registrar->ResourceUnregister(modulePath.c_str(), id, OLESTR("REGISTRY"));
}

// Step 2: every class of the class table (script 3001), then the type
// library.
HRESULT UpdateServer(IRegistrar* registrar, const oletext::OleString& modulePath, bool registering) {
    HRESULT hr = RunScript(registrar, modulePath, kClassScript, registering);
    if (FAILED(hr)) return hr;
    if (!registering) {
        // Already gone is what unregistering wants.
        return framework::UnregisterTypeLibIfPresent(kLibraryId, kLibraryMajor, kLibraryMinor);
    }
    Ref<ITypeLib> library;
    hr = LoadTypeLib(modulePath.c_str(), library.put());
    if (FAILED(hr)) return hr;
    const oletext::OleString directory = framework::Wide(oletext::DirectoryOf(ModulePath()));
    return RegisterTypeLib(library.get(), modulePath.c_str(), directory.c_str());
}

HRESULT UpdateRegistration(bool registering) {
    const std::string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    const oletext::OleString modulePath = framework::Wide(path);
    Ref<IRegistrar> registrar;
    HRESULT hr = NewRegistrar(modulePath, registrar.put());
    if (FAILED(hr)) return hr;
    // Step 1, the application identifier: its result is not checked, as in
    // the framework's own server code.
    RunScript(registrar.get(), modulePath, kAppIdScript, registering);
    hr = UpdateServer(registrar.get(), modulePath, registering);
    if (FAILED(hr)) return hr;
    const bool typeLib = registering ? framework::RegisterTypeLib(path, kLibraryId)
                                     : framework::UnregisterTypeLib(kLibraryId, kLibraryMajor, kLibraryMinor);
    if (!typeLib) return SELFREG_E_TYPELIB;
    if (!framework::UpdateRegistryAll(registering)) return SELFREG_E_CLASS;
    return S_OK;
}

}  // namespace
}  // namespace calquor::server

using namespace calquor;

STDAPI DllRegisterServer() {
    return server::Guarded(IID_NULL, [] { return server::UpdateRegistration(true); });
}

STDAPI DllUnregisterServer() {
    return server::Guarded(IID_NULL, [] { return server::UpdateRegistration(false); });
}
