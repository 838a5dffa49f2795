#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "foundation/process.h"
#include "main/command_line.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using K = RoleKind;

// Each row: a raw command line, the role, and the number that role reads (minutes, host window or first page).
struct Row {
    std::wstring line;
    RoleKind kind;
    std::uint64_t number = 0;
};

std::uint64_t numberOf(const Role& role) {
    if (role.kind == K::SetTimeout) return role.timeoutMinutes;
    if (role.kind == K::EmbeddedPreview || role.hostWindow) return role.hostWindow;
    return static_cast<std::uint64_t>(role.page);
}

// Windows starts the saver by the stored path without quotes, long or 8.3: the switch is what follows that path.
TEST(ChooseRole, EachCommandLineSelectsItsRoleAndReadsItsNumberHoweverItsProgramPathIsWritten) {
    const std::vector<std::wstring> own = {L"C:\\Program Files\\DormalisNative\\Dormalis.scr",
                                           L"C:\\PROGRA~1\\DORMAL~1\\Dormalis.scr"};
    const std::wstring P = own[0] + L" ", huge(100000, L'9');
    // Minutes are read as _wtoi reads: a negative count wraps (the range check refuses it later), a long one saturates.
    std::vector<Row> rows = {
        {P + L"/s", K::ScreenSaver},
        {P + L"/p 1234", K::EmbeddedPreview, 1234},
        {P + L"/c:77", K::SettingsWindow, 77},  // the screen-saver dialog that owns the page
        {P + L"/c 78", K::SettingsWindow, 78},
        {L"C:\\PROGRA~1\\DORMAL~1\\DORMALIS.SCR /S", K::ScreenSaver},
        {L"  c:\\program files\\dormalisnative\\dormalis.scr\t/P:55", K::EmbeddedPreview, 55},
        {L"\"C:\\Program Files\\DormalisNative\\Dormalis.scr\" /s", K::ScreenSaver},
        {L"\"C:\\PROGRA~1\\DORMAL~1\\Dormalis.scr\" /c", K::SettingsWindow, 1},
        {own[0], K::SettingsWindow},
        {L"\"" + own[0] + L"\"", K::SettingsWindow},
        {L"D:\\Copy\\Dormalis.exe --tray", K::Tray},  // another head ends at its first blank
        {own[0] + L".bak /s", K::SettingsWindow},
        {P + L"--set-timeout", K::SettingsWindow},  // no value
        {P + L"--set-timeout 12abc", K::SetTimeout, 12},
        {P + L"--set-timeout -1", K::SetTimeout, 0xFFFFFFFFu},
        {P + L"--set-timeout " + huge, K::SetTimeout, 0x7FFFFFFFu},
        {P + L"/s:5", K::SettingsWindow},        // the whole switch only
        {P + L"/config", K::SettingsWindow, 1},  // anything that starts with /c
        {P + L"/p", K::EmbeddedPreview, 0},
        {P + L"/P:77 1234", K::EmbeddedPreview, 77},  // the colon wins over the second argument
        {P + L"/pxyz 55", K::EmbeddedPreview, 55},
        {P + L"/p not-a-number", K::EmbeddedPreview, 0},
        {P + L"/p:" + huge, K::EmbeddedPreview, ~0ULL},  // saturates
        {P + huge, K::SettingsWindow},
    };
    const wchar_t* switches[] = {L"--tray",          L"--restore-network", L"--service",      L"--mode-firewall",
                                 L"--mode-adapters", L"--activate",        L"--deactivate",   L"--uninstall",
                                 L"--diagnostics",   L"--preview",         L"--preview-test", L"--network-test"};
    const RoleKind kinds[] = {K::Tray,         K::RestoreNetwork, K::Service,     K::ModeFirewall,
                              K::ModeAdapters, K::Activate,       K::Deactivate,  K::Uninstall,
                              K::Diagnostics,  K::Preview,        K::PreviewTest, K::NetworkTest};
    for (size_t i = 0; i < std::size(switches); ++i) {
        rows.push_back({P + switches[i], kinds[i]});
        rows.push_back({P + switches[i] + L" extra words", kinds[i]});  // later arguments do not matter
    }
    // Switches are whole and case-sensitive.
    for (const wchar_t* wrong : {L"--TRAY", L"--Service", L"\"--tray \"", L"-tray", L"--previewtest", L"--preview-Test",
                                 L"--unknown", L"/x", L"\"\"", L"--"})
        rows.push_back({P + wrong, K::SettingsWindow});
    for (const Row& row : rows) {
        const Role role = chooseRole(argumentsAfterProgram(row.line, own));
        EXPECT_EQ(std::pair(role.kind, numberOf(role)), std::pair(row.kind, row.number))
            << testing::narrow(row.line.substr(0, 80));
    }
    EXPECT_EQ(chooseRole({std::wstring(L"/s\0x", 4)}).kind, K::SettingsWindow);
}

// A start closer to the last input than the Windows timeout less two seconds (at least ten) is a preview.
TEST(SaverStart, ThresholdIsTimeoutLessTwoSecondsButAtLeastTen) {
    for (const auto& [known, timeout, threshold] :
         {std::tuple{true, 60u, 58000u}, std::tuple{true, 13u, 11000u}, std::tuple{true, 12u, 10000u},
          std::tuple{true, 0u, 10000u}, std::tuple{false, 0u, 598000u},  // unknown counts as 600 s
          std::tuple{true, 0xFFFFFFFFu, 0xFFFFFFFFu}})                   // no overflow
        EXPECT_EQ(saverPreviewThresholdMs(known, timeout), threshold) << timeout;
    EXPECT_TRUE(saverStartIsPreview(57999, 58000));
    EXPECT_FALSE(saverStartIsPreview(58000, 58000));
}

}  // namespace
}  // namespace dormalis
