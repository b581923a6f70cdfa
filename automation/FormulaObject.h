// The automation object: IFormula over one engine.
//
// Reference counting is plain (the object is apartment-threaded). While the
// object lives the module's lock count is raised by one. When aggregated
// (Calquor_Auto only) its IUnknown calls go to the outer object and the
// outer object holds the inner unknown, which alone controls the lifetime.
#pragma once

#include "ServerBuild.h"

#include <calquor/Calquex.h>
#include <calquor/oleauto.h>

namespace calquor::server {

class FormulaObject final : public api::IFormula {
public:
    // Creates an object with outer as its controlling unknown (null: not
    // aggregated) and queries it for riid, which takes the first reference;
    // the object is destroyed at once when that query fails. An aggregated
    // object can only be asked for IID_IUnknown (CLASS_E_NOAGGREGATION).
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    // IUnknown, delegated to the controlling unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch over the IFormula type information.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IFormula. A null out-pointer gives E_POINTER; everything else
    // succeeds, with formula errors in ErrPos and MSG.
    HRESULT STDMETHODCALLTYPE SetFormulaStr(BSTR FormulaString) override;
    HRESULT STDMETHODCALLTYPE Compile(VARIANT* ErrPos, VARIANT* MSG) override;
    HRESULT STDMETHODCALLTYPE Calculate(VARIANT* ErrPos, VARIANT* MSG, VARIANT* Result) override;
    HRESULT STDMETHODCALLTYPE SetDataAdapter(IDispatch* adapter) override;
    HRESULT STDMETHODCALLTYPE GetFormulaStr(BSTR* pFormula) override;

private:
    // The non-delegating unknown: the object's identity and lifetime.
    class Inner final : public IUnknown {
    public:
        explicit Inner(FormulaObject& owner) : m_owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        FormulaObject& m_owner;
    };

    // IDataAdapter on the object itself (answered by Calquor_Auto only):
    // every name is known, values and formulas are empty strings.
    class SelfAdapter final : public IDataAdapter {
    public:
        explicit SelfAdapter(FormulaObject& owner) : m_owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
        HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
        HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
        HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                       VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
        HRESULT STDMETHODCALLTYPE GetOperantValue(BSTR OperantName, VARIANT* Value) override;
        HRESULT STDMETHODCALLTYPE GetFormulaByName(BSTR FormulaName, BSTR* Value) override;
        HRESULT STDMETHODCALLTYPE IsKnown(BSTR OperantName, VARIANT* bKnown) override;

    private:
        FormulaObject& m_owner;
    };

    explicit FormulaObject(IUnknown* outer);
    ~FormulaObject();
    FormulaObject(const FormulaObject&) = delete;
    FormulaObject& operator=(const FormulaObject&) = delete;

    HRESULT InnerQueryInterface(REFIID riid, void** ppv);

    Inner m_inner;
    SelfAdapter m_selfAdapter;
    IUnknown* m_controlling;
    ULONG m_cRef = 0;
    Calquex m_engine;
};

}  // namespace calquor::server
