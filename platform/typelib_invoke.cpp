// ITypeInfo::Invoke: matches the arguments of a late-bound call to the
// method's parameters, converts them to the declared kinds, calls the
// method's stub and hands back its result or its failure.
#include <calquor/oleauto.h>

#include "com_text.h"
#include "typelib_model.h"

#include <vector>

namespace calquor::tlb {
namespace {

// Points dst (kind base | VT_BYREF) at the value field of holder.
bool PointAt(VARIANT& dst, VARTYPE base, VARIANT& holder) {
    switch (base) {
    case VT_BSTR: dst.pbstrVal = &holder.bstrVal; break;
    case VT_I4: dst.plVal = &holder.lVal; break;
    case VT_I2: dst.piVal = &holder.iVal; break;
    case VT_I1: dst.pcVal = &holder.cVal; break;
    case VT_UI1: dst.pbVal = &holder.bVal; break;
    case VT_UI2: dst.puiVal = &holder.uiVal; break;
    case VT_UI4: dst.pulVal = &holder.ulVal; break;
    case VT_I8: dst.pllVal = &holder.llVal; break;
    case VT_UI8: dst.pullVal = &holder.ullVal; break;
    case VT_INT: dst.pintVal = &holder.intVal; break;
    case VT_UINT: dst.puintVal = &holder.uintVal; break;
    case VT_R4: dst.pfltVal = &holder.fltVal; break;
    case VT_R8: dst.pdblVal = &holder.dblVal; break;
    case VT_CY: dst.pcyVal = &holder.cyVal; break;
    case VT_DATE: dst.pdate = &holder.date; break;
    case VT_BOOL: dst.pboolVal = &holder.boolVal; break;
    case VT_ERROR: dst.pscode = &holder.scode; break;
    case VT_DISPATCH: dst.ppdispVal = &holder.pdispVal; break;
    case VT_UNKNOWN: dst.ppunkVal = &holder.punkVal; break;
    default: return false;
    }
    dst.vt = static_cast<VARTYPE>(base | VT_BYREF);
    return true;
}

// An interface pointer argument, by value or by reference; false for any
// other kind.
bool InterfaceOf(const VARIANT& src, IUnknown*& out) {
    switch (src.vt) {
    case VT_DISPATCH:
    case VT_UNKNOWN: out = src.punkVal; return true;
    case VT_DISPATCH | VT_BYREF:
    case VT_UNKNOWN | VT_BYREF:
        if (!src.ppunkVal) return false;
        out = *src.ppunkVal;
        return true;
    default: return false;
    }
}

// One argument converted to its parameter's kind into dst; owned tells
// whether dst holds a copy to clear after the call.
HRESULT Convert(const Param& param, VARIANT& src, VARIANT& dst, bool& owned) {
    owned = false;
    const auto base = static_cast<VARTYPE>(param.vt & ~VT_BYREF);
    if (param.vt & VT_BYREF) {
        if (base == VT_VARIANT) {
            dst.vt = VT_VARIANT | VT_BYREF;
            // A by-reference variant is the caller's own; any other argument
            // is passed as itself, so the callee writes into pDispParams.
            dst.pvarVal = src.vt == (VT_VARIANT | VT_BYREF) && src.pvarVal ? src.pvarVal : &src;
            return S_OK;
        }
        if (src.vt == param.vt) {
            dst = src;
            return S_OK;
        }
        if (src.vt == base && PointAt(dst, base, src)) return S_OK;
        return DISP_E_TYPEMISMATCH;
    }
    if (base == VT_VARIANT) {
        const HRESULT hr = VariantCopyInd(&dst, &src);
        owned = SUCCEEDED(hr);
        return hr;
    }
    if (base == VT_DISPATCH || base == VT_UNKNOWN) {
        IUnknown* object = nullptr;
        if (!InterfaceOf(src, object)) return DISP_E_TYPEMISMATCH;
        if (object && base == VT_DISPATCH && (src.vt & ~VT_BYREF) == VT_UNKNOWN) {
            void* dispatch = nullptr;
            if (FAILED(object->QueryInterface(IID_IDispatch, &dispatch))) return DISP_E_TYPEMISMATCH;
            dst.pdispVal = static_cast<IDispatch*>(dispatch);
        } else {
            if (object) object->AddRef();
            dst.punkVal = object;
        }
        dst.vt = base;
        owned = true;
        return S_OK;
    }
    VARIANT value{};
    HRESULT hr = VariantCopyInd(&value, &src);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&dst, &value, 0, base);
    VariantClear(&value);
    owned = SUCCEEDED(hr);
    return hr;
}

void FillException(EXCEPINFO* exception, HRESULT hr) {
    if (!exception) return;
    *exception = EXCEPINFO{};
    exception->scode = hr;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return;
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
    info->GetHelpFile(&exception->bstrHelpFile);
    info->GetHelpContext(&exception->dwHelpContext);
    info->Release();
}

bool IsMissing(const VARIANT& arg) { return arg.vt == VT_ERROR && arg.scode == DISP_E_PARAMNOTFOUND; }

}  // namespace

