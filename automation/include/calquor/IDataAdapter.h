// The adapter interface an automation client implements so that a server's
// engine can ask it for operand values and named formulas. Both servers use
// this one vtable, each under its own IID (Calquor_MFC::IID_IDataAdapter,
// Calquor_Auto::IID_IDataAdapter): an object may answer both IIDs with one
// implementation.
#pragma once

#include <calquor/oleauto.h>

namespace calquor {

// DISPIDs: GetOperantValue 1, GetFormulaByName 2, IsKnown 3.
// - GetOperantValue: the operand's value, any automation kind; Value comes
//   in empty.
// - GetFormulaByName: the named formula's text, which the caller frees; it
//   is used only when the call returns exactly S_OK.
// - IsKnown: whether the operand exists, a VARIANT read as a boolean (an
//   empty one is false); bKnown comes in empty.
// A failing IsKnown or GetOperantValue is not an error of the calculation:
// the engine goes on with what the out-parameter holds.
struct IDataAdapter : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetOperantValue(BSTR OperantName, VARIANT* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormulaByName(BSTR FormulaName, BSTR* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsKnown(BSTR OperantName, VARIANT* bKnown) = 0;

protected:
    ~IDataAdapter() = default;
};

}  // namespace calquor
