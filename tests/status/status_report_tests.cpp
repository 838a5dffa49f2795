// The status texts and the service queries, against the real registry and saver selection and a stand-in service.
#include <gtest/gtest.h>

#include <string>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/text.h"
#include "status/status_report.h"
#include "tests/support/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr unsigned English = 1, Chinese = 3;
const std::wstring NotSelected = L"Dormalis is not selected as the screen saver.";
const std::wstring Stopped = L"\n\nService unavailable — network state unknown";
const std::wstring Enabled = L"Dormalis is configured and enabled as the screen saver.\nIdle time before activation: ";

// Dormalis selected in Windows (a file that exists: a removed one is no selection), switched on or off, with the
// given idle timeout.
void selectDormalis(const DesktopState& state, UINT timeoutSeconds, bool active = true) {
    selectSaver(state.createFile(L"Dormalis.scr"));
    setSaverActive(active);
    setTimeoutSeconds(timeoutSeconds);
}

TEST(NetworkStatus, SelectionLinesAndDurationsInTheDisplayLanguage) {
    DesktopState state;
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    EXPECT_EQ(networkStatus(), NotSelected + Stopped);
    selectDormalis(state, 600, false);
    const std::wstring disabled = L"Dormalis is selected, but automatic screen saver activation is disabled.";
    EXPECT_EQ(networkStatus(), disabled + Stopped);
    const std::pair<UINT, std::wstring> cases[] = {{600, L"10 min"}, {90, L"1 min 30 s"}, {61, L"1 min 1 s"},
                                                   {60, L"1 min"},   {45, L"45 s"},       {7265, L"121 min 5 s"}};
    for (const auto& [seconds, shown] : cases)
        EXPECT_EQ((selectDormalis(state, seconds), networkStatus()), Enabled + shown + Stopped) << seconds;
    selectDormalis(state, 0);  // a zero timeout counts as disabled, where Windows keeps one
    EXPECT_TRUE(saverTimeout() != 0 || networkStatus() == disabled + Stopped) << narrow(networkStatus());
    // The display language with its own units.
    selectDormalis(state, 90);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", Chinese);
    EXPECT_EQ(networkStatus(),
              L"Dormalis 已配置并启用为屏幕保护程序。\n启动前的空闲时间：1 分钟 30 秒\n\n"
              L"服务不可用 — 网络状态未知");
    // The organisation's policy over the user's choice: selecting Dormalis selects it; another saver, or savers
    // off, keep it from starting, and the report says so.
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    writeString(HKEY_CURRENT_USER, PolicyKey, L"SCRNSAVE.EXE", L" \"" + state.createFile(L"Dormalis.scr") + L"\"");
    EXPECT_EQ(networkStatus(), Enabled + L"1 min 30 s" + Stopped);
    writeString(HKEY_CURRENT_USER, PolicyKey, L"SCRNSAVE.EXE", L"C:\\Windows\\System32\\Bubbles.scr");
    selectDormalis(state, 90);
    EXPECT_EQ(networkStatus(),
              L"The screen saver is managed by your organization, which does not start Dormalis." + Stopped);
}

TEST(NetworkStatus, WithTheServiceRunningShowsModeAndNetworkState) {
    DesktopState state;
    TestService service;
    service.start();
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    const std::wstring head = NotSelected + L"\n\n";
    EXPECT_EQ(networkStatus(), head + L"choose mode on first activation\nError — check status")
        << "a missing network state is an error";
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    const std::wstring error = L"Error — check status";
    for (const auto& [value, label] : {std::pair{0u, std::wstring(L"Ready — not blocked")},
                                       {1u, std::wstring(L"Blocked")},
                                       {2u, std::wstring(L"Restoring")},
                                       {3u, error},
                                       {7u, error}}) {
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
    // The last pause that failed follows, its time local and to the minute, the service running or not.
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"LastFailedPause",
                L"2026-12-07T07:06:43Z|adapters|Recovery list not writable.");
    const std::wstring tail = L" — " + text("setup.networkModeAdapters") + L" — Recovery list not writable.";
    for (const std::wstring& before : {head + L"choose mode on first activation\nBlocked", NotSelected + Stopped}) {
        const std::wstring shown = networkStatus(), cut = before + L"\nLast network cut that failed: 2026-12-0";
        EXPECT_TRUE(shown.rfind(cut, 0) == 0 && shown.size() == cut.size() + 7 + tail.size() &&
                    shown.substr(shown.size() - tail.size()) == tail)
            << narrow(shown);
        if (serviceRunning()) service.stop();
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, L"LastFailedPause");
}

TEST(ConfigurationReport, AddsTheFileAndServiceChecks) {
    DesktopState state;
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", English);
    selectSaver(L"C:\\Windows\\System32\\Bubbles.scr");
    const std::wstring note =
        L"\n\nLocal checks only: no network interruption or Internet connectivity test. If needed, use Restore "
        L"network in the app.";
    EXPECT_EQ(configurationReport(),
              NotSelected + Stopped +
                  L"\n\nScreen saver file: missing — reinstall\nWindows service: stopped or missing" + note);
    state.createFile(L"Dormalis.scr");
    TestService service;
    service.start();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 0);
    EXPECT_EQ(configurationReport(), NotSelected +
                                         L"\n\nchoose mode on first activation\nReady — not blocked\n\n"
                                         L"Screen saver file: present\nWindows service: running" +
                                         note);
}

TEST(ServiceQueries, OnlyARunningServiceIsAskedToRestoreTheNetwork) {
    { TestService removedAtOnce; }
    ASSERT_TRUE(waitUntilServiceGone());
    EXPECT_EQ(std::tuple(serviceInstalled(), serviceRunning(), requestNetworkRestore()), std::tuple(false, false, 1));
    TestService service;
    EXPECT_EQ(std::tuple(serviceInstalled(), serviceRunning(), requestNetworkRestore()), std::tuple(true, false, 1))
        << "a stopped service refuses";
    service.start();
    EXPECT_TRUE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 0);
    EXPECT_TRUE(waitUntil([] { return recordedControls() == L"128"; }, 5000)) << narrow(recordedControls());
}

}  // namespace
}  // namespace dormalis
