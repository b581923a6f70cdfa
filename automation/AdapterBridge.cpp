// How the servers' engine talks to a client's IDataAdapter: through the
// dual interface's own methods, each name as a new BSTR freed after the
// call. The engine holds one counted reference on its adapter.
#include "AdapterAccess.h"
#include "Conversions.h"
#include "ServerBuild.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace calquor {
namespace {

// A BSTR made from an operand or formula name, freed when it goes. An
// empty name still goes out as a string, never as null.
class Name {
public:
    explicit Name(const char* text) {
        const _bstr_t wide = conv::Widen(text);
        m_text = SysAllocStringLen(wide.GetBSTR(), wide.length());
        if (!m_text) throw std::bad_alloc();
    }
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;
    ~Name() { SysFreeString(m_text); }
    BSTR get() const { return m_text; }

private:
    BSTR m_text;
};

// Calquor_Auto asks the user about a failing adapter call: Yes ends the
// process, Cancel stops in the debugger (if one is attached), No goes on
// with what the call left in its out-parameter.
void CheckResult(HRESULT hr, const char* call) {
    if constexpr (server::kAutoServer) {
        if (SUCCEEDED(hr)) return;
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        const std::string text = std::string("HRCHECK: ") + call + "\n" + code + " " + _com_error(hr).ErrorMessage() +
                                 "\n[Y]es to terminate, [N]o to continue and [C]ancel to Debug";
        const int answer = MessageBox(nullptr, text.c_str(), "Calquor_Auto", MB_YESNOCANCEL | MB_ICONERROR | MB_TASKMODAL);
        if (answer == IDYES) {
            std::fflush(nullptr);
            // Ends at once: unwinding through a client's call stack is not
            // what the user asked for.
            std::_Exit(EXIT_FAILURE);
        }
        if (answer == IDCANCEL) DebugBreak();
    } else {
        (void)hr;
        (void)call;
    }
}

}  // namespace

void Calquex::SetDataAdapter(IDispatch* adapter) {
    IDataAdapter* obtained = nullptr;
    if (adapter) {
        void* found = nullptr;
        if (SUCCEEDED(adapter->QueryInterface(server::api::IID_IDataAdapter, &found)))
            obtained = static_cast<IDataAdapter*>(found);
    }
    // The old reference goes after the new one is held, so setting the same
    // adapter again never lets it die in between.
    IDataAdapter* previous = m_pAdapter;
    m_pAdapter = obtained;
    adapter::Release(previous);
}

namespace adapter {

Handle DefaultHandle() noexcept { return nullptr; }

void Retain(Handle adapter) noexcept {
    if (adapter) adapter->AddRef();
}

void Release(Handle adapter) noexcept {
    if (adapter) adapter->Release();
}

bool IsKnown(Handle adapter, const char* name) {
    Name text(name);
    _variant_t known;
    const HRESULT hr = adapter->IsKnown(text.get(), &known);
    CheckResult(hr, "IDataAdapter.IsKnown");
    if (known.vt == VT_BOOL) return known.boolVal != VARIANT_FALSE;
    if (known.vt == VT_EMPTY) return false;
    // Any other kind is read as a boolean; one that is none raises the
    // conversion error, which ends the calculation.
    return conv::ToBoolean(known);
}

_variant_t OperantValue(Handle adapter, const char* name) {
    Name text(name);
    _variant_t value;
    const HRESULT hr = adapter->GetOperantValue(text.get(), &value);
    CheckResult(hr, "IDataAdapter.GetOperantValue");
    return value;
}

std::string FormulaByName(Handle adapter, const char* name) {
    Name text(name);
    BSTR formula = nullptr;
    const HRESULT hr = adapter->GetFormulaByName(text.get(), &formula);
    // Only exactly S_OK hands over a text; whatever the callee allocated is
    // freed in every case.
    _bstr_t owned(formula, false);
    if (hr != S_OK || !formula) return {};
    return conv::Narrow(formula, SysStringLen(formula));
}

}  // namespace adapter
}  // namespace calquor
