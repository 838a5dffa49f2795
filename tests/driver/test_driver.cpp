// The system tests' hands and eyes: finds windows of other processes, reads message boxes, presses their
// buttons, posts messages and makes real input. One command per run; results on standard output.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void print(const std::wstring& text) {
    std::wstring line = text + L"\n";
    int length =
        WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), length, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::uint64_t number(const std::wstring& text) {
    return std::wcstoull(text.c_str(), nullptr, 0);
}
HWND windowArg(const std::wstring& text) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number(text)));
}
const wchar_t* anyOr(const std::wstring& text) {
    return text == L"-" ? nullptr : text.c_str();
}

HWND waitForWindow(const std::wstring& className, const std::wstring& title, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        HWND found = FindWindowW(anyOr(className), anyOr(title));
        if (found || GetTickCount64() > deadline) return found;
        Sleep(50);
    }
}

std::wstring windowText(HWND hwnd) {
    auto length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

// A message box keeps its text in the static control with identifier 0xFFFF.
std::wstring messageBoxText(HWND box) {
    HWND textControl = GetDlgItem(box, 0xFFFF);
    return textControl ? windowText(textControl) : std::wstring{};
}

LRESULT CALLBACK hostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A plain top-level window standing in for the Windows screen-saver dialog's preview area.
int createHost(const std::wstring& title, int width, int height, DWORD lifetimeMs) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = hostProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Dormalis.Test.Host";
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&windowClass);
    HWND host = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!host) return 1;
    SetTimer(host, 1, lifetimeMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == host) DestroyWindow(host);
        DispatchMessageW(&message);
    }
    return 0;
}

void sendKey(WORD key) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = key;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

void moveMouse(int dx, int dy) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(INPUT));
}

int usage() {
    print(
        L"usage: test_driver find CLASS|- TITLE|- [ms] | wait-gone HWND [ms] | message-box TITLE [ms] |\n"
        L"       press TITLE BUTTON [ms] | post HWND MSG WP LP | create-host TITLE W H MS | key VK | move-mouse DX DY");
    return 2;
}

int run(const std::vector<std::wstring>& a) {
    const size_t n = a.size();
    auto timeoutAt = [&](size_t i) { return n > i ? static_cast<DWORD>(number(a[i])) : 10000u; };
    if (n >= 3 && a[0] == L"find") {
        HWND found = waitForWindow(a[1], a[2], timeoutAt(3));
        if (!found) return 1;
        print(std::to_wstring(reinterpret_cast<std::uintptr_t>(found)));
        return 0;
    }
    if (n >= 2 && a[0] == L"wait-gone") {
        const ULONGLONG deadline = GetTickCount64() + timeoutAt(2);
        while (IsWindow(windowArg(a[1]))) {
            if (GetTickCount64() > deadline) return 1;
            Sleep(20);
        }
        return 0;
    }
    if (n >= 2 && a[0] == L"message-box") {
        HWND box = waitForWindow(L"#32770", a[1], timeoutAt(2));
        if (!box) return 1;
        print(messageBoxText(box));
        return 0;
    }
    if (n >= 3 && a[0] == L"press") {
        HWND box = waitForWindow(L"#32770", a[1], timeoutAt(3));
        if (!box) return 1;
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(number(a[2])), 0);
        return 0;
    }
    if (n >= 5 && a[0] == L"post") {
        return PostMessageW(windowArg(a[1]), static_cast<UINT>(number(a[2])), static_cast<WPARAM>(number(a[3])),
                            static_cast<LPARAM>(number(a[4])))
                   ? 0
                   : 1;
    }
    if (n >= 5 && a[0] == L"create-host") {
        return createHost(a[1], static_cast<int>(number(a[2])), static_cast<int>(number(a[3])),
                          static_cast<DWORD>(number(a[4])));
    }
    if (n >= 2 && a[0] == L"key") return sendKey(static_cast<WORD>(number(a[1]))), 0;
    if (n >= 3 && a[0] == L"move-mouse") {
        moveMouse(static_cast<int>(std::wcstol(a[1].c_str(), nullptr, 10)),
                  static_cast<int>(std::wcstol(a[2].c_str(), nullptr, 10)));
        return 0;
    }
    return usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    return run(arguments);
}
