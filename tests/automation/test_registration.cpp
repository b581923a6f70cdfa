// What each module writes into the registry file when it registers, what a
// second registration leaves, and what unregistration removes and keeps.
#include "AutomationSupport.h"

namespace calquor::test {
namespace {

using Lines = std::vector<std::string>;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
std::string Default(const std::string& text) { return "@=" + Quoted(text); }
std::string Named(const std::string& name, const std::string& text) { return Quoted(name) + "=" + Quoted(text); }

std::string Key(const std::string& path) { return "HKEY_CLASSES_ROOT\\" + path; }

class RegistrationTest : public RegistryTest {
protected:
    // The sections of the registry file whose path starts with prefix.
    std::map<std::string, Lines> Under(const std::string& prefix) const {
        std::map<std::string, Lines> found;
        for (const auto& [path, lines] : Sections(RegistryText()))
            if (path.compare(0, prefix.size(), prefix) == 0) found[path] = lines;
        return found;
    }

    // Checks that exactly these keys exist below prefix, with these values.
    void ExpectKeys(const std::string& prefix, const std::map<std::string, Lines>& expected) const {
        EXPECT_EQ(Under(Key(prefix)), expected);
    }
};

TEST_F(RegistrationTest, MfcWritesItsScriptsAndTypeLibrary) {
    ASSERT_EQ(CallEntry(kMfcModule, "DllRegisterServer"), S_OK);
    const std::string clsid = GuidString(Calquor_MFC::CLSID_Calquom);
    const std::string libid = GuidString(Calquor_MFC::LIBID_Calquor_MFC);
    const std::string appid = "{1CDBAD04-925B-41B7-904E-9D6B0D7093E2}";
    const std::string classKey = Key("CLSID\\" + clsid);
    ExpectKeys("CLSID\\" + clsid,
               {{classKey, {Default("Calquom Class"), Named("AppID", appid)}},
                {classKey + "\\InprocServer32", {Default(kMfcModule), Named("ThreadingModel", "Apartment")}},
                {classKey + "\\ProgID", {Default("Calquor.Calquom.1")}},
                {classKey + "\\Programmable", {}},
                {classKey + "\\TypeLib", {Default(libid)}},
                {classKey + "\\VersionIndependentProgID", {Default("Calquor.Calquom")}}});
    ExpectKeys("Calquor.Calquom",
               {{Key("Calquor.Calquom"), {Default("Calquom Class")}},
                {Key("Calquor.Calquom\\CLSID"), {Default(clsid)}},
                {Key("Calquor.Calquom\\CurVer"), {Default("Calquor.Calquom.1")}},
                {Key("Calquor.Calquom.1"), {Default("Calquom Class")}},
                {Key("Calquor.Calquom.1\\CLSID"), {Default(clsid)}}});
    ExpectKeys("AppID", {{Key("AppID"), {}},
                         {Key("AppID\\" + appid), {Default("Calquor_MFC")}},
                         {Key("AppID\\Calquor_MFC.DLL"), {Named("AppID", appid)}}});
    const std::string version = Key("TypeLib\\" + libid + "\\1.0");
    const std::string directory = std::string(kMfcModule).substr(0, std::string(kMfcModule).rfind('/'));
    ExpectKeys("TypeLib\\" + libid + "\\",
               {{version, {Default("Calquor_MFC")}},
                {version + "\\0", {}},
                {version + "\\0\\win64", {Default(kMfcModule)}},
                {version + "\\FLAGS", {Default("0")}},
                {version + "\\HELPDIR", {Default(directory)}}});
    for (const IID& iid : {Calquor_MFC::IID_IFormula, Calquor_MFC::IID_IDataAdapter}) {
        const std::string key = Key("Interface\\" + GuidString(iid) + "\\TypeLib");
        EXPECT_EQ(Under(key)[key], (Lines{Default(libid), Named("Version", "1.0")}));
    }
}

TEST_F(RegistrationTest, AutoWritesItsEntriesByCode) {
    ASSERT_EQ(CallEntry(kAutoModule, "DllRegisterServer"), S_OK);
    const std::string clsid = GuidString(Calquor_Auto::CLSID_Formula);
    const std::string libid = GuidString(Calquor_Auto::LIBID_Calquor);
    const std::string classKey = Key("CLSID\\" + clsid);
    ExpectKeys("CLSID\\" + clsid,
               {{classKey, {Default("Formula Object")}},
                {classKey + "\\InprocServer32", {Default(kAutoModule), Named("ThreadingModel", "Apartment")}},
                {classKey + "\\ProgID", {Default("Calquor.Formula")}},
                {classKey + "\\Typelib", {Default(libid)}},
                {classKey + "\\Version", {Default("1.0")}}});
    ExpectKeys("Calquor.Formula", {{Key("Calquor.Formula"), {Default("Formula Object")}},
                                   {Key("Calquor.Formula\\CLSID"), {Default(clsid)}}});
    const std::string version = Key("TypeLib\\" + libid + "\\1.0");
    EXPECT_EQ(Under(version)[version], Lines{Default("Calquor Library")});
    EXPECT_EQ(Under(version + "\\0\\win64")[version + "\\0\\win64"], Lines{Default(kAutoModule)});
}

TEST_F(RegistrationTest, ClqmfcRegistersOnlyItsEmptyTypeLibrary) {
    ASSERT_EQ(CallEntry(kClqmfcModule, "DllRegisterServer"), S_OK);
    const auto sections = Sections(RegistryText());
    std::vector<std::string> top;
    for (const auto& [path, lines] : sections)
        if (path.find('\\', sizeof "HKEY_CLASSES_ROOT") == std::string::npos && path != "HKEY_CLASSES_ROOT")
            top.push_back(path);
    EXPECT_EQ(top, Lines{Key("TypeLib")});
    const auto names = Under(Key("TypeLib\\"));
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.begin()->first.find(Key("TypeLib\\{95F4BC34-")), 0u);
    EXPECT_EQ(CallEntry(kClqmfcModule, "DllUnregisterServer"), S_OK);
    EXPECT_TRUE(Under(Key("TypeLib\\")).empty());
}

// Every module: registering twice gives the same file as once, and
// unregistering leaves only the roots.
struct ModuleCase {
    const char* module;
    Lines rootsLeft;
};

void PrintTo(const ModuleCase& c, std::ostream* os) { *os << c.module; }

class RegistrationCycleTest : public RegistrationTest, public ::testing::WithParamInterface<ModuleCase> {};

TEST_P(RegistrationCycleTest, TwiceIsOnceAndUnregisterKeepsTheRoots) {
    ASSERT_EQ(CallEntry(GetParam().module, "DllRegisterServer"), S_OK);
    const std::string once = RegistryText();
    ASSERT_EQ(CallEntry(GetParam().module, "DllRegisterServer"), S_OK);
    EXPECT_EQ(RegistryText(), once);
    ASSERT_EQ(CallEntry(GetParam().module, "DllUnregisterServer"), S_OK);
    Lines left;
    for (const auto& [path, lines] : Sections(RegistryText())) {
        EXPECT_TRUE(lines.empty()) << path;
        left.push_back(path);
    }
    EXPECT_EQ(left, GetParam().rootsLeft);
    // Unregistering what is gone succeeds.
    EXPECT_EQ(CallEntry(GetParam().module, "DllUnregisterServer"), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, RegistrationCycleTest,
    ::testing::Values(ModuleCase{kMfcModule, {"HKEY_CLASSES_ROOT", Key("AppID"), Key("CLSID"), Key("Interface"),
                                              Key("TypeLib")}},
                      ModuleCase{kAutoModule, {"HKEY_CLASSES_ROOT", Key("CLSID"), Key("Interface"), Key("TypeLib")}},
                      ModuleCase{kClqmfcModule, {"HKEY_CLASSES_ROOT", Key("TypeLib")}}));

TEST_F(RegistrationTest, UnregisteringKeepsOtherServersEntries) {
    ASSERT_EQ(CallEntry(kMfcModule, "DllRegisterServer"), S_OK);
    ASSERT_EQ(CallEntry(kAutoModule, "DllRegisterServer"), S_OK);
    ASSERT_EQ(CallEntry(kMfcModule, "DllUnregisterServer"), S_OK);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Calquor.Calquom", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(CLSIDFromProgID(u"Calquor.Formula", &clsid), S_OK);
    EXPECT_TRUE(clsid == Calquor_Auto::CLSID_Formula);
    ITypeLib* library = nullptr;
    EXPECT_EQ(LoadRegTypeLib(Calquor_Auto::LIBID_Calquor, 1, 0, 0, &library), S_OK);
    if (library) library->Release();
    EXPECT_EQ(LoadRegTypeLib(Calquor_MFC::LIBID_Calquor_MFC, 1, 0, 0, &library), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(RegistrationTest, ADamagedRegistryFailsRegistrationAndStaysAsItWas) {
    {
        std::ofstream out(RegistryPath());
        out << "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\x]\n@=broken\n";
    }
    const std::string damaged = RegistryText();
    EXPECT_EQ(CallEntry(kMfcModule, "DllRegisterServer"), HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_EQ(CallEntry(kAutoModule, "DllRegisterServer"), HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_EQ(RegistryText(), damaged);
}

}  // namespace
}  // namespace calquor::test
