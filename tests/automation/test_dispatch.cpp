// Type information and late-bound calls: the type libraries the modules
// carry, and IDispatch's answers to good and bad calls.
#include "AutomationSupport.h"

namespace calquor::test {
namespace {

std::string Str(BSTR text) {
    std::string result = text ? std::string(_bstr_t(text, true)) : "<null>";
    SysFreeString(text);
    return result;
}

struct LibraryCase {
    const char* module;
    GUID libid;
    const char* name;
    const char* help;
    const char* coclass;
    const char* coclassHelp;
    const char* formulaHelp;
    const char* adapterHelp;
    const char* calculateHelp;
    const char* adapterParameter;
};

void PrintTo(const LibraryCase& c, std::ostream* os) { *os << c.name; }

class TypeLibraryTest : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(TypeLibraryTest, DescribesTheLibraryItsTypesAndMethods) {
    const LibraryCase& c = GetParam();
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLib(_bstr_t(c.module), library.put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == c.libid);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attr);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(name), c.name);
    EXPECT_EQ(Str(help), c.help);
    ASSERT_EQ(library->GetTypeInfoCount(), 3u);
    const char* expected[][2] = {{"IFormula", c.formulaHelp}, {"IDataAdapter", c.adapterHelp},
                                 {c.coclass, c.coclassHelp}};
    for (INT i = 0; i < 3; ++i) {
        ASSERT_EQ(library->GetDocumentation(i, &name, &help, nullptr, nullptr), S_OK);
        EXPECT_EQ(Str(name), expected[i][0]);
        EXPECT_EQ(Str(help), expected[i][1]);
    }
    // The coclass: IFormula by default, IDataAdapter beside it.
    Ptr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfo(2, coclass.put()), S_OK);
    INT flags = -1;
    HREFTYPE ref = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, 0);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
    Ptr<ITypeInfo> adapter;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, adapter.put()), S_OK);
    UINT count = 0;
    BSTR names[3] = {};
    ASSERT_EQ(adapter->GetNames(2, names, 3, &count), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(Str(names[0]), "GetFormulaByName");
    EXPECT_EQ(Str(names[1]), "FormulaName");
    EXPECT_EQ(Str(names[2]), c.adapterParameter);
    // IFormula's Calculate: DISPID 4, two [in, out] VARIANT* and a retval.
    Ptr<ITypeInfo> formula;
    ASSERT_EQ(library->GetTypeInfo(0, formula.put()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(formula->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_EQ(type->cFuncs, 5);
    formula->ReleaseTypeAttr(type);
    FUNCDESC* func = nullptr;
    ASSERT_EQ(formula->GetFuncDesc(2, &func), S_OK);
    EXPECT_EQ(func->memid, 4);
    ASSERT_EQ(func->cParams, 3);
    EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(func->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_VARIANT);
    EXPECT_EQ(func->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
    EXPECT_EQ(func->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    formula->ReleaseFuncDesc(func);
    ASSERT_EQ(formula->GetDocumentation(4, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(name), "Calculate");
    EXPECT_EQ(Str(help), c.calculateHelp);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, TypeLibraryTest,
    ::testing::Values(LibraryCase{kMfcModule, Calquor_MFC::LIBID_Calquor_MFC, "Calquor_MFC", "<null>", "Calquom",
                                  "Calquom Class", "IFormula Interface", "IDataAdapter Interface", "method Calculate",
                                  "Value"},
                      LibraryCase{kAutoModule, Calquor_Auto::LIBID_Calquor, "Calquor", "Calquor Library", "Formula",
                                  "Formula Object", "Dispatch interface for Formula Object", "<null>", "<null>",
                                  "bstrFormula"}));

TEST(TypeLibrary, PlainLibraryCarriesAnEmptyOne) {
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLib(_bstr_t(kClqmfcModule), library.put()), S_OK);
    EXPECT_EQ(library->GetTypeInfoCount(), 0u);
    BSTR name = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(name), "CLQMFC");
    EXPECT_EQ(LoadTypeLib(u"/nonexistent/module.so", library.put()), TYPE_E_CANTLOADLIBRARY);
}

// Late-bound calls on a Calquor_MFC object created straight from its
// module's factory (no registry needed).
class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibrary(kMfcModule);
        ASSERT_NE(m_module, nullptr);
        auto entry = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m_module, "DllGetClassObject"));
        Ptr<IClassFactory> factory;
        ASSERT_EQ(factory.Receive([&](void** out) { return entry(Calquor_MFC::CLSID_Calquom, IID_IClassFactory, out); }),
                  S_OK);
        ASSERT_EQ(m_object.Receive([&](void** out) { return factory->CreateInstance(nullptr, IID_IDispatch, out); }),
                  S_OK);
    }
    void TearDown() override {
        m_object.reset();
        FreeLibrary(m_module);
    }

    HRESULT Call(DISPID id, std::vector<VARIANTARG> args, VARIANT* result, UINT* argError = nullptr,
                 std::vector<DISPID> named = {}, WORD flags = DISPATCH_METHOD) {
        DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
        UINT ignored = 0;
        return m_object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                                argError ? argError : &ignored);
    }

    static VARIANTARG Ref(VARIANT& target) {
        VARIANTARG arg{};
        arg.vt = VT_VARIANT | VT_BYREF;
        arg.pvarVal = &target;
        return arg;
    }

    HMODULE m_module = nullptr;
    Ptr<IDispatch> m_object;
};

