// What DllRegisterServer writes into the registry and DllUnregisterServer takes away.

#include "ShellFixture.h"

#include <TavikVendorComment/tavikvendorcomment_version.h>

#include <cstdio>
#include <fstream>

using namespace tavik;
namespace fs = std::filesystem;

namespace {

const std::string clsid = "{DEA33700-01A9-4764-9FB6-92FD5EDDA3D4}";
const std::string libid = "{616D41D1-7839-448E-908B-8F504B88C5B7}";

const std::vector<std::string> ourFiles = {
    "CLSID/" + clsid + ".ini",
    "Interface/{AC3F4BF7-23D4-4C32-8D82-BD8328407BAD}.ini",
    "Interface/{BBA40CA9-FE55-441C-90D0-54F1F84BA151}.ini",
    "ProgID/TavikVendorComment.VendorComment.ini",
    "TypeLib/" + libid + ".ini",
};

} // namespace

using RegistrationTest = ScratchRegistryTest;

TEST_F(RegistrationTest, WritesTheRegistrationData) {
    ASSERT_HR(S_OK, DllRegisterServer());
    EXPECT_EQ(files(), ourFiles);

    const fs::path classFile = root / "CLSID" / (clsid + ".ini");
    struct Row {
        fs::path file;
        std::string key;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {classFile, "Class/ProgID", "TavikVendorComment.VendorComment"},
        {classFile, "Class/ThreadingModel", "Apartment"},
        {classFile, "Class/Control", "true"},
        {classFile, "Class/MiscStatus", "0x00020191"},
        {classFile, "Class/ToolboxBitmapSize", "16x15"},
        {classFile, "Class/ToolboxBitmapColours", "16"},
        {classFile, "Class/TypeLib", libid},
        {classFile, "Version/FileVersion", "2.0.0.6"},
        {classFile, "Version/ProductVersion", "2.0.0.6"},
        {classFile, "Version/DisplayVersion", "2.00.0006"},
        {classFile, "Version/ProductName", "TavikVendorComment"},
        {classFile, "Version/InternalName", "TavikVendorComment"},
        {classFile, "Version/Language", "0x0409"},
        {classFile, "Version/CodePage", "1200"},
        {classFile, "Version/OLESelfRegister", "true"},
        {root / "ProgID" / "TavikVendorComment.VendorComment.ini", "ProgID/CLSID", clsid},
        {root / "TypeLib" / (libid + ".ini"), "TypeLib/Version", "3.0"},
        {root / "TypeLib" / (libid + ".ini"), "TypeLib/Locale", "0x409"},
        {root / "TypeLib" / (libid + ".ini"), "TypeLib/Flags", "control"},
        {root / "TypeLib" / (libid + ".ini"), "TypeLib/HelpString", "TavikVendorComment"},
        {root / "Interface" / "{AC3F4BF7-23D4-4C32-8D82-BD8328407BAD}.ini", "Interface/Name",
         "_VendorComment"},
        {root / "Interface" / "{BBA40CA9-FE55-441C-90D0-54F1F84BA151}.ini", "Interface/TypeLib",
         libid},
    };
    for (const Row& row : rows)
        EXPECT_EQ(value(row.file, row.key), row.expected) << row.file << " " << row.key;

    // The library's own file, under whichever of its names it was loaded.
    const std::string library = value(classFile, "Class/Library");
    EXPECT_TRUE(fs::path(library).is_absolute()) << library;
    EXPECT_TRUE(fs::equivalent(library, libraryFile())) << library;
    EXPECT_EQ(value(classFile, "Class/ToolboxBitmap"), library + ",30000");
}

// The version header that consumers compile against names the library's own version.
TEST_F(RegistrationTest, TheVersionHeaderNamesTheLibrarysVersion) {
    ASSERT_HR(S_OK, DllRegisterServer());
    const fs::path classFile = root / "CLSID" / (clsid + ".ini");
    // The resource writes 2.0.6 with a build number of 0 before the last number.
    char file[32];
    std::snprintf(file, sizeof file, "%d.%d.0.%d", TAVIKVENDORCOMMENT_VERSION_MAJOR,
                  TAVIKVENDORCOMMENT_VERSION_MINOR, TAVIKVENDORCOMMENT_VERSION_PATCH);
    EXPECT_EQ(value(classFile, "Version/FileVersion"), file);
    char display[32];
    std::snprintf(display, sizeof display, "%d.%02d.%04d", TAVIKVENDORCOMMENT_VERSION_MAJOR,
                  TAVIKVENDORCOMMENT_VERSION_MINOR, TAVIKVENDORCOMMENT_VERSION_PATCH);
    EXPECT_EQ(value(classFile, "Version/DisplayVersion"), display);
    EXPECT_STREQ(TAVIKVENDORCOMMENT_VERSION_STRING, "2.0.6");
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneEntryEach) {
    ASSERT_HR(S_OK, DllRegisterServer());
    ASSERT_HR(S_OK, DllRegisterServer());
    EXPECT_EQ(files(), ourFiles);
}

