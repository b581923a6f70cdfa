// Clients that break the rules, against both servers: early and unbalanced
// releases, adapters that go away or unbind themselves, null strings and
// null out-pointers, and late-bound calls that do not fit the member.
// Every test ends with the module's count back at zero (DllCanUnloadNow).
#include "AutomationSupport.h"

#include <dlfcn.h>

#include <functional>
#include <type_traits>

namespace calquor::test {
namespace {

// A client's adapter on the heap: it deletes itself at its last Release
// and says so in *destroyed. A formula mapped to null is handed over as a
// null BSTR with S_OK; beforeValue runs at the start of GetOperantValue.
class OwnedAdapter final : public IDataAdapter {
public:
    OwnedAdapter(REFIID iid, bool& destroyed) : m_iid(iid), m_destroyed(destroyed) { m_destroyed = false; }

    std::map<std::string, _variant_t> operands;
    std::map<std::string, const char*> formulas;
    std::function<void()> beforeValue;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == m_iid) {
            *ppv = static_cast<IDataAdapter*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG count = --m_cRef;
        if (count == 0) {
            m_destroyed = true;
            delete this;
        }
        return count;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

    HRESULT GetOperantValue(BSTR name, VARIANT* value) override {
        if (beforeValue) beforeValue();
        const auto found = operands.find(NameOf(name));
        return found == operands.end() ? E_INVALIDARG : VariantCopy(value, &found->second);
    }
    HRESULT GetFormulaByName(BSTR name, BSTR* text) override {
        const auto found = formulas.find(NameOf(name));
        if (found == formulas.end()) return E_INVALIDARG;
        *text = found->second ? _bstr_t(found->second).copy() : nullptr;
        return S_OK;
    }
    HRESULT IsKnown(BSTR name, VARIANT* known) override {
        known->vt = VT_BOOL;
        known->boolVal = operands.count(NameOf(name)) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    ~OwnedAdapter() = default;
    static std::string NameOf(BSTR name) { return name ? std::string(_bstr_t(name, true)) : std::string(); }

    IID m_iid;
    bool& m_destroyed;
    ULONG m_cRef = 1;
};

// A VARIANT the server must not touch.
VARIANT Sentinel() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 4711;
    return v;
}

bool IsSentinel(const VARIANT& v) { return v.vt == VT_I4 && v.lVal == 4711; }

template <class S>
class HostileClientTest : public ServerFixture<S> {
protected:
    using typename ServerFixture<S>::IFormula;

    void TearDown() override {
        // Whatever the test did, everything it made has been released.
        EXPECT_EQ(this->CanUnloadNow(), S_OK);
        CoFreeUnusedLibraries();
        ServerFixture<S>::TearDown();
    }

    template <class I>
    static HRESULT Create(REFIID iid, Ptr<I>& object) {
        return object.Receive(
            [&](void** out) { return CoCreateInstance(S::clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out); });
    }

    // The class's factory, and an object it makes; both asserted to succeed.
    static void CreateThroughFactory(Ptr<IClassFactory>& factory, Ptr<IFormula>& formula) {
        ASSERT_EQ(factory.Receive([](void** out) {
            return CoGetClassObject(S::clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, out);
        }),
                  S_OK);
        ASSERT_EQ(formula.Receive([&](void** out) { return factory->CreateInstance(nullptr, S::formula, out); }),
                  S_OK);
    }

    struct Outcome {
        long code = -1;
        std::string message;
        _variant_t result;
    };

    static Outcome Calculate(IFormula* formula, const char* text) {
        Outcome out;
        EXPECT_EQ(formula->SetFormulaStr(Bstr(text).get()), S_OK);
        _variant_t pos, msg;
        EXPECT_EQ(formula->Calculate(&pos, &msg, &out.result), S_OK);
        out.code = pos.vt == VT_I4 ? pos.lVal : -1;
        out.message = Text(msg);
        return out;
    }

    static HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANTARG>& args,
                          std::vector<DISPID> named = {}, VARIANT* result = nullptr, UINT* argError = nullptr) {
        DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
        return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, argError);
    }


};

using Servers = ::testing::Types<MfcServer, AutoServer>;
TYPED_TEST_SUITE(HostileClientTest, Servers, ServerNames);

