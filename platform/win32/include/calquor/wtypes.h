// The platform seam on Windows: the system's own automation runtime (OLE
// Automation, COM, the registry, the message box), with its names also made
// visible in namespace calquor, so that code written against the Linux
// stand-in compiles unchanged. Only what the system lacks is declared here:
// Calquor_VCL's 8-bit string kind and the en-US locale constant.
#pragma once

#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include <cstddef>
#include <cstdint>

// The runtime pieces the system lacks (comutil support, Calquor_VCL's
// runtime library, the registrar) are a static library linked into each
// module, so nothing of them is imported or exported.
#define CALQUOR_PLATFORM_API

namespace calquor {

// Types. Result codes, VARIANT_TRUE/FALSE, SUCCEEDED/FAILED and the other
// constants are macros or enumerators of the system headers and need no
// declaration here.
using ::BYTE;
using ::WORD;
using ::DWORD;
using ::CHAR;
using ::SHORT;
using ::USHORT;
using ::LONG;
using ::ULONG;
using ::LONGLONG;
using ::ULONGLONG;
using ::INT;
using ::UINT;
using ::BOOL;
using ::FLOAT;
using ::DOUBLE;
using ::HRESULT;
using ::SCODE;
using ::LCID;
using ::DISPID;
using ::VARTYPE;
using ::VARIANT_BOOL;
using ::DATE;
using ::OLECHAR;
using ::LPOLESTR;
using ::LPCOLESTR;
using ::BSTR;
using ::VARENUM;
using ::CY;
using ::DECIMAL;
using ::SYSTEMTIME;
using ::UDATE;
using ::GUID;
using ::IID;
using ::CLSID;
using ::VARIANT;
using ::VARIANTARG;
using ::SAFEARRAY;
using ::DISPPARAMS;
using ::EXCEPINFO;
using ::HKEY;
using ::HWND;
using ::HMODULE;
using ::HINSTANCE;
using ::IUnknown;
using ::IDispatch;
using ::IClassFactory;
using ::ITypeInfo;
using ::ITypeLib;
using ::IErrorInfo;
using ::ICreateErrorInfo;
using ::ISupportErrorInfo;

// Functions.
using ::SysAllocString;
using ::SysAllocStringLen;
using ::SysAllocStringByteLen;
using ::SysReAllocString;
using ::SysReAllocStringLen;
using ::SysStringLen;
using ::SysStringByteLen;
using ::SysFreeString;
using ::VariantInit;
using ::VariantClear;
using ::VariantCopy;
using ::VariantCopyInd;
using ::VariantChangeType;
using ::VariantChangeTypeEx;
using ::VarR8FromStr;
using ::VarI4FromStr;
using ::VarDateFromStr;
using ::VarBoolFromStr;
using ::VarBstrFromR8;
using ::VarBstrFromR4;
using ::VarBstrFromDate;
using ::VariantTimeToSystemTime;
using ::SystemTimeToVariantTime;
using ::VarUdateFromDate;
using ::VarDateFromUdate;
using ::GetLocalTime;
using ::MultiByteToWideChar;
using ::WideCharToMultiByte;
using ::CoInitialize;
using ::CoInitializeEx;
using ::CoUninitialize;
using ::CoCreateInstance;
using ::CoGetClassObject;
using ::CoFreeUnusedLibraries;
using ::CLSIDFromProgID;
using ::ProgIDFromCLSID;
using ::CLSIDFromString;
using ::IIDFromString;
using ::StringFromGUID2;
using ::StringFromCLSID;
using ::StringFromIID;
using ::CoTaskMemAlloc;
using ::CoTaskMemFree;
using ::LoadTypeLib;
using ::LoadRegTypeLib;
using ::RegisterTypeLib;
using ::UnRegisterTypeLib;
using ::DispGetIDsOfNames;
using ::DispInvoke;
using ::CreateErrorInfo;
using ::SetErrorInfo;
using ::GetErrorInfo;
using ::IsDebuggerPresent;
using ::DebugBreak;
using ::FreeLibrary;
using ::GetProcAddress;

// mingw-w64 declares the source operands of these without const, unlike the
// Windows SDK; these overloads take const sources as the SDK does. A call
// with a mutable source still picks the system function itself.
inline HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    return ::VariantCopy(pvargDest, const_cast<VARIANTARG*>(pvargSrc));
}
inline HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    return ::VariantCopyInd(pvarDest, const_cast<VARIANTARG*>(pvargSrc));
}
inline HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    return ::VariantChangeType(pvargDest, const_cast<VARIANTARG*>(pvarSrc), wFlags, vt);
}
inline HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                                   VARTYPE vt) {
    return ::VariantChangeTypeEx(pvargDest, const_cast<VARIANTARG*>(pvarSrc), lcid, wFlags, vt);
}
inline HRESULT VarR8FromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DOUBLE* pdblOut) {
    return ::VarR8FromStr(const_cast<OLECHAR*>(strIn), lcid, dwFlags, pdblOut);
}
inline HRESULT VarI4FromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, LONG* plOut) {
    return ::VarI4FromStr(const_cast<OLECHAR*>(strIn), lcid, dwFlags, plOut);
}
inline HRESULT VarDateFromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) {
    return ::VarDateFromStr(const_cast<OLECHAR*>(strIn), lcid, dwFlags, pdateOut);
}
inline HRESULT VarBoolFromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, VARIANT_BOOL* pboolOut) {
    return ::VarBoolFromStr(const_cast<OLECHAR*>(strIn), lcid, dwFlags, pboolOut);
}

inline HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    return ::RegisterTypeLib(ptlib, const_cast<LPOLESTR>(szFullPath), const_cast<LPOLESTR>(szHelpDir));
}

// Not a system name: the stand-in's fixed locale, which is the system's
// en-US locale here.
inline constexpr LCID LOCALE_EN_US = 0x0409;

// The 8-bit string kind of Calquor_VCL's runtime library (its
// "varString"). The system does not know it: the runtime library clears,
// copies and converts it itself, and it must become VT_BSTR before it
// crosses an automation boundary. Its text lives in the value's pointer
// slot.
inline constexpr VARTYPE varString = 0x0100;
inline char* GetStrVal(const VARIANT& v) noexcept { return static_cast<char*>(v.byref); }
inline void SetStrVal(VARIANT& v, char* str) noexcept { v.byref = str; }

}  // namespace calquor
