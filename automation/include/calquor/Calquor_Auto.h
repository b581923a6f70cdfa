// Automation interface of the Calquor_Auto server (libCalquor_Auto.so): the
// class Formula, programmatic identifier "Calquor.Formula", its type library
// Calquor 1.0, and the interfaces in vtable order. A client creates the
// object with CoCreateInstance, calls IFormula through the vtable or by name
// through IDispatch, and hands it an object of its own that implements
// IDataAdapter.
//
// Formula errors travel in ErrPos (VT_I4) and MSG (VT_BSTR). An error the
// engine raises instead (a built-in function's or the runtime library's)
// makes Calculate fail with DISP_E_EXCEPTION; its text is in the thread's
// error information (GetErrorInfo), and through IDispatch::Invoke in
// EXCEPINFO::bstrDescription. The object answers IDataAdapter itself with
// fixed answers (every name known, empty values and formulas) and can be
// aggregated.
#pragma once

#include <calquor/IDataAdapter.h>
#include <calquor/oleauto.h>

namespace calquor {
namespace Calquor_Auto {

inline constexpr GUID LIBID_Calquor = {0x648780FB, 0x54CC, 0x4E54, {0xB4, 0x02, 0xEF, 0xE6, 0x2B, 0x20, 0x89, 0xDC}};
inline constexpr CLSID CLSID_Formula = {0x4CE7F284, 0x5400, 0x46F3, {0x8E, 0xD0, 0xB9, 0xB6, 0x2C, 0x57, 0xF3, 0x0D}};
inline constexpr IID IID_IFormula = {0xE8A67395, 0x1033, 0x4AE6, {0xBB, 0xAD, 0xBA, 0x85, 0x52, 0x6B, 0x34, 0x8E}};
inline constexpr IID IID_IDataAdapter = {0xD128A6BC, 0x9637, 0x42D7, {0xAA, 0x94, 0x69, 0x16, 0x2D, 0x52, 0x12, 0x25}};

using calquor::IDataAdapter;

// DISPIDs: SetFormulaStr 2, Compile 3, Calculate 4, SetDataAdapter 5,
// GetFormulaStr 6 (IDataAdapter: GetOperantValue 1, GetFormulaByName 2,
// IsKnown 3).
struct IFormula : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetFormulaStr(BSTR FormulaString) = 0;
    // ErrPos: the compiler's position; MSG: "Succeed" or the error.
    virtual HRESULT STDMETHODCALLTYPE Compile(VARIANT* ErrPos, VARIANT* MSG) = 0;
    // ErrPos: 0 or the error code; MSG: the error message (empty on
    // success); Result: the formula's value, text as VT_BSTR.
    virtual HRESULT STDMETHODCALLTYPE Calculate(VARIANT* ErrPos, VARIANT* MSG, VARIANT* Result) = 0;
    // The engine keeps one reference to the adapter's IDataAdapter until it
    // is replaced or the object goes; null (or an object without the
    // interface) leaves the object without adapter.
    virtual HRESULT STDMETHODCALLTYPE SetDataAdapter(IDispatch* IAdapter) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormulaStr(BSTR* pFormula) = 0;

protected:
    ~IFormula() = default;
};

}  // namespace Calquor_Auto
}  // namespace calquor
