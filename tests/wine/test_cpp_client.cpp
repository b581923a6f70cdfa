// A C++ automation client, built for Windows and run under Wine after both
// servers are registered: it creates each class by programmatic identifier,
// binds an adapter object of its own and calculates operands and named
// formulas through the vtable and by name.
#include <calquor/Calquor_Auto.h>
#include <calquor/Calquor_MFC.h>
#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace calquor;

// The client's adapter: operands are doubles, formulas texts. It answers
// the IDataAdapter IID of both servers with one implementation.
class ClientAdapter final : public IDataAdapter {
public:
    std::map<std::wstring, double> values;
    std::map<std::wstring, std::wstring> formulas;
    long refs = 1;
    int valueCalls = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == Calquor_MFC::IID_IDataAdapter ||
            riid == Calquor_Auto::IID_IDataAdapter) {
            *ppv = static_cast<IDataAdapter*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetOperantValue(BSTR name, VARIANT* value) override {
        ++valueCalls;
        const auto it = values.find(name ? name : L"");
        if (it == values.end()) return S_OK;
        value->vt = VT_R8;
        value->dblVal = it->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormulaByName(BSTR name, BSTR* text) override {
        const auto it = formulas.find(name ? name : L"");
        if (it == formulas.end()) return E_FAIL;
        *text = SysAllocString(it->second.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsKnown(BSTR name, VARIANT* known) override {
        known->vt = VT_BOOL;
        known->boolVal = values.count(name ? name : L"") ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
};

struct Com {
    Com() { CoInitialize(nullptr); }
    ~Com() { CoUninitialize(); }
};

// Both servers' IFormula have the same vtable; the test runs once per
// programmatic identifier.
template <class Formula>
Formula* Create(const wchar_t* progId, REFIID iid) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) return nullptr;
    void* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object))) return nullptr;
    return static_cast<Formula*>(object);
}

template <class Formula>
void CalculatesThroughTheAdapter(const wchar_t* progId, REFIID iid) {
    Com com;
    Formula* formula = Create<Formula>(progId, iid);
    ASSERT_NE(formula, nullptr) << "not registered";
    ClientAdapter adapter;
    adapter.values[L"Price"] = 2.5;
    adapter.values[L"Qty"] = 4;
    adapter.formulas[L"Net"] = L"{Price} * {Qty}";
    ASSERT_EQ(formula->SetDataAdapter(&adapter), S_OK);
    EXPECT_GT(adapter.refs, 1) << "the server holds the adapter";

    BSTR text = SysAllocString(L"Round(@Net * 1.2, 2) + {Qty}");
    ASSERT_EQ(formula->SetFormulaStr(text), S_OK);
    SysFreeString(text);
    VARIANT pos, msg, result;
    VariantInit(&pos);
    VariantInit(&msg);
    VariantInit(&result);
    ASSERT_EQ(formula->Calculate(&pos, &msg, &result), S_OK);
    EXPECT_EQ(pos.vt, VT_I4);
    EXPECT_EQ(pos.lVal, 0);
    _variant_t number(result, false);
    EXPECT_DOUBLE_EQ(static_cast<double>(number), 16.0);
    EXPECT_EQ(adapter.valueCalls, 3);
    VariantClear(&msg);

    // By name, through IDispatch and the type library.
    OLECHAR* name = const_cast<OLECHAR*>(L"GetFormulaStr");
    DISPID id = 0;
    ASSERT_EQ(formula->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 6);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT got;
    VariantInit(&got);
    ASSERT_EQ(formula->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &got, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(got.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(got.bstrVal), L"Round(@Net * 1.2, 2) + {Qty}");
    VariantClear(&got);

    // A syntax error through Compile: its position and message.
    text = SysAllocString(L"1 + * 2");
    formula->SetFormulaStr(text);
    SysFreeString(text);
    VariantInit(&pos);
    VariantInit(&msg);
    ASSERT_EQ(formula->Compile(&pos, &msg), S_OK);
    EXPECT_EQ(pos.vt, VT_I4);
    EXPECT_GT(pos.lVal, 0);
    ASSERT_EQ(msg.vt, VT_BSTR);
    EXPECT_NE(std::wstring(msg.bstrVal), L"Succeed");
    VariantClear(&msg);

    ASSERT_EQ(formula->SetDataAdapter(nullptr), S_OK);
    EXPECT_EQ(adapter.refs, 1) << "the server let the adapter go";
    EXPECT_EQ(formula->Release(), 0u);
}

TEST(CppClient, CalquomCalculatesThroughTheAdapter) {
    CalculatesThroughTheAdapter<Calquor_MFC::IFormula>(L"Calquor.Calquom", Calquor_MFC::IID_IFormula);
}

TEST(CppClient, FormulaCalculatesThroughTheAdapter) {
    CalculatesThroughTheAdapter<Calquor_Auto::IFormula>(L"Calquor.Formula", Calquor_Auto::IID_IFormula);
}

}  // namespace
