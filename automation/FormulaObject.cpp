// The automation object: identity, IDispatch, the IFormula methods and the
// object's own IDataAdapter.
#include "FormulaObject.h"

#include "ServerModule.h"

#include "Conversions.h"

#include <new>
#include <string>

namespace calquor::server {
namespace {

// 8-bit text of a BSTR received; a null BSTR is the empty string.
std::string TextOf(BSTR text) { return text ? conv::Narrow(text, SysStringLen(text)) : std::string(); }

// A new BSTR of 8-bit text, for the caller to free.
BSTR NewBstr(const std::string& text) {
    BSTR result = conv::Widen(text).copy();
    // An empty _bstr_t holds no string at all; the caller still gets one.
    if (!result) result = SysAllocString(OLESTR(""));
    if (!result) throw std::bad_alloc();
    return result;
}

// Where an [in, out] VARIANT* really points: a by-reference VARIANT is
// followed to the caller's own. One step only: a reference may not lead to
// another, and one that leads to itself must not hang the call.
VARIANT* Target(VARIANT* slot) {
    if (slot->vt == (VT_VARIANT | VT_BYREF) && slot->pvarVal) slot = slot->pvarVal;
    return slot;
}

void StoreInteger(VARIANT* slot, int value) {
    VARIANT* target = Target(slot);
    VariantClear(target);
    target->vt = VT_I4;
    target->lVal = value;
}

// Stores a BSTR the caller then owns.
void StoreText(VARIANT* slot, BSTR text) {
    VARIANT* target = Target(slot);
    VariantClear(target);
    target->vt = VT_BSTR;
    target->bstrVal = text;
}

HRESULT TypeInfoOf(REFIID iid, UINT index, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return Guarded(iid, [&] { return server::GetClientTypeInfo(iid, info); });
}

HRESULT IdsOfNames(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return Guarded(iid, [&] {
        Ref<ITypeInfo> info;
        const HRESULT hr = server::GetTypeInfo(iid, info.put());
        return FAILED(hr) ? hr : DispGetIDsOfNames(info.get(), names, count, ids);
    });
}

HRESULT InvokeOn(void* instance, REFIID iid, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return Guarded(iid, [&] {
        Ref<ITypeInfo> info;
        const HRESULT hr = server::GetTypeInfo(iid, info.put());
        return FAILED(hr) ? hr : DispInvoke(instance, info.get(), member, flags, params, result, exception, argError);
    });
}

}  // namespace

// ---- creation and identity ----

FormulaObject::FormulaObject(IUnknown* outer)
    : m_inner(*this), m_selfAdapter(*this), m_controlling(outer ? outer : &m_inner) {
    Lock();
}

FormulaObject::~FormulaObject() { Unlock(); }

HRESULT FormulaObject::Create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && (!kAutoServer || riid != IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    FormulaObject* object = nullptr;
    try {
        object = new FormulaObject(outer);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->InnerQueryInterface(riid, ppv);
    if (FAILED(hr)) delete object;
    return hr;
}

HRESULT FormulaObject::InnerQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(&m_inner);
    } else if (riid == IID_IDispatch || riid == api::IID_IFormula) {
        *ppv = static_cast<api::IFormula*>(this);
    } else if (kAutoServer && riid == api::IID_IDataAdapter) {
        *ppv = static_cast<IDataAdapter*>(&m_selfAdapter);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FormulaObject::Inner::QueryInterface(REFIID riid, void** ppv) { return m_owner.InnerQueryInterface(riid, ppv); }

ULONG STDMETHODCALLTYPE FormulaObject::Inner::AddRef() { return ++m_owner.m_cRef; }

ULONG STDMETHODCALLTYPE FormulaObject::Inner::Release() {
    const ULONG count = --m_owner.m_cRef;
    if (count == 0) delete &m_owner;
    return count;
}

HRESULT STDMETHODCALLTYPE FormulaObject::QueryInterface(REFIID riid, void** ppv) { return m_controlling->QueryInterface(riid, ppv); }

ULONG STDMETHODCALLTYPE FormulaObject::AddRef() { return m_controlling->AddRef(); }

ULONG STDMETHODCALLTYPE FormulaObject::Release() { return m_controlling->Release(); }

// ---- IDispatch ----

HRESULT STDMETHODCALLTYPE FormulaObject::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FormulaObject::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    return TypeInfoOf(api::IID_IFormula, iTInfo, ppTInfo);
}

HRESULT STDMETHODCALLTYPE FormulaObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    return IdsOfNames(api::IID_IFormula, riid, rgszNames, cNames, rgDispId);
}

