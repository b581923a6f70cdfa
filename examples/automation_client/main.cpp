// A small automation client: registers a server module, creates its object
// by programmatic identifier, binds an adapter of its own and calculates a
// formula over a few order lines, through the vtable and once by name.
//
//   calquor_example_automation [mfc|auto] [MODULE]
//
// The registry is $CALQUOR_REGISTRY, else the user's configuration
// directory; the example unregisters the server again when it is done.
#include <calquor/Calquor_Auto.h>
#include <calquor/Calquor_MFC.h>
#include <calquor/oleauto.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

using namespace calquor;

namespace {

struct Order {
    const char* region;
    double price;
    long qty;
};

// The client's adapter: the current order's fields and two named formulas.
// One implementation serves both servers' IDataAdapter IIDs.
class OrderAdapter final : public IDataAdapter {
public:
    const Order* current = nullptr;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
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
    // Lives on main's stack; the count is kept for the servers' benefit.
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override { return --m_cRef; }

    // Early binding only: the servers call the vtable.
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT GetOperantValue(BSTR name, VARIANT* value) override {
        const std::string n = Text(name);
        _variant_t result;
        if (n == "Price")
            result = current->price;
        else if (n == "Qty")
            result = static_cast<long>(current->qty);
        else if (n == "Region")
            result = current->region;
        else
            return E_INVALIDARG;
        *value = result.Detach();
        return S_OK;
    }
    HRESULT GetFormulaByName(BSTR name, BSTR* text) override {
        const auto found = m_formulas.find(Text(name));
        if (found == m_formulas.end()) return E_INVALIDARG;
        *text = _bstr_t(found->second).copy();
        return S_OK;
    }
    HRESULT IsKnown(BSTR name, VARIANT* known) override {
        const std::string n = Text(name);
        known->vt = VT_BOOL;
        known->boolVal = n == "Price" || n == "Qty" || n == "Region" ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    static std::string Text(BSTR text) { return text ? std::string(_bstr_t(text, true)) : std::string(); }

    ULONG m_cRef = 1;
    std::map<std::string, const char*> m_formulas{{"Net", "Round({Price}*{Qty}, 2)"}, {"Tax", "Round(@Net * 0.2, 2)"}};
};

std::string Show(const VARIANT& value) {
    if (value.vt == VT_EMPTY) return "(empty)";
    if (value.vt == VT_NULL) return "(null)";
    _variant_t text;
    if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return "(?)";
    return std::string(_bstr_t(text.bstrVal, true));
}

// Loads the module and calls one of its registration entry points.
HRESULT CallEntry(const char* module, const char* entry) {
    HMODULE handle = LoadLibrary(module);
    if (!handle) return CO_E_DLLNOTFOUND;
    auto function = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(handle, entry));
    const HRESULT hr = function ? function() : CO_E_ERRORINDLL;
    FreeLibrary(handle);
    return hr;
}

// Both servers' IFormula share one vtable shape; the client uses the one of
// the server it talks to.
template <class IFormula>
int Run(const char* progId, REFIID iid, OrderAdapter& adapter) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(_bstr_t(progId), &clsid);
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s is not registered: 0x%08X\n", progId, static_cast<unsigned>(hr));
        return 1;
    }
    void* created = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &created);
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot create %s: 0x%08X\n", progId, static_cast<unsigned>(hr));
        return 1;
    }
    IFormula* formula = static_cast<IFormula*>(created);
    const char* text = "'Net ' + @Net + ', tax ' + @Tax + ', EU: ' + ({Region} = 'EU')";
    formula->SetFormulaStr(_bstr_t(text).GetBSTR());
    formula->SetDataAdapter(&adapter);

    _variant_t pos, msg;
    formula->Compile(&pos, &msg);
    std::printf("%s\ncompile: %s\n", text, Show(msg).c_str());

    const Order orders[] = {{"EU", 19.99, 7}, {"US", 5.5, 3}, {"EU", 120.0, 2}};
    for (const Order& order : orders) {
        adapter.current = &order;
        _variant_t code, message, result;
        hr = formula->Calculate(&code, &message, &result);
        if (FAILED(hr))
            std::printf("  failed: 0x%08X\n", static_cast<unsigned>(hr));
        else if (code.lVal != 0)
            std::printf("  error %ld: %s\n", static_cast<long>(code.lVal), Show(message).c_str());
        else
            std::printf("  %s\n", Show(result).c_str());
    }

    // Once more by name, as a scripting client would call it.
    OLECHAR name[] = u"Calculate";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    formula->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    _variant_t code, message, result;
    VARIANTARG args[2];
    args[0].vt = args[1].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &message;  // arguments go last first
    args[1].pvarVal = &code;
    DISPPARAMS params{args, nullptr, 2, 0};
    hr = formula->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    std::printf("by name (DISPID %ld): %s\n", static_cast<long>(id), SUCCEEDED(hr) ? Show(result).c_str() : "failed");

    formula->Release();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool automation = argc > 1 && std::strcmp(argv[1], "auto") == 0;
    const char* module = argc > 2 ? argv[2] : (automation ? CALQUOR_EXAMPLE_AUTO_MODULE : CALQUOR_EXAMPLE_MFC_MODULE);
    CoInitialize(nullptr);

    HRESULT hr = CallEntry(module, "DllRegisterServer");
    if (FAILED(hr)) {
        std::fprintf(stderr, "registering %s failed: 0x%08X\n", module, static_cast<unsigned>(hr));
        return 1;
    }
    int result;
    {
        OrderAdapter adapter;
        result = automation
                     ? Run<Calquor_Auto::IFormula>("Calquor.Formula", Calquor_Auto::IID_IFormula, adapter)
                     : Run<Calquor_MFC::IFormula>("Calquor.Calquom", Calquor_MFC::IID_IFormula, adapter);
    }
    // The object is gone: the server may be unloaded.
    CoFreeUnusedLibraries();
    CallEntry(module, "DllUnregisterServer");
    CoUninitialize();
    return result;
}
