#include "status/tray.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <vector>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "registration/saver_selection.h"
#include "status/status_report.h"

namespace dormalis {

namespace {

constexpr const wchar_t* MutexName = L"Local\\Dormalis.Native.Tray";
constexpr const wchar_t* ClassName = L"Dormalis.Native.Tray";
constexpr UINT CallbackMessage = WM_APP + 1;
constexpr UINT_PTR PollTimer = 1;
constexpr UINT PollMs = 1000;
constexpr ULONGLONG ServiceWaitMs = 120000;
constexpr UINT BalloonClicked = WM_USER + 5;  // NIN_BALLOONUSERCLICK
constexpr UINT CommandCustomize = 1;
constexpr UINT CommandStatus = 2;

UINT taskbarCreated = 0;
NOTIFYICONDATAW notification{};
UniqueIcon icon;
bool lastSelected = false;
unsigned lastLanguage = 0;
bool reported = false;
// The last failed pause the user was told about, kept per user so that a new logon does not repeat it.
constexpr const wchar_t* AnnouncedValue = L"AnnouncedFailedPause";
std::wstring announced;

std::wstring statusMenuText() {
    return tr(L"État du réseau", L"Network status", L"Netzwerkstatus", L"网络状态", L"Estado de la red",
              L"Stato della rete");
}

std::wstring balloonText() {
    return tr(
        L"Le réseau nécessite une vérification. Ouvrez Dormalis et utilisez « Rétablir le réseau » si "
        L"nécessaire.",
        L"Network recovery needs attention. Open Dormalis and use Restore network if needed.",
        L"Netzwerk prüfen. Öffnen Sie Dormalis und nutzen Sie bei Bedarf Netzwerk wiederherstellen.",
        L"网络恢复需要检查。请打开 Dormalis，必要时使用恢复网络。",
        L"Revise la recuperación de red. Abra Dormalis y use Restaurar red si es necesario.",
        L"Verificare il ripristino della rete. Aprire Dormalis e usare Ripristina rete se necessario.");
}

std::wstring failedPauseText() {
    return tr(L"Le réseau n’a pas pu être coupé. Ouvrez Dormalis pour en voir la raison.",
              L"The network could not be cut. Open Dormalis to see why.",
              L"Das Netzwerk konnte nicht getrennt werden. Öffnen Sie Dormalis, um den Grund zu sehen.",
              L"无法断开网络。请打开 Dormalis 查看原因。",
              L"No se pudo cortar la red. Abra Dormalis para ver el motivo.",
              L"Non è stato possibile interrompere la rete. Aprire Dormalis per vederne il motivo.");
}

template <size_t N>
void copyTruncated(wchar_t (&target)[N], const std::wstring& source) {
    wcsncpy(target, source.c_str(), N - 1);
    target[N - 1] = L'\0';
}

void update(bool force) {
    settings.load();
    const bool selected = isDormalisSelected();
    if (!force && selected == lastSelected && settings.language == lastLanguage) return;
    lastSelected = selected;
    lastLanguage = settings.language;
    UniqueIcon drawn{drawShield(selected)};
    // A refused drawing keeps the previous picture rather than blanking the icon.
    if (drawn) notification.hIcon = drawn.get();
    copyTruncated(notification.szTip, trayTooltip(selected));
    Shell_NotifyIconW(NIM_MODIFY, &notification);
    if (drawn) icon = std::move(drawn);
}

void showBalloon(const std::wstring& text) {
    notification.uFlags |= NIF_INFO;
    copyTruncated(notification.szInfoTitle, Product);
    copyTruncated(notification.szInfo, text);
    notification.dwInfoFlags = NIIF_WARNING;
    Shell_NotifyIconW(NIM_MODIFY, &notification);
    // Later modifications (a new shield) must not pop the balloon up again.
    notification.uFlags &= ~NIF_INFO;
}

void startSelf(const wchar_t* arguments) {
    const std::wstring path = ownProgramPath();
    if (path.empty()) return;
    ShellExecuteW(nullptr, L"open", path.c_str(), arguments, nullptr, SW_SHOWNORMAL);
}

// Once per entry into the error state: re-armed only after a tick outside it.
bool announceError(bool error) {
    const bool due = error && !reported;
    reported = error;
    return due;
}

void onTick(HWND hwnd) {
    if (!serviceRunning()) {
        DestroyWindow(hwnd);
        return;
    }
    update(false);
    const bool error = readDword(HKEY_LOCAL_MACHINE, RegistryPath, NetworkStateValue, NetworkReady) == NetworkError;
    if (announceError(error)) showBalloon(balloonText());
    // Each new record of a pause that failed is told once, even though NetworkState shows it only for a moment.
    const std::wstring failed = readString(HKEY_LOCAL_MACHINE, RegistryPath, LastFailedPauseValue);
    if (failed.empty() || failed == announced) return;
    announced = failed;
    showBalloon(failedPauseText());
    try {
        writeString(HKEY_CURRENT_USER, RegistryPath, AnnouncedValue, failed);
    } catch (...) {
        // Then only this tray remembers it.
    }
}

// At `anchor`: the icon's corner the shell gives with a keyboard selection or a right click.
void showMenu(HWND hwnd, POINT anchor) {
    UniqueMenu menu{CreatePopupMenu()};
    if (!menu) return;
    AppendMenuW(menu.get(), MF_STRING, CommandCustomize, text("setup.customize").c_str());
    AppendMenuW(menu.get(), MF_STRING, CommandStatus, statusMenuText().c_str());
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(hwnd);
    const UINT command =
        TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON | TPM_RETURNCMD, anchor.x, anchor.y, 0, hwnd, nullptr);
    menu.reset();
    PostMessageW(hwnd, WM_NULL, 0, 0);
    if (command == CommandStatus) MessageBoxW(hwnd, networkStatus().c_str(), Product, MB_OK | MB_ICONINFORMATION);
    if (command == CommandCustomize) startSelf(L"/c");
}

// Version 4 of the notification protocol: the event in the low word, the icon's anchor in wParam. Enter or Space on
// the icon reached with Win+B comes as NIN_KEYSELECT, the menu key and a right click as WM_CONTEXTMENU.
void onNotification(HWND hwnd, WPARAM anchor, LPARAM event) {
    switch (LOWORD(event)) {
        case WM_CONTEXTMENU:
        case NIN_KEYSELECT:
            showMenu(hwnd, POINT{static_cast<short>(LOWORD(anchor)), static_cast<short>(HIWORD(anchor))});
            break;
        case WM_LBUTTONDBLCLK:
        case BalloonClicked:
            startSelf(nullptr);
            break;
        default:
            break;
    }
}

void addToShell() {
    Shell_NotifyIconW(NIM_ADD, &notification);
    notification.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &notification);
}

