// The method stubs of the two interfaces, as the type-library tables list
// them: each calls one method on the interface pointer that
// ITypeInfo::Invoke was given, with the arguments already converted to the
// declared kinds (in declaration order).
#pragma once

#include <calquor/oleauto.h>

namespace calquor::server {

template <class Formula>
struct FormulaStubs {
    static HRESULT SetFormulaStr(void* self, VARIANTARG* args) {
        return static_cast<Formula*>(self)->SetFormulaStr(args[0].bstrVal);
    }
    static HRESULT Compile(void* self, VARIANTARG* args) {
        return static_cast<Formula*>(self)->Compile(args[0].pvarVal, args[1].pvarVal);
    }
    static HRESULT Calculate(void* self, VARIANTARG* args) {
        return static_cast<Formula*>(self)->Calculate(args[0].pvarVal, args[1].pvarVal, args[2].pvarVal);
    }
    static HRESULT SetDataAdapter(void* self, VARIANTARG* args) {
        return static_cast<Formula*>(self)->SetDataAdapter(args[0].pdispVal);
    }
    static HRESULT GetFormulaStr(void* self, VARIANTARG* args) {
        return static_cast<Formula*>(self)->GetFormulaStr(args[0].pbstrVal);
    }
};

template <class Adapter>
struct AdapterStubs {
    static HRESULT GetOperantValue(void* self, VARIANTARG* args) {
        return static_cast<Adapter*>(self)->GetOperantValue(args[0].bstrVal, args[1].pvarVal);
    }
    static HRESULT GetFormulaByName(void* self, VARIANTARG* args) {
        return static_cast<Adapter*>(self)->GetFormulaByName(args[0].bstrVal, args[1].pbstrVal);
    }
    static HRESULT IsKnown(void* self, VARIANTARG* args) {
        return static_cast<Adapter*>(self)->IsKnown(args[0].bstrVal, args[1].pvarVal);
    }
};

// Parameter kinds and directions.
inline constexpr VARTYPE kVariantRef = VT_VARIANT | VT_BYREF;
inline constexpr VARTYPE kBstrRef = VT_BSTR | VT_BYREF;
inline constexpr USHORT kIn = PARAMFLAG_FIN;
inline constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
inline constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
// Both interfaces are dual, automation-compatible and dispatchable.
inline constexpr WORD kDualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;

}  // namespace calquor::server
