// The registry functions and their file.
#include "AutomationSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace calquor::test {
namespace {

class RegistryFileTest : public RegistryTest {
protected:
    HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, access, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static LSTATUS SetText(HKEY key, const char* name, const char* text) {
        return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(std::strlen(text) + 1));
    }
    static std::string GetText(HKEY key, const char* name) {
        char buffer[256] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
            return "<none>";
        return type == REG_SZ ? std::string(buffer) : "<not text>";
    }
};

TEST_F(RegistryFileTest, WritesAnExportWithEveryKeyAsASection) {
    HKEY key = Create("Alpha\\Beta\\Gamma");
    ASSERT_EQ(SetText(key, nullptr, "say \"hi\" \\ bye"), ERROR_SUCCESS);
    const DWORD number = 42;
    ASSERT_EQ(RegSetValueEx(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    const BYTE bytes[] = {1, 0xAB};
    ASSERT_EQ(RegSetValueEx(key, "Raw", 0, REG_BINARY, bytes, 2), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Lines", "a\nb"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegistryText(),
              "REGEDIT4\n\n"
              "[HKEY_CLASSES_ROOT]\n\n"
              "[HKEY_CLASSES_ROOT\\Alpha]\n\n"
              "[HKEY_CLASSES_ROOT\\Alpha\\Beta]\n\n"
              "[HKEY_CLASSES_ROOT\\Alpha\\Beta\\Gamma]\n"
              "@=\"say \\\"hi\\\" \\\\ bye\"\n"
              "\"Count\"=dword:0000002a\n"
              "\"Raw\"=hex:01,ab\n"
              "\"Lines\"=hex(1):61,0a,62,00\n\n");
    // And reads it back as it was written.
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "alpha\\BETA\\gamma", 0, KEY_READ, &again), ERROR_SUCCESS);
    EXPECT_EQ(GetText(again, nullptr), "say \"hi\" \\ bye");
    EXPECT_EQ(GetText(again, "LINES"), "a\nb");
    DWORD value = 0, size = sizeof value, type = 0;
    ASSERT_EQ(RegQueryValueEx(again, "count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 42u);
    RegCloseKey(again);
}

TEST_F(RegistryFileTest, LongBinaryValuesContinueOnNextLines) {
    HKEY key = Create("Long");
    std::vector<BYTE> data(100);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i);
    ASSERT_EQ(RegSetValueEx(key, "Blob", 0, REG_BINARY, data.data(), 100), ERROR_SUCCESS);
    const std::string text = RegistryText();
    EXPECT_NE(text.find(",\\\n  "), std::string::npos);
    std::vector<BYTE> back(100);
    DWORD size = 100;
    ASSERT_EQ(RegQueryValueEx(key, "Blob", nullptr, nullptr, back.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(back, data);
    RegCloseKey(key);
}

TEST_F(RegistryFileTest, QueriesReportSizesAndShortBuffers) {
    HKEY key = Create("Sizes");
    ASSERT_EQ(SetText(key, "Name", "abcdef"), ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueEx(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 7u);
    char small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(RegQueryValueEx(key, "Other", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // A text without terminator is stored terminated.
    ASSERT_EQ(RegSetValueEx(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("xy"), 2), ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "Bare"), "xy");
    RegCloseKey(key);
}

TEST_F(RegistryFileTest, EnumeratesSubkeysByNameAndValuesInOrder) {
    HKEY root = Create("Enum");
    for (const char* name : {"b", "C", "a"}) {
        HKEY child = nullptr;
        ASSERT_EQ(RegCreateKeyEx(root, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_SUCCESS);
        RegCloseKey(child);
    }
    ASSERT_EQ(SetText(root, "second", "2"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(root, nullptr, "0"), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[16];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        const LSTATUS status = RegEnumKeyEx(root, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(length, std::strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "C"}));
    DWORD length = 1;
    EXPECT_EQ(RegEnumKeyEx(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    length = sizeof name;
    ASSERT_EQ(RegEnumValue(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "");  // the default value first
    DWORD subKeys = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKey(root, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 3u);
    EXPECT_EQ(values, 2u);
    RegCloseKey(root);
}

TEST_F(RegistryFileTest, DeletingKeys) {
    RegCloseKey(Create("Tree\\Leaf\\Deeper"));
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Tree\\Leaf"), ERROR_ACCESS_DENIED);  // it has a subkey
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Tree\\Leaf\\Deeper"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Tree\\Leaf\\Deeper"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(Create("Tree\\Leaf\\Deeper"));
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Tree"), ERROR_SUCCESS);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Tree", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone, nullptr);
    // A handle to a deleted key says so.
    HKEY key = Create("Doomed");
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Doomed"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, "x", "y"), ERROR_KEY_DELETED);
    RegCloseKey(key);
    // Emptying a key keeps it.
    HKEY kept = Create("Kept\\Child");
    RegCloseKey(kept);
    kept = Create("Kept");
    ASSERT_EQ(SetText(kept, "v", "1"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTree(kept, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Sections(RegistryText())["HKEY_CLASSES_ROOT\\Kept"], std::vector<std::string>{});
    EXPECT_EQ(Sections(RegistryText()).count("HKEY_CLASSES_ROOT\\Kept\\Child"), 0u);
    RegCloseKey(kept);
}

struct BadCall {
    const char* what;
    LSTATUS (*call)();
    LSTATUS expected;
};

void PrintTo(const BadCall& c, std::ostream* os) { *os << c.what; }

class RegistryRefusals : public RegistryFileTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(RegistryRefusals, Refuses) { EXPECT_EQ(GetParam().call(), GetParam().expected) << GetParam().what; }

HKEY Opened(REGSAM access) {
    HKEY key = nullptr;
    RegCreateKeyEx(HKEY_CLASSES_ROOT, "K", 0, nullptr, 0, access, nullptr, &key, nullptr);
    return key;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, RegistryRefusals,
    ::testing::Values(
        BadCall{"empty path part",
                [] {
                    HKEY k;
                    return RegCreateKeyEx(HKEY_CLASSES_ROOT, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                          nullptr);
                },
                ERROR_BAD_PATHNAME},
        BadCall{"control character",
                [] {
                    HKEY k;
                    return RegCreateKeyEx(HKEY_CLASSES_ROOT, "a\nb", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                          nullptr);
                },
                ERROR_INVALID_PARAMETER},
        BadCall{"not a handle",
                [] {
                    static int bogus;
                    return RegCloseKey(reinterpret_cast<HKEY>(&bogus));
                },
                ERROR_INVALID_HANDLE},
        BadCall{"read-only handle",
                [] {
                    HKEY key = Opened(KEY_READ);
                    const LSTATUS status = RegSetValueEx(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
                    RegCloseKey(key);
                    return status;
                },
                ERROR_ACCESS_DENIED},
        BadCall{"missing value",
                [] {
                    HKEY key = Opened(KEY_ALL_ACCESS);
                    const LSTATUS status = RegDeleteValue(key, "none");
                    RegCloseKey(key);
                    return status;
                },
                ERROR_FILE_NOT_FOUND}));

TEST_F(RegistryFileTest, ADamagedFileIsAnErrorAndIsNeverRewritten) {
    for (const char* damaged : {"REGEDIT5\n", "REGEDIT4\n\"v\"=\"no section\"\n", "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n",
                                "REGEDIT4\n[HKEY_CLASSES_ROOT\\x]\n\"v\"=dword:xyz\n",
                                "REGEDIT4\n[HKEY_CLASSES_ROOT\\x]\n\"v\"=hex:01,\\\n",
                                "REGEDIT4\n[HKEY_CLASSES_ROOT\\x\n"}) {
        {
            std::ofstream out(RegistryPath(), std::ios::binary);
            out << damaged;
        }
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "y", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_BADDB)
            << damaged;
        EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, &key), ERROR_BADDB) << damaged;
        EXPECT_EQ(RegistryText(), damaged);
    }
}

TEST_F(RegistryFileTest, AnEmptyOrMissingFileIsAnEmptyRegistry) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    { std::ofstream out(RegistryPath()); }
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    RegCloseKey(Create("x"));
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "X", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryFileTest, FollowsTheConfigurationDirectoryWithoutAnExplicitPath) {
    unsetenv("CALQUOR_REGISTRY");
    const std::string config = Directory() + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    RegCloseKey(Create("Here"));
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_NE(ReadFile(config + "/calquor/registry.reg").find("[HKEY_CLASSES_ROOT\\Here]"), std::string::npos);
}

TEST_F(RegistryFileTest, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kKeysEach = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int k = 0; k < kKeysEach; ++k) {
                const std::string path = "W" + std::to_string(w) + "\\K" + std::to_string(k);
                HKEY key = nullptr;
                if (RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr) != ERROR_SUCCESS)
                    ++failures;
                else
                    RegCloseKey(key);
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto sections = Sections(RegistryText());
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeysEach; ++k)
            EXPECT_EQ(sections.count("HKEY_CLASSES_ROOT\\W" + std::to_string(w) + "\\K" + std::to_string(k)), 1u);
}

}  // namespace
}  // namespace calquor::test
