// GUID text forms and task memory.
#include <calquor/oleauto.h>

#include "com_text.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace calquor {
namespace {

void PutHex(OLECHAR*& out, unsigned long long value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) *out++ = static_cast<OLECHAR>(kDigits[(value >> (4 * i)) & 0xF]);
}

HRESULT TaskString(REFGUID guid, LPOLESTR* result) {
    if (!result) return E_INVALIDARG;
    *result = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*result) return E_OUTOFMEMORY;
    StringFromGUID2(guid, *result, 39);
    return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39) return 0;
    OLECHAR* out = lpsz;
    *out++ = u'{';
    PutHex(out, rguid.Data1, 8);
    *out++ = u'-';
    PutHex(out, rguid.Data2, 4);
    *out++ = u'-';
    PutHex(out, rguid.Data3, 4);
    *out++ = u'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) *out++ = u'-';
        PutHex(out, rguid.Data4[i], 2);
    }
    *out++ = u'}';
    *out = u'\0';
    return 39;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (!lpiid) return E_INVALIDARG;
    *lpiid = GUID_NULL;
    if (!lpsz) return S_OK;  // a null text is the null identifier, as on Windows
    return com::ParseGuid(lpsz, *lpiid) ? S_OK : CO_E_IIDSTRING;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (!lpsz) return S_OK;
    if (com::ParseGuid(lpsz, *pclsid)) return S_OK;
    if (lpsz[0] == u'{') return CO_E_CLASSSTRING;
    const HRESULT hr = CLSIDFromProgID(lpsz, pclsid);
    return SUCCEEDED(hr) ? hr : CO_E_CLASSSTRING;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) { return TaskString(rclsid, lplpsz); }

HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz) { return TaskString(rclsid, lplpsz); }

void* CoTaskMemAlloc(std::size_t cb) { return std::malloc(cb ? cb : 1); }

void CoTaskMemFree(void* pv) { std::free(pv); }

}  // namespace calquor
