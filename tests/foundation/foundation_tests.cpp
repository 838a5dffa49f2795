#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>

#include "foundation/contract.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "tests/support/support.h"

// The registry helpers and the settings against Wine's real registry, the texts, and the handle holders.
namespace dormalis {
namespace {

using testing::deleteKeyTree;

constexpr const wchar_t* Scratch = L"Software\\DormalisTests";

struct Registry : ::testing::Test {
    void SetUp() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            deleteKeyTree(root, RegistryPath), deleteKeyTree(root, Scratch);
    }
    void TearDown() override { SetUp(); }
    static void setRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        RegSetKeyValueW(HKEY_CURRENT_USER, Scratch, name, type, data, bytes);
    }
};

TEST_F(Registry, ReadersFallBackOnAnythingButTheirOwnTypeAndStringsKeepEveryCharacter) {
    const unsigned long long wide = 0x100000001ULL;
    const BYTE two[2] = {1, 2};
    setRaw(L"Text", REG_SZ, L"12", 6);
    setRaw(L"Short", REG_DWORD, two, 2);
    setRaw(L"Long", REG_DWORD, &wide, 8);
    setRaw(L"Binary", REG_BINARY, &wide, 4);
    setRaw(L"Raw", REG_SZ, L"abc", 6);  // stored without its terminator
    writeDword(HKEY_CURRENT_USER, Scratch, L"Number", 0xFFFFFFFF);
    writeString(HKEY_CURRENT_USER, Scratch, L"Huge", std::wstring(40000, L'x'));
    for (const wchar_t* name : {L"Missing", L"Text", L"Short", L"Long", L"Binary"})
        EXPECT_EQ(readDword(HKEY_CURRENT_USER, Scratch, name, 5), 5u) << name;
    for (const wchar_t* name : {L"Missing", L"Number", L"Huge"})
        EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, name, L"none"), L"none") << name << ", never cut short";
    EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Raw"), L"abc");
    // Written strings keep their terminator and every character.
    for (const std::wstring& value : {std::wstring(), std::wstring(L"C:\\Apps\\\u00C9toiles \u661F \u2014 x")}) {
        writeString(HKEY_CURRENT_USER, Scratch, L"Value", value);
        DWORD type = 0, bytes = 0;
        RegGetValueW(HKEY_CURRENT_USER, Scratch, L"Value", RRF_RT_ANY, &type, nullptr, &bytes);
        EXPECT_TRUE(type == REG_SZ && bytes == (value.size() + 1) * 2) << bytes;
        EXPECT_EQ(readString(HKEY_CURRENT_USER, Scratch, L"Value"), value);
    }
}

TEST_F(Registry, InstallDirIsTheOverrideElseTheRecordElseProgramFiles) {
    installDirectoryOverride.clear();
    EXPECT_EQ(installDir(), L"C:\\Program Files\\DormalisNative");
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", L"");
    EXPECT_EQ(installDir(), L"C:\\Program Files\\DormalisNative") << "an empty record counts as missing";
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", L"D:\\Apps\\Tools\\");
    EXPECT_EQ(installDir(), L"D:\\Apps\\Tools\\") << "returned unchanged, separator included";
    installDirectoryOverride = L"E:\\Chosen";
    EXPECT_EQ(installDir(), L"E:\\Chosen");
    installDirectoryOverride.clear();
}

