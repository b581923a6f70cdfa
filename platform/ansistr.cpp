// The runtime library's 8-bit strings and its varString-aware variant
// services, on top of the system's BSTR and variant services.
#include <calquor/ansistr.h>
#include <calquor/oleauto.h>

#include <climits>
#include <cstring>

namespace calquor {

// An 8-bit string is a BSTR block by bytes: the system counts its length and
// frees it, so both systems share one representation.
char* AnsiStrAlloc(const char* text, UINT len) {
    char* str = reinterpret_cast<char*>(SysAllocStringByteLen(text, len));
    // The system leaves the bytes of a null text undefined.
    if (str && !text) std::memset(str, 0, len);
    return str;
}

UINT AnsiStrLen(const char* str) { return SysStringByteLen(reinterpret_cast<BSTR>(const_cast<char*>(str))); }

void AnsiStrFree(char* str) { SysFreeString(reinterpret_cast<BSTR>(str)); }

namespace rtl {

HRESULT AnsiToBstr(const char* text, BSTR* out) noexcept {
    const UINT len = AnsiStrLen(text);
    if (len > static_cast<UINT>(INT_MAX)) return E_OUTOFMEMORY;
    if (len == 0) {
        *out = SysAllocStringLen(nullptr, 0);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(len), nullptr, 0);
    if (n <= 0) return E_FAIL;
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (!b) return E_OUTOFMEMORY;
    if (MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(len), b, n) != n) {
        SysFreeString(b);
        return E_FAIL;
    }
    *out = b;
    return S_OK;
}

HRESULT BstrToAnsi(BSTR text, char** out) noexcept {
    const UINT len = SysStringLen(text);
    if (len > static_cast<UINT>(INT_MAX)) return E_OUTOFMEMORY;
    if (len == 0) {
        *out = AnsiStrAlloc(nullptr, 0);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return E_FAIL;
    char* s = AnsiStrAlloc(nullptr, static_cast<UINT>(n));
    if (!s) return E_OUTOFMEMORY;
    if (WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(len), s, n, nullptr, nullptr) != n) {
        AnsiStrFree(s);
        return E_FAIL;
    }
    *out = s;
    return S_OK;
}

HRESULT VarClear(VARIANT* v) noexcept {
    if (v && v->vt == varString) {
        AnsiStrFree(GetStrVal(*v));
        v->vt = VT_EMPTY;
        return S_OK;
    }
    return VariantClear(v);
}

HRESULT VarCopy(VARIANT* dest, const VARIANT* src) noexcept {
    if (!dest || !src || src->vt != varString) {
        if (dest && dest->vt == varString) VarClear(dest);
        return VariantCopy(dest, const_cast<VARIANT*>(src));
    }
    if (dest == src) return S_OK;
    const char* text = GetStrVal(*src);
    char* copy = AnsiStrAlloc(text, AnsiStrLen(text));
    if (!copy) return E_OUTOFMEMORY;
    VarClear(dest);
    dest->vt = varString;
    SetStrVal(*dest, copy);
    return S_OK;
}

HRESULT VarCast(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) noexcept {
    if (!dest || !src) return E_INVALIDARG;
    if (src->vt != varString && vt != varString) {
        if (dest->vt == varString) {
            // The system would refuse to clear the destination; convert into
            // a fresh variant and replace it.
            VARIANT out;
            VariantInit(&out);
            const HRESULT hr = VariantChangeType(&out, const_cast<VARIANT*>(src), flags, vt);
            if (FAILED(hr)) return hr;
            VarClear(dest);
            *dest = out;
            return S_OK;
        }
        return VariantChangeType(dest, const_cast<VARIANT*>(src), flags, vt);
    }
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = S_OK;
    if (src->vt == varString) {
        // 8-bit text converts as the same text in a BSTR.
        VARIANT text;
        VariantInit(&text);
        hr = AnsiToBstr(GetStrVal(*src), &text.bstrVal);
        if (FAILED(hr)) return hr;
        text.vt = VT_BSTR;
        if (vt == VT_BSTR) {
            out = text;
        } else {
            hr = VarCast(&out, &text, flags, vt);
            VariantClear(&text);
            if (FAILED(hr)) return hr;
        }
    } else {
        VARIANT text;
        VariantInit(&text);
        hr = VariantChangeType(&text, const_cast<VARIANT*>(src), flags, VT_BSTR);
        if (FAILED(hr)) return hr;
        char* ansi = nullptr;
        hr = BstrToAnsi(text.bstrVal, &ansi);
        VariantClear(&text);
        if (FAILED(hr)) return hr;
        out.vt = varString;
        SetStrVal(out, ansi);
    }
    VarClear(dest);
    *dest = out;
    return S_OK;
}

}  // namespace rtl
}  // namespace calquor
