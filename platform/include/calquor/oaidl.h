// Automation interfaces of the runtime stand-in: IDispatch and its call
// records, type information (ITypeInfo, ITypeLib) with loading and
// registration of type libraries, and error information. Names, values,
// vtable order and signatures follow the Windows headers (oaidl.h,
// oleauto.h).
//
// Type libraries: there is no type-library compiler here. A module describes
// its library as constant C++ tables (TLBLIBDATA below) and exports them as
// its "TYPELIB" resource number 1; LoadTypeLib reads them from the module
// and CreateTypeLibFromData from memory. The runtime copies the tables; a
// library loaded from a module keeps that module loaded for its method stubs
// (below) as long as it or type information from it lives. What the tables add to a
// Windows library is one call stub per method: it calls the method on the
// object with the arguments already converted, which is how ITypeInfo::Invoke
// reaches the vtable without machine-level calls.
#pragma once

#include <calquor/objbase.h>
#include <calquor/unknwn.h>
#include <calquor/wtypes.h>

namespace calquor {

// ---- Result codes -----------------------------------------------------------------
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802Bu);
inline constexpr HRESULT TYPE_E_REGISTRYACCESS = static_cast<HRESULT>(0x8002801Cu);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801Du);
inline constexpr HRESULT TYPE_E_INVALIDSTATE = static_cast<HRESULT>(0x80028029u);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4Au);

// ---- Dispatch identifiers and call records -------------------------------------------
using MEMBERID = DISPID;
using HREFTYPE = DWORD;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr DISPID DISPID_NEWENUM = -4;
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// The arguments of IDispatch::Invoke. rgvarg holds them in reverse order:
// rgvarg[cArgs - 1] is the first. The first cNamedArgs entries are named:
// rgdispidNamedArgs[i] gives the parameter (0-based position) of rgvarg[i].
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

// What a failed call reports with DISP_E_EXCEPTION. The caller frees the
// strings (SysFreeString).
struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

struct ITypeInfo;
struct ITypeLib;
struct ITypeComp;

// ---- IDispatch ------------------------------------------------------------------
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct CALQUOR_PLATFORM_API IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    // riid must be IID_NULL. Names are compared without regard to case; the
    // first is the member, the others its parameters.
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

// ---- Type descriptions ---------------------------------------------------------------
enum TYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
};

enum TYPEFLAGS : WORD {
    TYPEFLAG_FAPPOBJECT = 0x1,
    TYPEFLAG_FCANCREATE = 0x2,
    TYPEFLAG_FLICENSED = 0x4,
    TYPEFLAG_FPREDECLID = 0x8,
    TYPEFLAG_FHIDDEN = 0x10,
    TYPEFLAG_FCONTROL = 0x20,
    TYPEFLAG_FDUAL = 0x40,
    TYPEFLAG_FNONEXTENSIBLE = 0x80,
    TYPEFLAG_FOLEAUTOMATION = 0x100,
    TYPEFLAG_FRESTRICTED = 0x200,
    TYPEFLAG_FAGGREGATABLE = 0x400,
    TYPEFLAG_FREPLACEABLE = 0x800,
    TYPEFLAG_FDISPATCHABLE = 0x1000,
    TYPEFLAG_FREVERSEBIND = 0x2000,
    TYPEFLAG_FPROXY = 0x4000
};

enum FUNCKIND { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8 };
enum CALLCONV { CC_FASTCALL = 0, CC_CDECL = 1, CC_MSCPASCAL = 2, CC_PASCAL = 2, CC_MACPASCAL = 3, CC_STDCALL = 4 };
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };

inline constexpr USHORT PARAMFLAG_NONE = 0x0;
inline constexpr USHORT PARAMFLAG_FIN = 0x1;
inline constexpr USHORT PARAMFLAG_FOUT = 0x2;
inline constexpr USHORT PARAMFLAG_FLCID = 0x4;
inline constexpr USHORT PARAMFLAG_FRETVAL = 0x8;
inline constexpr USHORT PARAMFLAG_FOPT = 0x10;

