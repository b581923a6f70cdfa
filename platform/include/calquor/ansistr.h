// Calquor_VCL's runtime library: its 8-bit counted strings (kind
// varString) and the variant services that know that kind. The same on every
// system: the system's automation runtime does not know varString, so the
// runtime library handles it and passes every other kind to the system.
#pragma once

#include <calquor/wtypes.h>

namespace calquor {

// Counted, NUL-terminated 8-bit text in the ANSI code page. AnsiStrAlloc
// copies len bytes from text (a null text gives len zero bytes) and returns
// null when memory runs out. A null pointer is the empty string.
CALQUOR_PLATFORM_API char* AnsiStrAlloc(const char* text, UINT len);
CALQUOR_PLATFORM_API UINT AnsiStrLen(const char* str);
CALQUOR_PLATFORM_API void AnsiStrFree(char* str);

namespace rtl {

// VariantClear, VariantCopy and VariantChangeType with varString handled as
// the runtime library does: cleared and copied like a BSTR, and converted
// as the same text in a BSTR. Every other kind goes to the system service
// unchanged, with its result codes.
CALQUOR_PLATFORM_API HRESULT VarClear(VARIANT* v) noexcept;
CALQUOR_PLATFORM_API HRESULT VarCopy(VARIANT* dest, const VARIANT* src) noexcept;
CALQUOR_PLATFORM_API HRESULT VarCast(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) noexcept;

// 8-bit text <-> BSTR through the ANSI code page; *out receives a new string
// the caller frees. E_OUTOFMEMORY when memory runs out.
CALQUOR_PLATFORM_API HRESULT AnsiToBstr(const char* text, BSTR* out) noexcept;
CALQUOR_PLATFORM_API HRESULT BstrToAnsi(BSTR text, char** out) noexcept;

}  // namespace rtl
}  // namespace calquor
