// Reference counting and interface lookup shared by the runtime's own
// objects that answer IUnknown and one interface.
#pragma once

#include <calquor/oleauto.h>

#include <atomic>

namespace calquor::com {

// The count starts at one, the creator's reference; the last Release
// deletes the object.
template <class Interface>
class ComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == m_iid) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG count = --m_cRef;
        if (count == 0) delete this;
        return count;
    }

protected:
    explicit ComObject(const IID& iid) : m_iid(iid) {}
    virtual ~ComObject() = default;

private:
    const IID m_iid;
    std::atomic<ULONG> m_cRef{1};
};

}  // namespace calquor::com
