// Small text helpers shared by the component services: UTF-16 <-> UTF-8,
// ASCII case folding for names, GUID text, and a counted-reference holder.
#pragma once

#include <calquor/oleauto.h>
#include <calquor/text_rules.h>

#include <string>
#include <string_view>

namespace calquor::com {

// UTF-8 text of a NUL-terminated (or null) wide string.
std::string Utf8(const OLECHAR* wide);
std::string Utf8(std::u16string_view wide);
// UTF-16 text of UTF-8 text.
std::u16string Utf16(std::string_view text);
// A new BSTR of the text; throws std::bad_alloc when memory runs out.
BSTR NewBstr(std::u16string_view text);
BSTR NewBstr(std::string_view text);

using calquor::FoldAscii;
// Equality and order without regard to ASCII case.
bool EqualNoCase(std::string_view a, std::string_view b);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
bool LessNoCase(std::string_view a, std::string_view b);

struct LessNoCaseFn {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return LessNoCase(a, b); }
};

// "{XXXXXXXX-XXXX-...}" and back; ParseGuid refuses anything else.
std::string GuidText(REFGUID guid);
bool ParseGuid(std::u16string_view text, GUID& guid);

// Registry text values: reads a REG_SZ (or REG_EXPAND_SZ) value of
// root\subKey (name null: the default value), and creates root\subKey with
// such a value.
LSTATUS ReadText(HKEY root, const std::string& subKey, const char* valueName, std::string& out);
LSTATUS WriteText(HKEY root, const std::string& subKey, const char* valueName, std::string_view text);

// Holds one counted reference and releases it.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) noexcept : m_p(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (m_p) m_p->Release();
    }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    // For out parameters: releases what is held and gives the slot.
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void reset(T* p = nullptr) noexcept {
        if (m_p) m_p->Release();
        m_p = p;
    }
    T* detach() noexcept {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    T* m_p = nullptr;
};

}  // namespace calquor::com
