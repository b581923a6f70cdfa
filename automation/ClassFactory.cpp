// The class factory of the server's one class, and the two entry points
// that hand it out and tell whether the module may be unloaded.
#include "FormulaObject.h"
#include "ServerBuild.h"
#include "ServerModule.h"

#include <atomic>

namespace calquor::server {
namespace {

// One factory for the module's whole life: its references do not keep the
// module loaded (a client that keeps it between creations calls
// LockServer, as the component rules say).
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        return FormulaObject::Create(pUnkOuter, riid, ppvObject);
    }

    // An unlock without a lock of its own is refused
    // (E_UNEXPECTED), so that a client's surplus call cannot let the module
    // be unloaded under live objects.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        if (fLock) {
            ++m_locks;
            Lock();
            return S_OK;
        }
        long locks = m_locks.load();
        do {
            if (locks <= 0) return E_UNEXPECTED;
        } while (!m_locks.compare_exchange_weak(locks, locks - 1));
        Unlock();
        return S_OK;
    }

private:
    std::atomic<long> m_locks{0};
};

ClassFactory g_factory;

}  // namespace
}  // namespace calquor::server

using namespace calquor;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // The class table serves one class; in Calquor_MFC the request then
    // goes to the framework's own factory list, which is empty, so the
    // answer is the same.
    if (rclsid != server::kClassId) return CLASS_E_CLASSNOTAVAILABLE;
    return server::g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    // With no lock left the framework, which serves no objects, agrees.
    return server::LockCount() > 0 ? S_FALSE : S_OK;
}
