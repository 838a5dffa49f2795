#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "saver/starfield.h"

namespace dormalis::testing {

constexpr COLORREF OverlayColor = RGB(150, 170, 195);

using UniqueWindow = Unique<HWND, &DestroyWindow>;

// A 32-bit top-down DIB section in its own memory DC, filled with one colour: what is drawn into it, or copied
// from the screen, can be read back pixel by pixel.
struct Canvas {
    int width;
    int height;
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    UniqueBitmap bitmap;
    std::uint32_t* bits = nullptr;
    HGDIOBJ previous = nullptr;

    Canvas(int w, int h, COLORREF fill = RGB(0, 0, 0)) : width(w), height(h) {
        BITMAPINFO info{};
        info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* memory = nullptr;
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &memory, nullptr, 0));
        bits = static_cast<std::uint32_t*>(memory);
        previous = SelectObject(dc.get(), bitmap.get());
        std::fill(bits, bits + w * h, (GetRValue(fill) << 16) | (GetGValue(fill) << 8) | GetBValue(fill));
    }
    ~Canvas() { SelectObject(dc.get(), previous); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // What the screen shows right now, from its top-left corner.
    void captureScreen() {
        WindowDc screen{nullptr};
        BitBlt(dc.get(), 0, 0, width, height, screen.get(), 0, 0, SRCCOPY);
    }
    COLORREF at(int x, int y) const {
        GdiFlush();
        return pixel(x, y);
    }
    COLORREF pixel(int x, int y) const {
        const std::uint32_t p = bits[y * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels of the rectangle whose colour passes the test.
    template <typename Test>
    int count(RECT area, Test test) const {
        GdiFlush();
        int found = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                found += test(pixel(x, y)) ? 1 : 0;
        return found;
    }
    int countOther(RECT area, COLORREF background) const {
        return count(area, [background](COLORREF c) { return c != background; });
    }
    // Leftmost and rightmost column holding `color` inside the rectangle; {-1, -1} when none does.
    std::pair<int, int> span(RECT area, COLORREF color) const {
        GdiFlush();
        std::pair<int, int> found{-1, -1};
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (pixel(x, y) == color) {
                    if (found.first < 0 || x < found.first) found.first = x;
                    found.second = std::max(found.second, x);
                }
        return found;
    }
};

// The overlay band along the bottom of a field.
inline RECT overlayBand(RECT field) {
    return RECT{field.left, field.bottom - 60, field.right, field.bottom - 12};
}

inline int textWidth(const std::wstring& line) {
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), line.c_str(), static_cast<int>(line.size()), &size);
    return size.cx;
}

inline void useDefaultSettings() {
    instance = GetModuleHandleW(nullptr);
    settings = Settings{};
    settings.language = 1;
}

// Drops the quit message a destroyed saver window posts, so one test does not end another's loop.
inline bool takeQuitMessage() {
    MSG quit;
    return PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

// Dispatches this thread's messages until `done` says so or the time is up.
template <typename Done>
bool pumpUntil(DWORD timeoutMs, Done done) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return true;
}

}  // namespace dormalis::testing
