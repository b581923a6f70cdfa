// Shared helpers of the automation tests: a scratch registry per test, the
// built modules by path, a counted-reference holder, a C++ adapter object,
// and readers of the registry file.
#pragma once

#include <calquor/Calquor_Auto.h>
#include <calquor/Calquor_MFC.h>
#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace calquor::test {

inline constexpr const char* kMfcModule = CALQUOR_MFC_MODULE;
inline constexpr const char* kAutoModule = CALQUOR_AUTO_MODULE;
inline constexpr const char* kClqmfcModule = CALQUOR_CLQMFC_MODULE;

// Holds one counted reference.
template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { reset(); }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** put() {
        reset();
        return &m_p;
    }
    void reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }
    // Receives a void** result (QueryInterface, CoCreateInstance).
    template <class Call>
    HRESULT Receive(Call&& call) {
        reset();
        void* raw = nullptr;
        const HRESULT hr = call(&raw);
        m_p = static_cast<T*>(raw);
        return hr;
    }

private:
    T* m_p = nullptr;
};

// An owned BSTR from UTF-8 text.
class Bstr {
public:
    explicit Bstr(const char* text = "") : m_b(_bstr_t(text).copy()) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(m_b); }
    BSTR get() const { return m_b; }
    BSTR* put() {
        SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    std::string text() const { return m_b ? std::string(_bstr_t(m_b, true)) : std::string(); }

private:
    BSTR m_b;
};

inline std::string Text(const VARIANT& v) {
    if (v.vt != VT_BSTR) return "<not text>";
    return v.bstrVal ? std::string(_bstr_t(v.bstrVal, true)) : std::string();
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The registry file split into its sections: "[path]" -> the value lines.
inline std::map<std::string, std::vector<std::string>> Sections(const std::string& text) {
    std::map<std::string, std::vector<std::string>> sections;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line.front() == '[') {
            current = line.substr(1, line.size() - 2);
            sections[current];
        } else if (!current.empty()) {
            sections[current].push_back(line);
        }
    }
    return sections;
}

// Each test gets a registry of its own in a fresh directory.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A memory-backed directory when there is one: every registry write
        // is synced to its disk.
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        pattern += "/calquor-automation-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_directory = pattern;
        m_registry = m_directory + "/registry.reg";
        setenv("CALQUOR_REGISTRY", m_registry.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CALQUOR_REGISTRY");
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }
    const std::string& RegistryPath() const { return m_registry; }
    std::string RegistryText() const { return ReadFile(m_registry); }
    const std::string& Directory() const { return m_directory; }

private:
    std::string m_directory;
    std::string m_registry;
};

// Calls one entry point of a module loaded by path.
inline HRESULT CallEntry(const char* module, const char* entry) {
    HMODULE handle = LoadLibrary(module);
    if (!handle) return E_FAIL;
    auto function = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(handle, entry));
    const HRESULT hr = function ? function() : E_NOTIMPL;
    FreeLibrary(handle);
    return hr;
}

inline std::string GuidString(REFGUID guid) {
    OLECHAR text[39];
    StringFromGUID2(guid, text, 39);
    return std::string(_bstr_t(text));
}

// A client's adapter in C++: operands and named formulas from maps, a
// visible reference count, and optional failing answers. It answers the
// IDataAdapter IID it is made for (and IUnknown, IDispatch).
class MapAdapter final : public IDataAdapter {
public:
    explicit MapAdapter(REFIID iid) : m_iid(iid) {}

    std::map<std::string, _variant_t> operands;
    std::map<std::string, std::string> formulas;
    HRESULT isKnownResult = S_OK;
    // The reference count seen by the last IsKnown call.
    ULONG countDuringCall = 0;
    int calls = 0;

    ULONG Count() const { return m_cRef; }

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
    // Lives on the test's stack: the count only tells who holds it.
    ULONG Release() override { return --m_cRef; }

    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

    HRESULT GetOperantValue(BSTR name, VARIANT* value) override {
        ++calls;
        const auto found = operands.find(NameOf(name));
        if (found == operands.end()) return E_INVALIDARG;
        return VariantCopy(value, &found->second);
    }
    HRESULT GetFormulaByName(BSTR name, BSTR* text) override {
        ++calls;
        const auto found = formulas.find(NameOf(name));
        if (found == formulas.end()) return E_INVALIDARG;
        *text = _bstr_t(found->second.c_str()).copy();
        return S_OK;
    }
    HRESULT IsKnown(BSTR name, VARIANT* known) override {
        ++calls;
        countDuringCall = m_cRef;
        if (FAILED(isKnownResult)) return isKnownResult;
        known->vt = VT_BOOL;
        known->boolVal = operands.count(NameOf(name)) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    static std::string NameOf(BSTR name) { return name ? std::string(_bstr_t(name, true)) : std::string(); }

    IID m_iid;
    ULONG m_cRef = 1;
};

// What differs between the two servers for the tests that run on both.
struct MfcServer {
    using IFormula = Calquor_MFC::IFormula;
    static constexpr const char* module = kMfcModule;
    static constexpr const char* progId = "Calquor.Calquom";
    static constexpr CLSID clsid = Calquor_MFC::CLSID_Calquom;
    static constexpr IID formula = Calquor_MFC::IID_IFormula;
    static constexpr IID adapter = Calquor_MFC::IID_IDataAdapter;
    // A reference calculated without adapter: Null.
    static constexpr VARTYPE missingKind = VT_NULL;
    static constexpr bool answersIDataAdapter = false;
};

struct AutoServer {
    using IFormula = Calquor_Auto::IFormula;
    static constexpr const char* module = kAutoModule;
    static constexpr const char* progId = "Calquor.Formula";
    static constexpr CLSID clsid = Calquor_Auto::CLSID_Formula;
    static constexpr IID formula = Calquor_Auto::IID_IFormula;
    static constexpr IID adapter = Calquor_Auto::IID_IDataAdapter;
    // A reference calculated without adapter: the empty text.
    static constexpr VARTYPE missingKind = VT_BSTR;
    static constexpr bool answersIDataAdapter = true;
};

struct ServerNames {
    template <class T>
    static std::string GetName(int) {
        return std::is_same_v<T, MfcServer> ? "Calquor_MFC" : "Calquor_Auto";
    }
};

// A typed test over both servers: the server S is registered into the
// scratch registry before each test.
template <class S>
class ServerFixture : public RegistryTest {
protected:
    using IFormula = typename S::IFormula;

    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(CallEntry(S::module, "DllRegisterServer"), S_OK);
    }

    // The module's DllCanUnloadNow answer (E_FAIL without the entry).
    static HRESULT CanUnloadNow() {
        HMODULE module = LoadLibrary(S::module);
        auto entry = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
        const HRESULT hr = entry ? entry() : E_FAIL;
        FreeLibrary(module);
        return hr;
    }

    // Whether the module is still loaded in the process.
    static bool ModuleLoaded() {
        void* handle = dlopen(S::module, RTLD_LAZY | RTLD_NOLOAD);
        if (handle) dlclose(handle);
        return handle != nullptr;
    }
};

}  // namespace calquor::test
