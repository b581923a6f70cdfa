// The registrar: reads registry scripts and applies them to the registry in
// registering or unregistering mode (the rules are in winreg.h).
#include <calquor/oleauto.h>

#include "com_builtin.h"
#include "com_object.h"
#include "com_text.h"
#include "registry_store.h"

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace calquor {
namespace {

// ---- the script tree ----

struct ScriptValue {
    char kind = 0;  // 's', 'd' or 'b'
    std::string text;
};

struct ScriptKey {
    enum class Mode { Plain, NoRemove, ForceRemove, Delete };
    Mode mode = Mode::Plain;
    std::string name;
    bool hasDefault = false;
    ScriptValue defaultValue;
    std::vector<std::pair<std::string, ScriptValue>> values;
    std::vector<ScriptKey> keys;
};

// ---- reading ----

struct Token {
    std::string text;
    bool quoted = false;
};

class ScriptReader {
public:
    explicit ScriptReader(const std::map<std::string, std::string, com::LessNoCaseFn>& replacements)
        : m_replacements(replacements) {}

    // The script's keys (all under HKEY_CLASSES_ROOT); false on a syntax
    // error or an unknown replacement.
    bool Read(std::string_view script, std::vector<ScriptKey>& keys) {
        if (!Tokenize(script)) return false;
        while (m_pos < m_tokens.size()) {
            const Token& root = m_tokens[m_pos++];
            if (root.quoted || (!com::EqualNoCase(root.text, "HKCR") && !com::EqualNoCase(root.text, "HKEY_CLASSES_ROOT")))
                return false;
            if (!Expect("{")) return false;
            while (!Peek("}")) {
                ScriptKey key;
                if (!Key(key, 1)) return false;
                keys.push_back(std::move(key));
            }
            ++m_pos;
        }
        return true;
    }

private:
    bool Tokenize(std::string_view s) {
        std::size_t i = 0;
        while (i < s.size()) {
            const char c = s[i];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++i;
                continue;
            }
            Token token;
            if (c == '\'') {
                token.quoted = true;
                ++i;
                while (true) {
                    if (i >= s.size()) return false;
                    if (s[i] == '\'') {
                        if (i + 1 < s.size() && s[i + 1] == '\'') {
                            token.text += '\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    token.text += s[i++];
                }
            } else {
                while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '\n' && s[i] != '\'')
                    token.text += s[i++];
            }
            if (!Replace(token.text)) return false;
            m_tokens.push_back(std::move(token));
        }
        return true;
    }

    // Replaces %NAME% by its replacement and %% by %.
    bool Replace(std::string& text) const {
        std::string out;
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] != '%') {
                out += text[i++];
                continue;
            }
            const std::size_t end = text.find('%', i + 1);
            if (end == std::string::npos) return false;
            const std::string name = text.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += '%';
            } else {
                const auto found = m_replacements.find(name);
                if (found == m_replacements.end()) return false;
                out += found->second;
            }
            i = end + 1;
        }
        text = std::move(out);
        return true;
    }

    bool Peek(std::string_view word) const {
        return m_pos < m_tokens.size() && !m_tokens[m_pos].quoted && m_tokens[m_pos].text == word;
    }

    bool Expect(std::string_view word) {
        if (!Peek(word)) return false;
        ++m_pos;
        return true;
    }

    bool PeekKeyword(std::string_view word) const {
        return m_pos < m_tokens.size() && !m_tokens[m_pos].quoted && com::EqualNoCase(m_tokens[m_pos].text, word);
    }

    bool Name(std::string& name) {
        if (m_pos >= m_tokens.size()) return false;
        const Token& token = m_tokens[m_pos];
        if (!token.quoted && (token.text == "{" || token.text == "}" || token.text == "=")) return false;
        if (token.text.empty() || token.text.find('\\') != std::string::npos) return false;
        name = token.text;
        ++m_pos;
        return true;
    }

    // "= kind 'value'"
    bool Assignment(ScriptValue& value) {
        if (!Expect("=") || m_pos + 1 >= m_tokens.size()) return false;
        const Token& kind = m_tokens[m_pos++];
        if (kind.quoted || kind.text.size() != 1) return false;
        value.kind = com::FoldAscii(kind.text[0]);
        if (value.kind != 's' && value.kind != 'd' && value.kind != 'b') return false;
        const Token& text = m_tokens[m_pos++];
        if (!text.quoted && (text.text == "{" || text.text == "}" || text.text == "=")) return false;
        value.text = text.text;
        return true;
    }

    // A key at depth (1 for the root's keys). Nesting deeper than the
    // registry's keys can is a syntax error, which also bounds the reader's
    // recursion.
    bool Key(ScriptKey& key, std::size_t depth) {
        if (depth > reg::kMaxDepth) return false;
        if (PeekKeyword("NoRemove")) {
            key.mode = ScriptKey::Mode::NoRemove;
            ++m_pos;
        } else if (PeekKeyword("ForceRemove")) {
            key.mode = ScriptKey::Mode::ForceRemove;
            ++m_pos;
        } else if (PeekKeyword("Delete")) {
            key.mode = ScriptKey::Mode::Delete;
            ++m_pos;
        }
        if (!Name(key.name)) return false;
        if (Peek("=")) {
            key.hasDefault = true;
            if (!Assignment(key.defaultValue)) return false;
        }
        if (!Peek("{")) return true;
        ++m_pos;
        while (!Peek("}")) {
            if (m_pos >= m_tokens.size()) return false;
            if (PeekKeyword("val")) {
                ++m_pos;
                std::pair<std::string, ScriptValue> value;
                if (!Name(value.first) || !Assignment(value.second)) return false;
                key.values.push_back(std::move(value));
            } else {
                ScriptKey child;
                if (!Key(child, depth + 1)) return false;
                key.keys.push_back(std::move(child));
            }
        }
        ++m_pos;
        return true;
    }

    const std::map<std::string, std::string, com::LessNoCaseFn>& m_replacements;
    std::vector<Token> m_tokens;
    std::size_t m_pos = 0;
};

