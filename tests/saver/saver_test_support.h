#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "saver/starfield.h"

namespace dormalis::testing {

using UniqueWindow = Unique<HWND, &DestroyWindow>;

// A 32-bit top-down DIB section selected into its own memory DC: what is drawn into it, or copied from the
// screen, can be read back pixel by pixel.
struct Canvas {
    int width, height;
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    std::uint32_t* bits = nullptr;
    UniqueBitmap bitmap;
    SelectionGuard selected;

    Canvas(int w, int h, std::uint32_t fill = 0)
        : width(w), height(h), bitmap(make(dc.get(), w, h, &bits)), selected(dc.get(), bitmap.get()) {
        std::fill(bits, bits + w * h, fill);
    }
    static HBITMAP make(HDC dc, int w, int h, std::uint32_t** bits) {
        BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        return CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(bits), nullptr, 0);
    }
    void captureScreen() { BitBlt(dc.get(), 0, 0, width, height, WindowDc{nullptr}.get(), 0, 0, SRCCOPY); }
    COLORREF at(int x, int y) const {  // after GdiFlush
        const std::uint32_t p = bits[y * width + x];
        return RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels of the rectangle whose colour passes the test.
    template <typename Test>
    int count(RECT area, Test test) const {
        GdiFlush();
        int found = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                found += test(at(x, y)) ? 1 : 0;
        return found;
    }
    int lit(RECT area) const {
        return count(area, [](COLORREF c) { return c != 0; });
    }
};

inline void useDefaultSettings() {
    instance = GetModuleHandleW(nullptr);
    settings = Settings{};
}

// Drops the quit message a destroyed saver window posts, so one test does not end another's loop.
inline bool takeQuitMessage() {
    MSG quit;
    return PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

}  // namespace dormalis::testing
