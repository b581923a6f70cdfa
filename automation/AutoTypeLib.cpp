// The resources of Calquor_Auto on the stand-in: its type library as tables
// (library Calquor 1.0 ("Calquor Library"), coclass Formula ("Formula
// Object"), the dual interfaces IFormula ("Dispatch interface for Formula
// Object") and IDataAdapter; Calquor_Auto.idl on Windows).
#include "DispatchStubs.h"
#include "ServerModule.h"

#include <calquor/Calquor_Auto.h>

namespace calquor::server {
namespace {

using Formula = FormulaStubs<Calquor_Auto::IFormula>;
using Adapter = AdapterStubs<IDataAdapter>;

constexpr TLBPARAMDATA kSetFormulaStr[] = {{u"FormulaString", VT_BSTR, kIn}};
constexpr TLBPARAMDATA kCompile[] = {{u"ErrPos", kVariantRef, kInOut}, {u"MSG", kVariantRef, kInOut}};
constexpr TLBPARAMDATA kCalculate[] = {
    {u"ErrPos", kVariantRef, kInOut}, {u"MSG", kVariantRef, kInOut}, {u"Result", kVariantRef, kRetval}};
constexpr TLBPARAMDATA kSetDataAdapter[] = {{u"IAdapter", VT_DISPATCH, kIn}};
constexpr TLBPARAMDATA kGetFormulaStr[] = {{u"pFormula", kBstrRef, kRetval}};

constexpr TLBFUNCDATA kFormulaFuncs[] = {
    {u"SetFormulaStr", 2, nullptr, INVOKE_FUNC, 0, kSetFormulaStr, 1, &Formula::SetFormulaStr},
    {u"Compile", 3, nullptr, INVOKE_FUNC, 0, kCompile, 2, &Formula::Compile},
    {u"Calculate", 4, nullptr, INVOKE_FUNC, 0, kCalculate, 3, &Formula::Calculate},
    {u"SetDataAdapter", 5, nullptr, INVOKE_FUNC, 0, kSetDataAdapter, 1, &Formula::SetDataAdapter},
    {u"GetFormulaStr", 6, nullptr, INVOKE_FUNC, 0, kGetFormulaStr, 1, &Formula::GetFormulaStr},
};

constexpr TLBPARAMDATA kGetOperantValue[] = {{u"OperantName", VT_BSTR, kIn}, {u"Value", kVariantRef, kRetval}};
constexpr TLBPARAMDATA kGetFormulaByName[] = {{u"FormulaName", VT_BSTR, kIn}, {u"bstrFormula", kBstrRef, kRetval}};
constexpr TLBPARAMDATA kIsKnown[] = {{u"OperantName", VT_BSTR, kIn}, {u"bKnown", kVariantRef, kRetval}};

constexpr TLBFUNCDATA kAdapterFuncs[] = {
    {u"GetOperantValue", 1, nullptr, INVOKE_FUNC, 0, kGetOperantValue, 2, &Adapter::GetOperantValue},
    {u"GetFormulaByName", 2, nullptr, INVOKE_FUNC, 0, kGetFormulaByName, 2, &Adapter::GetFormulaByName},
    {u"IsKnown", 3, nullptr, INVOKE_FUNC, 0, kIsKnown, 2, &Adapter::IsKnown},
};

constexpr TLBIMPLTYPEDATA kCoclassInterfaces[] = {
    {&Calquor_Auto::IID_IFormula, IMPLTYPEFLAG_FDEFAULT},
    {&Calquor_Auto::IID_IDataAdapter, 0},
};

constexpr TLBTYPEDATA kTypes[] = {
    {TKIND_DISPATCH, u"IFormula", u"Dispatch interface for Formula Object", Calquor_Auto::IID_IFormula, kDualFlags,
     kFormulaFuncs, 5, nullptr, 0},
    {TKIND_DISPATCH, u"IDataAdapter", nullptr, Calquor_Auto::IID_IDataAdapter, kDualFlags, kAdapterFuncs, 3, nullptr,
     0},
    {TKIND_COCLASS, u"Formula", u"Formula Object", Calquor_Auto::CLSID_Formula, TYPEFLAG_FCANCREATE, nullptr, 0,
     kCoclassInterfaces, 2},
};

constexpr TLBLIBDATA kLibrary = {u"Calquor", u"Calquor Library", Calquor_Auto::LIBID_Calquor, 0, 1, 0, 0, kTypes, 3};

}  // namespace

HRESULT LoadModuleTypeLib(ITypeLib** library) { return CreateTypeLibFromData(&kLibrary, library); }

}  // namespace calquor::server

const calquor::MODULERESOURCE* CalquorModuleResources(calquor::UINT* pcEntries) {
    static const calquor::MODULERESOURCE resources[] = {
        {"TYPELIB", 1, &calquor::server::kLibrary, sizeof(calquor::TLBLIBDATA)},
    };
    if (pcEntries) *pcEntries = 1;
    return resources;
}
