#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "tests/saver/pipe_server.h"
#include "tests/saver/saver_test_support.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

// The saver runs under its installed name, as Windows starts it; in a folder of its own, so that nothing else
// of the build finds a stray Dormalis.scr.
UniqueHandle startSaver(const std::wstring& arguments) {
    static const std::wstring program = [] {
        const std::wstring folder = buildFolder() + L"\\saver-system";
        CreateDirectoryW(folder.c_str(), nullptr);
        CopyFileW((buildFolder() + L"\\Dormalis.exe").c_str(), (folder + L"\\Dormalis.scr").c_str(), FALSE);
        return folder + L"\\Dormalis.scr";
    }();
    return startProcess(quoted(program) + L" " + arguments);
}

HWND saverWindow(HWND parent = nullptr) {
    HWND found = nullptr;
    waitUntil([&] { return (found = FindWindowExW(parent, nullptr, L"Dormalis.Native.Saver", nullptr)) != nullptr; },
              10000);
    return found;
}

BOOL CALLBACK addMonitor(HMONITOR, HDC, LPRECT rect, LPARAM list) {
    reinterpret_cast<std::vector<RECT>*>(list)->push_back(*rect);
    return TRUE;
}

// In each display mode the fields the saver draws are every monitor (independent), the whole virtual screen
// (panorama) or the primary monitor alone: each field has its stars and its own line centred in it, and nothing
// is drawn on a monitor outside every field. A timed test ignores the mouse and ends on a key press.
TEST(SaverSystem, ATimedRunCoversTheMonitorsOfItsModeAndEndsOnAKeyButNotOnTheMouse) {
    std::vector<RECT> monitors;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
    const char* expected = std::getenv("EXPECT_MONITORS");
    ASSERT_EQ(monitors.size(), expected ? std::stoul(expected) : monitors.size()) << "the fake heads did not take";
    const RECT virtualScreen{0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    const RECT primary{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    for (const auto& [mode, fields] : {std::pair{0, monitors}, {1, {virtualScreen}}, {2, {primary}}}) {
        writeDword(HKEY_CURRENT_USER, RegistryPath, L"Displays", mode);
        settings.load();
        const ULONGLONG start = GetTickCount64();
        UniqueHandle process = startSaver(L"--preview-test");
        HWND window = saverWindow();
        ASSERT_TRUE(window) << mode;
        RECT area{};
        GetWindowRect(window, &area);
        driver(L"move-mouse 60 40");
        Sleep(700);
        Canvas screen(virtualScreen.right, virtualScreen.bottom);
        screen.captureScreen();
        EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the mouse ended it";
        driver(L"key 0x20");
        EXPECT_EQ(finishProcess(process.get(), 5000), 0u);
        EXPECT_LT(GetTickCount64() - start, 2900u) << "the key did not end it";
        RECT hull{};
        for (RECT field : fields)
            UnionRect(&hull, &hull, &field);
        EXPECT_TRUE(EqualRect(&area, &hull)) << "the window is not the union of its fields, mode " << mode;
        for (RECT field : fields) {
            const auto span = screen.span(overlayBand(field), OverlayColor);
            EXPECT_NEAR((span.first + span.second) / 2.0, (field.left + field.right) / 2.0, 16) << mode;
            EXPECT_NEAR(span.second - span.first + 1, textWidth(overlayLine(Saver{})), 24) << mode;
            EXPECT_GT(screen.countOther(RECT{field.left, field.top, field.right, field.bottom - 60}, 0), 20);
        }
        for (RECT monitor : monitors) {
            RECT common{};
            const bool outside = !IntersectRect(&common, &monitor, &hull);
            EXPECT_TRUE(!outside || screen.countOther(monitor, 0) == 0) << "drawn outside its fields " << mode;
        }
    }
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
}

// A network test against the stand-in service's pipe answering "OK" or "ERROR", and against a pipe an impostor
// made: the line warns unless the service answered "OK", and only the service hears words.
TEST(SaverSystem, TheServicesAnswerDecidesTheWarningAndTheRunSaysStopWhenTheUserComesBack) {
    struct Row {
        const char* answer;
        bool impostor;
        bool warning;
        const char* conversation;
    };
    for (const Row& row : {Row{"OK", false, false, "START (ALIVE ){2,}STOP \\| "},
                           Row{"ERROR", false, true, "(START \\| )+"}, Row{"OK", true, true, "(\\| )+"}}) {
        if (row.impostor) runningService();
        PipeServer server(row.answer, row.impostor);
        ASSERT_TRUE(server.pipe);
        settings.load();
        UniqueHandle process = startSaver(L"--network-test");
        ASSERT_TRUE(saverWindow());
        waitUntil([&] { return server.serve(), false; }, 1400);  // the answer is read at the step after START
        Canvas screen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        screen.captureScreen();
        driver(L"key 0x20");
        while (WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT)
            server.serve();
        server.serve();
        EXPECT_EQ(finishProcess(process.get(), 0), 0u);

        std::string conversation;
        for (const std::string& word : server.heard)
            conversation += word + " ";
        EXPECT_TRUE(std::regex_match(conversation, std::regex(row.conversation))) << conversation;
        Saver shown;
        shown.preview = false;
        shown.suspended = !row.warning;
        const auto span = screen.span(overlayBand(RECT{0, 0, screen.width, screen.height}), OverlayColor);
        EXPECT_NEAR(span.second - span.first + 1, textWidth(overlayLine(shown)), 24) << row.answer;
    }
}

TEST(SaverSystem, AHostedPreviewFillsItsHostAndEndsWithIt) {
    UniqueHandle host =
        startProcess(quoted(buildFolder() + L"\\test_driver.exe") + L" create-host SaverHost 320 240 60000");
    HWND hostWindow = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return (hostWindow = FindWindowW(L"Dormalis.Test.Host", L"SaverHost")) != nullptr; }, 10000));
    UniqueHandle process = startSaver(L"/p " + std::to_wstring(reinterpret_cast<std::uintptr_t>(hostWindow)));
    // Windows makes a window visible only as CreateWindowEx ends, so it can be found a moment before it shows.
    HWND child = saverWindow(hostWindow);
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(child); }, 10000)) << "no saver window shown in the host";
    RECT hostArea{}, childArea{};
    GetClientRect(hostWindow, &hostArea);
    MapWindowPoints(hostWindow, nullptr, reinterpret_cast<POINT*>(&hostArea), 2);
    GetWindowRect(child, &childArea);
    EXPECT_TRUE(EqualRect(&hostArea, &childArea));
    EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & (WS_CHILD | WS_POPUP), WS_CHILD);

    PostMessageW(hostWindow, WM_CLOSE, 0, 0);
    ASSERT_EQ(finishProcess(host.get(), 5000), 0u);
    const ULONGLONG hostGone = GetTickCount64();
    EXPECT_EQ(finishProcess(process.get(), 5000), 0u);
    EXPECT_LT(GetTickCount64() - hostGone, 1000u);
}

// A window thread that hangs would keep the network cut: once the user is back the watchdog asks the window to
// close and, 1.5 s later, ends the whole process.
TEST(SaverSystem, TheWatchdogEndsARunWhoseWindowThreadHangs) {
    // Under Wine, user32 lives inside the process: now and then a thread suspended at an unlucky moment holds a
    // lock the watchdog's own calls then wait for, and the run never ends (Windows keeps that state in the
    // kernel). Such a run is resumed and the case tried again.
    for (int attempt = 1;; ++attempt) {
        UniqueHandle process = startSaver(L"--preview");
        HWND window = saverWindow();
        ASSERT_TRUE(window);
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
        EXPECT_GE(GetTickCount64() - hung, 1800u) << "ended before the input grace and the closing grace";
        break;
    }
}

}  // namespace
}  // namespace dormalis
