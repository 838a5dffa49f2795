#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/command_line.h"

namespace dormalis {
namespace {

Role choose(std::vector<std::wstring> arguments) {
    return chooseRole(arguments);
}

TEST(ChooseRole, ExactSwitchesAreWholeAndCaseSensitive) {
    const std::pair<const wchar_t*, RoleKind> rows[] = {
        {L"--tray", RoleKind::Tray},
        {L"--restore-network", RoleKind::RestoreNetwork},
        {L"--service", RoleKind::Service},
        {L"--mode-firewall", RoleKind::ModeFirewall},
        {L"--mode-adapters", RoleKind::ModeAdapters},
        {L"--activate", RoleKind::Activate},
        {L"--deactivate", RoleKind::Deactivate},
        {L"--uninstall", RoleKind::Uninstall},
        {L"--diagnostics", RoleKind::Diagnostics},
        {L"--preview", RoleKind::Preview},
        {L"--preview-test", RoleKind::PreviewTest},
        {L"--network-test", RoleKind::NetworkTest},
    };
    for (const auto& [text, kind] : rows) {
        EXPECT_EQ(choose({text}).kind, kind) << std::wstring(text).c_str();
        EXPECT_EQ(choose({text, L"extra", L"words"}).kind, kind) << "later arguments do not matter";
    }
    for (const wchar_t* wrong : {L"--TRAY", L"--Service", L"--tray ", L"-tray", L"--previewtest", L"--preview-Test",
                                 L"--unknown", L"/x", L"", L"--"}) {
        Role role = choose({wrong});
        EXPECT_EQ(role.kind, RoleKind::SettingsWindow) << std::wstring(wrong).c_str();
        EXPECT_EQ(role.page, 0);
        EXPECT_FALSE(role.uiTest);
    }
    EXPECT_EQ(choose({}).kind, RoleKind::SettingsWindow);
}

TEST(ChooseRole, SetTimeoutNeedsAValueAndReadsItLikeWtoi) {
    EXPECT_EQ(choose({L"--set-timeout"}).kind, RoleKind::SettingsWindow) << "no value falls through";
    const std::pair<const wchar_t*, unsigned> values[] = {
        {L"5", 5},
        {L"240", 240},
        {L"0", 0},
        {L"abc", 0},
        {L"12abc", 12},
        {L" 7", 7},
        {L"+9", 9},
        {L"-1", 0xFFFFFFFFu},                    // negative wraps and is refused by the range check later
        {L"99999999999999999999", 0x7FFFFFFFu},  // saturates instead of overflowing
    };
    for (const auto& [text, minutes] : values) {
        Role role = choose({L"--set-timeout", text});
        EXPECT_EQ(role.kind, RoleKind::SetTimeout);
        EXPECT_EQ(role.timeoutMinutes, minutes) << std::wstring(text).c_str();
    }
}

TEST(ChooseRole, ScreenSaverArgumentsIgnoreCase) {
    EXPECT_EQ(choose({L"/s"}).kind, RoleKind::ScreenSaver);
    EXPECT_EQ(choose({L"/S"}).kind, RoleKind::ScreenSaver);
    EXPECT_EQ(choose({L"/s:5"}).kind, RoleKind::SettingsWindow) << "/s must be the whole switch";
    EXPECT_EQ(choose({L"/c"}).page, 1);
    EXPECT_EQ(choose({L"/C:4711"}).page, 1);
    EXPECT_EQ(choose({L"/c:4711"}).kind, RoleKind::SettingsWindow);
    EXPECT_EQ(choose({L"/config"}).page, 1) << "anything starting with /c";
}

TEST(ChooseRole, PreviewHostFromColonOrSecondArgument) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::uint64_t host;
    };
    const Case cases[] = {
        {{L"/p"}, 0},
        {{L"/p:0"}, 0},
        {{L"/P:1234"}, 1234},
        {{L"/p", L"1234"}, 1234},
        {{L"/p:77", L"1234"}, 77},  // the colon wins over the second argument
        {{L"/p:", L"1234"}, 0},
        {{L"/pxyz", L"55"}, 55},
        {{L"/p", L"not-a-number"}, 0},
        {{L"/p:18446744073709551615"}, 18446744073709551615ULL},
        {{L"/p:99999999999999999999999"}, 18446744073709551615ULL},  // saturates
    };
    for (const Case& c : cases) {
        Role role = chooseRole(c.arguments);
        EXPECT_EQ(role.kind, RoleKind::EmbeddedPreview);
        EXPECT_EQ(role.hostWindow, c.host) << c.arguments[0].c_str();
    }
}

