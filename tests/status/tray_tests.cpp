// The tray's shield, and the live tray on a thread of this process against a stand-in service and a fake shell.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <thread>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "status/status_report.h"
#include "status/tray.h"
#include "tests/support/desktop_state.h"
#include "tests/support/fake_shell.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr const wchar_t* LaunchEnvironment = L"DORMALIS_TRAY_TEST_LAUNCH";
constexpr const wchar_t* LaunchKey = L"SOFTWARE\\DormalisTrayTest";
constexpr UINT TrayCallback = WM_APP + 1;
constexpr DWORD Green = 0xFF2CAD5Cu, Grey = 0xFF8C949Eu;  // alpha, red, green, blue

TEST(TrayShield, FillOutlineAndTransparencyFollowTheSelection) {
    for (bool selected : {true, false}) {
        UniqueIcon icon{drawShield(selected)};
        ASSERT_TRUE(icon) << selected;
        // The icon as Windows draws it over a magenta background.
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        DWORD* pixels = nullptr;
        UniqueDc dc{CreateCompatibleDC(nullptr)};
        UniqueBitmap target{
            CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels), nullptr, 0)};
        std::fill_n(pixels, 32 * 32, 0x00FF00FFu);
        {
            SelectionGuard chosen{dc.get(), target.get()};
            DrawIconEx(dc.get(), 0, 0, icon.get(), 32, 32, 0, nullptr, DI_NORMAL);
            GdiFlush();
        }
        const DWORD fill = selected ? Green : Grey;
        EXPECT_EQ(pixels[16 * 32 + 16] & 0xFFFFFF, fill & 0xFFFFFF) << "the zero mask must not darken the fill";
        EXPECT_EQ(pixels[2 * 32 + 16] & 0xFFFFFF, 0xF5F8FFu) << "outline, " << selected;
        for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}, {2, 16}, {30, 16}, {16, 0}})
            EXPECT_EQ(pixels[y * 32 + x] & 0xFFFFFF, 0xFF00FFu) << "the background shows through at " << x << "," << y;
    }
}

struct LiveTray {
    std::atomic<bool> ended{false};
    std::thread thread;
    HWND window = nullptr;

    LiveTray() {
        instance = GetModuleHandleW(nullptr);
        thread = std::thread([this] { ended = (runTray(), true); });
        waitUntil([this] { return (window = FindWindowW(L"Dormalis.Native.Tray", nullptr)) || ended; }, 10000);
    }
    ~LiveTray() {
        if (!ended && window) PostMessageW(window, WM_CLOSE, 0, 0);
        thread.join();
    }
    // One poll of the tray, at once and finished on return (its shell calls included).
    void tick() const { SendMessageW(window, WM_TIMER, 1, 0); }
};

std::wstring launches() {
    return readString(HKEY_CURRENT_USER, LaunchKey, L"Launches");
}

// Opens the tray's menu as the shell's version 4 tells of Enter or Space on the icon (or of a right click) with the
// icon's anchor, and picks the item by keyboard.
void chooseMenuItem(HWND tray, int item, WORD event = NIN_KEYSELECT) {
    PostMessageW(tray, TrayCallback, MAKEWPARAM(300, 200), MAKELPARAM(event, 1));
    HWND menu = nullptr;
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(menu = FindWindowW(L"#32768", nullptr)); }, 10000)) << "no menu";
    RECT place{};
    GetWindowRect(menu, &place);
    EXPECT_EQ(std::pair(place.left, place.top), std::pair(300L, 200L)) << "the menu opens at the icon";
    for (int i = 0; i < item; ++i)
        PostMessageW(tray, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(tray, WM_KEYDOWN, VK_RETURN, 0);
}

TEST(TrayLive, MenuCommandsShowTheStatusAndStartTheRightCommandLines) {
    DesktopState state;
    deleteKeyTree(HKEY_CURRENT_USER, LaunchKey);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    TestService service;
    service.start();
    LiveTray tray;
    ASSERT_TRUE(tray.window) << "the tray did not start";

    chooseMenuItem(tray.window, 2);
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(box = FindWindowW(L"#32770", L"Dormalis")); }, 10000));
    wchar_t shown[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, shown, 2048);
    EXPECT_EQ(std::wstring(shown), networkStatus());
    EXPECT_EQ(GetWindow(box, GW_OWNER), tray.window);
    PostMessageW(box, WM_COMMAND, IDOK, 0);

    // Started programs are this test program: told by the environment, a copy only records its arguments.
    SetEnvironmentVariableW(LaunchEnvironment, L"1");
    const auto launched = [](const wchar_t* expected) {
        return waitUntil([&] { return launches() == expected; }, 10000);
    };
    chooseMenuItem(tray.window, 1, WM_CONTEXTMENU);
    EXPECT_TRUE(launched(L"/c")) << narrow(launches());
    PostMessageW(tray.window, TrayCallback, 0, MAKELPARAM(WM_LBUTTONUP, 1));  // a single click starts nothing
    PostMessageW(tray.window, TrayCallback, 0, MAKELPARAM(WM_LBUTTONDBLCLK, 1));
    EXPECT_TRUE(launched(L"/c|<none>")) << narrow(launches());
    PostMessageW(tray.window, TrayCallback, 0, MAKELPARAM(NIN_BALLOONUSERCLICK, 1));
    EXPECT_TRUE(launched(L"/c|<none>|<none>")) << narrow(launches());
    EXPECT_FALSE(waitUntil([] { return launches() != L"/c|<none>|<none>"; }, 500)) << launches();
    SetEnvironmentVariableW(LaunchEnvironment, nullptr);
    deleteKeyTree(HKEY_CURRENT_USER, LaunchKey);
}

