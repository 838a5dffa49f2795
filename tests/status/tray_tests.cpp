#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <thread>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "status/status_report.h"
#include "status/tray.h"
#include "tests/registration/desktop_state.h"
#include "tests/status/fake_shell.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr const wchar_t* LaunchEnvironment = L"DORMALIS_TRAY_TEST_LAUNCH";
constexpr const wchar_t* LaunchKey = L"SOFTWARE\\DormalisTrayTest";
constexpr UINT TrayCallback = WM_APP + 1;

// ---- The shield's pixels -------------------------------------------------------------------------------------

struct Pixels {
    std::vector<DWORD> bgra = std::vector<DWORD>(32 * 32);
    DWORD at(int x, int y) const { return bgra[y * 32 + x]; }
};

BITMAPINFO topDown32() {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    return info;
}

// The icon's own colour bitmap, alpha included.
Pixels colourBits(HICON icon) {
    ICONINFO parts{};
    Pixels pixels;
    if (!GetIconInfo(icon, &parts)) return pixels;
    UniqueBitmap colour{parts.hbmColor}, mask{parts.hbmMask};
    BITMAPINFO info = topDown32();
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    GetDIBits(dc.get(), colour.get(), 0, 32, pixels.bgra.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

// The icon as Windows draws it over a magenta background.
Pixels drawnOverMagenta(HICON icon) {
    BITMAPINFO info = topDown32();
    void* bits = nullptr;
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    UniqueBitmap target{CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    auto* raw = static_cast<DWORD*>(bits);
    std::fill(raw, raw + 32 * 32, 0x00FF00FFu);
    {
        SelectionGuard selected{dc.get(), target.get()};
        DrawIconEx(dc.get(), 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
        GdiFlush();
    }
    Pixels pixels;
    std::copy(raw, raw + 32 * 32, pixels.bgra.begin());
    return pixels;
}

TEST(TrayShield, FillOutlineAndTransparencyFollowTheSelection) {
    for (bool selected : {true, false}) {
        UniqueIcon icon{drawShield(selected)};
        ASSERT_TRUE(icon) << selected;
        const DWORD fill = selected ? 0xFF2CAD5Cu : 0xFF8C949Eu;  // alpha, red, green, blue
        const Pixels own = colourBits(icon.get());
        EXPECT_EQ(own.at(16, 16), fill) << selected;
        EXPECT_EQ(own.at(16, 25), fill) << selected;
        EXPECT_EQ(own.at(16, 2), 0xFFF5F8FFu) << "outline, " << selected;
        for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}, {2, 16}, {30, 16}, {16, 0}}) {
            EXPECT_EQ(own.at(x, y), 0u) << "outside the shield at " << x << "," << y;
        }

        const Pixels drawn = drawnOverMagenta(icon.get());
        EXPECT_EQ(drawn.at(0, 0) & 0xFFFFFF, 0xFF00FFu) << "the background shows through outside";
        EXPECT_EQ(drawn.at(31, 31) & 0xFFFFFF, 0xFF00FFu);
        EXPECT_EQ(drawn.at(16, 16) & 0xFFFFFF, fill & 0xFFFFFF) << "the zero mask must not darken the fill";
    }
}

// ---- The live tray, run on a thread of this process --------------------------------------------------------

std::wstring launches() {
    return readString(HKEY_CURRENT_USER, LaunchKey, L"Launches");
}

std::wstring launchesAfter(const std::wstring& expected) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (launches() != expected && GetTickCount64() < deadline)
        Sleep(50);
    return launches();
}

struct LiveTray {
    std::atomic<int> result{-1};
    std::atomic<ULONGLONG> endedAt{0};
    std::thread thread;
    HWND window = nullptr;

    LiveTray() {
        instance = GetModuleHandleW(nullptr);
        thread = std::thread([this] {
            result = runTray();
            endedAt = GetTickCount64();
        });
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (!window && result == -1 && GetTickCount64() < deadline) {
            window = FindWindowW(L"Dormalis.Native.Tray", nullptr);
            if (!window) Sleep(20);
        }
    }
    ~LiveTray() {
        if (endedAt == 0 && window) PostMessageW(window, WM_CLOSE, 0, 0);
        thread.join();
    }
    bool waitForEnd(DWORD timeoutMs) const {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (endedAt == 0 && GetTickCount64() < deadline)
            Sleep(10);
        return endedAt != 0;
    }
};