// ---- Releases ----------------------------------------------------------------

TYPED_TEST(HostileClientTest, EveryReleaseReturnsWhatIsLeft) {
    typename TestFixture::IFormula* formula = nullptr;
    ASSERT_EQ(CoCreateInstance(TypeParam::clsid, nullptr, CLSCTX_INPROC_SERVER, TypeParam::formula,
                               reinterpret_cast<void**>(&formula)),
              S_OK);
    EXPECT_EQ(formula->AddRef(), 2u);
    void* other = nullptr;
    ASSERT_EQ(formula->QueryInterface(IID_IDispatch, &other), S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(other)->Release(), 2u);
    ASSERT_EQ(formula->QueryInterface(IID_IUnknown, &other), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(other)->Release(), 2u);
    EXPECT_EQ(this->CanUnloadNow(), S_FALSE);
    EXPECT_EQ(formula->Release(), 1u);
    EXPECT_EQ(this->CanUnloadNow(), S_FALSE);
    // The last one: the object is gone and no further call is legal.
    EXPECT_EQ(formula->Release(), 0u);
    EXPECT_EQ(this->CanUnloadNow(), S_OK);
}

TYPED_TEST(HostileClientTest, ObjectsOutliveTheirFactory) {
    Ptr<IClassFactory> factory;
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_NO_FATAL_FAILURE(this->CreateThroughFactory(factory, formula));
    factory.reset();
    CoFreeUnusedLibraries();
    ASSERT_TRUE(this->ModuleLoaded());
    EXPECT_DOUBLE_EQ(static_cast<double>(this->Calculate(formula.get(), "6 * 7").result), 42.0);
    formula.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(this->ModuleLoaded());
}

// A client may build its own adapter's IDispatch on the server's type
// library, and may keep type information after the server's objects are
// gone and the module was asked to unload: calls through it still work, and
// the module goes once the last of it is released.
TYPED_TEST(HostileClientTest, TypeInformationOutlivesTheServersObjects) {
    Ptr<ITypeInfo> adapterInfo;
    {
        Ptr<ITypeLib> library;
        const _bstr_t path(TypeParam::module);
        ASSERT_EQ(LoadTypeLib(path, library.put()), S_OK);
        ASSERT_EQ(library->GetTypeInfoOfGuid(TypeParam::adapter, adapterInfo.put()), S_OK);
    }
    Ptr<ITypeInfo> formulaInfo;
    {
        Ptr<typename TestFixture::IFormula> formula;
        ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
        ASSERT_EQ(formula->GetTypeInfo(0, 0, formulaInfo.put()), S_OK);
    }
    CoFreeUnusedLibraries();
    ASSERT_TRUE(this->ModuleLoaded());

    MapAdapter adapter(TypeParam::adapter);
    adapter.operands["x"] = _variant_t(1.0);
    OLECHAR isKnown[] = u"IsKnown";
    LPOLESTR names[] = {isKnown};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(adapterInfo->GetIDsOfNames(names, 1, &id), S_OK);
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(u"x");
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT known;
    VariantInit(&known);
    EXPECT_EQ(DispInvoke(static_cast<IDataAdapter*>(&adapter), adapterInfo.get(), id, DISPATCH_METHOD, &params, &known,
                         nullptr, nullptr),
              S_OK);
    EXPECT_EQ(known.vt, VT_BOOL);
    EXPECT_EQ(known.boolVal, VARIANT_TRUE);
    EXPECT_EQ(adapter.calls, 1);
    VariantClear(&argument);
    VariantClear(&known);

    OLECHAR calculate[] = u"Calculate";
    names[0] = calculate;
    EXPECT_EQ(formulaInfo->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 4);

    adapterInfo.reset();
    formulaInfo.reset();
    EXPECT_FALSE(this->ModuleLoaded());
}

TYPED_TEST(HostileClientTest, AnUnbalancedUnlockDoesNotUnloadLiveObjects) {
    Ptr<IClassFactory> factory;
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_NO_FATAL_FAILURE(this->CreateThroughFactory(factory, formula));
    // Unlocking what was never locked is refused and counts for nothing.
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    EXPECT_EQ(this->CanUnloadNow(), S_FALSE);
    factory.reset();
    CoFreeUnusedLibraries();
    ASSERT_TRUE(this->ModuleLoaded());
    EXPECT_DOUBLE_EQ(static_cast<double>(this->Calculate(formula.get(), "2 * 4").result), 8.0);
}

