#include "ui/front_end_window.h"

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/unique.h"
#include "ui/ui.h"

namespace dormalis {

HWND openFrontEndWindow(const wchar_t* className, WNDPROC procedure, int width, int height, void* state) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    RegisterClassW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    const int dpi = static_cast<int>(GetDpiForSystem());
    RECT frame{0, 0, MulDiv(width, dpi, 96), MulDiv(height, dpi, 96)};
    AdjustWindowRectExForDpi(&frame, style, FALSE, 0, static_cast<UINT>(dpi));
    HWND window = CreateWindowExW(0, className, Product, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, state);
    if (window) ShowWindow(window, SW_SHOWNORMAL);
    return window;
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
