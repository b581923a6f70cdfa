// Registration of Calquor_Auto: the class's entries written by code, in
// this order, then the type library loaded from the module's own path.
// Unregistration deletes the class key and the programmatic identifier with
// everything beneath them and unregisters the type library.
#include "FrameworkRegistration.h"
#include "OleText.h"
#include "ServerBuild.h"
#include "ServerModule.h"

#include <calquor/Calquor_Auto.h>

#include <string>

namespace calquor::server {
namespace {

constexpr const char* kProgIdText = "Calquor.Formula";

using oletext::Narrow;
using oletext::Wide;

// The class's description: the coclass's help string in the type library.
HRESULT ClassDescription(ITypeLib* library, std::string& description) {
    ITypeInfo* info = nullptr;
    HRESULT hr = library->GetTypeInfoOfGuid(kClassId, &info);
    if (FAILED(hr)) return hr;
    BSTR doc = nullptr;
    hr = info->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
    info->Release();
    if (FAILED(hr)) return hr;
    description = Narrow(doc);
    SysFreeString(doc);
    return S_OK;
}

HRESULT Register() {
    const std::string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    const oletext::OleString widePath = Wide(path);
    Ref<ITypeLib> library;
    HRESULT hr = LoadTypeLib(widePath.c_str(), library.put());
    if (FAILED(hr)) return hr;
    std::string description;
    hr = ClassDescription(library.get(), description);
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(hr)) hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const std::string version = std::to_string(attr->wMajorVerNum) + "." + std::to_string(attr->wMinorVerNum);
    library->ReleaseTLibAttr(attr);

    const std::string clsid = GuidText(kClassId);
    const std::string classKey = "CLSID\\" + clsid;
    struct Entry {
        std::string key;
        const char* valueName;
        std::string text;
    };
    const Entry entries[] = {
        {classKey, nullptr, description},
        {classKey + "\\InprocServer32", nullptr, path},
        {classKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {kProgIdText, nullptr, description},
        {std::string(kProgIdText) + "\\CLSID", nullptr, clsid},
        {classKey + "\\ProgID", nullptr, kProgIdText},
        {classKey + "\\Version", nullptr, version},
        {classKey + "\\Typelib", nullptr, GuidText(kLibraryId)},
    };
    for (const Entry& entry : entries) {
        const LSTATUS status = SetKeyText(entry.key, entry.valueName, entry.text);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    }
    return RegisterTypeLib(library.get(), widePath.c_str(), nullptr);
}

// What is already gone counts as removed, so unregistering
// twice succeeds.
HRESULT Unregister() {
    const std::string classKey = "CLSID\\" + GuidText(kClassId);
    for (const std::string& key : {classKey, std::string(kProgIdText)}) {
        const LSTATUS status = RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
    }
    return framework::UnregisterTypeLibIfPresent(kLibraryId, kLibraryMajor, kLibraryMinor);
}

}  // namespace
}  // namespace calquor::server

using namespace calquor;

STDAPI DllRegisterServer() { return server::Guarded(IID_NULL, [] { return server::Register(); }); }

STDAPI DllUnregisterServer() { return server::Guarded(IID_NULL, [] { return server::Unregister(); }); }