// ---- applying ----

class KeyHandle {
public:
    KeyHandle() = default;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() {
        if (m_key) RegCloseKey(m_key);
    }
    HKEY get() const { return m_key; }
    PHKEY put() { return &m_key; }

private:
    HKEY m_key = nullptr;
};

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

bool ValueData(const ScriptValue& value, DWORD& type, std::vector<BYTE>& data) {
    data.clear();
    if (value.kind == 's') {
        type = REG_SZ;
        data.assign(value.text.begin(), value.text.end());
        data.push_back(0);
        return true;
    }
    if (value.kind == 'd') {
        type = REG_DWORD;
        const std::string& text = value.text;
        unsigned long long number = 0;
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::size_t start = hex ? 2 : 0;
        if (start >= text.size()) return false;
        for (std::size_t i = start; i < text.size(); ++i) {
            const char c = com::FoldAscii(text[i]);
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else
                return false;
            number = number * (hex ? 16 : 10) + static_cast<unsigned>(digit);
            if (number > 0xFFFFFFFFull) return false;
        }
        for (int b = 0; b < 4; ++b) data.push_back(static_cast<BYTE>(number >> (8 * b)));
        return true;
    }
    type = REG_BINARY;
    const std::string& text = value.text;
    if (text.size() % 2) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int byte = 0;
        for (std::size_t j = i; j < i + 2; ++j) {
            const char c = com::FoldAscii(text[j]);
            if (c >= '0' && c <= '9')
                byte = byte * 16 + (c - '0');
            else if (c >= 'a' && c <= 'f')
                byte = byte * 16 + (c - 'a' + 10);
            else
                return false;
        }
        data.push_back(static_cast<BYTE>(byte));
    }
    return true;
}

// Checks the values' data before anything is written.
bool CheckValues(const std::vector<ScriptKey>& keys) {
    DWORD type;
    std::vector<BYTE> data;
    for (const ScriptKey& key : keys) {
        if (key.hasDefault && !ValueData(key.defaultValue, type, data)) return false;
        for (const auto& [name, value] : key.values)
            if (!ValueData(value, type, data)) return false;
        if (!CheckValues(key.keys)) return false;
    }
    return true;
}

HRESULT SetValue(HKEY key, const char* name, const ScriptValue& value) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    ValueData(value, type, data);
    return FromStatus(RegSetValueEx(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())));
}

HRESULT RegisterKeys(HKEY parent, const std::vector<ScriptKey>& keys);
HRESULT UnregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys);

HRESULT RegisterKey(HKEY parent, const ScriptKey& script) {
    if (script.mode == ScriptKey::Mode::Delete || script.mode == ScriptKey::Mode::ForceRemove) {
        const LSTATUS status = RegDeleteTree(parent, script.name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
        if (script.mode == ScriptKey::Mode::Delete) return S_OK;
    }
    KeyHandle key;
    const LSTATUS status = RegCreateKeyEx(parent, script.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return FromStatus(status);
    if (script.hasDefault)
        if (const HRESULT hr = SetValue(key.get(), nullptr, script.defaultValue); FAILED(hr)) return hr;
    for (const auto& [name, value] : script.values)
        if (const HRESULT hr = SetValue(key.get(), name.c_str(), value); FAILED(hr)) return hr;
    return RegisterKeys(key.get(), script.keys);
}

HRESULT RegisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const ScriptKey& key : keys)
        if (const HRESULT hr = RegisterKey(parent, key); FAILED(hr)) return hr;
    return S_OK;
}