TYPED_TEST(HostileClientTest, TheServerHoldsAnAdapterTheClientReleased) {
    bool destroyed = false;
    auto* adapter = new OwnedAdapter(TypeParam::adapter, destroyed);
    adapter->operands["x"] = _variant_t(long{5});
    adapter->formulas["twice"] = "{x} * 2";
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetDataAdapter(adapter), S_OK);
    EXPECT_EQ(adapter->Release(), 1u);  // the server's own reference is left
    const auto out = this->Calculate(formula.get(), "{x} + @twice");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_DOUBLE_EQ(static_cast<double>(out.result), 15.0);
    EXPECT_FALSE(destroyed);
    formula.reset();
    EXPECT_TRUE(destroyed);
}

TYPED_TEST(HostileClientTest, AnAdapterMayUnbindItselfDuringACall) {
    bool destroyed = false;
    auto* adapter = new OwnedAdapter(TypeParam::adapter, destroyed);
    adapter->operands["x"] = _variant_t(long{5});
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetDataAdapter(adapter), S_OK);
    adapter->Release();
    // Its first answer drops the server's reference, the last one but for
    // the running calculation's: that calculation ends on it.
    auto* raw = formula.get();
    adapter->beforeValue = [raw] { raw->SetDataAdapter(nullptr); };
    const auto out = this->Calculate(formula.get(), "{x} + {x}");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_DOUBLE_EQ(static_cast<double>(out.result), 10.0);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(this->Calculate(formula.get(), "{x}").message, "Unrecognized element:x");
}

TYPED_TEST(HostileClientTest, GrowingTextsFailAsRunningOutOfMemory) {
    // g0 is 500 bytes, g<k> = @g<k-1> + @g<k-1>: 500 MB asked for.
    MapAdapter adapter(TypeParam::adapter);
    adapter.formulas["g0"] = "'" + std::string(500, 'a') + "'";
    for (int k = 1; k <= 20; ++k)
        adapter.formulas["g" + std::to_string(k)] = "@g" + std::to_string(k - 1) + " + @g" + std::to_string(k - 1);
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("Length(@g20)").get()), S_OK);
    _variant_t pos, msg, result;
    if (std::is_same_v<TypeParam, AutoServer>) {
        // The limit's error, described, as Calquor_Auto reports every error
        // that leaves the engine.
        EXPECT_EQ(formula->Calculate(&pos, &msg, &result), DISP_E_EXCEPTION);
        EXPECT_EQ(result.vt, VT_EMPTY);
        Ptr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
        Bstr description;
        ASSERT_EQ(info->GetDescription(description.put()), S_OK);
        EXPECT_EQ(description.text(), "Out of memory.");
    } else {
        EXPECT_EQ(formula->Calculate(&pos, &msg, &result), S_OK);
        EXPECT_EQ(pos.lVal, 1);
        EXPECT_EQ(Text(msg), "type cast error");
        EXPECT_EQ(result.vt, VT_BOOL);
    }
    // Stopped by the text limits, far below the 100,000 reference
    // calculations that would stop it otherwise.
    EXPECT_LE(adapter.calls, 30000);
    // Nothing is held, and the object calculates again.
    EXPECT_EQ(adapter.Count(), 2u);
    const auto out = this->Calculate(formula.get(), "Length(@g1)");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_DOUBLE_EQ(static_cast<double>(out.result), 1000.0);
    ASSERT_EQ(formula->SetDataAdapter(nullptr), S_OK);
    EXPECT_EQ(adapter.Count(), 1u);
}

// ---- Without adapter ---------------------------------------------------------

struct UnboundCase {
    const char* text;
    long code;
    const char* message;
    bool missingResult;  // the result is what a reference without adapter gives
};

