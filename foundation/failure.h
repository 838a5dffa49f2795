#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace dormalis {

// A Windows error code as the system's message text (or "Windows error") followed by the code in parentheses.
std::wstring errorText(unsigned long code);

// An exception message (8-bit ASCII) as UTF-16, one code unit per byte.
std::wstring widenMessage(const char* message);

// What failed decides the title of its box.
enum class FailureScope {
    Process,  // a role as a whole, the tray, install and uninstall: "Dormalis Native"
    Action,   // a settings-window command, the mode change, a failed elevation: Product
};

// The error box of every role, owned by `owner` (which may be null).
void showFailure(HWND owner, const std::wstring& message, FailureScope scope);
void showFailure(HWND owner, const std::exception& error, FailureScope scope);

// One message of a window procedure: a failure is shown instead of crossing the system's frames, and the message
// counts as handled.
template <typename Handler>
LRESULT guardedMessage(HWND window, FailureScope scope, Handler&& handler) noexcept {
    try {
        return handler();
    } catch (const std::exception& error) {
        showFailure(window, error, scope);
        return 0;
    }
}

}  // namespace dormalis