HRESULT STDMETHODCALLTYPE FormulaObject::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                              VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return InvokeOn(static_cast<api::IFormula*>(this), api::IID_IFormula, dispIdMember, riid, wFlags, pDispParams,
                    pVarResult, pExcepInfo, puArgErr);
}

// ---- IFormula ----

HRESULT STDMETHODCALLTYPE FormulaObject::SetFormulaStr(BSTR FormulaString) {
    return Guarded(api::IID_IFormula, [&] {
        m_engine.SetFormulaStr(TextOf(FormulaString).c_str());
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FormulaObject::Compile(VARIANT* ErrPos, VARIANT* MSG) {
    if (!ErrPos || !MSG) return E_POINTER;
    return Guarded(api::IID_IFormula, [&] {
        int pos = 0;
        std::string message;
        // Success shows in the message ("Succeed"), not in a result.
        m_engine.Compile(pos, message);
        BSTR text = NewBstr(message);
        StoreInteger(ErrPos, pos);
        StoreText(MSG, text);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FormulaObject::Calculate(VARIANT* ErrPos, VARIANT* MSG, VARIANT* Result) {
    if (!ErrPos || !MSG || !Result) return E_POINTER;
    VariantInit(Result);
    return Guarded(api::IID_IFormula, [&] {
        int code = 0;
        std::string message;
        _variant_t value = m_engine.Calculate(code, message);
        VARIANT result;
        VariantInit(&result);
        if (kAutoServer && (value.vt == varString || value.vt == VT_BSTR)) {
            // The engine's own 8-bit text never crosses the interface.
            conv::Check(rtl::VarCast(&result, &value, 0, VT_BSTR));
        } else {
            result = value.Detach();
        }
        BSTR text = nullptr;
        try {
            text = NewBstr(message);
        } catch (...) {
            VariantClear(&result);
            throw;
        }
        StoreInteger(ErrPos, code);
        StoreText(MSG, text);
        *Result = result;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FormulaObject::SetDataAdapter(IDispatch* adapter) {
    return Guarded(api::IID_IFormula, [&] {
        IDataAdapter* dataAdapter = nullptr;
        if (adapter) {
            void* found = nullptr;
            if (SUCCEEDED(adapter->QueryInterface(api::IID_IDataAdapter, &found)))
                dataAdapter = static_cast<IDataAdapter*>(found);
        }
        // The engine takes its own reference; this query's is given back.
        m_engine.SetDataAdapter(dataAdapter);
        if (dataAdapter) dataAdapter->Release();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FormulaObject::GetFormulaStr(BSTR* pFormula) {
    if (!pFormula) return E_POINTER;
    *pFormula = nullptr;
    return Guarded(api::IID_IFormula, [&] {
        *pFormula = NewBstr(m_engine.GetFormulaStr());
        return S_OK;
    });
}

// ---- the object's own IDataAdapter ----

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::QueryInterface(REFIID riid, void** ppv) {
    return m_owner.QueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE FormulaObject::SelfAdapter::AddRef() { return m_owner.AddRef(); }

ULONG STDMETHODCALLTYPE FormulaObject::SelfAdapter::Release() { return m_owner.Release(); }

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::GetTypeInfoCount(UINT* pctinfo) { return m_owner.GetTypeInfoCount(pctinfo); }

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    return TypeInfoOf(api::IID_IDataAdapter, iTInfo, ppTInfo);
}

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                                  DISPID* rgDispId) {
    return IdsOfNames(api::IID_IDataAdapter, riid, rgszNames, cNames, rgDispId);
}

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) {
    return InvokeOn(static_cast<IDataAdapter*>(this), api::IID_IDataAdapter, dispIdMember, riid, wFlags, pDispParams,
                    pVarResult, pExcepInfo, puArgErr);
}

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::GetOperantValue(BSTR, VARIANT* Value) {
    if (!Value) return E_POINTER;
    VariantInit(Value);
    Value->bstrVal = SysAllocString(OLESTR(""));
    if (!Value->bstrVal) return E_OUTOFMEMORY;
    Value->vt = VT_BSTR;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::GetFormulaByName(BSTR, BSTR* Value) {
    if (!Value) return E_POINTER;
    *Value = SysAllocString(OLESTR(""));
    return *Value ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE FormulaObject::SelfAdapter::IsKnown(BSTR, VARIANT* bKnown) {
    if (!bKnown) return E_POINTER;
    VariantInit(bKnown);
    bKnown->vt = VT_BOOL;
    bKnown->boolVal = VARIANT_TRUE;
    return S_OK;
}

}  // namespace calquor::server
