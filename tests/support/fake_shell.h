#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/unique.h"

namespace dormalis::testing {

// One notification-area call as the shell received it.
struct NotifyCall {
    DWORD message = 0;  // NIM_ADD, NIM_MODIFY, NIM_DELETE, NIM_SETVERSION
    UINT version = 0;   // of NIM_SETVERSION
    UINT flags = 0;
    std::wstring tip;
    std::wstring info;
    std::wstring infoTitle;
    DWORD infoFlags = 0;
    DWORD centre = 0;  // the icon's pixel (16, 16) as 0xAARRGGBB
};

// A stand-in for the notification area: a window of the shell's tray class, in front of Wine's own, that answers
// Shell_NotifyIconW at once and keeps what it was sent. Wine passes each call as WM_COPYDATA in its own flat record.
class FakeShell {
  public:
    FakeShell();
    ~FakeShell();
    FakeShell(const FakeShell&) = delete;
    FakeShell& operator=(const FakeShell&) = delete;

    std::vector<NotifyCall> calls() const;
    bool ready() const { return window_ != nullptr; }

  private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void run();

    mutable std::mutex lock_;
    std::vector<NotifyCall> calls_;
    std::thread thread_;
    HWND window_ = nullptr;
    UniqueHandle started_;
};

}  // namespace dormalis::testing