HRESULT UnregisterKey(HKEY parent, const ScriptKey& script) {
    if (script.mode == ScriptKey::Mode::Delete) return S_OK;
    if (script.mode == ScriptKey::Mode::ForceRemove) {
        const LSTATUS status = RegDeleteTree(parent, script.name.c_str());
        return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
    }
    DWORD subKeys = 0;
    {
        KeyHandle key;
        const LSTATUS status = RegOpenKeyEx(parent, script.name.c_str(), 0, KEY_ALL_ACCESS, key.put());
        if (status == ERROR_FILE_NOT_FOUND) return S_OK;
        if (status != ERROR_SUCCESS) return FromStatus(status);
        for (const auto& [name, value] : script.values) {
            const LSTATUS deleted = RegDeleteValue(key.get(), name.c_str());
            if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return FromStatus(deleted);
        }
        if (const HRESULT hr = UnregisterKeys(key.get(), script.keys); FAILED(hr)) return hr;
        if (script.mode == ScriptKey::Mode::NoRemove) return S_OK;
        const LSTATUS info = RegQueryInfoKey(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr);
        if (info != ERROR_SUCCESS) return FromStatus(info);
    }
    // Another program's subkeys keep the key.
    if (subKeys != 0) return S_OK;
    const LSTATUS status = RegDeleteKey(parent, script.name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

HRESULT UnregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const ScriptKey& key : keys)
        if (const HRESULT hr = UnregisterKey(parent, key); FAILED(hr)) return hr;
    return S_OK;
}

// ---- the registrar object ----

class Registrar final : public com::ComObject<IRegistrar> {
public:
    Registrar() : ComObject(IID_IRegistrar) {}


    HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item) override {
        return Guard([&] {
            if (!key || !*key) return E_INVALIDARG;
            m_replacements[com::Utf8(key)] = com::Utf8(item);
            return S_OK;
        });
    }
    HRESULT ClearReplacements() override {
        m_replacements.clear();
        return S_OK;
    }
    HRESULT ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
        return ResourceSz(file, id, type, true);
    }
    HRESULT ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
        return ResourceSz(file, id, type, false);
    }
    HRESULT FileRegister(LPCOLESTR fileName) override { return File(fileName, true); }
    HRESULT FileUnregister(LPCOLESTR fileName) override { return File(fileName, false); }
    HRESULT StringRegister(LPCOLESTR data) override {
        return Guard([&] { return Run(com::Utf8(data), true); });
    }
    HRESULT StringUnregister(LPCOLESTR data) override {
        return Guard([&] { return Run(com::Utf8(data), false); });
    }
    HRESULT ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) override { return Resource(file, id, type, true); }
    HRESULT ResourceUnregister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
        return Resource(file, id, type, false);
    }

private:
    template <class Body>
    static HRESULT Guard(Body&& body) noexcept {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    HRESULT Run(std::string_view script, bool registering) const {
        std::vector<ScriptKey> keys;
        ScriptReader reader(m_replacements);
        if (!reader.Read(script, keys) || !CheckValues(keys)) return DISP_E_EXCEPTION;
        return registering ? RegisterKeys(HKEY_CLASSES_ROOT, keys) : UnregisterKeys(HKEY_CLASSES_ROOT, keys);
    }

    HRESULT Resource(LPCOLESTR file, UINT id, LPCOLESTR type, bool registering) const {
        return Guard([&]() -> HRESULT {
            if (!file || !type) return E_INVALIDARG;
            HMODULE module = LoadLibrary(com::Utf8(file).c_str());
            if (!module) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
            HRESULT hr = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
            try {
                HRSRC resource = FindResource(module, id, com::Utf8(type).c_str());
                if (resource) {
                    const auto* text = static_cast<const char*>(LockResource(resource));
                    const std::string script(text ? text : "", text ? SizeofResource(module, resource) : 0);
                    hr = Run(script, registering);
                }
            } catch (...) {
                FreeLibrary(module);
                throw;
            }
            FreeLibrary(module);
            return hr;
        });
    }

    HRESULT ResourceSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type, bool registering) const {
        if (!id || !*id) return E_INVALIDARG;
        unsigned long number = 0;
        for (const OLECHAR* p = id; *p; ++p) {
            if (*p < u'0' || *p > u'9' || number > 0xFFFFFFFul) return E_INVALIDARG;
            number = number * 10 + static_cast<unsigned long>(*p - u'0');
        }
        return Resource(file, static_cast<UINT>(number), type, registering);
    }

    HRESULT File(LPCOLESTR fileName, bool registering) const {
        return Guard([&]() -> HRESULT {
            if (!fileName) return E_INVALIDARG;
            std::ifstream in(com::Utf8(fileName), std::ios::binary);
            if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            std::ostringstream text;
            text << in.rdbuf();
            return Run(text.str(), registering);
        });
    }

    std::map<std::string, std::string, com::LessNoCaseFn> m_replacements;
};

class RegistrarFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the runtime.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* registrar = new (std::nothrow) Registrar;
        if (!registrar) return E_OUTOFMEMORY;
        const HRESULT hr = registrar->QueryInterface(riid, ppv);
        registrar->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

RegistrarFactory g_registrarFactory;

}  // namespace

namespace com {

HRESULT GetRegistrarClassObject(REFIID riid, void** ppv) { return g_registrarFactory.QueryInterface(riid, ppv); }

}  // namespace com
}  // namespace calquor
