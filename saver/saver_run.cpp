#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "saver/saver.h"
#include "saver/starfield.h"

namespace dormalis {

namespace {

constexpr const wchar_t* SaverClass = L"Dormalis.Native.Saver";
constexpr std::uint64_t InputGraceMs = 501;

struct WindowArea {
    RECT rect{};
    DWORD style = 0;
    DWORD exStyle = 0;
};

RECT primaryMonitor() {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return info.rcMonitor;
}

WindowArea chooseArea(HWND parent) {
    WindowArea area;
    if (parent) {
        GetClientRect(parent, &area.rect);
        area.style = WS_CHILD | WS_VISIBLE;
        return area;
    }
    // A tool window has no taskbar button; the saver is deliberately not topmost.
    area.style = WS_POPUP | WS_VISIBLE;
    area.exStyle = WS_EX_TOOLWINDOW;
    if (settings.displays == 2) {
        area.rect = primaryMonitor();
    } else {
        const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        area.rect =
            RECT{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    }
    return area;
}

BOOL CALLBACK collectMonitor(HMONITOR, HDC, LPRECT rect, LPARAM list) {
    reinterpret_cast<std::vector<RECT>*>(list)->push_back(*rect);
    return TRUE;
}

// Returns false when there is nothing to draw on.
bool buildFields(Saver& saver) {
    if (!saver.parent && settings.displays == 0) {
        std::vector<RECT> monitors;
        EnumDisplayMonitors(nullptr, nullptr, collectMonitor, reinterpret_cast<LPARAM>(&monitors));
        for (RECT rect : monitors) {
            MapWindowPoints(nullptr, saver.hwnd, reinterpret_cast<POINT*>(&rect), 2);
            saver.addField(rect);
        }
        return !saver.fields.empty();
    }
    RECT client{};
    GetClientRect(saver.hwnd, &client);
    saver.addField(client);
    return true;
}

// Takes back the quit message a destroyed saver window posts, so that an error box shown afterwards stays up.
void destroyQuietly(HWND hwnd) {
    DestroyWindow(hwnd);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

bool closeRequested(const WatchdogStart& start, DWORD lastInput) {
    const std::uint64_t elapsed = GetTickCount64() - start.startTick;
    if (start.testSeconds != 0) {
        const bool timeUp = elapsed > static_cast<std::uint64_t>(start.testSeconds) * 1000;
        return timeUp || (start.parent && !IsWindow(start.parent));
    }
    if (start.parent) return !IsWindow(start.parent);
    return elapsed >= InputGraceMs && lastInput != start.lastInput;
}

void runMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

Saver::Saver() : random(std::random_device{}()) {}

Saver::~Saver() {
    release();
}

void watchdog(WatchdogStart start) {
    auto finished = [&](DWORD waitMs) { return WaitForSingleObject(start.doneEvent, waitMs) != WAIT_TIMEOUT; };
    if (finished(WatchdogPollMs)) return;
    for (;;) {
        LASTINPUTINFO input{sizeof(input), 0};
        GetLastInputInfo(&input);
        if (closeRequested(start, input.dwTime)) break;
        if (finished(WatchdogPollMs)) return;
    }
    PostMessageW(start.window, WM_CLOSE, 0, 0);
    // A window thread that cannot finish would keep the network cut; ending the process closes the pipe, and
    // the service then restores the network.
    if (!finished(CloseGraceMs)) TerminateProcess(GetCurrentProcess(), 0);
}

void runSaver(HWND parent, bool preview, int testSeconds) {
    Saver saver;
    saver.parent = parent;
    saver.preview = parent != nullptr || preview;
    saver.testSeconds = testSeconds;
    GetCursorPos(&saver.startCursor);
    registerSaverClass(SaverClass);

    const WindowArea area = chooseArea(parent);
    HWND hwnd = CreateWindowExW(area.exStyle, SaverClass, Product, area.style, area.rect.left, area.rect.top,
                                area.rect.right - area.rect.left, area.rect.bottom - area.rect.top, parent, nullptr,
                                instance, &saver);
    if (!hwnd) return;
    // Until the loop runs, a failure must not leave a window pointing at this stack frame's Saver.
    ScopeExit cleanUp{[hwnd] { destroyQuietly(hwnd); }};
    if (!buildFields(saver)) return;
    if (!parent) {
        SetForegroundWindow(hwnd);
        SetFocus(hwnd);
    }
    SetTimer(hwnd, FrameTimer, FramePeriodMs, nullptr);

    UniqueHandle doneEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (!doneEvent) throw std::runtime_error("Event creation failed");
    LASTINPUTINFO input{sizeof(input), 0};
    GetLastInputInfo(&input);
    std::thread watcher(watchdog,
                        WatchdogStart{doneEvent.get(), testSeconds, GetTickCount64(), parent, input.dwTime, hwnd});
    cleanUp.dismiss();

    runMessageLoop();
    if (IsWindow(hwnd)) destroyQuietly(hwnd);  // the loop failed rather than ended
    SetEvent(doneEvent.get());
    watcher.join();
}

}  // namespace dormalis
