#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using testing::deleteKeyTree;

constexpr const wchar_t* Scratch = L"Software\\DormalisTests\\Registry";

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        deleteKeyTree(HKEY_CURRENT_USER, L"Software\\DormalisTests");
        deleteKeyTree(HKEY_CURRENT_USER, L"Software\\DormalisVolatileTest");
    }
    void TearDown() override { SetUp(); }

    static void setRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Scratch, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
    }
    static DWORD storedSize(const wchar_t* name, DWORD* type) {
        DWORD bytes = 0;
        RegGetValueW(HKEY_CURRENT_USER, Scratch, name, RRF_RT_ANY, type, nullptr, &bytes);
        return bytes;
    }
};

TEST_F(RegistryTest, ReadDwordFallsBackOnAnythingButAFourByteDword) {
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Value", 77), 77u) << "missing key";
    writeDword(HKEY_CURRENT_USER, Scratch, L"Value", 0xFFFFFFFF);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Value", 77), 0xFFFFFFFFu);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Other", 77), 77u) << "missing value";

    setRaw(L"Text", REG_SZ, L"12", 6);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Text", 5), 5u) << "a string is not a number";
    const BYTE two[2] = {1, 2};
    setRaw(L"Short", REG_DWORD, two, 2);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Short", 5), 5u) << "short data";
    const unsigned long long wide = 0x100000001ULL;
    setRaw(L"Long", REG_DWORD, &wide, 8);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Long", 5), 5u) << "oversized data";
    setRaw(L"Binary", REG_BINARY, &wide, 4);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, L"Binary", 5), 5u) << "binary of the right size";
}

TEST_F(RegistryTest, WriteStringStoresTheTerminatorAndRoundTripsUnicode) {
    writeString(HKEY_CURRENT_USER, Scratch, L"Empty", L"");
    DWORD type = 0;
    EXPECT_EQ(storedSize(L"Empty", &type), 2u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    const std::wstring mixed = L"C:\\Apps\\Étoiles 星 — x";
    writeString(HKEY_CURRENT_USER, Scratch, L"Mixed", mixed);
    EXPECT_EQ(storedSize(L"Mixed", &type), (mixed.size() + 1) * 2);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Mixed"), mixed);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Missing", L"none"), L"none");
    writeDword(HKEY_CURRENT_USER, Scratch, L"Number", 3);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Number", L"none"), L"none") << "a number is not a string";
}

TEST_F(RegistryTest, ReadStringOfAnOverlongValueFallsBackInsteadOfTruncating) {
    const std::wstring huge(40000, L'x');
    writeString(HKEY_CURRENT_USER, Scratch, L"Huge", huge);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Huge", L"fallback"), L"fallback");
    const std::wstring unterminated = L"abc";
    setRaw(L"Raw", REG_SZ, unterminated.data(), 6);  // no terminator stored
    EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Raw"), L"abc");
}

TEST_F(RegistryTest, WritersReportTheirFailures) {
    try {
        writeString(HKEY_CURRENT_USER, Scratch, std::wstring(20000, L'n').c_str(), L"value");  // name too long
        ADD_FAILURE() << "expected a write failure";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Registry write failed");
    }
    // Windows refuses a lasting key below a volatile one, which gives a create failure without special rights.
    HKEY volatileKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\DormalisVolatileTest", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(volatileKey);
    try {
        writeDword(HKEY_CURRENT_USER, L"Software\\DormalisVolatileTest\\Lasting", L"Value", 1);
        ADD_FAILURE() << "expected a create failure";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Registry create failed");
    }
}

TEST_F(RegistryTest, FolderAnswersKnownFoldersAndRefusesUnknownOnes) {
    EXPECT_EQ(folder(CSIDL_PROGRAM_FILES), L"C:\\Program Files");
    try {
        folder(0x7F);
        FAIL() << "expected Folder unavailable";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Folder unavailable");
    }
}

TEST(InstallDir, OverrideThenRecordedPathThenProgramFiles) {
    deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    installDirectoryOverride.clear();
    EXPECT_EQ(installDir(), L"C:\\Program Files\\DormalisNative");

    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", L"");
    EXPECT_EQ(installDir(), L"C:\\Program Files\\DormalisNative") << "an empty record counts as missing";

    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", L"D:\\Apps\\Tools\\");
    EXPECT_EQ(installDir(), L"D:\\Apps\\Tools\\") << "returned unchanged, separator included";

    installDirectoryOverride = L"E:\\Chosen";
    EXPECT_EQ(installDir(), L"E:\\Chosen");
    installDirectoryOverride.clear();
    deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
}

}  // namespace
}  // namespace dormalis
