#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

const std::wstring Program = buildFolder() + L"\\Dormalis.exe";

DWORD dormalis(const std::wstring& arguments) {
    return runProcess(quoted(Program) + L" " + arguments, 10000).exitCode;  // not 0 when it had to be ended
}

// A preview whose host is no window ends at once with 0, whatever the stored settings hold.
TEST(EntrySystem, StartUpSurvivesStoredValuesOfEveryTypeAndHostsThatAreNoWindow) {
    const wchar_t* key = L"SOFTWARE\\DormalisNative";
    const BYTE odd[9] = {'6', 0, '0', 0, 0, 0, '%', 0, 9};  // whole or cut-off texts, numbers too short or long
    for (const auto& [type, bytes] :
         {std::pair{REG_SZ, 6}, std::pair{REG_SZ, 3}, std::pair{REG_EXPAND_SZ, 8}, std::pair{REG_MULTI_SZ, 9},
          std::pair{REG_BINARY, 1}, std::pair{REG_DWORD, 9}, std::pair{REG_QWORD, 8}, std::pair{REG_NONE, 0}}) {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (const wchar_t* name :
                 {L"Language", L"Density", L"Speed", L"Displays", L"Color", L"Firewall", L"InstallPath"})
                ASSERT_EQ(RegSetKeyValueW(root, key, name, type, odd, bytes), 0);
        EXPECT_EQ(dormalis(L"/p 0"), 0u) << "type " << type << ", " << bytes << " bytes";
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        deleteKeyTree(root, key);
    for (const std::wstring& arguments :
         {std::wstring(L"/p"), std::wstring(L"/P:987654321"), L"/p:" + std::wstring(30000, L'7')})
        EXPECT_EQ(dormalis(arguments), 0u) << narrow(arguments.substr(0, 20));
}

const Unique<HMODULE, &FreeLibrary> image{LoadLibraryExW(Program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};

std::string resource(const wchar_t* type, const wchar_t* name) {
    HRSRC found = FindResourceW(image.get(), name, type);
    if (!found) return {};
    return std::string(static_cast<const char*>(LockResource(LoadResource(image.get(), found))),
                       SizeofResource(image.get(), found));
}

TEST(Resources, IconOneCarriesSevenSizesAndTheManifestAsksForWhatTheProgramNeeds) {
    const std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    std::vector<int> sizes;
    // The group header (reserved, type, count) is followed by 14-byte entries that start with width and height.
    for (size_t entry = 6; entry + 14 <= group.size(); entry += 14)
        sizes.push_back(static_cast<BYTE>(group[entry]) ? static_cast<BYTE>(group[entry]) : 256);
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));

    const std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    for (const char* needed :
         {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "PerMonitorV2",
          "<longPathAware", ">true</longPathAware>", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(needed), std::string::npos) << needed;
}

// Elevation prompts show the description: each program says which of the three it is.
TEST(Resources, EachProgramIsVersionOneZeroZeroZeroOfDormalisWithItsOwnDescription) {
    for (const auto& [file, description] : {std::pair{Program, L"Dormalis"},
                                            {buildFolder() + L"\\Dormalis Setup.exe", L"Dormalis Setup"},
                                            {buildFolder() + L"\\Uninstall.exe", L"Dormalis Uninstaller"}}) {
        DWORD ignored = 0;
        std::vector<BYTE> block(GetFileVersionInfoSizeW(file.c_str(), &ignored));
        ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(std::tuple(fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS),
                  std::tuple(0x00010000ul, 0ul, 0x00010000ul));
        for (const auto& [name, expected] :
             {std::pair{L"FileDescription", description}, {L"ProductName", L"Dormalis"}}) {
            wchar_t* value = nullptr;
            VerQueryValueW(block.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + name).c_str(),
                           reinterpret_cast<void**>(&value), &length);
            EXPECT_EQ(std::wstring(value ? value : L""), expected) << narrow(file) << " " << narrow(name);
        }
    }
}

// Event Viewer formats each service event with the message of ID 1 from the registered file: the line itself.
TEST(Resources, EventMessageOneIsTheInsertionStringAlone) {
    const wchar_t* line = L"Accepted saver process: 42";
    wchar_t text[256] = {};
    DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(line)};
    FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, image.get(), 1,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), text, 256, reinterpret_cast<va_list*>(inserts));
    EXPECT_EQ(std::wstring(text), line);
}

}  // namespace
}  // namespace dormalis