TYPED_TEST(HostileClientTest, CallsAfterTheAdapterIsRemoved) {
    MapAdapter adapter(TypeParam::adapter);
    adapter.operands["x"] = _variant_t(long{1});
    adapter.formulas["f"] = "{x} + 1";
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
    EXPECT_EQ(this->Calculate(formula.get(), "@f + {x}").code, 0);
    ASSERT_EQ(formula->SetDataAdapter(nullptr), S_OK);
    EXPECT_EQ(adapter.Count(), 1u);
    const int callsBefore = adapter.calls;

    const UnboundCase cases[] = {
        {"{x} + 1", 1, "Unrecognized element:x", false},
        {"@f", 0, "Succeed", true},
        {"@f + {x}", 6, "Unrecognized element:x", false},
        {"(@f)", 0, "Succeed", true},
    };
    for (const UnboundCase& c : cases) {
        SCOPED_TRACE(c.text);
        const auto out = this->Calculate(formula.get(), c.text);
        EXPECT_EQ(out.code, c.code);
        EXPECT_EQ(out.message, c.message);
        if (c.missingResult) {
            EXPECT_EQ(out.result.vt, TypeParam::missingKind);
            if (out.result.vt == VT_BSTR) {
                EXPECT_EQ(Text(out.result), "");
            }
        }
        _variant_t pos, msg;
        ASSERT_EQ(formula->Compile(&pos, &msg), S_OK);
        EXPECT_EQ(Text(msg), "Succeed");
    }
    EXPECT_EQ(adapter.calls, callsBefore);
}

// ---- Null strings and null out-pointers ----------------------------------------

TYPED_TEST(HostileClientTest, NullStringsAreEmptyStrings) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("1").get()), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(nullptr), S_OK);
    Bstr text("x");
    ASSERT_EQ(formula->GetFormulaStr(text.put()), S_OK);
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(SysStringLen(text.get()), 0u);
    _variant_t pos, msg, result;
    ASSERT_EQ(formula->Calculate(&pos, &msg, &result), S_OK);
    EXPECT_EQ(pos.lVal, 0);
    EXPECT_EQ(Text(result), "");

    // Through IDispatch: a VT_BSTR argument holding null.
    Ptr<IDispatch> dispatch;
    ASSERT_EQ(dispatch.Receive([&](void** out) { return formula->QueryInterface(IID_IDispatch, out); }), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("2").get()), S_OK);
    std::vector<VARIANTARG> args(1);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = nullptr;
    ASSERT_EQ(this->Invoke(dispatch.get(), 2, DISPATCH_METHOD, args), S_OK);
    std::vector<VARIANTARG> none;
    _variant_t got;
    ASSERT_EQ(this->Invoke(dispatch.get(), 6, DISPATCH_METHOD, none, {}, &got), S_OK);
    EXPECT_EQ(got.vt, VT_BSTR);
    EXPECT_EQ(Text(got), "");

    // From the adapter: a null formula text and a null text value.
    bool destroyed = false;
    auto* adapter = new OwnedAdapter(TypeParam::adapter, destroyed);
    VARIANT nullText;
    VariantInit(&nullText);
    nullText.vt = VT_BSTR;
    adapter->operands["s"] = nullText;
    adapter->formulas["empty"] = nullptr;
    ASSERT_EQ(formula->SetDataAdapter(adapter), S_OK);
    adapter->Release();
    auto out = this->Calculate(formula.get(), "{s} + 'a'");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_EQ(Text(out.result), "a");
    out = this->Calculate(formula.get(), "@empty");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_EQ(Text(out.result), "");
}

struct NullOutCase {
    const char* what;
    std::function<HRESULT(IDispatch* object, VARIANT* first, VARIANT* second)> call;
};