TEST_F(DispatchTest, ArgumentsAreConvertedToTheDeclaredKinds) {
    // SetFormulaStr takes a BSTR: a number converts.
    _variant_t number(long{12});
    ASSERT_EQ(Call(2, {number}, nullptr), S_OK);
    _variant_t text;
    ASSERT_EQ(Call(6, {}, &text), S_OK);
    EXPECT_EQ(Text(text), "12");
    // A by-value argument to an [in, out] parameter is written in place:
    // rgvarg[1] is ErrPos, rgvarg[0] is MSG.
    VARIANTARG args[2] = {};
    DISPPARAMS params{args, nullptr, 2, 0};
    ASSERT_EQ(m_object->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(args[1].vt, VT_I4);
    EXPECT_EQ(Text(args[0]), "Succeed");
    VariantClear(&args[0]);
    VariantClear(&args[1]);
}

TEST_F(DispatchTest, NamedArgumentsFindTheirParameters) {
    OLECHAR member[] = u"compile", first[] = u"msg", second[] = u"ERRPOS";
    LPOLESTR names[] = {member, first, second};
    DISPID ids[3] = {};
    ASSERT_EQ(m_object->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 3);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 0);
    _variant_t formula("1+");
    ASSERT_EQ(Call(2, {formula}, nullptr), S_OK);
    _variant_t pos, msg;
    // rgvarg[0] is MSG (named 1), rgvarg[1] is ErrPos (named 0).
    ASSERT_EQ(Call(3, {Ref(msg), Ref(pos)}, nullptr, nullptr, {1, 0}), S_OK);
    EXPECT_EQ(pos.vt, VT_I4);
    EXPECT_EQ(msg.vt, VT_BSTR);
    EXPECT_NE(Text(msg), "Succeed");
}

struct BadInvoke {
    const char* what;
    DISPID id;
    int argCount;  // arguments given (VT_EMPTY or as below)
    VARTYPE argKind;
    std::vector<DISPID> named;
    WORD flags;
    HRESULT expected;
    UINT argError;
};

void PrintTo(const BadInvoke& c, std::ostream* os) { *os << c.what; }

class BadInvokes : public DispatchTest, public ::testing::WithParamInterface<BadInvoke> {};

TEST_P(BadInvokes, GetTheUsualCodes) {
    const BadInvoke& c = GetParam();
    std::vector<VARIANTARG> args(static_cast<std::size_t>(c.argCount));
    for (VARIANTARG& arg : args) arg.vt = c.argKind;
    UINT argError = 99;
    VARIANT result{};
    EXPECT_EQ(Call(c.id, args, &result, &argError, c.named, c.flags), c.expected) << c.what;
    if (c.expected == DISP_E_TYPEMISMATCH || c.expected == DISP_E_PARAMNOTFOUND) {
        EXPECT_EQ(argError, c.argError) << c.what;
    }
    VariantClear(&result);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, BadInvokes,
    ::testing::Values(BadInvoke{"unknown member", 99, 0, VT_EMPTY, {}, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND, 0},
                      BadInvoke{"property put", 2, 1, VT_I4, {}, DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND, 0},
                      BadInvoke{"too many", 2, 2, VT_I4, {}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 0},
                      BadInvoke{"too few", 3, 1, VT_I4, {}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 0},
                      BadInvoke{"no text form", 2, 1, VT_DISPATCH, {}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
                      BadInvoke{"not an object", 5, 1, VT_I4, {}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
                      BadInvoke{"named nowhere", 3, 2, VT_EMPTY, {0, 7}, DISPATCH_METHOD, DISP_E_PARAMNOTFOUND, 1},
                      BadInvoke{"named twice", 3, 2, VT_EMPTY, {0, 0}, DISPATCH_METHOD, DISP_E_PARAMNOTFOUND, 1},
                      BadInvoke{"named missing", 3, 1, VT_EMPTY, {1}, DISPATCH_METHOD, DISP_E_PARAMNOTOPTIONAL, 0}));

TEST_F(DispatchTest, NamesAndInterfacesAreChecked) {
    OLECHAR member[] = u"Calculate", bad[] = u"Nope";
    LPOLESTR names[] = {member, bad};
    DISPID ids[2] = {};
    EXPECT_EQ(m_object->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 4);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    LPOLESTR unknown[] = {bad};
    EXPECT_EQ(m_object->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(m_object->GetIDsOfNames(IID_IDispatch, names, 1, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNINTERFACE);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(m_object->Invoke(6, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    UINT count = 0;
    ASSERT_EQ(m_object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ptr<ITypeInfo> info;
    EXPECT_EQ(m_object->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);
    ASSERT_EQ(m_object->GetTypeInfo(0, 0, info.put()), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(name), "IFormula");
}

}  // namespace
}  // namespace calquor::test
