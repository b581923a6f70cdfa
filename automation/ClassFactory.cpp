// The class factory of the server's one class, and the two entry points
// that hand it out and tell whether the module may be unloaded.
#include "FormulaObject.h"
#include "ServerBuild.h"
#include "ServerModule.h"

namespace calquor::server {
namespace {

// One factory for the module's whole life: its references do not keep the
// module loaded (a client that keeps it between creations calls
// LockServer, as the component rules say).
class ClassFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        return FormulaObject::Create(pUnkOuter, riid, ppvObject);
    }

    HRESULT LockServer(BOOL fLock) override {
        if (fLock)
            Lock();
        else
            Unlock();
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace
}  // namespace calquor::server

using namespace calquor;

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // The class table serves one class; in Calquor_MFC the request then
    // goes to the framework's own factory list, which is empty, so the
    // answer is the same.
    if (rclsid != server::kClassId) return CLASS_E_CLASSNOTAVAILABLE;
    return server::g_factory.QueryInterface(riid, ppv);
}

HRESULT DllCanUnloadNow() {
    // With no lock left the framework, which serves no objects, agrees.
    return server::LockCount() > 0 ? S_FALSE : S_OK;
}