inline constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;
inline constexpr INT IMPLTYPEFLAG_FSOURCE = 0x2;
inline constexpr INT IMPLTYPEFLAG_FRESTRICTED = 0x4;

inline constexpr WORD LIBFLAG_FRESTRICTED = 0x1;
inline constexpr WORD LIBFLAG_FCONTROL = 0x2;
inline constexpr WORD LIBFLAG_FHIDDEN = 0x4;

struct ARRAYDESC;
struct PARAMDESCEX;
struct VARDESC;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;  // VT_PTR: what the pointer points to
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
};

struct IDLDESC {
    std::uintptr_t dwReserved;
    USHORT wIDLFlags;
};

struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};

struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};

struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

inline constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The universal marshaler, registered for every dual interface.
inline constexpr CLSID CLSID_PSOAInterface = {0x00020424, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Type information of one type of a library. The descriptions handed out
// (GetTypeAttr, GetFuncDesc) stay valid while the ITypeInfo lives; the
// Release* calls are accepted and do nothing. GetTypeComp, GetVarDesc,
// GetDllEntry, AddressOfMember, CreateInstance and GetMops are not supported
// (E_NOTIMPL, or TYPE_E_ELEMENTNOTFOUND for variables: the libraries hold
// none). A dispatch or dual interface lists its own methods only; its
// IDispatch base is implied by its kind. A method is described as its vtable
// shows it: an HRESULT result and every parameter, the retval one included.
struct CALQUOR_PLATFORM_API ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    // The member's name, then its parameters' names.
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    // Calls the member on pvInstance, the interface pointer of this type (as
    // the method stubs of the library expect it). Arguments are converted to
    // the declared kinds; a by-reference VARIANT argument reaches an
    // [in, out] VARIANT* parameter unchanged, any other argument given for
    // one is passed as the argument's own VARIANT in pDispParams. An [out,
    // retval] parameter fills pVarResult. A method that fails makes the call
    // return DISP_E_EXCEPTION with pExcepInfo filled from the thread's error
    // information (GetErrorInfo) and scode set to the method's HRESULT.
    // Other failures: DISP_E_MEMBERNOTFOUND (an unknown member, a property
    // put, or wFlags without the member's kind: a method needs
    // DISPATCH_METHOD), E_INVALIDARG (null pDispParams), DISP_E_BADPARAMCOUNT,
    // DISP_E_PARAMNOTFOUND (a named argument that names no parameter),
    // DISP_E_PARAMNOTOPTIONAL, DISP_E_TYPEMISMATCH (with *puArgErr the index
    // in rgvarg of the argument refused).
    virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    // MEMBERID_NIL describes the type itself. Every out pointer may be null.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                     DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                WORD* pwOrdinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND invKind, void** ppv) = 0;
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void ReleaseVarDesc(VARDESC* pVarDesc) = 0;

protected:
    ~ITypeInfo() = default;
};

// A type library. GetTypeComp is not supported (E_NOTIMPL).
struct CALQUOR_PLATFORM_API ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    // index -1 describes the library itself.
    virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    // Whether a type or member of the library has this name (any case).
    virtual HRESULT IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
    virtual HRESULT FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                             USHORT* pcFound) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;

protected:
    ~ITypeLib() = default;
};

// ---- The type-library resource format of the stand-in -----------------------------
// A method stub: calls the method on pvInstance (the interface pointer given
// to ITypeInfo::Invoke) with rgArgs in declaration order, each holding its
// parameter's declared kind (VT_BSTR in bstrVal, VT_DISPATCH in pdispVal, a
// by-reference parameter in the matching p...Val member), and returns the
// method's HRESULT.
using TLBINVOKEPROC = HRESULT (*)(void* pvInstance, VARIANTARG* rgArgs);

