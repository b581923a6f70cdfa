// Error information: the error object and the calling thread's slot.
#include <calquor/oleauto.h>

#include "com_text.h"

#include <atomic>
#include <new>
#include <string>

namespace calquor {
namespace {

// One object answers both interfaces, as the system's error object does.
class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG count = --m_cRef;
        if (count == 0) delete this;
        return count;
    }

    HRESULT GetGUID(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        *pGUID = m_guid;
        return S_OK;
    }
    HRESULT GetSource(BSTR* out) override { return Give(m_source, out); }
    HRESULT GetDescription(BSTR* out) override { return Give(m_description, out); }
    HRESULT GetHelpFile(BSTR* out) override { return Give(m_helpFile, out); }
    HRESULT GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        *out = m_helpContext;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID rguid) override {
        m_guid = rguid;
        return S_OK;
    }
    HRESULT SetSource(LPCOLESTR text) override { return Take(m_source, text); }
    HRESULT SetDescription(LPCOLESTR text) override { return Take(m_description, text); }
    HRESULT SetHelpFile(LPCOLESTR text) override { return Take(m_helpFile, text); }
    HRESULT SetHelpContext(DWORD context) override {
        m_helpContext = context;
        return S_OK;
    }

private:
    // A field never set (or set empty) comes back as a null BSTR.
    static HRESULT Give(const std::u16string& text, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (text.empty()) return S_OK;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Take(std::u16string& field, LPCOLESTR text) {
        try {
            field = text ? text : u"";
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    std::atomic<ULONG> m_cRef{1};
    GUID m_guid = GUID_NULL;
    std::u16string m_source;
    std::u16string m_description;
    std::u16string m_helpFile;
    DWORD m_helpContext = 0;
};

// The thread's error object; released when the thread ends.
struct ThreadSlot {
    IErrorInfo* info = nullptr;
    ~ThreadSlot() {
        if (info) info->Release();
    }
};
thread_local ThreadSlot t_slot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    auto* object = new (std::nothrow) ErrorObject;
    *pperrinfo = object;
    return object ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    if (perrinfo) perrinfo->AddRef();
    IErrorInfo* old = t_slot.info;
    t_slot.info = perrinfo;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
    *pperrinfo = t_slot.info;
    t_slot.info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}

}  // namespace calquor
