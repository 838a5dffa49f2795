#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "foundation/process.h"
#include "foundation/unique.h"

namespace dormalis::testing {

// A 32-bit top-down DIB section selected into its own memory DC: what is drawn into it, or copied from the
// screen, can be read back pixel by pixel.
struct Canvas {
    int width, height;
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    std::uint32_t* bits = nullptr;
    BITMAPINFO info;
    UniqueBitmap bitmap{CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0)};
    SelectionGuard selected{dc.get(), bitmap.get()};

    Canvas(int w, int h, std::uint32_t fill = 0)
        : width(w), height(h), info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}} {
        std::fill(bits, bits + w * h, fill);
    }
    void captureScreen() { BitBlt(dc.get(), 0, 0, width, height, WindowDc{nullptr}.get(), 0, 0, SRCCOPY); }
    COLORREF at(int x, int y) const {  // after GdiFlush
        const std::uint32_t p = bits[y * width + x];
        return RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels of the rectangle whose colour passes the test (by default: not black).
    int count(
        RECT area, bool (*test)(COLORREF) = [](COLORREF c) { return c != 0; }) const {
        GdiFlush();
        int found = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                found += test(at(x, y)) ? 1 : 0;
        return found;
    }
};

}  // namespace dormalis::testing
