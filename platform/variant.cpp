// Variant life cycle: initialisation, release and deep copy.
#include <calquor/oleauto.h>

#include <calquor/unknwn.h>

namespace calquor {
namespace {

// Kinds whose value is plain data (copied bitwise, nothing to release).
bool IsPlainKind(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_DECIMAL:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
    if (!pvarg) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
    pvarg->llVal = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const VARTYPE vt = pvarg->vt;
    if (vt & VT_BYREF) {
        // A reference owns nothing.
    } else if (vt == VT_BSTR) {
        SysFreeString(pvarg->bstrVal);
    } else if (vt == varString) {
        AnsiStrFree(pvarg->strVal);
    } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (pvarg->punkVal) pvarg->punkVal->Release();
    } else if (!IsPlainKind(vt)) {
        return DISP_E_BADVARTYPE;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    const VARTYPE vt = pvargSrc->vt;
    if (!(vt & VT_BYREF) && !IsPlainKind(vt) && vt != VT_BSTR && vt != varString && vt != VT_DISPATCH &&
        vt != VT_UNKNOWN)
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    VARIANT copy = *pvargSrc;
    if (!(vt & VT_BYREF)) {
        if (vt == VT_BSTR && pvargSrc->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(pvargSrc->bstrVal),
                                                 SysStringByteLen(pvargSrc->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        } else if (vt == varString && pvargSrc->strVal) {
            copy.strVal = AnsiStrAlloc(pvargSrc->strVal, AnsiStrLen(pvargSrc->strVal));
            if (!copy.strVal) return E_OUTOFMEMORY;
        } else if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && pvargSrc->punkVal) {
            pvargSrc->punkVal->AddRef();
        }
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    const VARTYPE vt = pvargSrc->vt & ~VT_BYREF;
    if (!pvargSrc->byref) return E_INVALIDARG;
    if (vt == VT_VARIANT) return VariantCopyInd(pvarDest, pvargSrc->pvarVal);
    VARIANT value;
    VariantInit(&value);
    value.vt = vt;
    switch (vt) {
    case VT_I1: case VT_UI1: value.bVal = *pvargSrc->pbVal; break;
    case VT_I2: case VT_UI2: case VT_BOOL: value.iVal = *pvargSrc->piVal; break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: value.lVal = *pvargSrc->plVal; break;
    case VT_R4: value.fltVal = *pvargSrc->pfltVal; break;
    case VT_R8: case VT_DATE: value.dblVal = *pvargSrc->pdblVal; break;
    case VT_I8: case VT_UI8: case VT_CY: value.llVal = *pvargSrc->pllVal; break;
    case VT_DECIMAL: value.decVal = *pvargSrc->pdecVal; value.vt = VT_DECIMAL; break;
    case VT_BSTR: value.bstrVal = *pvargSrc->pbstrVal; break;
    case VT_DISPATCH: case VT_UNKNOWN: value.punkVal = *pvargSrc->ppunkVal; break;
    default: return DISP_E_BADVARTYPE;
    }
    return VariantCopy(pvarDest, &value);
}

}  // namespace calquor