void onDestroy(HWND hwnd) {
    KillTimer(hwnd, PollTimer);
    Shell_NotifyIconW(NIM_DELETE, &notification);
    icon.reset();
    PostQuitMessage(0);
}

LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (taskbarCreated != 0 && message == taskbarCreated) {
        // The shell restarted and forgot every icon.
        addToShell();
        update(true);
        return 0;
    }
    switch (message) {
        case WM_DESTROY:
            onDestroy(hwnd);
            return 0;
        case WM_TIMER:
            onTick(hwnd);
            return 0;
        case CallbackMessage:
            onNotification(hwnd, wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return guardedMessage(hwnd, FailureScope::Process, [&] { return handleMessage(hwnd, message, wParam, lParam); });
}

HWND createTrayWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    return CreateWindowExW(0, ClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
}

void addIcon(HWND hwnd) {
    notification = NOTIFYICONDATAW{};
    notification.cbSize = sizeof(notification);
    notification.hWnd = hwnd;
    notification.uID = 1;
    notification.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    notification.uCallbackMessage = CallbackMessage;
    notification.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    addToShell();
}

// Started from the Run key at logon, the tray often comes before the auto-start service runs.
bool awaitService() {
    if (!serviceInstalled()) return false;
    const ULONGLONG deadline = GetTickCount64() + ServiceWaitMs;
    while (!serviceRunning()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(PollMs);
    }
    return true;
}

}  // namespace

int runTray() {
    UniqueHandle mutex{CreateMutexW(nullptr, FALSE, MutexName)};
    if (!mutex) return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS || !awaitService()) return 0;
    taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    HWND hwnd = createTrayWindow();
    if (!hwnd) return 1;
    reported = false;
    announced = readString(HKEY_CURRENT_USER, RegistryPath, AnnouncedValue);
    addIcon(hwnd);
    update(true);
    SetTimer(hwnd, PollTimer, PollMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) == TRUE) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace dormalis
