#include <gtest/gtest.h>

#include <string>

#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

TEST(EntrySystem, PreviewWithoutAUsableHostExitsAtOnceWithZero) {
    for (const wchar_t* arguments : {L"/p", L"/p:0", L"/p 0", L"/p 987654321", L"/P:987654321"}) {
        ProcessResult result = runProcess(dormalis(arguments), 10000);
        EXPECT_TRUE(result.finished) << narrow(arguments);
        EXPECT_EQ(result.exitCode, 0u) << narrow(arguments);
    }
}

TEST(EntrySystem, StartUpSurvivesStoredValuesOfEveryTypeAndOverlongArguments) {
    const wchar_t* key = L"SOFTWARE\\DormalisNative";
    const BYTE odd[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const wchar_t multi[] = L"a\0b\0";
    struct Stored {
        DWORD type;
        const void* data;
        DWORD bytes;
    };
    const Stored kinds[] = {{REG_SZ, L"600", 8},
                            {REG_BINARY, odd, 1},
                            {REG_QWORD, odd, 8},
                            {REG_NONE, odd, 0},
                            {REG_MULTI_SZ, multi, sizeof(multi)},
                            {REG_DWORD, odd, 9},
                            {REG_EXPAND_SZ, L"%X%", 8}};
    for (const Stored& kind : kinds) {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            HKEY opened = nullptr;
            ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr), 0);
            for (const wchar_t* name :
                 {L"Language", L"Density", L"Speed", L"Displays", L"Color", L"Firewall", L"InstallPath"}) {
                RegSetValueExW(opened, name, 0, kind.type, static_cast<const BYTE*>(kind.data), kind.bytes);
            }
            RegCloseKey(opened);
        }
        ProcessResult result = runProcess(dormalis(L"/p 0"), 10000);
        EXPECT_TRUE(result.finished) << "type " << kind.type;
        EXPECT_EQ(result.exitCode, 0u) << "type " << kind.type;
    }
    deleteKeyTree(HKEY_CURRENT_USER, key);
    deleteKeyTree(HKEY_LOCAL_MACHINE, key);

    ProcessResult overlong = runProcess(dormalis(L"/p:" + std::wstring(30000, L'7')), 10000);
    EXPECT_TRUE(overlong.finished);
    EXPECT_EQ(overlong.exitCode, 0u) << "a saturated handle is no window";
}

TEST(EntrySystem, AnEscapingErrorIsShownInTheDormalisNativeBoxAndGivesExitCodeOne) {
    UniqueHandle process = startProcess(dormalis(L"--set-timeout 0"));
    ProcessResult box = driver(L"message-box \"Dormalis Native\" 10000");
    ASSERT_EQ(box.exitCode, 0u) << "no error box appeared";
    EXPECT_FALSE(box.output.empty());
    driver(L"press \"Dormalis Native\" 1");
    EXPECT_EQ(finishProcess(process.get(), 10000), 1u);
}

}  // namespace
}  // namespace dormalis