TYPED_TEST(HostileClientTest, NullOutPointersAreRefusedWithoutWrites) {
    using IFormula = typename TestFixture::IFormula;
    Ptr<IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("1 + 1").get()), S_OK);
    const auto f = [](IDispatch* object) { return static_cast<IFormula*>(object); };
    const NullOutCase cases[] = {
        {"Compile ErrPos", [&](IDispatch* o, VARIANT*, VARIANT* b) { return f(o)->Compile(nullptr, b); }},
        {"Compile MSG", [&](IDispatch* o, VARIANT* a, VARIANT*) { return f(o)->Compile(a, nullptr); }},
        {"Calculate ErrPos", [&](IDispatch* o, VARIANT* a, VARIANT* b) { return f(o)->Calculate(nullptr, a, b); }},
        {"Calculate MSG", [&](IDispatch* o, VARIANT* a, VARIANT* b) { return f(o)->Calculate(a, nullptr, b); }},
        {"Calculate Result", [&](IDispatch* o, VARIANT* a, VARIANT* b) { return f(o)->Calculate(a, b, nullptr); }},
        {"GetFormulaStr", [&](IDispatch* o, VARIANT*, VARIANT*) { return f(o)->GetFormulaStr(nullptr); }},
        {"GetTypeInfoCount", [](IDispatch* o, VARIANT*, VARIANT*) { return o->GetTypeInfoCount(nullptr); }},
        {"GetTypeInfo", [](IDispatch* o, VARIANT*, VARIANT*) { return o->GetTypeInfo(0, 0, nullptr); }},
        {"QueryInterface", [](IDispatch* o, VARIANT*, VARIANT*) { return o->QueryInterface(IID_IDispatch, nullptr); }},
    };
    for (const NullOutCase& c : cases) {
        SCOPED_TRACE(c.what);
        VARIANT first = Sentinel(), second = Sentinel();
        EXPECT_EQ(c.call(formula.get(), &first, &second), E_POINTER);
        EXPECT_TRUE(IsSentinel(first));
        EXPECT_TRUE(IsSentinel(second));
    }
}

TYPED_TEST(HostileClientTest, ASelfReferringByRefVariantIsWrittenOnce) {
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("1 +").get()), S_OK);
    VARIANT loop;
    loop.vt = VT_VARIANT | VT_BYREF;
    loop.pvarVal = &loop;
    _variant_t msg;
    ASSERT_EQ(formula->Compile(&loop, &msg), S_OK);
    EXPECT_EQ(loop.vt, VT_I4);
    EXPECT_NE(Text(msg), "Succeed");
}

// ---- Late-bound calls that do not fit ----------------------------------------------

// An argument of a kind, zeroed otherwise (null strings and objects).
VARIANTARG Arg(VARTYPE vt) {
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = vt;
    if (vt == VT_ERROR) arg.scode = DISP_E_PARAMNOTFOUND;  // a missing argument
    return arg;
}

constexpr UINT kUntouched = 99;

struct BadCall {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<VARTYPE> args;
    std::vector<DISPID> named;
    HRESULT expected;
    UINT argError;  // kUntouched: not set
};

