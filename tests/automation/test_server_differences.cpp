// Where the two servers differ: aggregation, the object's own IDataAdapter,
// errors the engine raises, and the question asked about a failing adapter
// call. Also the message box stand-in those questions use.
#include "AutomationSupport.h"

namespace calquor::test {
namespace {

// An outer object that aggregates the server's object.
class Outer final : public IUnknown {
public:
    IUnknown* inner = nullptr;
    ULONG count = 1;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG AddRef() override { return ++count; }
    ULONG Release() override { return --count; }
};

// Records the boxes shown and answers them.
struct Answerer {
    std::vector<std::string> texts;
    int answer = IDNO;
    static int Answer(void* context, const char* text, const char*, UINT type) {
        auto* self = static_cast<Answerer*>(context);
        self->texts.push_back(text);
        EXPECT_EQ(type & MB_TYPEMASK, MB_YESNOCANCEL);
        return self->answer;
    }
};

class DifferencesTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(CallEntry(kMfcModule, "DllRegisterServer"), S_OK);
        ASSERT_EQ(CallEntry(kAutoModule, "DllRegisterServer"), S_OK);
    }
    void TearDown() override {
        SetMessageBoxAnswerer(nullptr, nullptr);
        CoFreeUnusedLibraries();
        RegistryTest::TearDown();
    }
    template <class I>
    static HRESULT Create(REFCLSID clsid, REFIID iid, Ptr<I>& object) {
        return object.Receive(
            [&](void** out) { return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out); });
    }
};

