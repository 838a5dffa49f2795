#pragma once

#include <windows.h>

#include "foundation/failure.h"

// What the setup's and the uninstaller's windows share: a window in the settings window's colours that fits the
// work area of its monitor at every DPI.
namespace dormalis {

// Registers `className` with `procedure` and creates the window with `state` as its creation parameter; its
// WM_CREATE places it with fitFrontEndWindow. Shows it; null when it cannot be made.
HWND openFrontEndWindow(const wchar_t* className, WNDPROC procedure, void* state);

// Sizes `window` for a client area of `width` × `height` DIPs at `dpi` (the window's, or the one WM_DPICHANGED
// announces), no larger than the work area of its
// monitor, and moves it inside that work area: at `suggested`'s corner when given (WM_DPICHANGED), else centred.
void fitFrontEndWindow(HWND window, UINT dpi, int width, int height, const RECT* suggested);

// A child of `parent` holding content that scrolls: its controls' notifications and its scroll bar's requests
// (WM_VSCROLL, WM_MOUSEWHEEL) go to `parent`, and Tab walks into it.
HWND createFrontEndPanel(HWND parent, int id);
// The scroll position a WM_VSCROLL or WM_MOUSEWHEEL asks of `panel`, whose content is `contentHeight` pixels.
int requestedScroll(HWND panel, UINT message, WPARAM wParam, int position, int contentHeight);

// The message loop, with dialog navigation, until the quit message.
void runFrontEndLoop(HWND window);

// The window's background, and a static control's colours on it.
LRESULT eraseFrontEndBackground(HWND window, HDC dc);
LRESULT frontEndTextColor(HDC dc, COLORREF color);

// The window procedure of a front end whose `State` has `hwnd` and `scale`: the state comes with WM_NCCREATE and
// every later message goes to `handle` under the exception guard.
template <typename State, LRESULT (*handle)(State&, UINT, WPARAM, LPARAM)>
LRESULT CALLBACK frontEndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* state = static_cast<State*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        state->hwnd = hwnd;
        state->scale = static_cast<float>(GetDpiForWindow(hwnd)) / 96.0f;
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!state) return DefWindowProcW(hwnd, message, wParam, lParam);
    return guardedMessage(hwnd, FailureScope::Process, [&] { return handle(*state, message, wParam, lParam); });
}

}  // namespace dormalis
