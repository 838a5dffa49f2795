#include "tests/e2e/road.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "foundation/constants.h"
#include "foundation/settings.h"
#include "saver/starfield.h"
#include "tests/install/install_fixture.h"
#include "tests/saver/saver_test_support.h"
#include "tests/service/fixture.h"
#include "tests/support/support.h"

namespace dormalis::testing {

namespace {

constexpr COLORREF OverlayColor = RGB(150, 170, 195);
const ULONGLONG RoadStart = GetTickCount64();

UniqueService openService(DWORD access) {
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager) return UniqueService{};
    return UniqueService{OpenServiceW(manager.get(), ServiceName, access)};
}

const char* stateName(long state) {
    switch (state) {
        case testbed::DeviceStarted:
            return "started";
        case testbed::DeviceStopped:
            return "stopped";
        case testbed::DeviceDisabled:
            return "DISABLED";
        default:
            return "gone";
    }
}

int textWidth(const std::wstring& line) {
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), line.c_str(), static_cast<int>(line.size()), &size);
    return size.cx;
}

struct EnumSearch {
    const wchar_t* className;
    bool owned;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<EnumSearch*>(parameter);
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    if (wcscmp(name, search->className) != 0 || !IsWindowVisible(window)) return TRUE;
    if ((GetWindow(window, GW_OWNER) != nullptr) != search->owned) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

std::wstring installedProgram() {
    return DefaultFolder + L"\\Dormalis.exe";
}

std::wstring installedScreenSaver() {
    return DefaultFolder + L"\\Dormalis.scr";
}

void say(const char* format, ...) {
    std::printf("[%7.1f s] ", static_cast<double>(GetTickCount64() - RoadStart) / 1000.0);
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::printf("\n");
    std::fflush(stdout);
}

void sayLines(const std::vector<std::string>& lines, const char* indent) {
    for (const std::string& line : lines)
        std::printf("%s%s\n", indent, line.c_str());
    std::fflush(stdout);
}

bool serviceExists() {
    return openService(SERVICE_QUERY_STATUS).valid();
}

SERVICE_STATUS_PROCESS serviceStatus() {
    SERVICE_STATUS_PROCESS status{};
    UniqueService service = openService(SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    if (service)
        QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed);
    return status;
}

bool waitForService(DWORD state, DWORD timeoutMs) {
    return waitUntil([state] { return serviceStatus().dwCurrentState == state; }, timeoutMs);
}

void stopService() {
    UniqueService service = openService(SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (service) ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    waitForService(SERVICE_STOPPED, 15000);
}

DWORD startService() {
    UniqueService service = openService(SERVICE_START | SERVICE_QUERY_STATUS);
    if (!service || !StartServiceW(service.get(), 0, nullptr)) return 0;
    if (!waitForService(SERVICE_RUNNING, 15000)) return 0;
    return serviceStatus().dwProcessId;
}

void killProcess(DWORD pid) {
    UniqueHandle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)};
    if (!process) return;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
}

std::string networkDescription(const std::vector<testbed::Adapter>& adapters) {
    std::string text = "NetworkState " + std::to_string(machineDword(L"NetworkState", 99));
    text += " | WFP: " + std::to_string(testbed::subLayers().size()) + " sublayer(s), " +
            std::to_string(testbed::filters().size()) + " filter(s)";
    text += " | adapters:";
    for (const testbed::Adapter& adapter : adapters) {
        const std::wstring id = adapter.id.substr(adapter.id.find_last_of(L'\\') + 1);
        text += " " + narrow(id) + " " + stateName(testbed::deviceState(adapter.id));
    }
    const std::vector<std::wstring> entries = recoveryEntries();
    text += " | recovery list:";
    if (entries.empty()) text += " empty";
    for (const std::wstring& entry : entries)
        text += " " + narrow(entry);
    return text;
}

bool adaptersIn(const std::vector<testbed::Adapter>& adapters, DWORD state) {
    for (const testbed::Adapter& adapter : adapters)
        if (testbed::deviceState(adapter.id) != static_cast<long>(state)) return false;
    return true;
}

const char* packetLayerName(const std::wstring& key) {
    static const struct {
        const wchar_t* key;
        const char* name;
    } layers[] = {{L"{C86FD1BF-21CD-497E-A0BB-17425C885C58}", "inbound IPv4 packets"},
                  {L"{1E5C9FAE-8A84-4135-A331-950B54229ECD}", "outbound IPv4 packets"},
                  {L"{F52032CB-991C-46E7-971D-2601459A91CA}", "inbound IPv6 packets"},
                  {L"{A3B3AB6B-3564-488C-9117-F34E82142763}", "outbound IPv6 packets"}};
    for (const auto& layer : layers)
        if (CompareStringOrdinal(key.c_str(), -1, layer.key, -1, TRUE) == CSTR_EQUAL) return layer.name;
    return nullptr;
}

void waitForIdleDesktop() {
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, SaverTimeoutSeconds, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
    // Wine counts no input before the first real one; after it, the clock runs from that input.
    LASTINPUTINFO input{sizeof(input), 0};
    GetLastInputInfo(&input);
    if (input.dwTime == 0) return;
    const DWORD idle = GetTickCount() - input.dwTime;
    const DWORD needed = IdleThresholdMs + 700;
    if (idle < needed) {
        say("waiting %.1f s until the desktop has been idle past the screen-saver threshold", (needed - idle) / 1000.0);
        Sleep(needed - idle);
    }
}

UniqueHandle startSaverAsWindows(const std::wstring& path) {
    return startProcess(quoted(path) + L" /s");
}

const char* overlayName(Overlay overlay) {
    switch (overlay) {
        case Overlay::Warning:
            return "the warning that the network is not suspended";
        case Overlay::NoWarning:
            return "no warning";
        default:
            return "no overlay line";
    }
}

Overlay readOverlay() {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    Canvas screen(width, height);
    {
        WindowDc desktop{nullptr};
        BitBlt(screen.dc.get(), 0, 0, width, height, desktop.get(), 0, 0, SRCCOPY);
    }
    const auto span = screen.span(RECT{24, height - 60, width - 24, height - 12}, OverlayColor);
    if (span.first < 0) return Overlay::None;
    // The line is centred; its width tells which of the two texts it is.
    Saver suspended;
    suspended.preview = false;
    suspended.suspended = true;
    Saver unprotected;
    unprotected.preview = false;
    const int shown = span.second - span.first + 1;
    const int quiet = textWidth(overlayLine(suspended));
    const int warning = textWidth(overlayLine(unprotected));
    if (std::abs(shown - warning) <= 24) return Overlay::Warning;
    if (std::abs(shown - quiet) <= 24) return Overlay::NoWarning;
    return Overlay::None;
}

Overlay waitForOverlay(Overlay wanted, DWORD timeoutMs) {
    settings.load();  // the saver's language decides the texts
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const Overlay seen = readOverlay();
        if (seen == wanted || GetTickCount64() > deadline) return seen;
        Sleep(100);
    }
}

HWND findWindow(const wchar_t* className, bool owned) {
    EnumSearch search{className, owned, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForWindow(const wchar_t* className, bool owned, DWORD timeoutMs) {
    HWND found = nullptr;
    waitUntil([&] { return (found = findWindow(className, owned)) != nullptr; }, timeoutMs);
    return found;
}

}  // namespace dormalis::testing
