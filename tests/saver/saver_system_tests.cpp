#include <gtest/gtest.h>

#include <regex>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "saver/starfield.h"
#include "tests/saver/pipe_server.h"
#include "tests/saver/saver_test_support.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

// The saver runs under its installed name, as Windows starts it; in a folder of its own, so that nothing else
// of the build finds a stray Dormalis.scr.
UniqueHandle startSaver(const std::wstring& arguments) {
    const std::wstring folder = buildFolder() + L"\\saver-system";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW((buildFolder() + L"\\Dormalis.exe").c_str(), (folder + L"\\Dormalis.scr").c_str(), FALSE);
    return startProcess(quoted(folder + L"\\Dormalis.scr") + L" " + arguments);
}

HWND windowOf(HWND parent = nullptr, const wchar_t* className = L"Dormalis.Native.Saver") {
    HWND found = nullptr;
    waitUntil([&] { return (found = FindWindowExW(parent, nullptr, className, nullptr)) != nullptr; }, 10000);
    return found;
}

// The overlay line drawn along the bottom of a field on the screen: its width (0 when there is none), and how far
// its middle lies from the field's.
std::pair<int, int> lineIn(const Canvas& screen, RECT field) {
    GdiFlush();
    int left = field.right, right = field.left - 1;
    for (int y = field.bottom - 60; y < field.bottom - 12; ++y)
        for (int x = field.left; x < field.right; ++x)
            if (screen.at(x, y) == RGB(150, 170, 195)) left = std::min(left, x), right = std::max(right, x);
    return {std::max(0, right - left + 1), static_cast<int>(left + right - field.left - field.right) / 2};
}