// vt is the declared kind: VT_BSTR, VT_DISPATCH, VT_VARIANT, a scalar kind,
// or VT_BYREF with one of these for a pointer parameter (VARIANT* is
// VT_VARIANT | VT_BYREF).
struct TLBPARAMDATA {
    const OLECHAR* szName;
    VARTYPE vt;
    USHORT wParamFlags;
};

struct TLBFUNCDATA {
    const OLECHAR* szName;
    MEMBERID memid;
    const OLECHAR* szHelpString;  // may be null
    INVOKEKIND invkind;
    WORD wFuncFlags;
    const TLBPARAMDATA* rgParams;
    UINT cParams;
    TLBINVOKEPROC pfnInvoke;
};

// An interface a coclass implements, by its IID within the same library.
struct TLBIMPLTYPEDATA {
    const IID* piid;
    INT implTypeFlags;
};

struct TLBTYPEDATA {
    TYPEKIND typekind;  // TKIND_DISPATCH (dual or dispatch interface) or TKIND_COCLASS
    const OLECHAR* szName;
    const OLECHAR* szHelpString;  // may be null
    GUID guid;
    WORD wTypeFlags;
    const TLBFUNCDATA* rgFuncs;
    UINT cFuncs;
    const TLBIMPLTYPEDATA* rgImplTypes;
    UINT cImplTypes;
};

struct TLBLIBDATA {
    const OLECHAR* szName;
    const OLECHAR* szHelpString;  // may be null
    GUID guid;
    LCID lcid;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
    const TLBTYPEDATA* rgTypes;
    UINT cTypes;
};

// ---- Loading and registering type libraries ---------------------------------------------
// The "TYPELIB" resource number 1 of the module at szFile (UTF-16 path).
// The library holds a load of the module while it lives, so its stubs stay
// callable after the caller's own loads are gone.
// TYPE_E_CANTLOADLIBRARY when the module cannot be loaded or has none.
CALQUOR_PLATFORM_API HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
// A library from tables in memory (a module's own resource). The tables are
// copied; method stubs are kept as pointers, and the caller keeps the module
// they are in loaded while the library lives.
CALQUOR_PLATFORM_API HRESULT CreateTypeLibFromData(const TLBLIBDATA* pData, ITypeLib** pptlib);
// The registered library of that identifier and major version whose minor
// version is the highest not below wVerMinor. TYPE_E_LIBNOTREGISTERED.
CALQUOR_PLATFORM_API HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                            ITypeLib** pptlib);
// Writes HKEY_CLASSES_ROOT\TypeLib\{libid}\<major>.<minor> (versions in
// hex) with its FLAGS, HELPDIR and <lcid>\win64 (the path) subkeys, and
// Interface\{iid} (name, ProxyStubClsid, ProxyStubClsid32, TypeLib with
// Version) for every dual or automation interface of the library.
// TYPE_E_REGISTRYACCESS when the registry cannot be written.
CALQUOR_PLATFORM_API HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
// Removes what RegisterTypeLib wrote for that version (the library's own key
// too once no version is left; the Interface keys that name the library).
// TYPE_E_REGISTRYACCESS when that version is not registered.
CALQUOR_PLATFORM_API HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                               SYSKIND syskind);

// ITypeInfo::GetIDsOfNames and ITypeInfo::Invoke, for servers that
// implement IDispatch over their type information.
CALQUOR_PLATFORM_API HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames,
                                               DISPID* rgdispid);
CALQUOR_PLATFORM_API HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                                        DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                        UINT* puArgErr);

// ---- Error information -----------------------------------------------------------------
inline constexpr IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

struct CALQUOR_PLATFORM_API IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct CALQUOR_PLATFORM_API ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPCOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPCOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPCOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct CALQUOR_PLATFORM_API ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

// A new, empty error object.
CALQUOR_PLATFORM_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// The calling thread's error object: SetErrorInfo replaces it (null clears
// it); GetErrorInfo hands it over (the caller releases it) and clears it, or
// returns S_FALSE with null when there is none. dwReserved must be 0.
CALQUOR_PLATFORM_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
CALQUOR_PLATFORM_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

}  // namespace calquor
