#include <gtest/gtest.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using testing::deleteKeyTree;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    }
    void TearDown() override { SetUp(); }

    static void user(const wchar_t* name, DWORD value) { writeDword(HKEY_CURRENT_USER, RegistryPath, name, value); }
    static Settings loaded() {
        Settings s;
        s.language = 4;  // load must overwrite every field, not keep the old one
        s.firewall = false;
        s.load();
        return s;
    }
};

TEST_F(SettingsTest, EmptyKeysGiveTheDefaults) {
    Settings s = loaded();
    EXPECT_EQ(s.language, 0u);
    EXPECT_EQ(s.density, 260);
    EXPECT_EQ(s.speed, 5);
    EXPECT_EQ(s.displays, 0u);
    EXPECT_EQ(s.color, 0x00FFE4C8u);
    EXPECT_TRUE(s.firewall);
}

TEST_F(SettingsTest, StoredValuesAreClampedIntoTheirRanges) {
    struct Case {
        DWORD density, speed, language, displays;
        int wantDensity, wantSpeed;
        unsigned wantLanguage, wantDisplays;
    };
    const Case cases[] = {
        {10, 0, 9, 7, 40, 1, 5, 2},
        {601, 99, 5, 2, 600, 12, 5, 2},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 40, 1, 5, 2},  // -1 is small for signed, huge for unsigned
        {40, 1, 0, 0, 40, 1, 0, 0},
        {333, 7, 3, 1, 333, 7, 3, 1},
    };
    for (const Case& c : cases) {
        user(L"Density", c.density);
        user(L"Speed", c.speed);
        user(L"Language", c.language);
        user(L"Displays", c.displays);
        Settings s = loaded();
        EXPECT_EQ(s.density, c.wantDensity) << c.density;
        EXPECT_EQ(s.speed, c.wantSpeed) << c.speed;
        EXPECT_EQ(s.language, c.wantLanguage) << c.language;
        EXPECT_EQ(s.displays, c.wantDisplays) << c.displays;
    }
    user(L"Color", 0x12345678);
    EXPECT_EQ(loaded().color, 0x12345678u) << "colour is kept unchanged, high byte included";
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeCountAsMissing) {
    writeString(HKEY_CURRENT_USER, RegistryPath, L"Density", L"500");
    writeString(HKEY_CURRENT_USER, RegistryPath, L"Color", L"");
    Settings s = loaded();
    EXPECT_EQ(s.density, 260);
    EXPECT_EQ(s.color, 0x00FFE4C8u);
}

TEST_F(SettingsTest, OnlyAStoredZeroSelectsAdapterMode) {
    EXPECT_TRUE(loaded().firewall) << "missing";
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 0);
    EXPECT_FALSE(loaded().firewall);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 5);
    EXPECT_TRUE(loaded().firewall);
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", L"0");
    EXPECT_TRUE(loaded().firewall) << "a string is not a stored 0";
}

TEST_F(SettingsTest, SaveWritesFiveDwordsAndNeverTheMachineFlag) {
    Settings s;
    s.language = 3;
    s.density = 600;
    s.speed = 12;
    s.displays = 1;
    s.color = 0x000000FF;
    s.firewall = false;
    s.save();
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 42), 42u);
    Settings back = loaded();
    EXPECT_EQ(back.language, 3u);
    EXPECT_EQ(back.density, 600);
    EXPECT_EQ(back.speed, 12);
    EXPECT_EQ(back.displays, 1u);
    EXPECT_EQ(back.color, 0x000000FFu);
}

TEST_F(SettingsTest, SaveWithoutTheRightToCreateTheKeyThrowsAndWritesNothing) {
    // Point HKEY_CURRENT_USER at a volatile key: Windows refuses to create a lasting key below it.
    HKEY volatileRoot = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\DormalisTests\\VolatileRoot", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileRoot, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, volatileRoot), ERROR_SUCCESS);
    bool threw = false;
    try {
        Settings{}.save();
    } catch (const std::runtime_error& error) {
        threw = true;
        EXPECT_STREQ(error.what(), "Registry create failed");
    }
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(volatileRoot);
    EXPECT_TRUE(threw);
    HKEY created = nullptr;
    EXPECT_NE(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\DormalisTests\\VolatileRoot\\SOFTWARE", 0, KEY_READ, &created),
        ERROR_SUCCESS);
    deleteKeyTree(HKEY_CURRENT_USER, L"Software\\DormalisTests");
}

}  // namespace
}  // namespace dormalis
