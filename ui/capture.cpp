// The test snapshot: the page and its child controls rendered into memory and written as a top-down 32-bit BMP.
#include "ui/ui.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace dormalis {

namespace {

// Wine's WM_PRINT with PRF_CHILDREN leaves the children out, and a child printed through a moved viewport origin
// draws nothing there; so each child is printed into a bitmap of its own and copied to its place.
void renderChildren(HWND window, HDC memory) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT area{};
        GetWindowRect(child, &area);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
        const int width = area.right - area.left;
        const int height = area.bottom - area.top;
        if (width <= 0 || height <= 0) continue;
        UniqueDc childDc{CreateCompatibleDC(memory)};
        UniqueBitmap bitmap{CreateCompatibleBitmap(memory, width, height)};
        if (!childDc || !bitmap) continue;
        SelectionGuard selected(childDc.get(), bitmap.get());
        SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(childDc.get()),
                     PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
        BitBlt(memory, area.left, area.top, width, height, childDc.get(), 0, 0, SRCCOPY);
    }
}

template <typename T>
void put(std::vector<char>& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));  // the target is little-endian, as the format wants
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

std::vector<char> headers(int width, int height) {
    std::vector<char> out;
    put<std::uint16_t>(out, 0x4D42);  // "BM"
    put<std::uint32_t>(out, static_cast<std::uint32_t>(54 + 4ull * width * height));
    put<std::uint16_t>(out, 0);
    put<std::uint16_t>(out, 0);
    put<std::uint32_t>(out, 54);
    put<std::uint32_t>(out, 40);
    put<std::int32_t>(out, width);
    put<std::int32_t>(out, -height);
    put<std::uint16_t>(out, 1);
    put<std::uint16_t>(out, 32);
    for (int field = 0; field < 6; ++field)
        put<std::uint32_t>(out, 0);
    return out;
}

}  // namespace

void capture(HWND window, const std::wstring& path) {
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width > 0 && height > 0 ? width * height : 0), 0);
    if (!pixels.empty()) {
        WindowDc screen(window);
        UniqueDc memory{CreateCompatibleDC(screen.get())};
        UniqueBitmap bitmap{CreateCompatibleBitmap(screen.get(), width, height)};
        {
            SelectionGuard selected(memory.get(), bitmap.get());
            SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory.get()), 0);
            SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.get()), PRF_CLIENT);
            renderChildren(window, memory.get());
        }
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    }
    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    if (!file) return;
    const std::vector<char> head = headers(std::max(width, 0), std::max(height, 0));
    file.write(head.data(), static_cast<std::streamsize>(head.size()));
    file.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size() * 4));
}

}  // namespace dormalis
