#pragma once

#include <windows.h>

#include "foundation/failure.h"

// What the setup's and the uninstaller's windows share: a fixed-size window in the settings window's colours.
namespace dormalis {

// Registers `className` with `procedure`, creates the window for `width` × `height` DIPs of client area at the
// system DPI with `state` as its creation parameter, and shows it; null when it cannot be made.
HWND openFrontEndWindow(const wchar_t* className, WNDPROC procedure, int width, int height, void* state);

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