TEST_F(DifferencesTest, OnlyCalquorAutoCanBeAggregated) {
    Outer outer;
    Ptr<IUnknown> inner;
    EXPECT_EQ(inner.Receive([&](void** out) {
        return CoCreateInstance(Calquor_MFC::CLSID_Calquom, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, out);
    }),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(inner.Receive([&](void** out) {
        return CoCreateInstance(Calquor_Auto::CLSID_Formula, &outer, CLSCTX_INPROC_SERVER, Calquor_Auto::IID_IFormula,
                                out);
    }),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(inner.Receive([&](void** out) {
        return CoCreateInstance(Calquor_Auto::CLSID_Formula, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, out);
    }),
              S_OK);
    outer.inner = inner.get();
    {
        Ptr<Calquor_Auto::IFormula> formula;
        ASSERT_EQ(formula.Receive([&](void** out) { return inner->QueryInterface(Calquor_Auto::IID_IFormula, out); }),
                  S_OK);
        EXPECT_EQ(outer.count, 2u);  // the inner object's interfaces count on the outer one
        // Its IUnknown is the outer object's.
        Ptr<IUnknown> identity;
        ASSERT_EQ(identity.Receive([&](void** out) { return formula->QueryInterface(IID_IUnknown, out); }), S_OK);
        EXPECT_EQ(identity.get(), &outer);
    }
    EXPECT_EQ(outer.count, 1u);
}

TEST_F(DifferencesTest, CalquorAutoAnswersIDataAdapterItself) {
    Ptr<Calquor_Auto::IFormula> formula;
    ASSERT_EQ(Create(Calquor_Auto::CLSID_Formula, Calquor_Auto::IID_IFormula, formula), S_OK);
    Ptr<IDataAdapter> adapter;
    ASSERT_EQ(adapter.Receive([&](void** out) { return formula->QueryInterface(Calquor_Auto::IID_IDataAdapter, out); }),
              S_OK);
    _variant_t known, value;
    ASSERT_EQ(adapter->IsKnown(Bstr("anything").get(), &known), S_OK);
    EXPECT_EQ(known.vt, VT_BOOL);
    EXPECT_EQ(known.boolVal, VARIANT_TRUE);
    ASSERT_EQ(adapter->GetOperantValue(Bstr("anything").get(), &value), S_OK);
    EXPECT_EQ(Text(value), "");
    Bstr text("x");
    ASSERT_EQ(adapter->GetFormulaByName(Bstr("f").get(), text.put()), S_OK);
    EXPECT_EQ(text.text(), "");
    // By name, through the adapter's own IDispatch.
    OLECHAR member[] = u"isknown";
    LPOLESTR names[] = {member};
    DISPID id = 0;
    ASSERT_EQ(adapter->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 3);
    // The object can be its own adapter: every operand and every named
    // formula is the empty string.
    ASSERT_EQ(formula->SetDataAdapter(adapter.get()), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("{a} + 'b' + @f").get()), S_OK);
    _variant_t pos, msg, result;
    ASSERT_EQ(formula->Calculate(&pos, &msg, &result), S_OK);
    EXPECT_EQ(Text(result), "b");
    ASSERT_EQ(formula->SetDataAdapter(nullptr), S_OK);  // breaks the cycle
    adapter.reset();
    formula.reset();
    HMODULE module = LoadLibrary(kAutoModule);
    EXPECT_EQ(reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"))(), S_OK);
    FreeLibrary(module);

    Ptr<Calquor_MFC::IFormula> mfc;
    ASSERT_EQ(Create(Calquor_MFC::CLSID_Calquom, Calquor_MFC::IID_IFormula, mfc), S_OK);
    EXPECT_EQ(adapter.Receive([&](void** out) { return mfc->QueryInterface(Calquor_MFC::IID_IDataAdapter, out); }),
              E_NOINTERFACE);
}

TEST_F(DifferencesTest, AnErrorRaisedInCalquorAutoBecomesDispException) {
    Ptr<Calquor_Auto::IFormula> formula;
    ASSERT_EQ(Create(Calquor_Auto::CLSID_Formula, Calquor_Auto::IID_IFormula, formula), S_OK);
    ASSERT_EQ(formula->SetFormulaStr(Bstr("Floor('abc')").get()), S_OK);
    // Through the vtable: the HRESULT, and the text in the error information.
    _variant_t pos, msg, result;
    EXPECT_EQ(formula->Calculate(&pos, &msg, &result), DISP_E_EXCEPTION);
    EXPECT_EQ(result.vt, VT_EMPTY);
    Ptr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr description;
    ASSERT_EQ(info->GetDescription(description.put()), S_OK);
    EXPECT_EQ(description.text(), "Parameter type mismatch");
    // By name: DISP_E_EXCEPTION with the text in EXCEPINFO.
    VARIANTARG args[2];
    args[0].vt = args[1].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &msg;
    args[1].pvarVal = &pos;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXCEPINFO exception{};
    VARIANT value{};
    ASSERT_EQ(formula->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &params, &value, &exception, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, DISP_E_EXCEPTION);
    EXPECT_EQ(std::string(_bstr_t(exception.bstrDescription, false)), "Parameter type mismatch");
    EXPECT_EQ(std::string(_bstr_t(exception.bstrSource, false)), "Calquor.Formula");
    SysFreeString(exception.bstrHelpFile);
    // Calquor_MFC reports the same formula's error in its out-parameters.
    Ptr<Calquor_MFC::IFormula> mfc;
    ASSERT_EQ(Create(Calquor_MFC::CLSID_Calquom, Calquor_MFC::IID_IFormula, mfc), S_OK);
    ASSERT_EQ(mfc->SetFormulaStr(Bstr("Floor('abc')").get()), S_OK);
    EXPECT_EQ(mfc->Calculate(&pos, &msg, &result), S_OK);
    EXPECT_EQ(pos.lVal, 1);
    EXPECT_EQ(Text(msg), "type cast error");
}

TEST_F(DifferencesTest, CalquorAutoAsksAboutAFailingAdapterCall) {
    Answerer answerer;
    SetMessageBoxAnswerer(&Answerer::Answer, &answerer);
    for (bool automation : {false, true}) {
        MapAdapter adapter(automation ? Calquor_Auto::IID_IDataAdapter : Calquor_MFC::IID_IDataAdapter);
        adapter.isKnownResult = E_FAIL;
        Ptr<IDispatch> object;
        ASSERT_EQ(Create(automation ? Calquor_Auto::CLSID_Formula : Calquor_MFC::CLSID_Calquom, IID_IDispatch, object),
                  S_OK);
        // Late-bound, so one path serves both servers.
        _variant_t text("{x} + 1"), dispatch(static_cast<IDispatch*>(&adapter));
        VARIANTARG one[1] = {text};
        DISPPARAMS params{one, nullptr, 1, 0};
        ASSERT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
        one[0] = dispatch;
        ASSERT_EQ(object->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
        _variant_t pos, msg, result;
        VARIANTARG two[2];
        two[0].vt = two[1].vt = VT_VARIANT | VT_BYREF;
        two[0].pvarVal = &msg;
        two[1].pvarVal = &pos;
        DISPPARAMS calc{two, nullptr, 2, 0};
        ASSERT_EQ(object->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &calc, &result, nullptr, nullptr), S_OK);
        // Answered "No": the call goes on as if the name were unknown.
        EXPECT_EQ(Text(msg), "Unrecognized element:x");
    }
    ASSERT_EQ(answerer.texts.size(), 1u);
    const std::string& text = answerer.texts[0];
    EXPECT_EQ(text.rfind("HRCHECK: ", 0), 0u);
    EXPECT_NE(text.find("IsKnown"), std::string::npos);
    EXPECT_NE(text.find("0x80004005"), std::string::npos);
    EXPECT_NE(text.find("[Y]es to terminate, [N]o to continue and [C]ancel to Debug"), std::string::npos);
}

struct BoxCase {
    UINT type;
    int answer;
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << "type " << c.type; }

class MessageBoxDefault : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxDefault, WritesToStandardErrorAndAnswersTheLeastDrasticButton) {
    ::testing::internal::CaptureStderr();
    const int answer = MessageBox(nullptr, "Proceed?", "Title", GetParam().type | MB_ICONQUESTION);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Title: Proceed?\n");
    EXPECT_EQ(answer, GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Buttons, MessageBoxDefault,
                         ::testing::Values(BoxCase{MB_YESNOCANCEL, IDNO}, BoxCase{MB_YESNO, IDNO},
                                           BoxCase{MB_OK, IDOK}, BoxCase{MB_OKCANCEL, IDCANCEL},
                                           BoxCase{MB_ABORTRETRYIGNORE, IDIGNORE},
                                           BoxCase{MB_RETRYCANCEL, IDCANCEL}));

TEST(MessageBoxAnswerer, ReplacesTheDefaultUntilRemoved) {
    Answerer answerer;
    answerer.answer = IDYES;
    SetMessageBoxAnswerer(&Answerer::Answer, &answerer);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(nullptr, "Sure?", nullptr, MB_YESNOCANCEL), IDYES);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Sure?\n");
    SetMessageBoxAnswerer(nullptr, nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(nullptr, "Sure?", nullptr, MB_YESNOCANCEL), IDNO);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answerer.texts, std::vector<std::string>{"Sure?"});
}

}  // namespace
}  // namespace calquor::test
