// Fuzz target: the registry file and the registrar's scripts, on arbitrary
// bytes. Each input is used twice.
//
// As the registry file: the tree is read back through the registry functions
// (every key found by enumeration opens, sizes and counts agree, a short
// buffer is refused without being overrun), then one change rewrites the
// file, and the rewritten file must read back as the same tree with that one
// change. A file refused as damaged fails every call with ERROR_BADDB and is
// never rewritten.
//
// As a registration script (UTF-8, up to the first NUL) on an empty registry:
// a script refused as malformed leaves the registry untouched; whatever else
// happens, the registry stays readable, and a script that registered
// unregisters cleanly.
#include "FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace calquor;
using calquor::fuzz::Require;

namespace {

// How many keys one read-back visits: every registry call reads the whole
// file again, so an input with thousands of keys would otherwise make each
// run slow without reaching new code.
constexpr int kMaxKeysVisited = 64;

// The value the rewrite sets on the root key.
constexpr const char* kMarker = "calquor-fuzz-marker";

struct ValueData {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const ValueData&) const = default;
};

struct KeyData {
    std::string name;
    std::vector<ValueData> values;
    std::vector<KeyData> children;
    bool operator==(const KeyData&) const = default;
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// A scratch directory in memory when there is one: every registry change
// syncs its file.
const std::string& RegistryPath() {
    static const std::string path = [] {
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        pattern += "/calquor-fuzz-registry-XXXXXX";
        if (!mkdtemp(pattern.data())) fuzz::Fail("no scratch directory");
        const std::string file = pattern + "/registry.reg";
        setenv("CALQUOR_REGISTRY", file.c_str(), 1);
        static const std::string directory = pattern;
        std::atexit([] {
            unlink((directory + "/registry.reg").c_str());
            unlink((directory + "/registry.reg.lock").c_str());
            rmdir(directory.c_str());
        });
        return file;
    }();
    return path;
}

void WriteFile(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) fuzz::Fail("cannot write the registry file");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Handle {
    HKEY key = nullptr;
    ~Handle() {
        if (key) RegCloseKey(key);
    }
};

// Reads one value by index, and again by name; both must agree.
LSTATUS ReadValue(HKEY key, DWORD index, ValueData& out) {
    std::vector<char> name(16384);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = 0;
    LSTATUS status = RegEnumValue(key, index, name.data(), &nameLength, nullptr, &out.type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    out.name.assign(name.data(), nameLength);
    // Exactly the size given, so that a write past it is caught.
    auto data = std::make_unique<BYTE[]>(size ? size : 1);
    DWORD given = size;
    nameLength = static_cast<DWORD>(name.size());
    status = RegEnumValue(key, index, name.data(), &nameLength, nullptr, nullptr, data.get(), &given);
    Require(status == ERROR_SUCCESS && given == size, "RegEnumValue changed its mind about the size");
    out.data.assign(data.get(), data.get() + size);
    if (size > 0) {
        DWORD shorter = size - 1;
        nameLength = static_cast<DWORD>(name.size());
        Require(RegEnumValue(key, index, name.data(), &nameLength, nullptr, nullptr, data.get(), &shorter) ==
                        ERROR_MORE_DATA &&
                    shorter == size,
                "a short data buffer was accepted");
    }
    DWORD type = REG_NONE;
    DWORD querySize = size;
    auto again = std::make_unique<BYTE[]>(size ? size : 1);
    Require(RegQueryValueEx(key, out.name.c_str(), nullptr, &type, again.get(), &querySize) == ERROR_SUCCESS,
            "an enumerated value cannot be queried by its name");
    Require(type == out.type && querySize == size && std::equal(again.get(), again.get() + size, data.get()),
            "a value reads differently by name and by index");
    return ERROR_SUCCESS;
}

// Reads the key and its subkeys (up to the budget) through the registry
// functions.
LSTATUS ReadKey(HKEY key, KeyData& out, int& budget) {
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
    LSTATUS status = RegQueryInfoKey(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                                     &maxValueName, &maxValue, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;

    for (DWORD i = 0;; ++i) {
        ValueData value;
        status = ReadValue(key, i, value);
        if (status == ERROR_NO_MORE_ITEMS) {
            Require(i == values, "RegQueryInfoKey counted other values");
            break;
        }
        if (status != ERROR_SUCCESS) return status;
        Require(value.name.size() <= maxValueName && value.data.size() <= maxValue,
                "RegQueryInfoKey gave a maximum below a value's size");
        out.values.push_back(std::move(value));
    }

    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        status = RegEnumKeyEx(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            Require(i == subKeys, "RegQueryInfoKey counted other subkeys");
            break;
        }
        Require(status != ERROR_MORE_DATA, "a key name longer than names may be");
        if (status != ERROR_SUCCESS) return status;
        Require(length <= maxSubKey && name[length] == '\0', "a subkey name of another length");
        // One character short of room for the terminator: refused.
        if (length > 0) {
            auto exact = std::make_unique<char[]>(length);
            DWORD shortLength = length;
            Require(RegEnumKeyEx(key, i, exact.get(), &shortLength, nullptr, nullptr, nullptr, nullptr) ==
                        ERROR_MORE_DATA,
                    "a short name buffer was accepted");
        }
        KeyData child;
        child.name.assign(name, length);
        if (budget > 0) {
            --budget;
            Handle sub;
            Require(RegOpenKeyEx(key, name, 0, KEY_READ, &sub.key) == ERROR_SUCCESS,
                    "an enumerated subkey cannot be opened by its name");
            status = ReadKey(sub.key, child, budget);
            if (status != ERROR_SUCCESS) return status;
        }
        out.children.push_back(std::move(child));
    }
    return ERROR_SUCCESS;
}

LSTATUS ReadRegistry(KeyData& out) {
    int budget = kMaxKeysVisited;
    return ReadKey(HKEY_CLASSES_ROOT, out, budget);
}

// Sets the marker on the root to data it does not hold yet; tells whether
// the root had a value of that name.
bool SetMarker(const KeyData& before, ValueData& marker) {
    bool existed = false;
    marker = ValueData{kMarker, REG_BINARY, {0x5A}};
    for (const ValueData& value : before.values) {
        if (!EqualNoCase(value.name, kMarker)) continue;
        existed = true;
        marker.name = value.name;  // the name keeps the case it was created with
        if (value.type == REG_BINARY && value.data == marker.data) marker.data[0] = 0xA5;
    }
    Require(RegSetValueEx(HKEY_CLASSES_ROOT, kMarker, 0, marker.type, marker.data.data(),
                          static_cast<DWORD>(marker.data.size())) == ERROR_SUCCESS,
            "the marker could not be set on a readable registry");
    return existed;
}

void CheckRegistryFile(std::string_view text) {
    const std::string& path = RegistryPath();
    WriteFile(path, text);
    KeyData before;
    const LSTATUS status = ReadRegistry(before);
    if (status == ERROR_BADDB) {
        const BYTE byte = 1;
        Require(RegSetValueEx(HKEY_CLASSES_ROOT, kMarker, 0, REG_BINARY, &byte, 1) == ERROR_BADDB,
                "a damaged registry accepted a change");
        Handle key;
        Require(RegCreateKeyEx(HKEY_CLASSES_ROOT, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.key, nullptr) ==
                        ERROR_BADDB &&
                    !key.key,
                "a damaged registry created a key");
        Require(ReadFile(path) == text, "a damaged registry file was rewritten");
        return;
    }
    Require(status == ERROR_SUCCESS, "reading the registry failed other than as damaged");

    ValueData marker;
    const bool existed = SetMarker(before, marker);
    const std::string rewritten = ReadFile(path);
    KeyData after;
    Require(ReadRegistry(after) == ERROR_SUCCESS, "the rewritten registry file cannot be read");

    // What the change should have made of the tree that was read.
    bool replaced = false;
    for (ValueData& value : before.values) {
        if (EqualNoCase(value.name, kMarker)) {
            value = marker;
            replaced = true;
        }
    }
    if (!replaced) before.values.push_back(marker);
    Require(after == before, "the rewritten registry reads back differently");

    // Taking the marker away and setting it again writes the same file.
    if (!existed) {
        Require(RegDeleteValue(HKEY_CLASSES_ROOT, kMarker) == ERROR_SUCCESS, "the marker could not be deleted");
        Require(RegSetValueEx(HKEY_CLASSES_ROOT, kMarker, 0, marker.type, marker.data.data(),
                              static_cast<DWORD>(marker.data.size())) == ERROR_SUCCESS,
                "the marker could not be set again");
        Require(ReadFile(path) == rewritten, "rewriting a rewritten registry changed it");
    }
}

IRegistrar* Registrar() {
    static IRegistrar* const registrar = [] {
        void* object = nullptr;
        if (FAILED(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, &object)))
            fuzz::Fail("no registrar");
        auto* created = static_cast<IRegistrar*>(object);
        created->AddReplacement(u"MODULE", u"/opt/lib/calquor's module.so");
        created->AddReplacement(u"CLSID", u"{290E0061-6BC4-4938-9158-DB4FFAF8420A}");
        created->AddReplacement(u"APPID", u"{4F1B3A2C-0000-4000-8000-000000000001}");
        return created;
    }();
    return registrar;
}

void CheckScript(std::string_view bytes) {
    const std::string& path = RegistryPath();
    WriteFile(path, "");
    const std::string text(bytes.substr(0, bytes.find('\0')));
    const int units = text.empty() ? 0 : MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                              nullptr, 0);
    std::u16string script(static_cast<std::size_t>(units), u'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), script.data(), units);

    const HRESULT registered = Registrar()->StringRegister(script.c_str());
    if (registered == DISP_E_EXCEPTION) {
        Require(ReadFile(path).empty(), "a refused script wrote to the registry");
        return;
    }
    KeyData tree;
    Require(ReadRegistry(tree) == ERROR_SUCCESS, "registration left a registry that cannot be read");
    if (FAILED(registered)) return;
    Require(Registrar()->StringUnregister(script.c_str()) == S_OK, "a registered script did not unregister");
    Require(ReadRegistry(tree) == ERROR_SUCCESS, "unregistration left a registry that cannot be read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckRegistryFile(bytes);
    CheckScript(bytes);
    return 0;
}
