#include "tests/ui/ui_test_support.h"

#include <commctrl.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "foundation/process.h"

namespace dormalis::testing {

namespace {

LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

struct FindBox {
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK findOwnBox(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<FindBox*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[64] = {}, caption[256] = {};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, caption, 256);
    if (process == GetCurrentProcessId() && std::wstring(className) == L"#32770" &&
        search.title == std::wstring(caption) && IsWindowVisible(window)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

struct FindPage {
    HWND owner;
    HWND found;
};

BOOL CALLBACK findOwnedPage(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<FindPage*>(data);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) == UiClass && GetWindow(window, GW_OWNER) == search.owner) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

LRESULT CALLBACK anySize(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_GETMINMAXINFO) reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxTrackSize = POINT{4000, 4000};
    return result;
}

template <typename T>
T field(const std::vector<char>& bytes, size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

}  // namespace

void prepareUi() {
    instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    registerUiClass();
    // The pointer rests in a corner no page reaches, so no button is hovered by accident.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
}

OpenPage::OpenPage(int page, HWND owner) : ui(std::make_unique<Ui>(page)) {
    createUi(*ui, owner);
    pumpMessages();
}

OpenPage::~OpenPage() {
    if (ui->window && IsWindow(ui->window)) DestroyWindow(ui->window);
    dropQuit();
}

Owner::Owner() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ownerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Dormalis.Test.Owner";
    RegisterClassW(&windowClass);
    window = CreateWindowExW(0, windowClass.lpszClassName, L"Owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                             nullptr, windowClass.hInstance, nullptr);
}

Owner::~Owner() {
    DestroyWindow(window);
}

void setGeometry(Ui& ui, int dpi, int widthDips, int heightPx) {
    // The test display is 1920 pixels wide; pages are tried wider than that.
    SetWindowSubclass(ui.window, anySize, 1, 0);
    if (static_cast<int>(ui.scale * 96.0f + 0.5f) != dpi) {
        RECT frame{};
        GetWindowRect(ui.window, &frame);
        SendMessageW(ui.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    }
    // The frame around a client area of the wanted size, without the scroll bar the content may bring.
    RECT frame{}, client{};
    GetWindowRect(ui.window, &frame);
    GetClientRect(ui.window, &client);
    RECT wanted{0, 0, static_cast<int>(std::ceil(widthDips * ui.scale)), heightPx};
    AdjustWindowRectEx(&wanted, GetWindowLongW(ui.window, GWL_STYLE), FALSE, GetWindowLongW(ui.window, GWL_EXSTYLE));
    const int height = heightPx > 0 ? wanted.bottom - wanted.top : frame.bottom - frame.top;
    SetWindowPos(ui.window, nullptr, 0, 0, wanted.right - wanted.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
    pumpMessages();
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void dropQuit() {
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

BoxAnswerer::BoxAnswerer(const wchar_t* title, int button, DWORD timeoutMs) {
    std::wstring caption = title;
    thread_ = std::thread([this, caption, button, timeoutMs] {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        FindBox search{caption.c_str(), nullptr};
        while (!search.found && GetTickCount64() < deadline) {
            EnumWindows(findOwnBox, reinterpret_cast<LPARAM>(&search));
            if (!search.found) Sleep(30);
        }
        if (!search.found) return;
        seen_.found = true;
        wchar_t text[2048] = {};
        GetDlgItemTextW(search.found, 0xFFFF, text, 2048);
        seen_.text = text;
        auto icon = reinterpret_cast<HICON>(SendDlgItemMessageW(search.found, 0x440, STM_GETICON, 0, 0));
        seen_.errorIcon = icon && icon == LoadIconW(nullptr, IDI_ERROR);
        seen_.warningIcon = icon && icon == LoadIconW(nullptr, IDI_WARNING);
        seen_.informationIcon = icon && icon == LoadIconW(nullptr, IDI_INFORMATION);
        PostMessageW(search.found, WM_COMMAND, static_cast<WPARAM>(button), 0);
    });
}

BoxAnswerer::~BoxAnswerer() {
    if (thread_.joinable()) thread_.join();
}

SeenBox BoxAnswerer::result() {
    if (thread_.joinable()) thread_.join();
    return seen_;
}

std::thread commandToPage(HWND owner, std::vector<int> ids, DWORD timeoutMs) {
    return std::thread([owner, ids, timeoutMs] {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        FindPage search{owner, nullptr};
        while (!search.found && GetTickCount64() < deadline) {
            EnumWindows(findOwnedPage, reinterpret_cast<LPARAM>(&search));
            if (!search.found) Sleep(30);
        }
        if (!search.found) return;
        for (int id : ids)
            PostMessageW(search.found, WM_COMMAND, static_cast<WPARAM>(id), 0);
    });
}

COLORREF Image::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
    const std::uint32_t value = pixels[static_cast<size_t>(y) * width + x];
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

int Image::count(const RECT& area, COLORREF color) const {
    int found = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x)
            found += at(x, y) == color ? 1 : 0;
    }
    return found;
}

Image readBmp(const std::wstring& path) {
    Image image;
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return image;
    image.fileSize = field<std::uint32_t>(bytes, 2);
    image.pixelOffset = field<std::uint32_t>(bytes, 10);
    image.width = field<std::int32_t>(bytes, 18);
    image.heightField = field<std::int32_t>(bytes, 22);
    image.height = std::abs(image.heightField);
    image.bitsPerPixel = field<std::uint16_t>(bytes, 28);
    const size_t count = static_cast<size_t>(image.width) * image.height;
    if (bytes.size() != 54 + count * 4) return image;
    image.pixels.resize(count);
    std::memcpy(image.pixels.data(), bytes.data() + 54, count * 4);
    image.loaded = true;
    return image;
}

std::wstring tempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

Image snapshot(Ui& ui) {
    const std::wstring path = tempFile(L"dormalis-ui-test.bmp");
    DeleteFileW(path.c_str());
    // Shown as the program shows its pages, and only now: moving a shown window is slow under Wine.
    if (!IsWindowVisible(ui.window)) {
        ShowWindow(ui.window, SW_SHOWNOACTIVATE);
        pumpMessages();
    }
    capture(ui.window, path);
    return readBmp(path);
}

}  // namespace dormalis::testing
