// The status texts and the service queries, against the real registry, the real saver selection and a stand-in
// service under the product's name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "status/status_report.h"
#include "tests/registration/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr unsigned English = 1, German = 2, Chinese = 3;
const std::wstring Stopped = L"\n\nService unavailable — network state unknown";
const std::wstring Enabled = L"Dormalis is configured and enabled as the screen saver.\nIdle time before activation: ";

void useLanguage(unsigned language) {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", language);
}

// Dormalis selected in Windows, switched on or off, with the given idle timeout.
void selectDormalis(UINT timeoutSeconds, bool active = true) {
    selectSaver(L"C:\\Program Files\\DormalisNative\\Dormalis.scr");
    setSaverActive(active);
    setTimeoutSeconds(timeoutSeconds);
}

TEST(NetworkStatus, SelectionLinesAndDurationsInEnglish) {
    DesktopState state;
    useLanguage(English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    EXPECT_EQ(networkStatus(), L"Dormalis is not selected as the screen saver." + Stopped);
    selectDormalis(600, false);
    EXPECT_EQ(networkStatus(), L"Dormalis is selected, but automatic screen saver activation is disabled." + Stopped);
    const std::pair<UINT, std::wstring> cases[] = {{600, L"10 min"}, {90, L"1 min 30 s"}, {61, L"1 min 1 s"},
                                                   {60, L"1 min"},   {45, L"45 s"},       {7265, L"121 min 5 s"}};
    for (const auto& [seconds, shown] : cases) {
        selectDormalis(seconds);
        EXPECT_EQ(networkStatus(), Enabled + shown + Stopped) << seconds;
    }
    selectDormalis(0);
    if (saverTimeout() == 0) {  // a zero timeout counts as disabled, where Windows keeps one
        EXPECT_EQ(networkStatus(),
                  L"Dormalis is selected, but automatic screen saver activation is disabled." + Stopped);
    }
}

TEST(NetworkStatus, FollowsTheDisplayLanguageWithItsOwnUnits) {
    DesktopState state;
    selectDormalis(90);
    useLanguage(Chinese);
    EXPECT_EQ(networkStatus(),
              L"Dormalis 已配置并启用为屏幕保护程序。\n启动前的空闲时间：1 分钟 30 秒\n\n"
              L"服务不可用 — 网络状态未知");
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
    // Only the 1 the mode change writes confirms a mode; the installer's 0 and a foreign 2 do not.
    for (DWORD unconfirmed : {0u, 2u}) {
        writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", unconfirmed);
        EXPECT_EQ(networkStatus(), head + L"choose mode on first activation\nBlocked") << unconfirmed;
    }
    // The mode label reads the last loaded settings, in the display language.
    useLanguage(Chinese);
    settings.load();
    EXPECT_EQ(networkModeLabel(), L"首次启用时选择模式");
}

TEST(ConfigurationReport, AddsTheFileAndServiceChecks) {
    DesktopState state;
    useLanguage(English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    const std::wstring note =
        L"\n\nLocal checks only: no network interruption or Internet connectivity test. If needed, use Restore "
        L"network in the app.";
    EXPECT_EQ(configurationReport(), L"Dormalis is not selected as the screen saver." + Stopped +
                                         L"\n\nScreen saver file: missing — reinstall\nWindows service: stopped or "
                                         L"missing" +
                                         note);
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
}

TEST(ServiceQueries, OnlyARunningServiceIsAskedToRestoreTheNetwork) {
    { TestService removedAtOnce; }
    ASSERT_TRUE(waitUntilServiceGone());
    EXPECT_FALSE(serviceInstalled());
    EXPECT_FALSE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 1);
    TestService service;
    EXPECT_TRUE(serviceInstalled());
    EXPECT_FALSE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 1) << "a stopped service refuses";
    service.start();
    EXPECT_TRUE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 0);
    EXPECT_TRUE(waitUntil([] { return recordedControls() == L"128"; }, 5000)) << narrow(recordedControls());
}

}  // namespace
}  // namespace dormalis
