// The resources of Calquor_MFC on the stand-in: its type library as tables
// (library Calquor_MFC 1.0, coclass Calquom, the dual interfaces IFormula
// and IDataAdapter (non-extensible), every method with the help string
// "method <name>"; Calquor_MFC.idl on Windows) and the registry scripts
// 3000 and 3001.
#include "DispatchStubs.h"
#include "RegistryScripts.h"
#include "ServerModule.h"

#include <calquor/Calquor_MFC.h>

namespace calquor::server {
namespace {

using Formula = FormulaStubs<Calquor_MFC::IFormula>;
using Adapter = AdapterStubs<IDataAdapter>;

constexpr TLBPARAMDATA kSetFormulaStr[] = {{u"FormulaString", VT_BSTR, kIn}};
constexpr TLBPARAMDATA kCompile[] = {{u"ErrPos", kVariantRef, kInOut}, {u"MSG", kVariantRef, kInOut}};
constexpr TLBPARAMDATA kCalculate[] = {
    {u"ErrPos", kVariantRef, kInOut}, {u"MSG", kVariantRef, kInOut}, {u"Result", kVariantRef, kRetval}};
constexpr TLBPARAMDATA kSetDataAdapter[] = {{u"pIDataAdapter", VT_DISPATCH, kIn}};
constexpr TLBPARAMDATA kGetFormulaStr[] = {{u"pFormula", kBstrRef, kRetval}};

constexpr TLBFUNCDATA kFormulaFuncs[] = {
    {u"SetFormulaStr", 2, u"method SetFormulaStr", INVOKE_FUNC, 0, kSetFormulaStr, 1, &Formula::SetFormulaStr},
    {u"Compile", 3, u"method Compile", INVOKE_FUNC, 0, kCompile, 2, &Formula::Compile},
    {u"Calculate", 4, u"method Calculate", INVOKE_FUNC, 0, kCalculate, 3, &Formula::Calculate},
    {u"SetDataAdapter", 5, u"method SetDataAdapter", INVOKE_FUNC, 0, kSetDataAdapter, 1, &Formula::SetDataAdapter},
    {u"GetFormulaStr", 6, u"method GetFormulaStr", INVOKE_FUNC, 0, kGetFormulaStr, 1, &Formula::GetFormulaStr},
};

constexpr TLBPARAMDATA kGetOperantValue[] = {{u"OperantName", VT_BSTR, kIn}, {u"Value", kVariantRef, kRetval}};
constexpr TLBPARAMDATA kGetFormulaByName[] = {{u"FormulaName", VT_BSTR, kIn}, {u"Value", kBstrRef, kRetval}};
constexpr TLBPARAMDATA kIsKnown[] = {{u"OperantName", VT_BSTR, kIn}, {u"bKnown", kVariantRef, kRetval}};

constexpr TLBFUNCDATA kAdapterFuncs[] = {
    {u"GetOperantValue", 1, u"method GetOperantValue", INVOKE_FUNC, 0, kGetOperantValue, 2, &Adapter::GetOperantValue},
    {u"GetFormulaByName", 2, u"method GetFormulaByName", INVOKE_FUNC, 0, kGetFormulaByName, 2,
     &Adapter::GetFormulaByName},
    {u"IsKnown", 3, u"method IsKnown", INVOKE_FUNC, 0, kIsKnown, 2, &Adapter::IsKnown},
};

constexpr TLBIMPLTYPEDATA kCoclassInterfaces[] = {
    {&Calquor_MFC::IID_IFormula, IMPLTYPEFLAG_FDEFAULT},
    {&Calquor_MFC::IID_IDataAdapter, 0},
};

constexpr WORD kInterfaceFlags = kDualFlags | TYPEFLAG_FNONEXTENSIBLE;

constexpr TLBTYPEDATA kTypes[] = {
    {TKIND_DISPATCH, u"IFormula", u"IFormula Interface", Calquor_MFC::IID_IFormula, kInterfaceFlags, kFormulaFuncs,
     5, nullptr, 0},
    {TKIND_DISPATCH, u"IDataAdapter", u"IDataAdapter Interface", Calquor_MFC::IID_IDataAdapter, kInterfaceFlags,
     kAdapterFuncs, 3, nullptr, 0},
    {TKIND_COCLASS, u"Calquom", u"Calquom Class", Calquor_MFC::CLSID_Calquom, TYPEFLAG_FCANCREATE, nullptr, 0,
     kCoclassInterfaces, 2},
};

constexpr TLBLIBDATA kLibrary = {u"Calquor_MFC", nullptr, Calquor_MFC::LIBID_Calquor_MFC, 0, 1, 0, 0, kTypes, 3};

}  // namespace

HRESULT LoadModuleTypeLib(ITypeLib** library) { return CreateTypeLibFromData(&kLibrary, library); }

}  // namespace calquor::server

const calquor::MODULERESOURCE* CalquorModuleResources(calquor::UINT* pcEntries) {
    using namespace calquor::server;
    static const calquor::MODULERESOURCE resources[] = {
        {"TYPELIB", 1, &kLibrary, sizeof(calquor::TLBLIBDATA)},
        {"REGISTRY", 3000, kAppIdScriptText, sizeof kAppIdScriptText - 1},
        {"REGISTRY", 3001, kClassScriptText, sizeof kClassScriptText - 1},
    };
    if (pcEntries) *pcEntries = sizeof resources / sizeof resources[0];
    return resources;
}
