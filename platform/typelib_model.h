// A type library as the runtime keeps it: a private copy of a module's
// tables, with the Windows descriptions (TYPEATTR, FUNCDESC, TLIBATTR) built
// once and handed out by pointer.
#pragma once

#include <calquor/oleauto.h>

#include <memory>
#include <string>
#include <vector>

namespace calquor::tlb {

struct Param {
    std::u16string name;
    VARTYPE vt = VT_EMPTY;
    USHORT flags = 0;
};

struct Func {
    std::u16string name;
    std::u16string help;
    MEMBERID memid = MEMBERID_NIL;
    INVOKEKIND invkind = INVOKE_FUNC;
    WORD flags = 0;
    std::vector<Param> params;
    TLBINVOKEPROC invoke = nullptr;
    // The description: the vtable view (an HRESULT result and every
    // parameter, the retval one included).
    FUNCDESC desc{};
    std::vector<ELEMDESC> elems;
    std::vector<TYPEDESC> pointees;
};

struct Impl {
    GUID iid{};
    INT flags = 0;
};

struct Type {
    TYPEKIND kind = TKIND_DISPATCH;
    std::u16string name;
    std::u16string help;
    GUID guid{};
    WORD flags = 0;
    std::vector<Func> funcs;
    std::vector<Impl> impls;
    TYPEATTR attr{};

    const Func* FindFunc(MEMBERID memid) const;
};

// A load of the module a library was read from, freed with the library:
// type information a client keeps must not call into a module that was
// unloaded meanwhile (the stubs live there).
class ModuleLoad {
public:
    ModuleLoad() = default;
    ModuleLoad(const ModuleLoad&) = delete;
    ModuleLoad& operator=(const ModuleLoad&) = delete;
    ~ModuleLoad();
    // Takes a load of the module at path (UTF-8); false when it cannot.
    bool Load(const char* path);

private:
    HMODULE m_module = nullptr;
};

struct Library {
    ModuleLoad module;
    std::u16string name;
    std::u16string help;
    TLIBATTR attr{};
    std::vector<Type> types;

    // The index of the type with that GUID, or -1.
    int IndexOf(REFGUID guid) const;
};

// A checked copy of the tables; null when they are malformed (a null name,
// a function without stub, a coclass naming an interface the library lacks).
// With a module path the copy holds a load of that module, whose tables
// they are. Throws std::bad_alloc.
std::shared_ptr<const Library> Copy(const TLBLIBDATA& data, const char* modulePath = nullptr);

// A new ITypeLib over the library (one reference).
HRESULT NewTypeLib(std::shared_ptr<const Library> library, ITypeLib** result);

// ITypeInfo::Invoke of a dispatch type.
HRESULT Invoke(const Type& type, void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception, UINT* argError);

}  // namespace calquor::tlb
