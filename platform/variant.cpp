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

// Kinds a variant may own by value.
bool IsValueKind(VARTYPE vt) {
    return IsPlainKind(vt) || vt == VT_BSTR || vt == varString || vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

// Kinds the variant services accept: values, and references to a value or
// to a variant. A reference to Empty or Null is meaningless, as on Windows.
bool IsKnownKind(VARTYPE vt) {
    if (!(vt & VT_BYREF)) return IsValueKind(vt);
    const VARTYPE target = vt & ~VT_BYREF;
    return (IsValueKind(target) && target != VT_EMPTY && target != VT_NULL) || target == VT_VARIANT;
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
    if (!IsKnownKind(pvarg->vt)) return DISP_E_BADVARTYPE;
    // Emptied before anything is released, so that a Release that reaches
    // this variant again finds nothing left to free.
    const VARIANT old = *pvarg;
    VariantInit(pvarg);
    if (old.vt == VT_BSTR) {
        SysFreeString(old.bstrVal);
    } else if (old.vt == varString) {
        AnsiStrFree(old.strVal);
    } else if ((old.vt == VT_DISPATCH || old.vt == VT_UNKNOWN) && old.punkVal) {
        old.punkVal->Release();
    }
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    const VARTYPE vt = pvargSrc->vt;
    if (!IsKnownKind(vt) || !IsKnownKind(pvargDest->vt)) return DISP_E_BADVARTYPE;
    if (pvargDest == pvargSrc) return S_OK;
    // The copy is made before the destination is cleared: the source may be
    // owned by the destination (a reference to its own string, an object only
    // the destination keeps alive).
    VARIANT copy = *pvargSrc;
    bool ok = true;
    if (!(vt & VT_BYREF)) {
        if (vt == VT_BSTR && pvargSrc->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(pvargSrc->bstrVal),
                                                 SysStringByteLen(pvargSrc->bstrVal));
            ok = copy.bstrVal != nullptr;
        } else if (vt == varString && pvargSrc->strVal) {
            copy.strVal = AnsiStrAlloc(pvargSrc->strVal, AnsiStrLen(pvargSrc->strVal));
            ok = copy.strVal != nullptr;
        } else if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && pvargSrc->punkVal) {
            pvargSrc->punkVal->AddRef();
        }
    }
    VariantClear(pvargDest);  // cannot fail: the kind was checked above
    if (!ok) return E_OUTOFMEMORY;
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    const VARTYPE vt = pvargSrc->vt & ~VT_BYREF;
    if (!pvargSrc->byref) return E_INVALIDARG;
    // A variant reference may not lead to another one; this also stops a
    // reference cycle from recursing without end.
    if (vt == VT_VARIANT)
        return pvargSrc->pvarVal->vt == (VT_VARIANT | VT_BYREF) ? E_INVALIDARG
                                                                 : VariantCopyInd(pvarDest, pvargSrc->pvarVal);
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
    case varString: value.strVal = *static_cast<char**>(pvargSrc->byref); break;
    case VT_DISPATCH: case VT_UNKNOWN: value.punkVal = *pvargSrc->ppunkVal; break;
    default: return DISP_E_BADVARTYPE;
    }
    return VariantCopy(pvarDest, &value);
}

}  // namespace calquor
