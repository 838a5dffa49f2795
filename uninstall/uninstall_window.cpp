// The uninstaller's window, in the setup window's family: the header band, the stage under way, then the result
// or the reason, and Close once the removal has ended.
#include "uninstall/uninstall_window.h"

#include <windows.h>

#include <cmath>
#include <string>
#include <thread>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "install/admin.h"
#include "install/front_end.h"
#include "ui/front_end_window.h"
#include "ui/ui.h"

namespace dormalis {

namespace {

constexpr const wchar_t* WindowClass = L"Dormalis.Native.Uninstall";
constexpr UINT RemovalDoneMessage = WM_APP + 14;
constexpr int Width = 480;
constexpr int HeaderHeight = 100;
constexpr int Margin = 20;
constexpr int ProgressHeight = 90;
constexpr int ButtonHeight = 42;
constexpr int Progress = UninstallProgress;
constexpr int Close = UninstallClose;
constexpr COLORREF FailureColor = RGB(158, 38, 38);

struct UninstallWindow {
    HWND hwnd = nullptr;
    float scale = 1.0f;
    float text = 1.0f;  // Windows' text size, taken by scaleWindow
    UniqueFont body;
    UniqueFont title;
    std::function<int()> removal;
    std::thread worker;
    bool busy = true;
    int result = ExitFailed;

