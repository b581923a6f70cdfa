// The automation runtime stand-in: wide strings, variants, conversions, dates
// and code-page conversion, with the Windows names and signatures. Including
// this header also brings the value-semantics wrappers of comutil.h.
//
// Fixed conventions of the stand-in: the ANSI code page (CP_ACP) is UTF-8 and
// the user default locale is en-US (0x0409); every LCID argument is read as
// en-US. All functions are safe to call from any thread on distinct data.
#pragma once

#include <calquor/ansistr.h>
#include <calquor/unknwn.h>
#include <calquor/wtypes.h>
// Component services, dispatch and type information, the registry and the
// message box; the automation API as one header, as on Windows.
#include <calquor/objbase.h>
#include <calquor/oaidl.h>
#include <calquor/winreg.h>
#include <calquor/winuser.h>

namespace calquor {

// ---- Wide strings (BSTR) ----------------------------------------------------
// The callee allocates what it hands back; the caller frees it with
// SysFreeString. Lengths are counted in UTF-16 units (SysStringLen) or bytes
// (SysStringByteLen). A null BSTR has length 0. Allocation failure (or a
// length beyond what a 32-bit prefix holds) returns a null pointer.
CALQUOR_PLATFORM_API BSTR SysAllocString(const OLECHAR* psz);
CALQUOR_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
CALQUOR_PLATFORM_API BSTR SysAllocStringByteLen(const char* psz, UINT len);
CALQUOR_PLATFORM_API INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
CALQUOR_PLATFORM_API INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
CALQUOR_PLATFORM_API UINT SysStringLen(BSTR pbstr);
CALQUOR_PLATFORM_API UINT SysStringByteLen(BSTR bstr);
CALQUOR_PLATFORM_API void SysFreeString(BSTR bstrString);

// ---- Variants ---------------------------------------------------------------
CALQUOR_PLATFORM_API void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (strings, interface references, arrays are not
// supported) and leaves it VT_EMPTY. DISP_E_BADVARTYPE for unknown kinds.
CALQUOR_PLATFORM_API HRESULT VariantClear(VARIANTARG* pvarg);
// Deep copy: strings are duplicated and interfaces AddRef'ed. The destination
// is cleared first. E_OUTOFMEMORY leaves it VT_EMPTY.
CALQUOR_PLATFORM_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Copies the referenced value of a VT_BYREF variant (or the value itself).
CALQUOR_PLATFORM_API HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts pvarSrc to kind vt into pvargDest (which may be the same variant).
// On failure the destination is left unchanged and the code is returned:
// DISP_E_TYPEMISMATCH (Null source, text that spells no value),
// DISP_E_OVERFLOW (value outside the target's range), DISP_E_BADVARTYPE
// (a kind the runtime does not know), E_INVALIDARG (a date outside 100..9999
// to text, an invalid DECIMAL).
CALQUOR_PLATFORM_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                               USHORT wFlags, VARTYPE vt);
CALQUOR_PLATFORM_API HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                                 LCID lcid, USHORT wFlags, VARTYPE vt);

// ---- Single conversions (as used by VariantChangeType) ----------------------
CALQUOR_PLATFORM_API HRESULT VarR8FromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DOUBLE* pdblOut);
CALQUOR_PLATFORM_API HRESULT VarI4FromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, LONG* plOut);
CALQUOR_PLATFORM_API HRESULT VarDateFromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut);
CALQUOR_PLATFORM_API HRESULT VarBoolFromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, VARIANT_BOOL* pboolOut);
CALQUOR_PLATFORM_API HRESULT VarBstrFromR8(DOUBLE dblIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
CALQUOR_PLATFORM_API HRESULT VarBstrFromR4(FLOAT fltIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
CALQUOR_PLATFORM_API HRESULT VarBstrFromDate(DATE dateIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);

// ---- Dates --------------------------------------------------------------------
// DATE counts days from 30 December 1899; the fraction is the time of day,
// counted forward from midnight also for negative values. Valid range:
// 1 January 100 (-657434) to 31 December 9999 (2958465 plus the time).
// Both return TRUE on success and FALSE when the value or fields are refused.
CALQUOR_PLATFORM_API INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* lpSystemTime);
CALQUOR_PLATFORM_API INT SystemTimeToVariantTime(SYSTEMTIME* lpSystemTime, DOUBLE* pvtime);
CALQUOR_PLATFORM_API HRESULT VarUdateFromDate(DATE dateIn, ULONG dwFlags, UDATE* pudateOut);
CALQUOR_PLATFORM_API HRESULT VarDateFromUdate(UDATE* pudateIn, ULONG dwFlags, DATE* pdateOut);
// The current local time, milliseconds included (the system time zone).
CALQUOR_PLATFORM_API void GetLocalTime(SYSTEMTIME* lpSystemTime);

// ---- Code pages ---------------------------------------------------------------
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
// cbMultiByte / cchWideChar of -1 mean "NUL-terminated, terminator included".
// With an output size of 0 the required size is returned. A too small output
// buffer returns 0 and writes nothing past it. Invalid UTF-8 becomes U+FFFD;
// an unpaired surrogate becomes the UTF-8 of U+FFFD.
CALQUOR_PLATFORM_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr,
                                             int cbMultiByte, OLECHAR* lpWideCharStr, int cchWideChar);
CALQUOR_PLATFORM_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const OLECHAR* lpWideCharStr,
                                             int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                                             const char* lpDefaultChar, BOOL* lpUsedDefaultChar);

}  // namespace calquor

#include <calquor/comutil.h>