TEST(ChooseRole, UiTestNeedsFourArgumentsAndClampsLanguageAndPage) {
    Role role = choose({L"--ui-test", L"9", L"7", L"snap"});
    EXPECT_EQ(role.kind, RoleKind::SettingsWindow);
    EXPECT_TRUE(role.uiTest);
    EXPECT_EQ(role.uiTestLanguage, 5u);
    EXPECT_EQ(role.page, 3);
    EXPECT_EQ(role.snapshotPath, L"snap");

    role = choose({L"--ui-test", L"-1", L"-1", L"x"});
    EXPECT_EQ(role.uiTestLanguage, 0u);
    EXPECT_EQ(role.page, 0);

    role = choose({L"--ui-test", L"2", L"1", L"C:\\shots\\page.bmp", L"ignored"});
    EXPECT_EQ(role.uiTestLanguage, 2u);
    EXPECT_EQ(role.page, 1);

    role = choose({L"--ui-test", L"2", L"1"});
    EXPECT_FALSE(role.uiTest) << "too few arguments simply opens the window";
    EXPECT_EQ(role.page, 0);
    EXPECT_FALSE(choose({L"--UI-TEST", L"2", L"1", L"x"}).uiTest);
}

TEST(ChooseRole, OverlongAndOddArgumentsNeverCrash) {
    const std::wstring huge(100000, L'9');
    EXPECT_EQ(choose({huge}).kind, RoleKind::SettingsWindow);
    EXPECT_EQ(choose({L"/p:" + huge}).hostWindow, 18446744073709551615ULL);
    EXPECT_EQ(choose({L"--set-timeout", huge}).timeoutMinutes, 0x7FFFFFFFu);
    EXPECT_EQ(choose({L"--ui-test", huge, L"-" + huge, huge}).uiTestLanguage, 5u);
    EXPECT_EQ(choose({std::wstring(L"/s\0x", 4)}).kind, RoleKind::SettingsWindow);
}

TEST(SaverStart, ThresholdIsTimeoutLessTwoSecondsButAtLeastTen) {
    EXPECT_EQ(saverPreviewThresholdMs(true, 60), 58000u);
    EXPECT_TRUE(saverStartIsPreview(30000, saverPreviewThresholdMs(true, 60)));
    EXPECT_TRUE(saverStartIsPreview(57999, saverPreviewThresholdMs(true, 60)));
    EXPECT_FALSE(saverStartIsPreview(58000, saverPreviewThresholdMs(true, 60)));
    EXPECT_EQ(saverPreviewThresholdMs(true, 5), 10000u);
    EXPECT_EQ(saverPreviewThresholdMs(true, 12), 10000u);
    EXPECT_EQ(saverPreviewThresholdMs(true, 13), 11000u);
    EXPECT_EQ(saverPreviewThresholdMs(true, 2), 10000u);
    EXPECT_EQ(saverPreviewThresholdMs(true, 0), 10000u);
    EXPECT_EQ(saverPreviewThresholdMs(false, 0), 598000u) << "unknown timeout counts as 600 s";
    EXPECT_EQ(saverPreviewThresholdMs(true, 0xFFFFFFFF), 0xFFFFFFFFu) << "no overflow";
    // Idle time is unsigned tick arithmetic: a wrapped tick count still gives the right distance.
    const DWORD lastInput = 0xFFFFF000, now = 0x00001000;
    EXPECT_EQ(now - lastInput, 0x2000u);
    EXPECT_TRUE(saverStartIsPreview(now - lastInput, saverPreviewThresholdMs(true, 5)));
}

}  // namespace
}  // namespace dormalis