TEST_F(Registry, SettingsLoadIntoTheirRangesAndFallBackOneByOne) {
    const wchar_t* names[] = {L"Density", L"Speed", L"Language", L"Displays"};
    struct Case {
        DWORD stored[4];  // absent when 0xDEAD
        int density, speed;
        unsigned language, displays;
    } cases[] = {{{0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD}, 260, 5, 0, 0},
                 {{10, 0, 9, 7}, 40, 1, 5, 2},
                 {{601, 99, 5, 2}, 600, 12, 5, 2},
                 {{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 40, 1, 5, 2},  // small signed, huge unsigned
                 {{40, 1, 0, 0}, 40, 1, 0, 0}};
    for (const Case& c : cases) {
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        for (int i = 0; i < 4; ++i)
            if (c.stored[i] != 0xDEAD) writeDword(HKEY_CURRENT_USER, RegistryPath, names[i], c.stored[i]);
        Settings s{4, 1, 1, 1, 1, false};  // load must overwrite every field
        s.load();
        EXPECT_EQ(std::tuple(s.density, s.speed, s.language, s.displays),
                  std::tuple(c.density, c.speed, c.language, c.displays))
            << c.stored[0];
        EXPECT_TRUE(s.color == 0x00FFE4C8u && s.firewall);
    }
    writeString(HKEY_CURRENT_USER, RegistryPath, L"Density", L"500");
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Color", 0x12345678);
    settings.load();
    EXPECT_EQ(settings.density, 260) << "a string is no number";
    EXPECT_EQ(settings.color, 0x12345678u) << "the colour is kept whole, high byte included";
}

TEST_F(Registry, OnlyAStoredZeroSelectsAdapterModeAndSavingNeverWritesIt) {
    EXPECT_TRUE((settings.load(), settings.firewall)) << "missing";
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, L"0");
    EXPECT_TRUE((settings.load(), settings.firewall)) << "a string is no stored 0";
    for (auto [value, firewall] : {std::pair{5u, true}, {0u, false}})
        EXPECT_EQ(
            (writeDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, value), settings.load(), settings.firewall),
            firewall)
            << value;
    deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    Settings{3, 600, 12, 1, 0x000000FF, false}.save();
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 42), 42u);
    settings.load();
    EXPECT_EQ(std::tuple(settings.language, settings.density, settings.speed, settings.displays, settings.color),
              std::tuple(3u, 600, 12, 1u, 0x000000FFu));
}

TEST(Text, LookupIsExactAndEveryRowIsCompleteInEveryLanguageWithItsPlaceholdersAndBreaks) {
    settings.language = 0;
    EXPECT_EQ(text("dialog.journey"), L"Voyage dans l\u2019espace");
    settings.language = 3;
    EXPECT_EQ(text("dialog.journey"), L"\u592A\u7A7A\u4E4B\u65C5");
    for (const char* wrong : {"Dialog.journey", "dialog", "dialog.journeyx", ""})
        EXPECT_EQ(text(wrong), L"") << wrong;
    EXPECT_EQ((settings.language = 4, tr(L"fr", L"en", L"de", L"zh", L"es", L"it")), L"es");
    std::set<std::string> keys;
    const auto count = [](const std::wstring& s, wchar_t c) { return std::count(s.begin(), s.end(), c); };
    for (const Translation& row : translations) {
        EXPECT_TRUE(keys.insert(row.key).second) << "duplicate key " << row.key;
        const std::wstring english = row.texts[1];
        for (const std::wstring translated : row.texts) {
            EXPECT_FALSE(translated.empty()) << row.key;
            EXPECT_EQ(translated.find(L"{0}") == std::wstring::npos, english.find(L"{0}") == std::wstring::npos)
                << row.key;
            EXPECT_EQ(count(translated, L'\n'), count(english, L'\n')) << row.key;
            EXPECT_EQ(count(translated, L'\r'), count(translated, L'\n')) << row.key << ", every break as CR LF";
        }
    }
    settings.language = 0;
}

int closeCalls = 0, lastClosed = 0;
void countClose(int* value) {
    ++closeCalls;
    lastClosed = *value;
}

TEST(Unique, ClosesEachValueExactlyOnceAndNeverAnEmptyOne) {
    using Counted = Unique<int*, &countClose>;
    int a = 1, b = 2;
    {
        Counted empty, invalid{reinterpret_cast<int*>(-1)};  // INVALID_HANDLE_VALUE is "nothing" too
        Counted owner{&a};
        *owner.put() = &b;  // put() closes the old value before handing out its address
        EXPECT_EQ(std::pair(closeCalls, lastClosed), std::pair(1, 1));
        Counted moved{std::move(owner)}, assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(!owner.valid() && !moved.valid() && closeCalls == 1);
    }
    EXPECT_EQ(std::pair(closeCalls, lastClosed), std::pair(2, 2));
    EXPECT_EQ(Counted{&a}.release(), &a);
    EXPECT_EQ(closeCalls, 2);
    int runs = 0;
    {
        ScopeExit kept{[&] { ++runs; }};
        ScopeExit dropped{[&] { runs += 10; }};
        dropped.dismiss();
    }
    EXPECT_EQ(runs, 1) << "a scope guard runs once unless dismissed";
}

}  // namespace
}  // namespace dormalis