// The fields are every monitor (independent mode 0), the whole virtual screen (panorama, 1) or the primary
// monitor alone (2): the window is their union, each has stars and its own line centred in it, and no monitor
// outside them is drawn on. A timed test ignores the mouse and ends on a key press.
TEST(SaverSystem, ATimedRunCoversTheMonitorsOfItsModeAndEndsOnAKeyButNotOnTheMouse) {
    static std::vector<RECT> monitors;  // static: the system's callback cannot capture it
    EnumDisplayMonitors(
        nullptr, nullptr, [](HMONITOR, HDC, RECT* rect, LPARAM) { return monitors.push_back(*rect), TRUE; }, 0);
    const char* expected = std::getenv("EXPECT_MONITORS");
    ASSERT_EQ(monitors.size(), expected ? std::stoul(expected) : monitors.size()) << "the fake heads did not take";
    const RECT virtualScreen{0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    const RECT primary{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    for (const auto& [mode, fields] : {std::pair{0, monitors}, {1, {virtualScreen}}, {2, {primary}}}) {
        writeDword(HKEY_CURRENT_USER, RegistryPath, L"Displays", mode);
        UniqueHandle process = startSaver(L"--preview-test");
        RECT area{}, hull{}, common{};
        GetWindowRect(windowOf(), &area);
        driver(L"move-mouse 60 40");
        Sleep(700);  // a run the movement ends has ended by now
        Canvas screen(virtualScreen.right, virtualScreen.bottom);
        // A loaded machine may not have drawn every field yet.
        waitUntil([&] { return screen.captureScreen(), lineIn(screen, fields.back()).first > 200; }, 5000);
        EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the mouse ended it";
        driver(L"key 0x20");
        EXPECT_EQ(finishProcess(process.get(), 1000), 0u) << "the key did not end it";
        for (RECT field : fields) {
            UnionRect(&hull, &hull, &field);
            EXPECT_GT(screen.count(RECT{field.left, field.top, field.right, field.bottom - 60}), 20) << mode;
            const auto [width, offCentre] = lineIn(screen, field);
            EXPECT_GT(width, 200) << mode;
            EXPECT_NEAR(offCentre, 0, 16) << mode;
        }
        EXPECT_TRUE(EqualRect(&area, &hull)) << mode;
        for (RECT monitor : monitors)
            EXPECT_TRUE(IntersectRect(&common, &monitor, &hull) || screen.count(monitor) == 0) << mode;
    }
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
}

// A network test against the stand-in service answering "OK" or "ERROR", and against a pipe an impostor made.
// Only the service hears words; after "ERROR" it hangs up, and the run tries again inside its first 1.5 s only,
// as it visits the impostor only then. A key press says "STOP", and the warning goes only after "OK".
TEST(SaverSystem, TheServicesAnswerDecidesTheWarningAndTheRunSaysStopWhenTheUserComesBack) {
    std::vector<int> widths;
    for (auto [answer, impostor, conversation] : {std::tuple{"OK", false, "START (ALIVE ){2,}STOP \\| "},
                                                  {"ERROR", false, "START \\| START \\| "},
                                                  {"OK", true, "(\\| ){3}"}}) {
        PipeServer server(answer, impostor);
        UniqueHandle process = startSaver(L"--network-test");
        ASSERT_TRUE(windowOf());
        waitUntil([&] { return server.serve(), false; }, 2100);  // past the connect window of 1.5 s
        Canvas screen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        screen.captureScreen();
        widths.push_back(lineIn(screen, RECT{0, 0, screen.width, screen.height}).first);
        driver(L"key 0x20");
        waitUntil([&] { return server.serve(), WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }, 10000);
        server.serve();
        EXPECT_EQ(finishProcess(process.get(), 0), 0u);
        EXPECT_TRUE(std::regex_match(server.heard, std::regex(conversation))) << server.heard;
    }
    EXPECT_LT(widths[0], widths[1] - 100) << "the warning shows after OK";
    EXPECT_EQ(widths[1], widths[2]) << "the impostor hid the warning";
}

TEST(SaverSystem, AHostedPreviewFillsItsHostAndEndsWithIt) {
    UniqueHandle host =
        startProcess(quoted(buildFolder() + L"\\test_driver.exe") + L" create-host SaverHost 320 240 60000");
    HWND hostWindow = windowOf(nullptr, L"Dormalis.Test.Host");
    UniqueHandle process = startSaver(L"/p " + std::to_wstring(reinterpret_cast<std::uintptr_t>(hostWindow)));
    // Windows makes a window visible only as CreateWindowEx ends, so it can be found a moment before it shows.
    HWND child = windowOf(hostWindow);
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(child); }, 10000)) << "no saver window shown in the host";
    RECT hostArea{}, childArea{};
    GetClientRect(hostWindow, &hostArea);
    GetWindowRect(child, &childArea);
    MapWindowPoints(nullptr, hostWindow, reinterpret_cast<POINT*>(&childArea), 2);
    EXPECT_TRUE(EqualRect(&hostArea, &childArea)) << "it does not fill its host";
    EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & (WS_CHILD | WS_POPUP), WS_CHILD);

    PostMessageW(hostWindow, WM_CLOSE, 0, 0);
    ASSERT_EQ(finishProcess(host.get(), 5000), 0u);
    EXPECT_EQ(finishProcess(process.get(), 1000), 0u) << "still running a second after its host went";
}

// A window thread that hangs would keep the network cut: once the user is back the watchdog asks the window to
// close and, 1.5 s later, ends the whole process.
TEST(SaverSystem, TheWatchdogEndsARunWhoseWindowThreadHangs) {
    // Under Wine, user32 lives inside the process: now and then a thread suspended at an unlucky moment holds a
    // lock the watchdog's own calls then wait for, and the run never ends (Windows keeps that state in the
    // kernel). Such a run is resumed and the case tried again.
    for (int attempt = 1;; ++attempt) {
        UniqueHandle process = startSaver(L"--preview");
        HWND window = windowOf();
        Sleep(300);  // past its start-up, before the watchdog may act
        UniqueHandle thread{OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr))};
        ASSERT_NE(SuspendThread(thread.get()), static_cast<DWORD>(-1));
        const ULONGLONG hung = GetTickCount64();
        driver(L"key 0x20");
        if (WaitForSingleObject(process.get(), 6000) == WAIT_TIMEOUT && attempt < 3) {
            ResumeThread(thread.get());
            finishProcess(process.get(), 5000);
            continue;
        }
        EXPECT_EQ(finishProcess(process.get(), 0), 0u);
        // The closing grace runs from the close request, which comes after the key: less a wait's early wake-up.
        EXPECT_GE(GetTickCount64() - hung, CloseGraceMs - 20) << "ended before the closing grace";
        break;
    }
}

}  // namespace
}  // namespace dormalis
