// What every part of a server module shares: the module's lock count, its
// own path, its type information, and the rule that no exception leaves an
// entry point or an interface method.
#pragma once

#include <calquor/oleauto.h>

#include <new>
#include <string>

namespace calquor::server {

// Holds one counted reference and releases it.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (m_p) m_p->Release();
    }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T** put() noexcept { return &m_p; }

private:
    T* m_p = nullptr;
};

// The lock count: one per live object and per LockServer(TRUE).
void Lock() noexcept;
void Unlock() noexcept;
long LockCount() noexcept;

// The module's full path (UTF-8); empty when it cannot be found.
std::string ModulePath();

// "{XXXXXXXX-...}"
std::string GuidText(REFGUID guid);

// Creates HKEY_CLASSES_ROOT\key (and its parents) and sets a text value
// (valueName null: the default value).
LSTATUS SetKeyText(const std::string& key, const char* valueName, const std::string& text);

// The module's type library (built from its own tables once per load) and
// the type information of one of its types. The caller releases it.
HRESULT GetTypeLib(ITypeLib** library);
HRESULT GetTypeInfo(REFGUID type, ITypeInfo** info);
// Type information to hand to a client, who may keep it after this module's
// objects are gone and the module was let go: loaded from the module's file,
// so that it keeps the module loaded for as long as it lives (the stand-in's
// type information calls into the module). The caller releases it.
HRESULT GetClientTypeInfo(REFGUID type, ITypeInfo** info);

// Loads the module's own type library (without registering it), defined
// per system: from the stand-in's tables, or from the module's TYPELIB
// resource on Windows. The caller releases it.
HRESULT LoadModuleTypeLib(ITypeLib** library);

// Turns the exception being handled into an HRESULT: E_OUTOFMEMORY for
// running out of memory, otherwise (a calculation past its limits included,
// described as "Out of memory.") DISP_E_EXCEPTION with the exception's
// text set as the thread's error information (source: the class's
// programmatic identifier, GUID: iid). Call only from a catch handler.
HRESULT ReportException(REFIID iid) noexcept;

// Runs body (which returns an HRESULT) so that no exception leaves it.
template <class Body>
HRESULT Guarded(REFIID iid, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ReportException(iid);
    }
}

}  // namespace calquor::server
