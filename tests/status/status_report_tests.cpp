#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "status/status_report.h"
#include "tests/registration/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr unsigned French = 0, English = 1, German = 2, Chinese = 3;

void useLanguage(unsigned language) {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", language);
}

// Dormalis selected in Windows, switched on, with the given idle timeout.
void selectDormalis(UINT timeoutSeconds) {
    selectSaver(L"C:\\Program Files\\DormalisNative\\Dormalis.scr");
    setSaverActive(true);
    setTimeoutSeconds(timeoutSeconds);
}

const std::wstring StoppedEnglish = L"\n\nService unavailable — network state unknown";

TEST(NetworkStatus, SelectionLinesInEnglish) {
    DesktopState state;
    useLanguage(English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    EXPECT_EQ(networkStatus(), L"Dormalis is not selected as the screen saver." + StoppedEnglish);

    selectDormalis(600);
    setSaverActive(false);
    EXPECT_EQ(networkStatus(),
              L"Dormalis is selected, but automatic screen saver activation is disabled." + StoppedEnglish);

    selectDormalis(600);
    EXPECT_EQ(networkStatus(),
              L"Dormalis is configured and enabled as the screen saver.\n"
              L"Idle time before activation: 10 min" +
                  StoppedEnglish);
}

TEST(NetworkStatus, AZeroTimeoutCountsAsDisabled) {
    DesktopState state;
    useLanguage(English);
    selectDormalis(0);
    UINT stored = 99;
    SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &stored, 0);
    if (stored != 0) GTEST_SKIP() << "Windows here refuses a zero timeout";
    EXPECT_EQ(networkStatus(),
              L"Dormalis is selected, but automatic screen saver activation is disabled." + StoppedEnglish);
}

TEST(NetworkStatus, DurationsInMinutesAndSeconds) {
    DesktopState state;
    useLanguage(English);
    const std::pair<UINT, std::wstring> cases[] = {{600, L"10 min"}, {90, L"1 min 30 s"}, {61, L"1 min 1 s"},
                                                   {60, L"1 min"},   {45, L"45 s"},       {7265, L"121 min 5 s"}};
    for (const auto& [seconds, shown] : cases) {
        selectDormalis(seconds);
        EXPECT_EQ(networkStatus(),
                  L"Dormalis is configured and enabled as the screen saver.\n"
                  L"Idle time before activation: " +
                      shown + StoppedEnglish)
            << seconds;
    }
}

TEST(NetworkStatus, FollowsTheDisplayLanguageWithItsOwnUnits) {
    DesktopState state;
    selectDormalis(90);
    useLanguage(Chinese);
    EXPECT_EQ(networkStatus(),
              L"Dormalis 已配置并启用为屏幕保护程序。\n启动前的空闲时间：1 分钟 30 秒\n\n"
              L"服务不可用 — 网络状态未知");
    useLanguage(French);
    EXPECT_EQ(networkStatus(),
              L"Dormalis est bien configuré et activé comme écran de veille.\n"
              L"Délai d’inactivité avant lancement : 1 min 30 s\n\n"
              L"Service indisponible — état du réseau inconnu");
    useLanguage(German);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    EXPECT_EQ(networkStatus(),
              L"Dormalis ist nicht als Bildschirmschoner ausgewählt.\n\n"
              L"Dienst nicht verfügbar — Netzwerkstatus unbekannt");
}

TEST(NetworkStatus, WithTheServiceRunningShowsModeAndNetworkState) {
    DesktopState state;
    TestService service;
    service.start();
    useLanguage(English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    const std::wstring head = L"Dormalis is not selected as the screen saver.\n\n";

    EXPECT_EQ(networkStatus(), head + L"choose mode on first activation\nError — check status")
        << "a missing network state is an error";

    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    const std::pair<DWORD, std::wstring> states[] = {{0, L"Ready — not blocked"},
                                                     {1, L"Blocked"},
                                                     {2, L"Restoring"},
                                                     {3, L"Error — check status"},
                                                     {7, L"Error — check status"}};
    for (const auto& [value, label] : states) {
        writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", value);
        EXPECT_EQ(networkStatus(), head + text("setup.networkModeFirewall") + L"\n" + label) << value;
    }
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 0);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 1);
    EXPECT_EQ(networkStatus(), head + text("setup.networkModeAdapters") + L"\nBlocked");
    EXPECT_FALSE(text("setup.networkModeAdapters").empty());
    EXPECT_NE(text("setup.networkModeAdapters"), text("setup.networkModeFirewall"));

    // Only the 1 the mode change writes confirms a mode; the installer's 0 and a foreign 2 do not.
    for (DWORD unconfirmed : {0u, 2u}) {
        writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", unconfirmed);
        EXPECT_EQ(networkStatus(), head + L"choose mode on first activation\nBlocked") << unconfirmed;
    }
}

TEST(ModeLabel, UsesTheLastLoadedSettingsAndTheLanguage) {
    DesktopState state;
    useLanguage(Chinese);
    settings.load();
    EXPECT_EQ(networkModeLabel(), L"首次启用时选择模式");
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 0);
    EXPECT_EQ(networkModeLabel(), text("setup.networkModeFirewall")) << "settings are not reloaded here";
    settings.load();
    EXPECT_EQ(networkModeLabel(), text("setup.networkModeAdapters"));
}

TEST(ConfigurationReport, AddsTheFileAndServiceChecks) {
    DesktopState state;
    useLanguage(English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    const std::wstring note =
        L"\n\nLocal checks only: no network interruption or Internet connectivity test. If needed, use Restore "
        L"network in the app.";

    EXPECT_EQ(configurationReport(), L"Dormalis is not selected as the screen saver." + StoppedEnglish +
                                         L"\n\nScreen saver file: missing — reinstall\nWindows service: stopped or "
                                         L"missing" +
                                         note);

    state.createFile(L"Dormalis.scr");
    EXPECT_NE(configurationReport().find(L"\n\nScreen saver file: present\n"), std::wstring::npos);

    std::filesystem::remove(state.saverFile());
    std::filesystem::create_directory(state.saverFile());
    EXPECT_NE(configurationReport().find(L"\n\nScreen saver file: present\n"), std::wstring::npos)
        << "a folder named like the saver counts as present";

    TestService service;
    service.start();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 0);
    EXPECT_EQ(configurationReport(),
              L"Dormalis is not selected as the screen saver.\n\n"
              L"choose mode on first activation\nReady — not blocked\n\n"
              L"Screen saver file: present\nWindows service: running" +
                  note);

    useLanguage(Chinese);
    const std::wstring chinese = configurationReport();
    EXPECT_NE(chinese.find(L"屏幕保护程序文件：存在\nWindows 服务：正在运行\n\n"), std::wstring::npos);
    EXPECT_TRUE(chinese.ends_with(L"如有问题，请在应用中恢复网络。"));
}

}  // namespace
}  // namespace dormalis
