// Both servers as a client meets them: registered into a scratch registry,
// created by programmatic identifier, called through the vtable and by name,
// given an adapter of the client's, released and unloaded.
#include "AutomationSupport.h"

#include <dlfcn.h>

#include <type_traits>

namespace calquor::test {
namespace {

template <class S>
class ServerTest : public ServerFixture<S> {
protected:
    using typename ServerFixture<S>::IFormula;

    void TearDown() override {
        CoFreeUnusedLibraries();
        ServerFixture<S>::TearDown();
    }

    // A new object by programmatic identifier.
    HRESULT Create(Ptr<IFormula>& formula) {
        CLSID clsid;
        const HRESULT hr = CLSIDFromProgID(_bstr_t(S::progId), &clsid);
        if (FAILED(hr)) return hr;
        return formula.Receive(
            [&](void** out) { return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, S::formula, out); });
    }

    // Calculates text through the vtable; returns the result and fills the
    // code and message.
    static _variant_t Calculate(IFormula* formula, const char* text, long& code, std::string& message) {
        EXPECT_EQ(formula->SetFormulaStr(Bstr(text).get()), S_OK);
        _variant_t pos, msg, result;
        EXPECT_EQ(formula->Calculate(&pos, &msg, &result), S_OK);
        code = pos.vt == VT_I4 ? pos.lVal : -1;
        message = Text(msg);
        return result;
    }


};

using Servers = ::testing::Types<MfcServer, AutoServer>;
TYPED_TEST_SUITE(ServerTest, Servers, ServerNames);

TYPED_TEST(ServerTest, ProgIdLeadsToTheRegisteredClass) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(_bstr_t(TypeParam::progId), &clsid), S_OK);
    EXPECT_TRUE(clsid == TypeParam::clsid);
}

TYPED_TEST(ServerTest, CalculatesThroughTheVtable) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    long code = -1;
    std::string message;
    const _variant_t result = this->Calculate(formula.get(), "(2 + 3) * 4", code, message);
    EXPECT_EQ(code, 0);
    EXPECT_DOUBLE_EQ(static_cast<double>(result), 20.0);
    Bstr text;
    ASSERT_EQ(formula->GetFormulaStr(text.put()), S_OK);
    EXPECT_EQ(text.text(), "(2 + 3) * 4");
}

TYPED_TEST(ServerTest, StringResultsAreWideStrings) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    long code = -1;
    std::string message;
    const _variant_t result = this->Calculate(formula.get(), "'ab' + 'cd'", code, message);
    EXPECT_EQ(Text(result), "abcd");
}

TYPED_TEST(ServerTest, FormulaErrorsTravelInTheOutParameters) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("1 +").get()), S_OK);
    _variant_t pos, msg;
    EXPECT_EQ(formula->Compile(&pos, &msg), S_OK);
    EXPECT_EQ(pos.vt, VT_I4);
    EXPECT_NE(Text(msg), "Succeed");
    ASSERT_EQ(formula->SetFormulaStr(Bstr("1 + 2").get()), S_OK);
    EXPECT_EQ(formula->Compile(&pos, &msg), S_OK);
    EXPECT_EQ(Text(msg), "Succeed");
}

TYPED_TEST(ServerTest, GetFormulaStrStartsEmpty) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    Bstr text("x");
    ASSERT_EQ(formula->GetFormulaStr(text.put()), S_OK);
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(SysStringLen(text.get()), 0u);
}

TYPED_TEST(ServerTest, CalculatesByNameThroughIDispatch) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("7 * 6").get()), S_OK);
    // Names are matched without regard to case.
    OLECHAR name[] = u"cAlCuLaTe";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(formula->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 4);
    // Arguments in reverse order: rgvarg[1] is ErrPos, rgvarg[0] is MSG,
    // both by reference.
    _variant_t pos(long{99}), msg("old");
    VARIANTARG args[2];
    args[0].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &msg;
    args[1].vt = VT_VARIANT | VT_BYREF;
    args[1].pvarVal = &pos;
    DISPPARAMS params{args, nullptr, 2, 0};
    _variant_t result;
    EXCEPINFO exception{};
    UINT argError = 0;
    ASSERT_EQ(formula->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception,
                              &argError),
              S_OK);
    EXPECT_DOUBLE_EQ(static_cast<double>(result), 42.0);
    EXPECT_EQ(pos.vt, VT_I4);
    EXPECT_EQ(pos.lVal, 0);
    EXPECT_EQ(msg.vt, VT_BSTR);
}

