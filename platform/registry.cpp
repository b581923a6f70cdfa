// The registry functions over the registry file.
#include <calquor/oleauto.h>

#include "registry_store.h"

#include <cstring>
#include <mutex>
#include <new>
#include <set>

namespace calquor {

// An open key: its path below HKEY_CLASSES_ROOT and its access rights.
struct HKEY__ {
    reg::Path path;
    REGSAM access;
};

namespace {

std::mutex g_handlesMutex;
std::set<HKEY__*> g_handles;

// The path and rights behind a handle; ERROR_INVALID_HANDLE for anything
// that is not an open handle.
LSTATUS Resolve(HKEY key, reg::Path& path, REGSAM& access) {
    if (key == HKEY_CLASSES_ROOT) {
        path.clear();
        access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    std::lock_guard<std::mutex> guard(g_handlesMutex);
    if (!key || !g_handles.count(key)) return ERROR_INVALID_HANDLE;
    path = key->path;
    access = key->access;
    return ERROR_SUCCESS;
}

bool HasControl(std::string_view name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return true;
    return false;
}

// Appends the parts of a subkey path ("a\b\c").
LSTATUS AppendSubKey(const char* subKey, reg::Path& path) {
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    std::string_view rest(subKey);
    while (true) {
        const std::size_t end = rest.find('\\');
        const std::string_view part = rest.substr(0, end);
        if (part.empty()) return ERROR_BAD_PATHNAME;
        if (part.size() > reg::kMaxKeyNameLength || HasControl(part)) return ERROR_INVALID_PARAMETER;
        path.emplace_back(part);
        if (end == std::string_view::npos) return ERROR_SUCCESS;
        rest.remove_prefix(end + 1);
    }
}

LSTATUS ValueName(const char* name, std::string& out) {
    out = name ? name : "";
    if (out.size() > reg::kMaxValueNameLength || HasControl(out)) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

LSTATUS NewHandle(reg::Path path, REGSAM access, PHKEY result) {
    auto* handle = new HKEY__{std::move(path), access};
    std::lock_guard<std::mutex> guard(g_handlesMutex);
    try {
        g_handles.insert(handle);
    } catch (...) {
        delete handle;
        throw;
    }
    *result = handle;
    return ERROR_SUCCESS;
}

// Runs body, turning running out of memory into its status code.
template <class Body>
LSTATUS Guard(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_INVALID_PARAMETER;
    }
}

// Reads the registry and gives the key behind the handle to use.
template <class Use>
LSTATUS WithKey(HKEY hKey, REGSAM needed, Use&& use) {
    reg::Path path;
    REGSAM access = 0;
    if (const LSTATUS status = Resolve(hKey, path, access); status != ERROR_SUCCESS) return status;
    if ((access & needed) != needed) return ERROR_ACCESS_DENIED;
    reg::Key root;
    if (const LSTATUS status = reg::Load(root); status != ERROR_SUCCESS) return status;
    const reg::Key* key = reg::Walk(root, path);
    if (!key) return ERROR_KEY_DELETED;
    return use(*key);
}

// Changes the registry at the key behind the handle.
template <class Change>
LSTATUS ChangeKey(HKEY hKey, REGSAM needed, Change&& change) {
    reg::Path path;
    REGSAM access = 0;
    if (const LSTATUS status = Resolve(hKey, path, access); status != ERROR_SUCCESS) return status;
    if ((access & needed) != needed) return ERROR_ACCESS_DENIED;
    return reg::Update([&](reg::Key& root, bool& changed) -> LSTATUS {
        reg::Key* key = reg::Walk(root, path);
        if (!key) return ERROR_KEY_DELETED;
        return change(*key, changed);
    });
}

// Copies a name into a caller's buffer of *length characters.
LSTATUS GiveName(const std::string& name, char* buffer, DWORD* length) {
    if (!buffer || !length) return ERROR_INVALID_PARAMETER;
    if (*length <= name.size()) {
        *length = static_cast<DWORD>(name.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LSTATUS GiveData(const reg::Value& value, DWORD* type, BYTE* data, DWORD* size) {
    if (type) *type = value.type;
    const auto needed = static_cast<DWORD>(value.data.size());
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, value.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

void EmptyClass(char* lpClass, DWORD* lpcchClass) {
    if (lpcchClass) {
        if (lpClass && *lpcchClass > 0) lpClass[0] = '\0';
        *lpcchClass = 0;
    }
}

}  // namespace

LSTATUS RegCreateKeyEx(HKEY hKey, const char* lpSubKey, DWORD, char*, DWORD, REGSAM samDesired,
                       const SECURITY_ATTRIBUTES*, PHKEY phkResult, DWORD* lpdwDisposition) {
    return Guard([&]() -> LSTATUS {
        if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
        *phkResult = nullptr;
        reg::Path path;
        REGSAM access = 0;
        if (const LSTATUS status = Resolve(hKey, path, access); status != ERROR_SUCCESS) return status;
        reg::Path relative;
        if (const LSTATUS status = AppendSubKey(lpSubKey, relative); status != ERROR_SUCCESS) return status;
        if (!relative.empty() && !(access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        // A key deeper than the registry nests is refused like a name too
        // long.
        if (path.size() + relative.size() > reg::kMaxDepth) return ERROR_INVALID_PARAMETER;
        bool createdAny = false;
        const LSTATUS status = reg::Update([&](reg::Key& root, bool& changed) -> LSTATUS {
            reg::Key* key = reg::Walk(root, path);
            if (!key) return ERROR_KEY_DELETED;
            for (const std::string& part : relative) {
                bool created = false;
                key = &key->MakeChild(part, created);
                createdAny = createdAny || created;
            }
            changed = createdAny;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) return status;
        if (lpdwDisposition) *lpdwDisposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        path.insert(path.end(), relative.begin(), relative.end());
        return NewHandle(std::move(path), samDesired, phkResult);
    });
}

LSTATUS RegOpenKeyEx(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    return Guard([&]() -> LSTATUS {
        if (!phkResult) return ERROR_INVALID_PARAMETER;
        *phkResult = nullptr;
        reg::Path path;
        REGSAM access = 0;
        if (const LSTATUS status = Resolve(hKey, path, access); status != ERROR_SUCCESS) return status;
        reg::Path relative;
        if (const LSTATUS status = AppendSubKey(lpSubKey, relative); status != ERROR_SUCCESS) return status;
        reg::Key root;
        if (const LSTATUS status = reg::Load(root); status != ERROR_SUCCESS) return status;
        const reg::Key* key = reg::Walk(root, path);
        if (!key) return ERROR_KEY_DELETED;
        if (!reg::Walk(*key, relative)) return ERROR_FILE_NOT_FOUND;
        path.insert(path.end(), relative.begin(), relative.end());
        return NewHandle(std::move(path), samDesired, phkResult);
    });
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(g_handlesMutex);
        if (!hKey || !g_handles.erase(hKey)) return ERROR_INVALID_HANDLE;
    }
    delete hKey;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueEx(HKEY hKey, const char* lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    return Guard([&]() -> LSTATUS {
        if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
        std::string name;
        if (const LSTATUS status = ValueName(lpValueName, name); status != ERROR_SUCCESS) return status;
        reg::Value value;
        value.name = name;
        value.type = dwType;
        if (cbData) value.data.assign(lpData, lpData + cbData);
        // Text values are always stored terminated, so that a
        // reader gets a terminated string back whatever the writer passed.
        if ((dwType == REG_SZ || dwType == REG_EXPAND_SZ) && (value.data.empty() || value.data.back() != 0))
            value.data.push_back(0);
        return ChangeKey(hKey, KEY_SET_VALUE, [&](reg::Key& key, bool& changed) -> LSTATUS {
            if (reg::Value* existing = key.FindValue(name)) {
                changed = existing->type != value.type || existing->data != value.data;
                existing->type = value.type;
                existing->data = value.data;
            } else {
                key.values.push_back(value);
                changed = true;
            }
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegQueryValueEx(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                        DWORD* lpcbData) {
    return Guard([&]() -> LSTATUS {
        if (lpReserved) return ERROR_INVALID_PARAMETER;
        std::string name;
        if (const LSTATUS status = ValueName(lpValueName, name); status != ERROR_SUCCESS) return status;
        return WithKey(hKey, KEY_QUERY_VALUE, [&](const reg::Key& key) -> LSTATUS {
            const reg::Value* value = key.FindValue(name);
            if (!value) return ERROR_FILE_NOT_FOUND;
            return GiveData(*value, lpType, lpData, lpcbData);
        });
    });
}

LSTATUS RegDeleteValue(HKEY hKey, const char* lpValueName) {
    return Guard([&]() -> LSTATUS {
        std::string name;
        if (const LSTATUS status = ValueName(lpValueName, name); status != ERROR_SUCCESS) return status;
        return ChangeKey(hKey, KEY_SET_VALUE, [&](reg::Key& key, bool& changed) -> LSTATUS {
            for (auto it = key.values.begin(); it != key.values.end(); ++it) {
                if (com::EqualNoCase(it->name, name)) {
                    key.values.erase(it);
                    changed = true;
                    return ERROR_SUCCESS;
                }
            }
            return ERROR_FILE_NOT_FOUND;
        });
    });
}

LSTATUS RegEnumKeyEx(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                     DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
    return Guard([&]() -> LSTATUS {
        if (lpReserved || !lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_ENUMERATE_SUB_KEYS, [&](const reg::Key& key) -> LSTATUS {
            if (dwIndex >= key.children.size()) return ERROR_NO_MORE_ITEMS;
            auto it = key.children.begin();
            std::advance(it, dwIndex);
            const LSTATUS status = GiveName(it->second->name, lpName, lpcchName);
            if (status != ERROR_SUCCESS) return status;
            EmptyClass(lpClass, lpcchClass);
            if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegEnumValue(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    return Guard([&]() -> LSTATUS {
        if (lpReserved || !lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_QUERY_VALUE, [&](const reg::Key& key) -> LSTATUS {
            if (dwIndex >= key.values.size()) return ERROR_NO_MORE_ITEMS;
            // The default value first, as it is listed in the file.
            std::vector<const reg::Value*> order;
            for (const reg::Value& value : key.values)
                if (value.name.empty()) order.push_back(&value);
            for (const reg::Value& value : key.values)
                if (!value.name.empty()) order.push_back(&value);
            const reg::Value& value = *order[dwIndex];
            const LSTATUS status = GiveName(value.name, lpValueName, lpcchValueName);
            if (status != ERROR_SUCCESS) return status;
            return GiveData(value, lpType, lpData, lpcbData);
        });
    });
}

LSTATUS RegQueryInfoKey(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved, DWORD* lpcSubKeys,
                        DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen, DWORD* lpcValues,
                        DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                        FILETIME* lpftLastWriteTime) {
    return Guard([&]() -> LSTATUS {
        if (lpReserved) return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_QUERY_VALUE, [&](const reg::Key& key) -> LSTATUS {
            std::size_t maxSubKey = 0, maxValueName = 0, maxValue = 0;
            for (const auto& [name, child] : key.children) maxSubKey = std::max(maxSubKey, child->name.size());
            for (const reg::Value& value : key.values) {
                maxValueName = std::max(maxValueName, value.name.size());
                maxValue = std::max(maxValue, value.data.size());
            }
            EmptyClass(lpClass, lpcchClass);
            if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key.children.size());
            if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(maxSubKey);
            if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
            if (lpcValues) *lpcValues = static_cast<DWORD>(key.values.size());
            if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(maxValueName);
            if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(maxValue);
            if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
            if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegDeleteKey(HKEY hKey, const char* lpSubKey) {
    return Guard([&]() -> LSTATUS {
        if (!lpSubKey) return ERROR_INVALID_PARAMETER;
        reg::Path relative;
        if (const LSTATUS status = AppendSubKey(lpSubKey, relative); status != ERROR_SUCCESS) return status;
        return ChangeKey(hKey, 0, [&](reg::Key& base, bool& changed) -> LSTATUS {
            if (relative.empty()) return ERROR_ACCESS_DENIED;  // a key cannot delete itself this way
            const std::string leaf = relative.back();
            relative.pop_back();
            reg::Key* parent = reg::Walk(base, relative);
            reg::Key* target = parent ? parent->Child(leaf) : nullptr;
            if (!target) return ERROR_FILE_NOT_FOUND;
            if (!target->children.empty()) return ERROR_ACCESS_DENIED;
            parent->children.erase(leaf);
            changed = true;
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegDeleteTree(HKEY hKey, const char* lpSubKey) {
    return Guard([&]() -> LSTATUS {
        reg::Path relative;
        if (const LSTATUS status = AppendSubKey(lpSubKey, relative); status != ERROR_SUCCESS) return status;
        return ChangeKey(hKey, 0, [&](reg::Key& base, bool& changed) -> LSTATUS {
            if (relative.empty()) {
                changed = !base.children.empty() || !base.values.empty();
                base.children.clear();
                base.values.clear();
                return ERROR_SUCCESS;
            }
            const std::string leaf = relative.back();
            relative.pop_back();
            reg::Key* parent = reg::Walk(base, relative);
            if (!parent || !parent->Child(leaf)) return ERROR_FILE_NOT_FOUND;
            parent->children.erase(leaf);
            changed = true;
            return ERROR_SUCCESS;
        });
    });
}

}  // namespace calquor