HWND waitForVisible(const wchar_t* className, const wchar_t* title) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    for (;;) {
        HWND found = FindWindowW(className, title);
        if ((found && IsWindowVisible(found)) || GetTickCount64() > deadline) return found;
        Sleep(20);
    }
}

// Opens the tray's menu as a right click would, and picks the item by keyboard.
void chooseMenuItem(HWND tray, int item) {
    PostMessageW(tray, TrayCallback, 1, WM_RBUTTONUP);
    ASSERT_TRUE(waitForVisible(L"#32768", nullptr)) << "no menu";
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
    HWND box = waitForVisible(L"#32770", L"Dormalis");
    ASSERT_TRUE(box) << "no status box";
    wchar_t shown[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, shown, 2048);
    EXPECT_EQ(std::wstring(shown), networkStatus());
    EXPECT_EQ(GetWindow(box, GW_OWNER), tray.window);
    PostMessageW(box, WM_COMMAND, IDOK, 0);

    // Started programs are this test program: told by the environment, a copy only records its arguments.
    SetEnvironmentVariableW(LaunchEnvironment, L"1");
    chooseMenuItem(tray.window, 1);
    EXPECT_EQ(launchesAfter(L"/c"), L"/c");
    PostMessageW(tray.window, TrayCallback, 1, WM_LBUTTONDBLCLK);
    EXPECT_EQ(launchesAfter(L"/c|<none>"), L"/c|<none>");
    PostMessageW(tray.window, TrayCallback, 1, WM_USER + 5);
    EXPECT_EQ(launchesAfter(L"/c|<none>|<none>"), L"/c|<none>|<none>");
    PostMessageW(tray.window, TrayCallback, 1, WM_LBUTTONUP);
    Sleep(1500);
    EXPECT_EQ(launches(), L"/c|<none>|<none>") << "a single click starts nothing";
    SetEnvironmentVariableW(LaunchEnvironment, nullptr);

    deleteKeyTree(HKEY_CURRENT_USER, LaunchKey);
}

std::string describe(const std::vector<NotifyCall>& calls) {
    std::string text;
    for (const NotifyCall& call : calls) {
        char line[160];
        std::snprintf(line, sizeof(line), "msg %lu flags %#x icon %d centre %#lx corner %#lx info flags %#lx tip ",
                      call.message, call.flags, call.hasIcon, call.centre, call.corner, call.infoFlags);
        text += line + narrow(call.tip) + " | " + narrow(call.infoTitle) + " | " + narrow(call.info) + "\n";
    }
    return text;
}

size_t balloons(const std::vector<NotifyCall>& calls) {
    size_t count = 0;
    for (const NotifyCall& call : calls)
        count += (call.flags & NIF_INFO) ? 1 : 0;
    return count;
}

// Waits until the last call shows the expected tip; gives the calls seen.
std::vector<NotifyCall> waitForTip(const FakeShell& shell, const std::wstring& tip, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<NotifyCall> seen = shell.calls();
        if ((!seen.empty() && seen.back().tip == tip) || GetTickCount64() > deadline) return seen;
        Sleep(20);
    }
}

std::vector<NotifyCall> waitForBalloons(const FakeShell& shell, size_t count, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<NotifyCall> seen = shell.calls();
        if (balloons(seen) >= count || GetTickCount64() > deadline) return seen;
        Sleep(20);
    }
}

void setNetworkState(DWORD state) {
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", state);
}

