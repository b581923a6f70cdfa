// Registry files and registrar scripts beyond what any registration writes:
// blank hex data, names and nesting past the registry's limits, scripts
// nested without end. "Regression" marks a defect found by fuzzing or
// review.
#include "AutomationSupport.h"

#include <cstring>

namespace calquor::test {
namespace {

std::string Repeat(const std::string& part, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += part;
    return text;
}

std::string Nested(int depth) { return "[HKEY_CLASSES_ROOT" + Repeat("\\k", depth) + "]\n"; }

struct FileCase {
    const char* what;
    std::string body;  // after the REGEDIT4 line
    LSTATUS status;    // of reading the registry
    // When readable: value "v" of key "x" has this many bytes (-1: no check).
    int valueSize;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.what; }

class RegistryFiles : public RegistryTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(RegistryFiles, ReadAsTheLimitsSay) {
    const FileCase& c = GetParam();
    const std::string text = "REGEDIT4\n" + c.body;
    {
        std::ofstream out(RegistryPath(), std::ios::binary);
        out << text;
    }
    DWORD subKeys = 0;
    EXPECT_EQ(RegQueryInfoKey(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr),
              c.status);
    if (c.status != ERROR_SUCCESS) {
        EXPECT_EQ(RegistryText(), text);  // a damaged file is left as it is
        return;
    }
    EXPECT_EQ(subKeys, 1u);
    if (c.valueSize < 0) return;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 99;
    EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, static_cast<DWORD>(c.valueSize));
    RegCloseKey(key);
}

const std::string kX = "[HKEY_CLASSES_ROOT\\x]\n";

INSTANTIATE_TEST_SUITE_P(
    Limits, RegistryFiles,
    ::testing::Values(
        // Regression: blank hex data was read from before its text.
        FileCase{"hex data of blanks", kX + "\"v\"=hex:   \n", ERROR_SUCCESS, 0},
        FileCase{"typed hex data of a tab", kX + "\"v\"=hex(7):\t\n", ERROR_SUCCESS, 0},
        FileCase{"a continuation of blanks", kX + "\"v\"=hex:01,\\\n   \n", ERROR_BADDB, -1},
        FileCase{"a continuation to the end", kX + "\"v\"=hex:01,02\\  \n  \n", ERROR_SUCCESS, 2},
        FileCase{"a key name of 255", "[HKEY_CLASSES_ROOT\\" + std::string(255, 'n') + "]\n", ERROR_SUCCESS, -1},
        FileCase{"a key name of 256", "[HKEY_CLASSES_ROOT\\" + std::string(256, 'n') + "]\n", ERROR_BADDB, -1},
        FileCase{"a value name of 16383", kX + "\"" + std::string(16383, 'n') + "\"=\"\"\n", ERROR_SUCCESS, -1},
        FileCase{"a value name of 16384", kX + "\"" + std::string(16384, 'n') + "\"=\"\"\n", ERROR_BADDB, -1},
        // Regression: a value name no call may use was read, so the value
        // could be listed but never queried.
        FileCase{"a control character in a value name", kX + "\"v\x01\"=\"\"\n", ERROR_BADDB, -1},
        FileCase{"a NUL in a value name", kX + std::string("\"v\0w\"=\"\"\n", 9), ERROR_BADDB, -1},
        FileCase{"keys 512 deep", Nested(512), ERROR_SUCCESS, -1},
        FileCase{"keys 513 deep", Nested(513), ERROR_BADDB, -1},
        // Regression: a path of 100,000 keys was read, and rewriting it
        // wrote every section with its whole path.
        FileCase{"keys 100,000 deep", Nested(100000), ERROR_BADDB, -1}));

TEST_F(RegistryTest, KeysNestNoDeeperThanTheFileMayHoldThem) {
    const std::string path = "k" + Repeat("\\k", 511);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    HKEY deeper = nullptr;
    EXPECT_EQ(RegCreateKeyEx(key, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(deeper, nullptr);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, (path + "\\k").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &deeper, nullptr),
              ERROR_INVALID_PARAMETER);
    // An empty subkey at the limit opens the key itself again.
    ASSERT_EQ(RegCreateKeyEx(key, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr), ERROR_SUCCESS);
    RegCloseKey(deeper);
    RegCloseKey(key);
    // What was written reads back.
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ScriptsNestedWithoutEndAreRefused) {
    Ptr<IRegistrar> registrar;
    ASSERT_EQ(registrar.Receive([](void** out) {
        return CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, out);
    }),
              S_OK);
    // Regression: the reader recursed once per level, without bound.
    for (const int depth : {513, 100000}) {
        const std::string script = "HKCR { " + Repeat("k { ", depth) + Repeat("} ", depth) + "}";
        EXPECT_EQ(registrar->StringRegister(_bstr_t(script.c_str())), DISP_E_EXCEPTION) << depth;
        EXPECT_EQ(registrar->StringUnregister(_bstr_t(script.c_str())), DISP_E_EXCEPTION) << depth;
    }
    EXPECT_EQ(RegistryText(), "");
    ASSERT_EQ(registrar->StringRegister(u"HKCR { a { b { c = s 'deep enough' } } }"), S_OK);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "a\\b\\c", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace
}  // namespace calquor::test
