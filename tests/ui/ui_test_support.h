#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dormalis::testing {

// A captured picture; loaded only when it is a 32-bit top-down BMP whose headers agree with its size.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    bool loaded = false;
    COLORREF at(int x, int y) const;
    int count(const RECT& area, COLORREF color) const;
};
Image readBmp(const std::wstring& path);
std::wstring tempFile(const wchar_t* name);

}  // namespace dormalis::testing