TEST_F(RegistrationTest, ReplacesAStaleRegistration) {
    ASSERT_TRUE(
        registry::writeEntries({{root / "CLSID" / (clsid + ".ini"),
                                 {{"Class/Library", "/old/place/libTavikVendorComment.so"}}}}));
    ASSERT_HR(S_OK, DllRegisterServer());
    EXPECT_TRUE(
        fs::equivalent(value(root / "CLSID" / (clsid + ".ini"), "Class/Library"), libraryFile()));
}

TEST_F(RegistrationTest, UnregisteringRemovesOnlyOurEntries) {
    // Another class's entries, and an interface id of ours claimed by another type library.
    const fs::path otherClass = root / "CLSID" / "{12345678-1234-5678-0102-030405060708}.ini";
    const fs::path otherProgId = root / "ProgID" / "Other.Thing.ini";
    const fs::path claimedInterface =
        root / "Interface" / "{BBA40CA9-FE55-441C-90D0-54F1F84BA151}.ini";
    ASSERT_HR(S_OK, DllRegisterServer());
    ASSERT_TRUE(registry::writeEntries(
        {{otherClass, {{"Class/Library", "/elsewhere/libother.so"}}},
         {otherProgId, {{"ProgID/CLSID", "{12345678-1234-5678-0102-030405060708}"}}},
         {claimedInterface, {{"Interface/TypeLib", "{12345678-1234-5678-0102-030405060708}"}}}}));

    EXPECT_HR(S_OK, DllUnregisterServer());
    EXPECT_EQ(files(),
              (std::vector<std::string>{"CLSID/{12345678-1234-5678-0102-030405060708}.ini",
                                        "Interface/{BBA40CA9-FE55-441C-90D0-54F1F84BA151}.ini",
                                        "ProgID/Other.Thing.ini"}));
    EXPECT_HR(S_FALSE, DllUnregisterServer()) << "nothing of ours is left";
}

TEST_F(RegistrationTest, KeepsOurProgramIdWhenItNamesAnotherClass) {
    ASSERT_HR(S_OK, DllRegisterServer());
    const fs::path progId = root / "ProgID" / "TavikVendorComment.VendorComment.ini";
    ASSERT_TRUE(registry::writeEntries(
        {{progId, {{"ProgID/CLSID", "{12345678-1234-5678-0102-030405060708}"}}}}));
    EXPECT_HR(S_OK, DllUnregisterServer());
    EXPECT_EQ(files(), (std::vector<std::string>{"ProgID/TavikVendorComment.VendorComment.ini"}));
}

TEST_F(RegistrationTest, UnregisteringAnEmptyRegistryChangesNothing) {
    EXPECT_HR(S_FALSE, DllUnregisterServer());
    EXPECT_FALSE(fs::exists(root));
}

// The program id's entry is written last; when it cannot be, nothing else may appear.
TEST_F(RegistrationTest, WritesAllEntriesOrNone) {
    fs::create_directories(root);
    std::ofstream(root / "ProgID") << "a file where the folder should be";
    EXPECT_HR(SELFREG_E_CLASS, DllRegisterServer());
    EXPECT_EQ(files(), (std::vector<std::string>{"ProgID"}));
}

TEST_F(RegistrationTest, FailsCleanlyWhereTheRegistryCannotBe) {
    std::ofstream(root) << "a file where the registry should be";
    EXPECT_HR(SELFREG_E_CLASS, DllRegisterServer());
    EXPECT_TRUE(fs::is_regular_file(root));
}

TEST_F(RegistrationTest, DefaultsToTheXdgDataHome) {
    ::unsetenv(registry::EnvironmentVariable);
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const fs::path data = fs::path(scratch.path().toStdString()) / "data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_EQ(registry::root(), data / "tavik" / "registry");
    EXPECT_EQ(registry::classFile(CLSID_VendorComment),
              data / "tavik" / "registry" / "CLSID" / (clsid + ".ini"));
    if (oldXdg)
        ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

TEST(ProgramIds, OnlyWellFormedOnesReachAFileName) {
    for (const char* good : {"TavikVendorComment.VendorComment", "A", "a_b.c1",
                             "A23456789012345678901234567890123456789"})
        EXPECT_TRUE(registry::isValidProgId(good)) << good;
    for (const char* bad : {"", "1Tavik.Thing", "../../etc/passwd", "Tavik/Thing", "Tavik Thing",
                            ".hidden", "A234567890123456789012345678901234567890"})
        EXPECT_FALSE(registry::isValidProgId(bad)) << bad;
    EXPECT_TRUE(registry::progIdFile("../x").empty());
}