TYPED_TEST(ServerTest, AdapterReferencesAreBalanced) {
    MapAdapter adapter(TypeParam::adapter);
    adapter.operands["price"] = _variant_t(2.5);
    adapter.operands["qty"] = _variant_t(long{4});
    adapter.formulas["net"] = "{price} * {qty}";
    {
        Ptr<typename TestFixture::IFormula> formula;
        ASSERT_EQ(this->Create(formula), S_OK);
        EXPECT_EQ(adapter.Count(), 1u);
        ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
        EXPECT_EQ(adapter.Count(), 2u);  // the engine holds one reference
        // Setting it again still leaves one.
        ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
        EXPECT_EQ(adapter.Count(), 2u);
        long code = -1;
        std::string message;
        const _variant_t result = this->Calculate(formula.get(), "@net + 1", code, message);
        EXPECT_EQ(code, 0) << message;
        EXPECT_DOUBLE_EQ(static_cast<double>(result), 11.0);
        // During the nested formula's calculation each running engine held
        // one more for its run and the nested one one for its binding, all
        // given back afterwards.
        EXPECT_EQ(adapter.countDuringCall, 5u);
        EXPECT_EQ(adapter.Count(), 2u);
        // Replacing the adapter releases every reference to it.
        ASSERT_EQ(formula->SetDataAdapter(nullptr), S_OK);
        EXPECT_EQ(adapter.Count(), 1u);
        ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
        this->Calculate(formula.get(), "@net + 1", code, message);
        EXPECT_EQ(code, 0) << message;
        EXPECT_EQ(adapter.Count(), 2u);
    }
    EXPECT_EQ(adapter.Count(), 1u);  // released with the object
}

TYPED_TEST(ServerTest, NullAdapterOrOneWithoutTheInterfaceLeavesNone) {
    MapAdapter foreign(IID_NULL);  // answers no IDataAdapter IID
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    ASSERT_EQ(formula->SetDataAdapter(&foreign), S_OK);
    EXPECT_EQ(foreign.Count(), 1u);
    long code = -1;
    std::string message;
    this->Calculate(formula.get(), "{x} + 1", code, message);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(message, "Unrecognized element:x");
    EXPECT_EQ(foreign.calls, 0);
    EXPECT_EQ(formula->SetDataAdapter(nullptr), S_OK);
}

TYPED_TEST(ServerTest, UnknownOperandIsReportedWithItsPosition) {
    MapAdapter adapter(TypeParam::adapter);
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
    long code = -1;
    std::string message;
    this->Calculate(formula.get(), "1 + {nosuch}", code, message);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(message, "Unrecognized element:nosuch");
}

TYPED_TEST(ServerTest, UnloadsAfterTheLastRelease) {
    {
        Ptr<typename TestFixture::IFormula> first, second;
        ASSERT_EQ(this->Create(first), S_OK);
        ASSERT_EQ(this->Create(second), S_OK);
        EXPECT_EQ(this->CanUnloadNow(), S_FALSE);
        first.reset();
        EXPECT_EQ(this->CanUnloadNow(), S_FALSE);
        CoFreeUnusedLibraries();
        EXPECT_TRUE(this->ModuleLoaded());
    }
    EXPECT_EQ(this->CanUnloadNow(), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_FALSE(this->ModuleLoaded());
}

TYPED_TEST(ServerTest, LockServerKeepsTheModule) {
    Ptr<IClassFactory> factory;
    ASSERT_EQ(factory.Receive([&](void** out) {
        return CoGetClassObject(TypeParam::clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, out);
    }),
              S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(this->ModuleLoaded());
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(this->ModuleLoaded());
}

TYPED_TEST(ServerTest, ObjectAnswersItsInterfacesOnly) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(formula), S_OK);
    for (const IID& iid : {IID_IUnknown, IID_IDispatch, TypeParam::formula}) {
        Ptr<IUnknown> other;
        EXPECT_EQ(other.Receive([&](void** out) { return formula->QueryInterface(iid, out); }), S_OK);
    }
    Ptr<IUnknown> none;
    EXPECT_EQ(none.Receive([&](void** out) { return formula->QueryInterface(IID_IClassFactory, out); }),
              E_NOINTERFACE);
    EXPECT_EQ(none.get(), nullptr);
}

TYPED_TEST(ServerTest, ServesNoOtherClass) {
    HMODULE module = LoadLibrary(TypeParam::module);
    auto entry = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
    void* factory = reinterpret_cast<void*>(1);
    EXPECT_EQ(entry(CLSID_Registrar, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    FreeLibrary(module);
}

}  // namespace
}  // namespace calquor::test