TEST(TrayNotificationArea, ShieldTipBalloonAndRemovalAsTheShellSeesThem) {
    DesktopState state;
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    selectSaver(L"C:\\Windows\\System32\\Other.scr");
    setNetworkState(0);
    FakeShell shell;
    ASSERT_TRUE(shell.ready());
    TestService service;
    service.start();
    LiveTray tray;
    ASSERT_TRUE(tray.window);

    std::vector<NotifyCall> calls = shell.waitForCalls(2, 5000);
    ASSERT_GE(calls.size(), 2u) << describe(calls);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD)) << describe(calls);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[1].tip, L"Dormalis — screen saver not selected");
    EXPECT_TRUE(calls[1].hasIcon);
    EXPECT_EQ(calls[1].centre, 0xFF8C949Eu) << describe(calls);
    EXPECT_EQ(calls[1].corner, 0u);

    // Selecting this saver turns the shield green at the next tick.
    selectSaver(L"C:\\Program Files\\DormalisNative\\Dormalis.scr");
    calls = waitForTip(shell, L"Dormalis — selected screen saver", 4000);
    ASSERT_EQ(calls.back().tip, L"Dormalis — selected screen saver") << describe(calls);
    EXPECT_EQ(calls.back().centre, 0xFF2CAD5Cu);
    const size_t afterSelection = calls.size();

    // Nothing changed: the ticks leave the icon alone.
    Sleep(2500);
    EXPECT_EQ(shell.calls().size(), afterSelection) << describe(shell.calls());

    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 3);
    calls = waitForTip(shell, L"Dormalis — 已选为屏幕保护程序", 4000);
    EXPECT_EQ(calls.back().tip, L"Dormalis — 已选为屏幕保护程序") << describe(calls);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    waitForTip(shell, L"Dormalis — selected screen saver", 4000);

    // The error state: one balloon on entry, none while it lasts, another after leaving and coming back.
    setNetworkState(3);
    calls = waitForBalloons(shell, 1, 5000);
    ASSERT_EQ(balloons(calls), 1u) << describe(calls);
    const NotifyCall balloon = calls.back();
    EXPECT_EQ(balloon.infoTitle, L"Dormalis");
    EXPECT_EQ(balloon.info, L"Network recovery needs attention. Open Dormalis and use Restore network if needed.");
    EXPECT_EQ(balloon.infoFlags & NIIF_ICON_MASK, static_cast<DWORD>(NIIF_WARNING));
    Sleep(2500);  // at least two more ticks in the error state
    EXPECT_EQ(balloons(shell.calls()), 1u) << describe(shell.calls());
    setNetworkState(0);
    Sleep(2500);  // at least one tick outside it re-arms the balloon
    setNetworkState(3);
    calls = waitForBalloons(shell, 2, 5000);
    EXPECT_EQ(balloons(calls), 2u) << describe(calls);
    // A later redraw must not carry the balloon again.
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 0);
    calls = waitForTip(shell, L"Dormalis — écran de veille sélectionné", 4000);
    EXPECT_EQ(calls.back().flags & NIF_INFO, 0u) << describe(calls);
    EXPECT_EQ(balloons(calls), 2u);

    // A restarted shell gets the icon again, freshly drawn.
    const size_t beforeRestart = calls.size();
    PostMessageW(tray.window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    calls = shell.waitForCalls(beforeRestart + 2, 3000);
    ASSERT_GE(calls.size(), beforeRestart + 2) << describe(calls);
    EXPECT_EQ(calls[beforeRestart].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[beforeRestart + 1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[beforeRestart + 1].centre, 0xFF2CAD5Cu);

    service.stop();
    const ULONGLONG stopped = GetTickCount64();
    ASSERT_TRUE(tray.waitForEnd(5000));
    calls = shell.calls();
    EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_DELETE)) << describe(calls);
    std::printf("with an answering shell the tray ended %llu ms after the service stopped\n",
                tray.endedAt.load() - stopped);
    EXPECT_LT(tray.endedAt.load() - stopped, 3000u) << "the tray polls once a second";
}

void recordLaunch() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring arguments;
    for (int i = 1; words && i < count; ++i)
        arguments += (i > 1 ? L" " : L"") + std::wstring(words[i]);
    LocalFree(words);
    std::wstring all = launches();
    all += (all.empty() ? L"" : L"|") + (arguments.empty() ? std::wstring(L"<none>") : arguments);
    writeString(HKEY_CURRENT_USER, LaunchKey, L"Launches", all);
}

}  // namespace
}  // namespace dormalis

int main(int argc, char** argv) {
    wchar_t flag[4] = {};
    if (GetEnvironmentVariableW(dormalis::LaunchEnvironment, flag, 4) > 0) {
        dormalis::recordLaunch();
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
