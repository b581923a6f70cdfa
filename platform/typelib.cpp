// Type libraries: copying a module's tables, ITypeLib and ITypeInfo over
// the copy, loading from a module, and the Disp* helpers.
#include <calquor/objbase.h>
#include <calquor/oleauto.h>

#include "com_object.h"
#include "com_text.h"
#include "typelib_model.h"

#include <atomic>
#include <new>

namespace calquor {
namespace tlb {

const Func* Type::FindFunc(MEMBERID memid) const {
    for (const Func& func : funcs)
        if (func.memid == memid) return &func;
    return nullptr;
}

int Library::IndexOf(REFGUID guid) const {
    for (std::size_t i = 0; i < types.size(); ++i)
        if (types[i].guid == guid) return static_cast<int>(i);
    return -1;
}

namespace {

std::u16string Text(const OLECHAR* text) { return text ? std::u16string(text) : std::u16string(); }

// Fills the descriptions once the library has its final shape (they point
// into its vectors).
void Describe(Library& library) {
    for (Type& type : library.types) {
        for (std::size_t f = 0; f < type.funcs.size(); ++f) {
            Func& func = type.funcs[f];
            func.elems.assign(func.params.size(), ELEMDESC{});
            func.pointees.assign(func.params.size(), TYPEDESC{});
            for (std::size_t p = 0; p < func.params.size(); ++p) {
                const Param& param = func.params[p];
                ELEMDESC& elem = func.elems[p];
                if (param.vt & VT_BYREF) {
                    func.pointees[p].vt = static_cast<VARTYPE>(param.vt & ~VT_BYREF);
                    elem.tdesc.vt = VT_PTR;
                    elem.tdesc.lptdesc = &func.pointees[p];
                } else {
                    elem.tdesc.vt = param.vt;
                }
                elem.paramdesc.wParamFlags = param.flags;
            }
            FUNCDESC& desc = func.desc;
            desc.memid = func.memid;
            desc.lprgelemdescParam = func.elems.empty() ? nullptr : func.elems.data();
            desc.funckind = FUNC_PUREVIRTUAL;
            desc.invkind = func.invkind;
            desc.callconv = CC_STDCALL;
            desc.cParams = static_cast<SHORT>(func.params.size());
            desc.oVft = static_cast<SHORT>((7 + f) * sizeof(void*));
            desc.elemdescFunc.tdesc.vt = VT_HRESULT;
            desc.wFuncFlags = func.flags;
        }
        TYPEATTR& attr = type.attr;
        attr.guid = type.guid;
        attr.lcid = library.attr.lcid;
        attr.memidConstructor = MEMBERID_NIL;
        attr.memidDestructor = MEMBERID_NIL;
        attr.typekind = type.kind;
        attr.cFuncs = static_cast<WORD>(type.funcs.size());
        attr.cImplTypes = static_cast<WORD>(type.impls.size());
        attr.cbSizeVft = static_cast<WORD>(type.kind == TKIND_COCLASS ? 0 : (7 + type.funcs.size()) * sizeof(void*));
        attr.cbSizeInstance = sizeof(void*);
        attr.cbAlignment = alignof(void*);
        attr.wTypeFlags = type.flags;
        attr.wMajorVerNum = library.attr.wMajorVerNum;
        attr.wMinorVerNum = library.attr.wMinorVerNum;
    }
}

// ---- ITypeInfo ----

class TypeInfo final : public com::ComObject<ITypeInfo> {
public:
    TypeInfo(ITypeLib* owner, std::shared_ptr<const Library> library, UINT index)
        : ComObject(IID_ITypeInfo), m_owner(owner), m_library(std::move(library)), m_index(index) {
        m_owner->AddRef();
    }


    HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) override {
        if (!ppTypeAttr) return E_INVALIDARG;
        *ppTypeAttr = const_cast<TYPEATTR*>(&Self().attr);
        return S_OK;
    }
    HRESULT GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
        if (!ppFuncDesc) return E_INVALIDARG;
        *ppFuncDesc = nullptr;
        if (index >= Self().funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppFuncDesc = const_cast<FUNCDESC*>(&Self().funcs[index].desc);
        return S_OK;
    }
    HRESULT GetVarDesc(UINT, VARDESC** ppVarDesc) override {
        if (ppVarDesc) *ppVarDesc = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override {
        if (!rgBstrNames || !pcNames) return E_INVALIDARG;
        *pcNames = 0;
        const Func* func = Self().FindFunc(memid);
        if (!func) return TYPE_E_ELEMENTNOTFOUND;
        try {
            UINT count = 0;
            if (count < cMaxNames) rgBstrNames[count++] = com::NewBstr(func->name);
            for (const Param& param : func->params)
                if (count < cMaxNames) rgBstrNames[count++] = com::NewBstr(param.name);
            *pcNames = count;
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    // A coclass's interfaces are referred to by their index in the library.
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override {
        if (!pRefType) return E_INVALIDARG;
        if (index >= Self().impls.size()) return TYPE_E_ELEMENTNOTFOUND;
        const int target = m_library->IndexOf(Self().impls[index].iid);
        if (target < 0) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = static_cast<HREFTYPE>(target);
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override {
        if (!pImplTypeFlags) return E_INVALIDARG;
        if (index >= Self().impls.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = Self().impls[index].flags;
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override {
        if (!rgszNames || !pMemId || cNames == 0) return E_INVALIDARG;
        for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
        if (!rgszNames[0]) return DISP_E_UNKNOWNNAME;
        const Func* found = nullptr;
        for (const Func& func : Self().funcs)
            if (!found && com::EqualNoCase(func.name, rgszNames[0])) found = &func;
        if (!found) return DISP_E_UNKNOWNNAME;
        pMemId[0] = found->memid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < cNames; ++i) {
            bool known = false;
            for (std::size_t p = 0; p < found->params.size() && rgszNames[i]; ++p) {
                if (com::EqualNoCase(found->params[p].name, rgszNames[i])) {
                    pMemId[i] = static_cast<MEMBERID>(p);
                    known = true;
                    break;
                }
            }
            if (!known) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        try {
            return tlb::Invoke(Self(), pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) override {
        const std::u16string* name = nullptr;
        const std::u16string* help = nullptr;
        if (memid == MEMBERID_NIL) {
            name = &Self().name;
            help = &Self().help;
        } else if (const Func* func = Self().FindFunc(memid)) {
            name = &func->name;
            help = &func->help;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        return Document(*name, *help, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
    }
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override {
        return m_owner->GetTypeInfo(hRefType, ppTInfo);
    }
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppvObj) override {
        if (ppvObj) *ppvObj = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetMops(MEMBERID, BSTR* pBstrMops) override {
        if (pBstrMops) *pBstrMops = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override {
        if (!ppTLib) return E_INVALIDARG;
        *ppTLib = m_owner;
        m_owner->AddRef();
        if (pIndex) *pIndex = m_index;
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR*) override {}
    void ReleaseFuncDesc(FUNCDESC*) override {}
    void ReleaseVarDesc(VARDESC*) override {}

    // Shared with the library's GetDocumentation.
    static HRESULT Document(const std::u16string& name, const std::u16string& help, BSTR* pBstrName,
                            BSTR* pBstrDocString, DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
        if (pBstrName) *pBstrName = nullptr;
        if (pBstrDocString) *pBstrDocString = nullptr;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        if (pdwHelpContext) *pdwHelpContext = 0;
        try {
            if (pBstrName) *pBstrName = com::NewBstr(name);
            if (pBstrDocString && !help.empty()) *pBstrDocString = com::NewBstr(help);
            return S_OK;
        } catch (const std::bad_alloc&) {
            if (pBstrName) {
                SysFreeString(*pBstrName);
                *pBstrName = nullptr;
            }
            return E_OUTOFMEMORY;
        }
    }

private:
    ~TypeInfo() { m_owner->Release(); }
    const Type& Self() const { return m_library->types[m_index]; }

    ITypeLib* m_owner;
    std::shared_ptr<const Library> m_library;
    UINT m_index;
};

// ---- ITypeLib ----

class TypeLib final : public com::ComObject<ITypeLib> {
public:
    explicit TypeLib(std::shared_ptr<const Library> library)
        : ComObject(IID_ITypeLib), m_library(std::move(library)) {}


    UINT GetTypeInfoCount() override { return static_cast<UINT>(m_library->types.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (index >= m_library->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        try {
            *ppTInfo = new TypeInfo(this, m_library, index);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
        if (!pTKind) return E_INVALIDARG;
        if (index >= m_library->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = m_library->types[index].kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_INVALIDARG;
        *ppTinfo = nullptr;
        const int index = m_library->IndexOf(guid);
        if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
        return GetTypeInfo(static_cast<UINT>(index), ppTinfo);
    }
    HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_INVALIDARG;
        *ppTLibAttr = const_cast<TLIBATTR*>(&m_library->attr);
        return S_OK;
    }
    HRESULT GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) override {
        if (index == -1)
            return TypeInfo::Document(m_library->name, m_library->help, pBstrName, pBstrDocString, pdwHelpContext,
                                      pBstrHelpFile);
        if (index < 0 || static_cast<std::size_t>(index) >= m_library->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        const Type& type = m_library->types[static_cast<std::size_t>(index)];
        return TypeInfo::Document(type.name, type.help, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
    }
    HRESULT IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) override {
        if (!szNameBuf || !pfName) return E_INVALIDARG;
        *pfName = FALSE;
        for (const Type& type : m_library->types) {
            if (com::EqualNoCase(type.name, szNameBuf)) *pfName = TRUE;
            for (const Func& func : type.funcs) {
                if (com::EqualNoCase(func.name, szNameBuf)) *pfName = TRUE;
                for (const Param& param : func.params)
                    if (com::EqualNoCase(param.name, szNameBuf)) *pfName = TRUE;
            }
        }
        return S_OK;
    }
    HRESULT FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound) override {
        if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound) return E_INVALIDARG;
        const USHORT capacity = *pcFound;
        USHORT found = 0;
        for (std::size_t t = 0; t < m_library->types.size() && found < capacity; ++t) {
            const Type& type = m_library->types[t];
            MEMBERID memid = MEMBERID_NIL;
            bool match = com::EqualNoCase(type.name, szNameBuf);
            for (const Func& func : type.funcs) {
                if (!match && com::EqualNoCase(func.name, szNameBuf)) {
                    match = true;
                    memid = func.memid;
                }
            }
            if (!match) continue;
            if (const HRESULT hr = GetTypeInfo(static_cast<UINT>(t), &ppTInfo[found]); FAILED(hr)) {
                for (USHORT i = 0; i < found; ++i) ppTInfo[i]->Release();
                *pcFound = 0;
                return hr;
            }
            rgMemId[found++] = memid;
        }
        *pcFound = found;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR*) override {}

private:
    ~TypeLib() = default;

    std::shared_ptr<const Library> m_library;
};

}  // namespace

ModuleLoad::~ModuleLoad() {
    if (m_module) FreeLibrary(m_module);
}

bool ModuleLoad::Load(const char* path) {
    m_module = LoadLibrary(path);
    return m_module != nullptr;
}

std::shared_ptr<const Library> Copy(const TLBLIBDATA& data, const char* modulePath) {
    if (!data.szName || (data.cTypes && !data.rgTypes)) return nullptr;
    auto library = std::make_shared<Library>();
    library->name = Text(data.szName);
    library->help = Text(data.szHelpString);
    library->attr.guid = data.guid;
    library->attr.lcid = data.lcid;
    library->attr.syskind = SYS_WIN64;
    library->attr.wMajorVerNum = data.wMajorVerNum;
    library->attr.wMinorVerNum = data.wMinorVerNum;
    library->attr.wLibFlags = data.wLibFlags;
    library->types.resize(data.cTypes);
    for (UINT t = 0; t < data.cTypes; ++t) {
        const TLBTYPEDATA& source = data.rgTypes[t];
        Type& type = library->types[t];
        if (!source.szName || (source.cFuncs && !source.rgFuncs) || (source.cImplTypes && !source.rgImplTypes))
            return nullptr;
        if (source.typekind != TKIND_DISPATCH && source.typekind != TKIND_COCLASS) return nullptr;
        type.kind = source.typekind;
        type.name = Text(source.szName);
        type.help = Text(source.szHelpString);
        type.guid = source.guid;
        type.flags = source.wTypeFlags;
        type.funcs.resize(source.cFuncs);
        for (UINT f = 0; f < source.cFuncs; ++f) {
            const TLBFUNCDATA& from = source.rgFuncs[f];
            Func& func = type.funcs[f];
            if (!from.szName || !from.pfnInvoke || (from.cParams && !from.rgParams)) return nullptr;
            func.name = Text(from.szName);
            func.help = Text(from.szHelpString);
            func.memid = from.memid;
            func.invkind = from.invkind;
            func.flags = from.wFuncFlags;
            func.invoke = from.pfnInvoke;
            for (UINT p = 0; p < from.cParams; ++p) {
                const TLBPARAMDATA& param = from.rgParams[p];
                if (!param.szName) return nullptr;
                func.params.push_back(Param{Text(param.szName), param.vt, param.wParamFlags});
            }
        }
        for (UINT i = 0; i < source.cImplTypes; ++i) {
            const TLBIMPLTYPEDATA& impl = source.rgImplTypes[i];
            if (!impl.piid) return nullptr;
            type.impls.push_back(Impl{*impl.piid, impl.implTypeFlags});
        }
    }
    for (const Type& type : library->types)
        for (const Impl& impl : type.impls)
            if (library->IndexOf(impl.iid) < 0) return nullptr;
    Describe(*library);
    if (modulePath && !library->module.Load(modulePath)) return nullptr;
    return library;
}

HRESULT NewTypeLib(std::shared_ptr<const Library> library, ITypeLib** result) {
    *result = new TypeLib(std::move(library));
    return S_OK;
}

}  // namespace tlb

namespace {

HRESULT FromData(const TLBLIBDATA* pData, const char* modulePath, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!pData) return E_INVALIDARG;
    try {
        std::shared_ptr<const tlb::Library> library = tlb::Copy(*pData, modulePath);
        if (!library) return TYPE_E_INVALIDSTATE;
        return tlb::NewTypeLib(std::move(library), pptlib);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

// The caller's own tables: it keeps the module of their stubs loaded for as
// long as the library lives (a module's copy of its own tables holding a load
// of that module could never be unloaded).
HRESULT CreateTypeLibFromData(const TLBLIBDATA* pData, ITypeLib** pptlib) { return FromData(pData, nullptr, pptlib); }

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile || !*szFile) return E_INVALIDARG;
    try {
        const std::string path = com::Utf8(szFile);
        HMODULE module = LoadLibrary(path.c_str());
        if (!module) return TYPE_E_CANTLOADLIBRARY;
        HRESULT hr = TYPE_E_CANTLOADLIBRARY;
        if (HRSRC resource = FindResource(module, 1, "TYPELIB")) {
            const auto* data = static_cast<const TLBLIBDATA*>(LockResource(resource));
            try {
                hr = FromData(data, path.c_str(), pptlib);
            } catch (...) {
                FreeLibrary(module);
                throw;
            }
        }
        // The copy holds its own load of the module for the stubs it calls.
        FreeLibrary(module);
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS* pparams,
                   VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

}  // namespace calquor