    int px(double dips) const { return static_cast<int>(dips * scale); }
    int tx(int dips) const { return grownWithText(dips, text); }
};

std::wstring failedText(const std::wstring& reason) {
    return tr(L"La désinstallation a échoué : ", L"Uninstallation failed: ", L"Die Deinstallation ist fehlgeschlagen: ",
              L"卸载失败：", L"La desinstalación ha fallado: ", L"Disinstallazione non riuscita: ") +
           reason;
}

HFONT makeFont(const UninstallWindow& window, int dips, int weight) {
    return CreateFontW(-window.px(dips * window.text), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
}

void addControl(UninstallWindow& window, const wchar_t* className, DWORD style, int id) {
    CreateWindowExW(0, className, id == Close ? text("common.close").c_str() : L"", WS_CHILD | WS_VISIBLE | style, 0, 0,
                    0, 0, window.hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

// Fonts and places at the window's DPI and text size, the old fonts kept until the controls hold the new ones; then
// its size. Larger text makes the window and its boxes larger in proportion.
void scaleWindow(UninstallWindow& window, const RECT* suggested) {
    window.text = textScale();
    UniqueFont oldBody = std::move(window.body), oldTitle = std::move(window.title);
    window.body.reset(makeFont(window, 16, FW_NORMAL));
    window.title.reset(makeFont(window, 30, FW_BOLD));
    const int header = static_cast<int>(
        std::ceil(frontEndHeaderBottom(window.hwnd, window.scale, window.title.get(), window.body.get(), HeaderHeight) /
                  window.scale));
    const int y = header + Margin, width = window.tx(Width), progress = window.tx(ProgressHeight);
    const int buttonWidth = window.tx(160), buttonHeight = window.tx(ButtonHeight);
    const Box places[] = {{Margin, y, width - 2 * Margin, progress},
                          {width - Margin - buttonWidth, y + progress + 16, buttonWidth, buttonHeight}};
    for (int id : {Progress, Close}) {
        const Box& box = places[id - Progress];
        HWND control = GetDlgItem(window.hwnd, id);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(window.body.get()), TRUE);
        MoveWindow(control, window.px(box.x), window.px(box.y), window.px(box.width), window.px(box.height), TRUE);
    }
    fitFrontEndWindow(window.hwnd, static_cast<UINT>(std::lround(window.scale * 96)), width,
                      y + progress + 16 + buttonHeight + Margin, suggested);
    InvalidateRect(window.hwnd, nullptr, TRUE);
}

void onCreate(UninstallWindow& window) {
    addControl(window, L"STATIC", SS_LEFT, Progress);
    addControl(window, L"BUTTON", BS_OWNERDRAW | WS_TABSTOP | WS_DISABLED, Close);
    scaleWindow(window, nullptr);
    // The removal starts once the window can show its stages.
    installProgressWindow = window.hwnd;
    window.worker = std::thread([&window, hwnd = window.hwnd] {
        const int result = window.removal();
        PostMessageW(hwnd, RemovalDoneMessage, static_cast<WPARAM>(result), 0);
    });
}

void onRemovalDone(UninstallWindow& window, int result) {
    window.worker.join();
    installProgressWindow = nullptr;
    window.busy = false;
    window.result = result;
    const std::wstring shown = result == ExitSucceeded
                                   ? text("setup.uninstallSuccess")
                                   : failedText(readString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue,
                                                           text("setup.operationFailed")));
    SetDlgItemTextW(window.hwnd, Progress, shown.c_str());
    HWND close = GetDlgItem(window.hwnd, Close);
    EnableWindow(close, TRUE);
    SetFocus(close);
}

LRESULT onPaint(UninstallWindow& window) {
    PaintDc paint(window.hwnd);
    paintFrontEndHeader(window.hwnd, paint.get(), window.scale, window.title.get(), window.body.get(), HeaderHeight);
    return 0;
}

LRESULT onControlColor(UninstallWindow& window, HDC dc) {
    if (window.busy) return frontEndTextColor(dc, SystemControlText);
    return frontEndTextColor(dc, window.result == ExitSucceeded ? StatusInstalledColor : FailureColor);
}

LRESULT onDrawItem(UninstallWindow& window, const DRAWITEMSTRUCT& item) {
    SetBkMode(item.hDC, TRANSPARENT);
    SelectionGuard font(item.hDC, window.body.get());
    UniqueBrush background{CreateSolidBrush(BackgroundColor)};
    FillRect(item.hDC, &item.rcItem, background.get());
    drawRoundedButton(item, buttonColors(CancelButton), window.scale);
    return TRUE;
}

void onClose(UninstallWindow& window) {
    if (!window.busy) DestroyWindow(window.hwnd);  // a removal under way cannot be stopped half-way
}

LRESULT handleMessage(UninstallWindow& window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            onCreate(window);
            return 0;
        case WM_PAINT:
            return onPaint(window);
        case WM_DPICHANGED:
            window.scale = static_cast<float>(LOWORD(wParam)) / 96.0f;
            scaleWindow(window, reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SETTINGCHANGE:
            if (textScale() != window.text) scaleWindow(window, nullptr);
            return 0;
        case WM_ERASEBKGND:
            return eraseFrontEndBackground(window.hwnd, reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLORSTATIC:
            return onControlColor(window, reinterpret_cast<HDC>(wParam));
        case WM_DRAWITEM:
            return onDrawItem(window, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        case WM_COMMAND:
            if (LOWORD(wParam) == Close || LOWORD(wParam) == IDCANCEL) onClose(window);
            return 0;
        case InstallProgressMessage:
            SetDlgItemTextW(window.hwnd, Progress, stageText(static_cast<InstallStep>(wParam)).c_str());
            return 0;
        case RemovalDoneMessage:
            onRemovalDone(window, static_cast<int>(wParam));
            return 0;
        case WM_CLOSE:
            onClose(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window.hwnd, message, wParam, lParam);
    }
}

}  // namespace

int runUninstallWindow(const std::function<int()>& removal) {
    UninstallWindow window;
    window.removal = removal;
    HWND hwnd = openFrontEndWindow(WindowClass, frontEndProc<UninstallWindow, handleMessage>, &window);
    if (!hwnd) return removal();  // without a window the removal still runs, silently
    runFrontEndLoop(hwnd);
    if (window.worker.joinable()) window.worker.join();  // the session ended under a running removal
    return window.result;
}

}  // namespace dormalis