const BadCall kBadCalls[] = {
    // Unknown members.
    {"DISPID_VALUE", DISPID_VALUE, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"DISPID 1", 1, DISPATCH_METHOD, {VT_BSTR}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"DISPID 7", 7, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"DISPID_UNKNOWN", DISPID_UNKNOWN, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"largest DISPID", 0x7FFFFFFF, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    // Methods called as something else.
    {"property get", 6, DISPATCH_PROPERTYGET, {}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"property put", 2, DISPATCH_PROPERTYPUT, {VT_BSTR}, {DISPID_PROPERTYPUT}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"property put by ref", 5, DISPATCH_PROPERTYPUTREF, {VT_DISPATCH}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    {"no flags", 6, 0, {}, {}, DISP_E_MEMBERNOTFOUND, kUntouched},
    // Argument counts.
    {"SetFormulaStr without argument", 2, DISPATCH_METHOD, {}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
    {"SetFormulaStr with two", 2, DISPATCH_METHOD, {VT_BSTR, VT_BSTR}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
    {"Compile with one", 3, DISPATCH_METHOD, {VT_EMPTY}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
    {"Compile with three", 3, DISPATCH_METHOD, {VT_EMPTY, VT_EMPTY, VT_EMPTY}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
    {"Calculate given its result", 4, DISPATCH_METHOD, {VT_EMPTY, VT_EMPTY, VT_EMPTY}, {}, DISP_E_BADPARAMCOUNT,
     kUntouched},
    {"GetFormulaStr given its result", 6, DISPATCH_METHOD, {VT_EMPTY}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
    {"SetDataAdapter without argument", 5, DISPATCH_METHOD, {}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
    // Kinds that do not convert.
    {"adapter as number", 5, DISPATCH_METHOD, {VT_I4}, {}, DISP_E_TYPEMISMATCH, 0},
    {"adapter as text", 5, DISPATCH_METHOD, {VT_BSTR}, {}, DISP_E_TYPEMISMATCH, 0},
    {"formula as object", 2, DISPATCH_METHOD, {VT_DISPATCH}, {}, DISP_E_TYPEMISMATCH, 0},
    {"formula as Null", 2, DISPATCH_METHOD, {VT_NULL}, {}, DISP_E_TYPEMISMATCH, 0},
    {"formula missing", 2, DISPATCH_METHOD, {VT_ERROR}, {}, DISP_E_PARAMNOTOPTIONAL, 0},
    {"formula by reference to nothing", 2, DISPATCH_METHOD, {VT_BSTR | VT_BYREF}, {}, E_INVALIDARG, 0},
    // Named arguments.
    {"named DISPID_PROPERTYPUT", 2, DISPATCH_METHOD, {VT_BSTR}, {DISPID_PROPERTYPUT}, DISP_E_PARAMNOTFOUND, 0},
    {"named negative", 3, DISPATCH_METHOD, {VT_EMPTY, VT_EMPTY}, {0, -5}, DISP_E_PARAMNOTFOUND, 1},
    {"named result", 4, DISPATCH_METHOD, {VT_EMPTY, VT_EMPTY}, {2, 0}, DISP_E_PARAMNOTFOUND, 0},
    {"named past the end", 2, DISPATCH_METHOD, {VT_BSTR}, {1}, DISP_E_PARAMNOTFOUND, 0},
    {"more named than given", 2, DISPATCH_METHOD, {VT_BSTR}, {0, 1}, E_INVALIDARG, kUntouched},
    // What a caller that cannot tell methods from properties sends.
    {"method or property get", 6, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK, kUntouched},
};

TYPED_TEST(HostileClientTest, LateBoundCallsThatDoNotFitGetTheirCodes) {
    Ptr<IDispatch> object;
    ASSERT_EQ(this->Create(IID_IDispatch, object), S_OK);
    for (const BadCall& c : kBadCalls) {
        SCOPED_TRACE(c.what);
        std::vector<VARIANTARG> args;
        for (VARTYPE vt : c.args) args.push_back(Arg(vt));
        // The named list may be longer than the arguments: the count says
        // how many the caller claims.
        std::vector<DISPID> named = c.named;
        DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()),
                          static_cast<UINT>(named.size())};
        UINT argError = kUntouched;
        _variant_t result;
        EXPECT_EQ(object->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, c.flags, &params, &result, nullptr, &argError),
                  c.expected);
        EXPECT_EQ(argError, c.argError);
        if (FAILED(c.expected)) {
            EXPECT_EQ(result.vt, VT_EMPTY);
        }
        for (VARIANTARG& arg : args) {
            if (!(arg.vt & VT_BYREF)) VariantClear(&arg);
        }
    }
}

TYPED_TEST(HostileClientTest, BrokenDispParamsAreRefused) {
    Ptr<IDispatch> object;
    ASSERT_EQ(this->Create(IID_IDispatch, object), S_OK);
    for (DISPID id : {2, 3, 4, 5, 6}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
        DISPPARAMS noArray{nullptr, nullptr, 1, 0};
        EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &noArray, nullptr, nullptr, nullptr), E_INVALIDARG);
        VARIANTARG arg = Arg(VT_BSTR);
        DISPPARAMS noNames{&arg, nullptr, 1, 1};
        EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &noNames, nullptr, nullptr, nullptr), E_INVALIDARG);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXPECT_EQ(object->Invoke(id, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
                  DISP_E_UNKNOWNINTERFACE);
    }
    // Failures and successes with every optional out-pointer null.
    std::vector<VARIANTARG> number{Arg(VT_I4)};
    EXPECT_EQ(object->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(this->Invoke(object.get(), 5, DISPATCH_METHOD, number), DISP_E_TYPEMISMATCH);
    std::vector<VARIANTARG> text{_variant_t("3 * 3").Detach()};
    EXPECT_EQ(this->Invoke(object.get(), 2, DISPATCH_METHOD, text), S_OK);
    VariantClear(&text[0]);
    std::vector<VARIANTARG> outs{Arg(VT_EMPTY), Arg(VT_EMPTY)};
    EXPECT_EQ(this->Invoke(object.get(), 4, DISPATCH_METHOD, outs), S_OK);  // the result is dropped
    EXPECT_EQ(outs[1].vt, VT_I4);
    VariantClear(&outs[0]);
}

struct NamesCase {
    const char* what;
    std::vector<const char16_t*> names;
    HRESULT expected;
    std::vector<DISPID> ids;
};

TYPED_TEST(HostileClientTest, GetIDsOfNamesReportsEveryUnknownName) {
    Ptr<IDispatch> object;
    ASSERT_EQ(this->Create(IID_IDispatch, object), S_OK);
    const NamesCase cases[] = {
        {"a method", {u"calculate"}, S_OK, {4}},
        {"an unknown name", {u"Evaluate"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {"an empty name", {u""}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {"a null name", {nullptr}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {"an unknown parameter", {u"Compile", u"msg", u"Bogus"}, DISP_E_UNKNOWNNAME, {3, 1, DISPID_UNKNOWN}},
        {"a null parameter", {u"Compile", nullptr}, DISP_E_UNKNOWNNAME, {3, DISPID_UNKNOWN}},
        {"an unknown method's parameter", {u"Nope", u"ErrPos"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
    };
    for (const NamesCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LPOLESTR> names;
        for (const char16_t* name : c.names) names.push_back(const_cast<LPOLESTR>(name));
        std::vector<DISPID> ids(names.size(), 12345);
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0, ids.data()),
                  c.expected);
        EXPECT_EQ(ids, c.ids);
    }
    OLECHAR calculate[] = u"Calculate";
    LPOLESTR one[] = {calculate};
    DISPID id = 12345;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG);
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, one, 1, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, one, 0, 0, &id), E_INVALIDARG);
    EXPECT_EQ(object->GetIDsOfNames(IID_IDispatch, one, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(id, 12345);
}

// Calquor_Auto's own IDataAdapter takes the same abuse.
TYPED_TEST(HostileClientTest, TheObjectsOwnAdapterTakesNullsAndBadCalls) {
    if constexpr (!TypeParam::answersIDataAdapter) {
        GTEST_SKIP() << "answers no IDataAdapter";
    }
    Ptr<typename TestFixture::IFormula> formula;
    ASSERT_EQ(this->Create(TypeParam::formula, formula), S_OK);
    Ptr<IDataAdapter> self;
    ASSERT_EQ(self.Receive([&](void** out) { return formula->QueryInterface(TypeParam::adapter, out); }), S_OK);
    _variant_t value, known;
    Bstr text("x");
    EXPECT_EQ(self->GetOperantValue(nullptr, &value), S_OK);
    EXPECT_EQ(Text(value), "");
    EXPECT_EQ(self->IsKnown(nullptr, &known), S_OK);
    EXPECT_EQ(known.vt, VT_BOOL);
    EXPECT_EQ(self->GetFormulaByName(nullptr, text.put()), S_OK);
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(SysStringLen(text.get()), 0u);
    EXPECT_EQ(self->GetOperantValue(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(self->IsKnown(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(self->GetFormulaByName(nullptr, nullptr), E_POINTER);

    std::vector<VARIANTARG> none;
    EXPECT_EQ(this->Invoke(self.get(), 1, DISPATCH_METHOD, none), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(this->Invoke(self.get(), 4, DISPATCH_METHOD, none), DISP_E_MEMBERNOTFOUND);
    std::vector<VARIANTARG> object{Arg(VT_DISPATCH)};
    UINT argError = kUntouched;
    EXPECT_EQ(this->Invoke(self.get(), 3, DISPATCH_METHOD, object, {}, nullptr, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u);
    std::vector<VARIANTARG> name{Arg(VT_BSTR)};
    _variant_t answer;
    EXPECT_EQ(this->Invoke(self.get(), 3, DISPATCH_METHOD, name, {}, &answer), S_OK);
    EXPECT_EQ(answer.vt, VT_BOOL);
}

}  // namespace
}  // namespace calquor::test
