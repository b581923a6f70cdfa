// The registrar's scripts: what registering writes, what unregistering
// removes, and scripts it refuses before writing anything.
#include "AutomationSupport.h"

namespace calquor::test {
namespace {

class RegistrarTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(m_registrar.Receive([](void** out) {
            return CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, out);
        }),
                  S_OK);
        ASSERT_EQ(m_registrar->AddReplacement(u"MODULE", u"/opt/lib/it's.so"), S_OK);
    }
    HRESULT Register(const char* script) { return m_registrar->StringRegister(_bstr_t(script)); }
    HRESULT Unregister(const char* script) { return m_registrar->StringUnregister(_bstr_t(script)); }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& [path, lines] : Sections(RegistryText())) keys.push_back(path);
        return keys;
    }

    Ptr<IRegistrar> m_registrar;
};

constexpr const char* kScript = R"(HKCR
{
    NoRemove Root
    {
        Plain = s 'Plain %MODULE%'
        {
            val Number = d '0x2A'
            val Bytes = b '01FF'
            Child
        }
        ForceRemove Forced = s 'F'
        {
            Inner
        }
        'Quoted ''Name''' = s '100%%'
    }
}
)";

TEST_F(RegistrarTest, RegisteringWritesKeysAndValues) {
    ASSERT_EQ(Register(kScript), S_OK);
    const auto sections = Sections(RegistryText());
    EXPECT_EQ(sections.at("HKEY_CLASSES_ROOT\\Root\\Plain"),
              (std::vector<std::string>{"@=\"Plain /opt/lib/it's.so\"", "\"Number\"=dword:0000002a",
                                        "\"Bytes\"=hex:01,ff"}));
    EXPECT_EQ(sections.at("HKEY_CLASSES_ROOT\\Root\\Quoted 'Name'"), std::vector<std::string>{"@=\"100%\""});
    EXPECT_EQ(sections.count("HKEY_CLASSES_ROOT\\Root\\Forced\\Inner"), 1u);
}

TEST_F(RegistrarTest, ForceRemoveRecreatesTheKeyWhole) {
    ASSERT_EQ(Register(kScript), S_OK);
    HKEY stray = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "Root\\Forced\\Stray", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &stray,
                             nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stray);
    ASSERT_EQ(Register(kScript), S_OK);
    EXPECT_EQ(Sections(RegistryText()).count("HKEY_CLASSES_ROOT\\Root\\Forced\\Stray"), 0u);
}

TEST_F(RegistrarTest, UnregisteringKeepsNoRemoveKeysAndForeignSubkeys) {
    ASSERT_EQ(Register(kScript), S_OK);
    HKEY foreign = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "Root\\Plain\\Foreign", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &foreign, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(foreign);
    ASSERT_EQ(Unregister(kScript), S_OK);
    EXPECT_EQ(Keys(), (std::vector<std::string>{"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT\\Root",
                                                "HKEY_CLASSES_ROOT\\Root\\Plain",
                                                "HKEY_CLASSES_ROOT\\Root\\Plain\\Foreign"}));
    // The script's named values went; the foreign key kept its parent.
    EXPECT_EQ(Sections(RegistryText()).at("HKEY_CLASSES_ROOT\\Root\\Plain"),
              std::vector<std::string>{"@=\"Plain /opt/lib/it's.so\""});
    // Unregistering again passes over what is missing.
    EXPECT_EQ(Unregister(kScript), S_OK);
}

TEST_F(RegistrarTest, DeleteRemovesAKeyOnRegistration) {
    ASSERT_EQ(Register("HKCR { Old { Sub } }"), S_OK);
    ASSERT_EQ(Register("HKCR { Delete Old }"), S_OK);
    EXPECT_EQ(Keys(), std::vector<std::string>{"HKEY_CLASSES_ROOT"});
}

class BadScripts : public RegistrarTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadScripts, AreRefusedBeforeAnythingIsWritten) {
    EXPECT_EQ(Register(GetParam()), DISP_E_EXCEPTION);
    EXPECT_EQ(Unregister(GetParam()), DISP_E_EXCEPTION);
    EXPECT_TRUE(Keys().empty());
}

INSTANTIATE_TEST_SUITE_P(Scripts, BadScripts,
                         ::testing::Values("HKCR { Good } HKCR { Bad = s }", "HKCU { Key }", "HKCR { Key",
                                           "HKCR { Key = s 'unterminated }", "HKCR { Key = q 'kind' }",
                                           "HKCR { Key = s '%UNKNOWN%' }", "HKCR { Key { val = s 'x' } }",
                                           "HKCR { Key = d 'twelve' }", "HKCR { Key = b '0' }",
                                           "HKCR { 'a\\b' }", "Key"));

TEST_F(RegistrarTest, RunsAModulesRegistryResource) {
    ASSERT_EQ(m_registrar->AddReplacement(u"APPID", u"{00000000-0000-0000-0000-000000000001}"), S_OK);
    ASSERT_EQ(m_registrar->ResourceRegister(_bstr_t(kMfcModule), 3000, u"REGISTRY"), S_OK);
    EXPECT_EQ(Sections(RegistryText()).at("HKEY_CLASSES_ROOT\\AppID\\Calquor_MFC.DLL"),
              std::vector<std::string>{"\"AppID\"=\"{00000000-0000-0000-0000-000000000001}\""});
    EXPECT_EQ(m_registrar->ResourceRegister(_bstr_t(kMfcModule), 42, u"REGISTRY"),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(m_registrar->ResourceRegisterSz(_bstr_t(kMfcModule), u"3000", u"registry"), S_OK);
}

}  // namespace
}  // namespace calquor::test
