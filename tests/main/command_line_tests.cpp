#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "main/command_line.h"

namespace dormalis {
namespace {

using K = RoleKind;

// Each row: the arguments, the role, and the number that role reads (minutes, host window or first page).
struct Row {
    std::wstring arguments;  // separated by '|'; an empty text is none
    RoleKind kind;
    std::uint64_t number = 0;
};

std::uint64_t numberOf(const Role& role) {
    if (role.kind == K::SetTimeout) return role.timeoutMinutes;
    if (role.kind == K::EmbeddedPreview || role.hostWindow) return role.hostWindow;
    return static_cast<std::uint64_t>(role.page);
}

TEST(ChooseRole, EachCommandLineSelectsItsRoleAndReadsItsNumber) {
    const std::wstring huge(100000, L'9');
    // Minutes are read as _wtoi reads: a negative count wraps (the range check refuses it later), a long one saturates.
    std::vector<Row> rows = {
        Row{L"--set-timeout", K::SettingsWindow},  // no value
        Row{L"--set-timeout|12abc", K::SetTimeout, 12},
        Row{L"--set-timeout|-1", K::SetTimeout, 0xFFFFFFFFu},
        Row{L"--set-timeout|" + huge, K::SetTimeout, 0x7FFFFFFFu},
        Row{L"/S", K::ScreenSaver},
        Row{L"/s:5", K::SettingsWindow},           // the whole switch only
        Row{L"/C:4711", K::SettingsWindow, 4711},  // the screen-saver dialog that owns the page
        Row{L"/c|4712", K::SettingsWindow, 4712},
        Row{L"/config", K::SettingsWindow, 1},  // anything that starts with /c
        Row{L"/p", K::EmbeddedPreview, 0},
        Row{L"/P:77|1234", K::EmbeddedPreview, 77},  // the colon wins over the second argument
        Row{L"/p|1234", K::EmbeddedPreview, 1234},
        Row{L"/pxyz|55", K::EmbeddedPreview, 55},
        Row{L"/p|not-a-number", K::EmbeddedPreview, 0},
        Row{L"/p:" + huge, K::EmbeddedPreview, ~0ULL},  // saturates
        Row{huge, K::SettingsWindow},
        Row{std::wstring(L"/s\0x", 4), K::SettingsWindow},
    };
    const wchar_t* switches[] = {L"--tray",          L"--restore-network", L"--service",      L"--mode-firewall",
                                 L"--mode-adapters", L"--activate",        L"--deactivate",   L"--uninstall",
                                 L"--diagnostics",   L"--preview",         L"--preview-test", L"--network-test"};
    const RoleKind kinds[] = {K::Tray,         K::RestoreNetwork, K::Service,     K::ModeFirewall,
                              K::ModeAdapters, K::Activate,       K::Deactivate,  K::Uninstall,
                              K::Diagnostics,  K::Preview,        K::PreviewTest, K::NetworkTest};
    for (size_t i = 0; i < std::size(switches); ++i) {
        rows.push_back({switches[i], kinds[i]});
        rows.push_back({switches[i] + std::wstring(L"|extra|words"), kinds[i]});  // later arguments do not matter
    }
    // Switches are whole and case-sensitive.
    for (const wchar_t* wrong : {L"--TRAY", L"--Service", L"--tray ", L"-tray", L"--previewtest", L"--preview-Test",
                                 L"--unknown", L"/x", L"", L"--"})
        rows.push_back({wrong, K::SettingsWindow});
    for (const Row& row : rows) {
        std::vector<std::wstring> arguments;
        std::wistringstream words(row.arguments);
        for (std::wstring word; std::getline(words, word, L'|');)
            arguments.push_back(word);
        const Role role = chooseRole(arguments);
        EXPECT_EQ(role.kind, row.kind) << row.arguments.substr(0, 40).c_str();
        EXPECT_EQ(numberOf(role), row.number) << row.arguments.substr(0, 40).c_str();
    }
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