size_t balloons(const std::vector<NotifyCall>& calls) {
    return std::count_if(calls.begin(), calls.end(), [](const NotifyCall& call) { return call.flags & NIF_INFO; });
}

TEST(TrayNotificationArea, ShieldTipBalloonAndShellRestartAsTheShellSeesThem) {
    DesktopState state;
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 0);
    selectSaver(L"C:\\Windows\\System32\\Other.scr");
    FakeShell shell;
    TestService service;
    service.start();
    LiveTray tray;
    ASSERT_TRUE(tray.window);
    const auto last = [&] { return shell.calls().back(); };

    ASSERT_TRUE(waitUntil([&] { return shell.calls().size() >= 3; }, 5000));
    EXPECT_EQ(std::pair(shell.calls()[1].message, shell.calls()[1].version),
              std::pair(DWORD{NIM_SETVERSION}, UINT{NOTIFYICON_VERSION_4}));
    EXPECT_EQ(std::tuple(last().message, last().tip, last().centre),
              std::tuple(DWORD{NIM_MODIFY}, std::wstring(L"Dormalis — screen saver not selected"), Grey));

    selectSaver(state.createFile(L"Dormalis.scr"));
    tray.tick();
    EXPECT_EQ(std::pair(last().tip, last().centre),
              std::pair(std::wstring(L"Dormalis — selected screen saver"), Green));
    const size_t afterSelection = shell.calls().size();
    tray.tick();
    tray.tick();
    EXPECT_EQ(shell.calls().size(), afterSelection) << "nothing changed: the ticks leave the icon alone";

    // The error state: one balloon on entry, none while it lasts, another after leaving and coming back.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 3);
    tray.tick();
    ASSERT_EQ(balloons(shell.calls()), 1u);
    EXPECT_EQ(last().info, L"Network recovery needs attention. Open Dormalis and use Restore network if needed.");
    EXPECT_EQ(last().infoFlags & NIIF_ICON_MASK, static_cast<DWORD>(NIIF_WARNING));
    tray.tick();
    tray.tick();
    EXPECT_EQ(balloons(shell.calls()), 1u) << "none while the error lasts";
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 0);
    tray.tick();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 3);
    tray.tick();
    EXPECT_EQ(balloons(shell.calls()), 2u) << "another after a tick outside the error";
    // Each new record of a pause that failed gets one balloon, though NetworkState shows 3 only for a moment.
    for (const wchar_t* record : {L"2026-12-07T07:06:43Z|firewall|WFP failure: x", L"2026-12-07T07:09:00Z|none|y"}) {
        writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"LastFailedPause", record);
        const size_t before = balloons(shell.calls());
        tray.tick();
        tray.tick();
        EXPECT_EQ(balloons(shell.calls()), before + 1);
        EXPECT_EQ(last().info, L"The network could not be cut. Open Dormalis to see why.");
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, L"LastFailedPause");
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 0);
    tray.tick();
    EXPECT_EQ(last().tip, L"Dormalis — écran de veille sélectionné");
    EXPECT_EQ(last().flags & NIF_INFO, 0u) << "a later redraw must not carry the balloon again";

    // A restarted shell gets the icon again, freshly drawn.
    const size_t beforeRestart = shell.calls().size();
    SendMessageW(tray.window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    ASSERT_EQ(shell.calls().size(), beforeRestart + 3);
    EXPECT_EQ(shell.calls()[beforeRestart].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(shell.calls()[beforeRestart + 1].version, UINT{NOTIFYICON_VERSION_4}) << "the version is set again";
    EXPECT_EQ(last().centre, Green);
}

}  // namespace
}  // namespace dormalis

int main(int argc, char** argv) {
    if (GetEnvironmentVariableW(dormalis::LaunchEnvironment, nullptr, 0) > 0) {  // a started copy: its one argument
        int count = 0;
        wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
        const dormalis::UniqueLocal owned{words};
        const std::wstring all = dormalis::launches(), argument = count > 1 ? words[1] : L"<none>";
        dormalis::writeString(HKEY_CURRENT_USER, dormalis::LaunchKey, L"Launches",
                              all + (all.empty() ? L"" : L"|") + argument);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
