#include "tests/support/fake_shell.h"

#include <shellapi.h>

#include <cstring>

namespace dormalis::testing {

namespace {

// Wine's flat form of NOTIFYICONDATAW, followed by the icon's mask bits and colour bits.
struct WineNotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    UINT uTimeoutOrVersion;
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    UINT width;
    UINT height;
    UINT planes;
    UINT bpp;
};

constexpr const wchar_t* FakeClass = L"Shell_TrayWnd";

DWORD pixelAt(const BYTE* colour, size_t bytes, const WineNotifyData& data, int x, int y) {
    if (data.bpp != 32 || data.width == 0) return 0xDEADBEEF;
    const size_t offset = (static_cast<size_t>(y) * data.width + x) * 4;
    if (offset + 4 > bytes) return 0xDEADBEEF;
    DWORD value = 0;
    std::memcpy(&value, colour + offset, 4);
    return value;
}

NotifyCall decode(const COPYDATASTRUCT& copy) {
    NotifyCall call;
    call.message = static_cast<DWORD>(copy.dwData);
    if (copy.cbData < sizeof(WineNotifyData)) return call;
    WineNotifyData data{};
    std::memcpy(&data, copy.lpData, sizeof(data));
    call.flags = data.uFlags;
    call.version = data.uTimeoutOrVersion;
    call.tip.assign(data.szTip, wcsnlen(data.szTip, 128));
    call.info.assign(data.szInfo, wcsnlen(data.szInfo, 256));
    call.infoTitle.assign(data.szInfoTitle, wcsnlen(data.szInfoTitle, 64));
    call.infoFlags = data.dwInfoFlags;
    if ((data.uFlags & NIF_ICON) && data.width == 32 && data.height == 32) {
        const size_t maskBytes = ((data.width + 15) / 16 * 2) * data.height;
        const size_t colourBytes = copy.cbData - sizeof(data) - maskBytes;
        const BYTE* colour = static_cast<const BYTE*>(copy.lpData) + sizeof(data) + maskBytes;
        call.centre = pixelAt(colour, colourBytes, data, 16, 16);
    }
    return call;
}

}  // namespace

FakeShell::FakeShell() {
    started_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this] { run(); });
    WaitForSingleObject(started_.get(), 10000);
}

FakeShell::~FakeShell() {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
}

void FakeShell::run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = FakeClass;
    RegisterClassW(&windowClass);
    // Topmost and created last: first in the z-order, so the tray finds this window before Wine's.
    window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, FakeClass, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, windowClass.hInstance, this);
    SetEvent(started_.get());
    if (!window_) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) == TRUE)
        DispatchMessageW(&message);
    window_ = nullptr;
}

LRESULT CALLBACK FakeShell::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* shell = reinterpret_cast<FakeShell*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_COPYDATA: {
            NotifyCall call = decode(*reinterpret_cast<COPYDATASTRUCT*>(lParam));
            std::lock_guard<std::mutex> guard(shell->lock_);
            shell->calls_.push_back(call);
            return TRUE;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

std::vector<NotifyCall> FakeShell::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

}  // namespace dormalis::testing
