#include "ui/front_end_window.h"

#include <algorithm>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/unique.h"
#include "ui/ui.h"

namespace dormalis {

namespace {

constexpr const wchar_t* PanelClass = L"Dormalis.Native.FrontEndPanel";

LRESULT CALLBACK panelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_COMMAND:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_DRAWITEM:
        case WM_VSCROLL:
        case WM_MOUSEWHEEL:
            return SendMessageW(GetParent(panel), message, wParam, lParam);
        case WM_ERASEBKGND:
            return eraseFrontEndBackground(panel, reinterpret_cast<HDC>(wParam));
        default:
            return DefWindowProcW(panel, message, wParam, lParam);
    }
}

}  // namespace

HWND openFrontEndWindow(const wchar_t* className, WNDPROC procedure, void* state) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    RegisterClassW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    HWND window = CreateWindowExW(0, className, Product, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, nullptr, nullptr, instance, state);
    if (window) ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

void fitFrontEndWindow(HWND window, UINT dpi, int width, int height, const RECT* suggested) {
    RECT frame{0, 0, MulDiv(width, static_cast<int>(dpi), 96), MulDiv(height, static_cast<int>(dpi), 96)};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), dpi);
    RECT place{};
    if (suggested) place = *suggested;
    if (!suggested) GetWindowRect(window, &place);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromRect(&place, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT work = monitor.rcWork;
    // The primary monitor's work area as the system keeps it (Wine's monitor information misses the taskbar).
    if (monitor.dwFlags & MONITORINFOF_PRIMARY) SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int w = std::min(frame.right - frame.left, static_cast<LONG>(work.right - work.left));
    const int h = std::min(frame.bottom - frame.top, static_cast<LONG>(work.bottom - work.top));
    const int x = suggested ? std::clamp(static_cast<int>(place.left), static_cast<int>(work.left),
                                         static_cast<int>(work.right) - w)
                            : static_cast<int>(work.left + (work.right - work.left - w) / 2);
    const int y = suggested ? std::clamp(static_cast<int>(place.top), static_cast<int>(work.top),
                                         static_cast<int>(work.bottom) - h)
                            : static_cast<int>(work.top + (work.bottom - work.top - h) / 2);
    SetWindowPos(window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND createFrontEndPanel(HWND parent, int id) {
    WNDCLASSW panelClass{};
    panelClass.lpfnWndProc = panelProc;
    panelClass.hInstance = instance;
    panelClass.lpszClassName = PanelClass;
    panelClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&panelClass);
    return CreateWindowExW(WS_EX_CONTROLPARENT, PanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

int requestedScroll(HWND panel, UINT message, WPARAM wParam, int position, int contentHeight) {
    RECT client{};
    GetClientRect(panel, &client);
    const int line = MulDiv(20, static_cast<int>(GetDpiForWindow(panel)), 96);
    if (message == WM_MOUSEWHEEL) {
        position -= GET_WHEEL_DELTA_WPARAM(wParam) * 3 * line / WHEEL_DELTA;
    } else {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_TRACKPOS;
        GetScrollInfo(panel, SB_VERT, &info);
        switch (LOWORD(wParam)) {
            case SB_LINEUP:
                position -= line;
                break;
            case SB_LINEDOWN:
                position += line;
                break;
            case SB_PAGEUP:
                position -= client.bottom;
                break;
            case SB_PAGEDOWN:
                position += client.bottom;
                break;
            case SB_TOP:
                position = 0;
                break;
            case SB_BOTTOM:
                position = contentHeight;
                break;
            case SB_THUMBTRACK:
            case SB_THUMBPOSITION:
                position = info.nTrackPos;
                break;
            default:
                break;
        }
    }
    return std::clamp(position, 0, std::max(contentHeight - static_cast<int>(client.bottom), 0));
}

void runFrontEndLoop(HWND window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) == TRUE) {
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT eraseFrontEndBackground(HWND window, HDC dc) {
    RECT client{};
    GetClientRect(window, &client);
    UniqueBrush brush{CreateSolidBrush(BackgroundColor)};
    FillRect(dc, &client, brush.get());
    return 1;
}

LRESULT frontEndTextColor(HDC dc, COLORREF color) {
    SetTextColor(dc, color);
    SetBkColor(dc, BackgroundColor);
    SetDCBrushColor(dc, BackgroundColor);
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

}  // namespace dormalis
