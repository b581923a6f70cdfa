// Registration of Calquor_MFC: the registry scripts 3000 (the application
// identifier) and 3001 (the class), run by the registrar with %MODULE% and
// %APPID%, the type library, and the framework's steps with their fixed
// error codes. Also the module's resource table.
#include "FrameworkRegistration.h"
#include "ServerBuild.h"
#include "ServerModule.h"

#include <calquor/Calquor_MFC.h>

#include <string>

namespace calquor::server {
namespace {

constexpr GUID kAppId = {0x1CDBAD04, 0x925B, 0x41B7, {0x90, 0x4E, 0x9D, 0x6B, 0x0D, 0x70, 0x93, 0xE2}};

constexpr UINT kAppIdScript = 3000;
constexpr UINT kClassScript = 3001;

constexpr char kAppIdScriptText[] = R"(HKCR
{
	NoRemove AppID
	{
		'%APPID%' = s 'Calquor_MFC'
		'Calquor_MFC.DLL'
		{
			val AppID = s '%APPID%'
		}
	}
}
)";

constexpr char kClassScriptText[] = R"(HKCR
{
	Calquor.Calquom.1 = s 'Calquom Class'
	{
		CLSID = s '{290E0061-6BC4-4938-9158-DB4FFAF8420A}'
	}
	Calquor.Calquom = s 'Calquom Class'
	{
		CLSID = s '{290E0061-6BC4-4938-9158-DB4FFAF8420A}'
		CurVer = s 'Calquor.Calquom.1'
	}
	NoRemove CLSID
	{
		ForceRemove {290E0061-6BC4-4938-9158-DB4FFAF8420A} = s 'Calquom Class'
		{
			ProgID = s 'Calquor.Calquom.1'
			VersionIndependentProgID = s 'Calquor.Calquom'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{E9484273-A437-4D19-9E57-D2330DCB4399}'
			val AppID = s '%APPID%'
		}
	}
}
)";

// A registrar with the two replacements of this module's scripts.
HRESULT NewRegistrar(const std::u16string& modulePath, IRegistrar** registrar) {
    void* created = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, &created);
    if (FAILED(hr)) return hr;
    *registrar = static_cast<IRegistrar*>(created);
    const std::u16string appId = framework::Wide(GuidText(kAppId));
    hr = (*registrar)->AddReplacement(u"MODULE", modulePath.c_str());
    if (SUCCEEDED(hr)) hr = (*registrar)->AddReplacement(u"APPID", appId.c_str());
    if (FAILED(hr)) {
        (*registrar)->Release();
        *registrar = nullptr;
    }
    return hr;
}

HRESULT RunScript(IRegistrar* registrar, const std::u16string& modulePath, UINT id, bool registering) {
    return registering ? registrar->ResourceRegister(modulePath.c_str(), id, u"REGISTRY")
                       : registrar->ResourceUnregister(modulePath.c_str(), id, u"REGISTRY");
}

// Step 2: every class of the class table (script 3001), then the type
// library.
HRESULT UpdateServer(IRegistrar* registrar, const std::u16string& modulePath, bool registering) {
    HRESULT hr = RunScript(registrar, modulePath, kClassScript, registering);
    if (FAILED(hr)) return hr;
    if (!registering) {
        hr = UnRegisterTypeLib(kLibraryId, kLibraryMajor, kLibraryMinor, 0, SYS_WIN64);
        // Already gone is what unregistering wants.
        return hr == TYPE_E_REGISTRYACCESS ? S_OK : hr;
    }
    Ref<ITypeLib> library;
    hr = LoadTypeLib(modulePath.c_str(), library.put());
    if (FAILED(hr)) return hr;
    const std::size_t slash = modulePath.rfind(u'/');
    const std::u16string directory = slash == std::u16string::npos ? std::u16string() : modulePath.substr(0, slash);
    return RegisterTypeLib(library.get(), modulePath.c_str(), directory.c_str());
}

HRESULT UpdateRegistration(bool registering) {
    const std::string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    const std::u16string modulePath = framework::Wide(path);
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

HRESULT DllRegisterServer() {
    return server::Guarded(IID_NULL, [] { return server::UpdateRegistration(true); });
}

HRESULT DllUnregisterServer() {
    return server::Guarded(IID_NULL, [] { return server::UpdateRegistration(false); });
}

const MODULERESOURCE* CalquorModuleResources(UINT* pcEntries) {
    static const MODULERESOURCE resources[] = {
        {"TYPELIB", 1, &server::TypeLibraryData(), sizeof(TLBLIBDATA)},
        {"REGISTRY", server::kAppIdScript, server::kAppIdScriptText, sizeof server::kAppIdScriptText - 1},
        {"REGISTRY", server::kClassScript, server::kClassScriptText, sizeof server::kClassScriptText - 1},
    };
    if (pcEntries) *pcEntries = sizeof resources / sizeof resources[0];
    return resources;
}
