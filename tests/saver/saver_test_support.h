#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "saver/starfield.h"

namespace dormalis::testing {

// A 32-bit top-down DIB section selected into its own memory DC: what the saver draws can be read back pixel
// by pixel.
struct Canvas {
    int width;
    int height;
    UniqueDc dc;
    UniqueBitmap bitmap;
    std::uint32_t* bits = nullptr;
    HGDIOBJ previous = nullptr;

    Canvas(int w, int h, COLORREF fill = RGB(0, 0, 0)) : width(w), height(h), dc(CreateCompatibleDC(nullptr)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* memory = nullptr;
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &memory, nullptr, 0));
        bits = static_cast<std::uint32_t*>(memory);
        previous = SelectObject(dc.get(), bitmap.get());
        this->fill(fill);
    }
    ~Canvas() { SelectObject(dc.get(), previous); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    void fill(COLORREF color) {
        GdiFlush();
        for (int i = 0; i < width * height; ++i)
            bits[i] = toPixel(color);
    }
    static std::uint32_t toPixel(COLORREF color) {
        return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
    }
    COLORREF at(int x, int y) const {
        GdiFlush();
        const std::uint32_t p = bits[y * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels of the rectangle that are not `background`.
    int countOther(RECT area, COLORREF background) const {
        int count = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                count += at(x, y) != background;
        return count;
    }
    // Leftmost and rightmost column holding `color` inside the rectangle; {-1, -1} when none does.
    std::pair<int, int> span(RECT area, COLORREF color) const {
        std::pair<int, int> found{-1, -1};
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (at(x, y) == color) {
                    if (found.first < 0 || x < found.first) found.first = x;
                    found.second = std::max(found.second, x);
                }
        return found;
    }
};

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

// Dispatches this thread's messages for a while, or until `done` says so.
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