HRESULT Invoke(const Type& type, void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception, UINT* argError) {
    const Func* func = type.kind == TKIND_COCLASS ? nullptr : type.FindFunc(memid);
    // The call must be of the member's kind (a method needs DISPATCH_METHOD,
    // which callers that cannot tell the two apart send together with
    // DISPATCH_PROPERTYGET); property puts are not supported.
    if (!func || !(flags & func->invkind & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (!instance || !params) return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;

    const std::size_t count = func->params.size();
    const bool hasRetval = count && (func->params.back().flags & PARAMFLAG_FRETVAL);
    const std::size_t inputs = count - (hasRetval ? 1 : 0);
    const UINT positional = params->cArgs - params->cNamedArgs;
    if (positional > inputs) return DISP_E_BADPARAMCOUNT;

    // The rgvarg index that feeds each parameter (arguments are stored last
    // first; the named ones come first).
    std::vector<long> source(count, -1);
    for (UINT i = 0; i < positional; ++i) source[i] = static_cast<long>(params->cArgs - 1 - i);
    for (UINT j = 0; j < params->cNamedArgs; ++j) {
        const DISPID id = params->rgdispidNamedArgs[j];
        if (id < 0 || static_cast<std::size_t>(id) >= inputs || source[static_cast<std::size_t>(id)] != -1) {
            if (argError) *argError = j;
            return DISP_E_PARAMNOTFOUND;
        }
        source[static_cast<std::size_t>(id)] = static_cast<long>(j);
    }
    for (std::size_t p = 0; p < inputs; ++p) {
        if (source[p] == -1) return params->cNamedArgs ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
        if (IsMissing(params->rgvarg[source[p]])) {
            if (argError) *argError = static_cast<UINT>(source[p]);
            return DISP_E_PARAMNOTOPTIONAL;
        }
    }

    std::vector<VARIANT> args(count);  // zeroed: VT_EMPTY
    std::vector<bool> owned(count, false);
    // Zeroed: a callee that fails without writing its result leaves nothing
    // to free.
    VARIANT retval{};
    auto clearArgs = [&] {
        for (std::size_t p = 0; p < count; ++p)
            if (owned[p]) VariantClear(&args[p]);
    };

    for (std::size_t p = 0; p < count; ++p) {
        const Param& param = func->params[p];
        if (hasRetval && p == count - 1) {
            const auto base = static_cast<VARTYPE>(param.vt & ~VT_BYREF);
            if (base == VT_VARIANT) {
                args[p].vt = VT_VARIANT | VT_BYREF;
                args[p].pvarVal = &retval;
            } else {
                retval.vt = base;
                if (!PointAt(args[p], base, retval)) {
                    clearArgs();
                    return DISP_E_BADVARTYPE;
                }
            }
            continue;
        }
        bool copy = false;
        const HRESULT hr = Convert(param, params->rgvarg[source[p]], args[p], copy);
        owned[p] = copy;
        if (FAILED(hr)) {
            if (argError) *argError = static_cast<UINT>(source[p]);
            clearArgs();
            return hr;
        }
    }

    // Error information left from an earlier call must not be taken for
    // this call's.
    SetErrorInfo(0, nullptr);
    HRESULT hr;
    try {
        hr = func->invoke(instance, args.data());
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    clearArgs();
    if (FAILED(hr)) {
        VariantClear(&retval);
        FillException(exception, hr);
        return DISP_E_EXCEPTION;
    }
    if (result)
        *result = retval;
    else
        VariantClear(&retval);
    return S_OK;
}

}  // namespace calquor::tlb
