// GUID text forms.
#include "AutomationSupport.h"

namespace calquor::test {
namespace {

constexpr GUID kSample = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};

TEST(GuidText, HasBracesUpperCaseDigitsAndThirtyNineUnits) {
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
    OLECHAR small[38] = {u'x'};
    EXPECT_EQ(StringFromGUID2(kSample, small, 38), 0);
    EXPECT_EQ(small[0], u'x');
}

struct ParseCase {
    const char16_t* text;
    HRESULT expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << std::string(_bstr_t(c.text)); }

class GuidParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(GuidParse, ReadsOnlyTheBracesForm) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromString(GetParam().text, &clsid), GetParam().expected);
    if (GetParam().expected == S_OK)
        EXPECT_TRUE(clsid == kSample);
    else
        EXPECT_TRUE(clsid == GUID_NULL);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GuidParse,
    ::testing::Values(ParseCase{u"{0123ABCD-4567-89EF-FEDC-BA9876543210}", S_OK},
                      ParseCase{u"{0123abcd-4567-89ef-fedc-ba9876543210}", S_OK},
                      ParseCase{u"0123ABCD-4567-89EF-FEDC-BA9876543210", CO_E_CLASSSTRING},
                      ParseCase{u"{0123ABCD-4567-89EF-FEDC-BA987654321}", CO_E_CLASSSTRING},
                      ParseCase{u"{0123ABCD-4567-89EF-FEDC-BA98765432100}", CO_E_CLASSSTRING},
                      ParseCase{u"{0123ABCG-4567-89EF-FEDC-BA9876543210}", CO_E_CLASSSTRING},
                      ParseCase{u"{0123ABCD:4567-89EF-FEDC-BA9876543210}", CO_E_CLASSSTRING},
                      ParseCase{u"", CO_E_CLASSSTRING}));

TEST(GuidText, IidFromStringRefusesProgIds) {
    IID iid;
    EXPECT_EQ(IIDFromString(u"Calquor.Formula", &iid), CO_E_IIDSTRING);
    EXPECT_EQ(IIDFromString(u"{0123ABCD-4567-89EF-FEDC-BA9876543210}", &iid), S_OK);
    EXPECT_TRUE(iid == kSample);
}

TEST(GuidText, TaskStringsRoundTrip) {
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(kSample, &text), S_OK);
    CLSID back;
    EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_TRUE(back == kSample);
    CoTaskMemFree(text);
}

class ProgIdTest : public RegistryTest {};

TEST_F(ProgIdTest, ClsidFromStringAlsoReadsRegisteredProgIds) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromString(u"Calquor.Formula", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(CallEntry(kAutoModule, "DllRegisterServer"), S_OK);
    ASSERT_EQ(CLSIDFromString(u"Calquor.Formula", &clsid), S_OK);
    EXPECT_TRUE(clsid == Calquor_Auto::CLSID_Formula);
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(clsid, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Calquor.Formula");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(kSample, &progId), REGDB_E_CLASSNOTREG);
}

TEST_F(ProgIdTest, UnregisteredClassesAreNotCreated) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CallEntry(kAutoModule, "DllRegisterServer"), S_OK);
    // Only in-process servers exist here.
    EXPECT_EQ(CoCreateInstance(Calquor_Auto::CLSID_Formula, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ProgIdTest, AMissingModuleIsReported) {
    const std::string key = "CLSID\\" + GuidString(kSample) + "\\InprocServer32";
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    const std::string missing = Directory() + "/missing.so";
    ASSERT_EQ(RegSetValueEx(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(missing.c_str()),
                            static_cast<DWORD>(missing.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(handle);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_DLLNOTFOUND);
}

}  // namespace
}  // namespace calquor::test
