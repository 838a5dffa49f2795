// The setup's window: the folder with its check, the interruption mode and Install.
#include <windows.h>

#include <exception>
#include <string>

#include "foundation/constants.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "install/admin.h"
#include "install/folder_validation.h"
#include "install/install.h"
#include "setup/setup.h"
#include "setup/setup_controls.h"

namespace dormalis {

namespace {

constexpr const wchar_t* WindowClass = L"Dormalis.Native.Setup";
constexpr int Width = 520;
constexpr int Margin = 16;

using namespace setup_controls;

struct SetupWindow {
    HWND hwnd = nullptr;
    UniqueFont font;
    std::wstring proposedFolder;  // the current installation or the default; not a folder the user chose
    bool installed = false;
    int result = 1;
};

int scaled(HWND hwnd, int value) {
    return MulDiv(value, static_cast<int>(GetDpiForWindow(hwnd)), 96);
}

HWND addControl(SetupWindow& setup, const wchar_t* className, const std::wstring& text, DWORD style, int id, int x,
                int y, int width, int height) {
    HWND hwnd = setup.hwnd;
    HWND control = CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, scaled(hwnd, x),
                                   scaled(hwnd, y), scaled(hwnd, width), scaled(hwnd, height), hwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(setup.font.get()), TRUE);
    return control;
}

std::wstring controlText(HWND hwnd, int id) {
    HWND control = GetDlgItem(hwnd, id);
    std::wstring value(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    value.resize(static_cast<size_t>(GetWindowTextW(control, value.data(), static_cast<int>(value.size()))));
    return value;
}

// The folder to install into: the proposed one as it is, a chosen one only once validated.
std::wstring checkedFolder(const SetupWindow& setup, std::wstring& message) {
    const std::wstring typed = controlText(setup.hwnd, Folder);
    if (samePath(typed, setup.proposedFolder)) return setup.proposedFolder;
    try {
        return validateInstallDirectory(typed);
    } catch (const std::exception& error) {
        message = widenMessage(error.what());
        return {};
    }
}

void onFolderChanged(SetupWindow& setup) {
    std::wstring message;
    const bool usable = !checkedFolder(setup, message).empty();
    SetDlgItemTextW(setup.hwnd, FolderMessage, message.c_str());
    EnableWindow(GetDlgItem(setup.hwnd, Install), usable);
}

void onInstall(SetupWindow& setup) {
    std::wstring message;
    const std::wstring folder = checkedFolder(setup, message);
    if (folder.empty()) {
        SetDlgItemTextW(setup.hwnd, FolderMessage, message.c_str());
        return;
    }
    // Validation compares with the current installation, so the chosen folder takes over only now.
    installDirectoryOverride = folder;
    const bool firewall = IsDlgButtonChecked(setup.hwnd, Firewall) == BST_CHECKED;
    EnableWindow(setup.hwnd, FALSE);
    const int result = installPayload(firewall);
    EnableWindow(setup.hwnd, TRUE);
    installDirectoryOverride.clear();
    if (result != 0) return;  // the installation has shown its reason
    setup.result = 0;
    MessageBoxW(setup.hwnd, text("setup.installSuccess").c_str(), Product, MB_OK | MB_ICONINFORMATION);
    DestroyWindow(setup.hwnd);
}

void createControls(SetupWindow& setup) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, GetDpiForWindow(setup.hwnd));
    setup.font.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    const int inner = Width - 2 * Margin;
    addControl(setup, L"STATIC", text("setup.subtitle"), SS_LEFT, Subtitle, Margin, 12, inner, 36);
    addControl(setup, L"STATIC", text(setup.installed ? "setup.installed" : "setup.notInstalled"), SS_LEFT, Status,
               Margin, 54, inner, 18);
    // An installed service keeps its folder: moving it needs an uninstallation first.
    addControl(setup, L"EDIT", setup.proposedFolder,
               WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (setup.installed ? ES_READONLY : 0), Folder, Margin, 80, inner,
               24);
    addControl(setup, L"STATIC", L"", SS_LEFT, FolderMessage, Margin, 108, inner, 48);
    addControl(setup, L"STATIC", text("setup.networkModeTitle"), SS_LEFT, ModeTitle, Margin, 162, inner, 18);
    addControl(setup, L"BUTTON", text("setup.networkModeFirewall"), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
               Firewall, Margin, 184, inner, 20);
    addControl(setup, L"STATIC", text("setup.networkModeFirewallHint"), SS_LEFT, FirewallHint, Margin + 18, 206,
               inner - 18, 34);
    addControl(setup, L"BUTTON", text("setup.networkModeAdapters"), BS_AUTORADIOBUTTON, Adapters, Margin, 244, inner,
               20);
    addControl(setup, L"STATIC", text("setup.networkModeAdaptersHint"), SS_LEFT, AdaptersHint, Margin + 18, 266,
               inner - 18, 34);
    addControl(setup, L"STATIC", text("setup.adminNote"), SS_LEFT, AdminNote, Margin, 308, inner, 34);
    addControl(setup, L"BUTTON", text("setup.install"), BS_DEFPUSHBUTTON | WS_TABSTOP, Install, Width - Margin - 200,
               348, 200, 30);
    CheckRadioButton(setup.hwnd, Firewall, Adapters, Firewall);
}

LRESULT onCommand(SetupWindow& setup, WPARAM wParam) {
    if (LOWORD(wParam) == Folder && HIWORD(wParam) == EN_CHANGE) onFolderChanged(setup);
    if (LOWORD(wParam) == Install && HIWORD(wParam) == BN_CLICKED) onInstall(setup);
    return 0;
}

LRESULT handleMessage(SetupWindow& setup, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            createControls(setup);
            return 0;
        case WM_COMMAND:
            return onCommand(setup, wParam);
        case WM_CTLCOLORSTATIC:
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(setup.hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK setupProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
        static_cast<SetupWindow*>(created->lpCreateParams)->hwnd = hwnd;
    }
    auto* setup = reinterpret_cast<SetupWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!setup) return DefWindowProcW(hwnd, message, wParam, lParam);
    return guardedMessage(hwnd, FailureScope::Process, [&] { return handleMessage(*setup, message, wParam, lParam); });
}

}  // namespace

int runSetupWindow() {
    SetupWindow setup;
    setup.installed = serviceInstalled();
    setup.proposedFolder = installDir();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = setupProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = WindowClass;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    RegisterClassW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, Width, 392};
    AdjustWindowRect(&frame, style, FALSE);
    HWND hwnd = CreateWindowExW(0, WindowClass, Product, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance, &setup);
    if (!hwnd) return 1;
    ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) == TRUE) {
        if (IsDialogMessageW(hwnd, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return setup.result;
}

}  // namespace dormalis
