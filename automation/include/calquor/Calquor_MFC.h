// Automation interface of the Calquor_MFC server (libCalquor_MFC.so): the
// class Calquom, programmatic identifiers "Calquor.Calquom" and
// "Calquor.Calquom.1", its type library Calquor_MFC 1.0, and the interfaces
// in vtable order. A client creates the object with CoCreateInstance, calls
// IFormula through the vtable or by name through IDispatch, and hands it an
// object of its own that implements IDataAdapter.
//
// No IFormula method reports a formula error through its HRESULT: errors
// travel in ErrPos (VT_I4) and MSG (VT_BSTR). The object does not answer
// IDataAdapter itself and cannot be aggregated.
#pragma once

#include <calquor/IDataAdapter.h>
#include <calquor/oleauto.h>

namespace calquor {
namespace Calquor_MFC {

inline constexpr GUID LIBID_Calquor_MFC = {0xE9484273, 0xA437, 0x4D19, {0x9E, 0x57, 0xD2, 0x33, 0x0D, 0xCB, 0x43, 0x99}};
inline constexpr CLSID CLSID_Calquom = {0x290E0061, 0x6BC4, 0x4938, {0x91, 0x58, 0xDB, 0x4F, 0xFA, 0xF8, 0x42, 0x0A}};
inline constexpr IID IID_IFormula = {0x107D13B0, 0x0BE3, 0x473F, {0xA5, 0x2A, 0x23, 0xB9, 0x63, 0x73, 0x03, 0xB1}};
inline constexpr IID IID_IDataAdapter = {0xEBBD8F1D, 0x9380, 0x4F23, {0xB6, 0x28, 0x6C, 0x85, 0x99, 0x10, 0x72, 0x00}};

using calquor::IDataAdapter;

// DISPIDs: SetFormulaStr 2, Compile 3, Calculate 4, SetDataAdapter 5,
// GetFormulaStr 6 (IDataAdapter: GetOperantValue 1, GetFormulaByName 2,
// IsKnown 3).
struct IFormula : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetFormulaStr(BSTR FormulaString) = 0;
    // ErrPos: the compiler's position; MSG: "Succeed" or the error.
    virtual HRESULT STDMETHODCALLTYPE Compile(VARIANT* ErrPos, VARIANT* MSG) = 0;
    // ErrPos: 0 or the error code; MSG: the error message (empty on
    // success); Result: the formula's value.
    virtual HRESULT STDMETHODCALLTYPE Calculate(VARIANT* ErrPos, VARIANT* MSG, VARIANT* Result) = 0;
    // The engine keeps one reference to the adapter's IDataAdapter until it
    // is replaced or the object goes; null (or an object without the
    // interface) leaves the object without adapter.
    virtual HRESULT STDMETHODCALLTYPE SetDataAdapter(IDispatch* pIDataAdapter) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormulaStr(BSTR* pFormula) = 0;

protected:
    ~IFormula() = default;
};

}  // namespace Calquor_MFC
}  // namespace calquor
