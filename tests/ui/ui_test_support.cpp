#include "tests/ui/ui_test_support.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace dormalis::testing {

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
    const auto field = [&](size_t offset) {
        std::int32_t value = 0;
        if (offset + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + offset, 4);
        return value;
    };
    image.width = field(18);
    image.height = -field(22);  // top-down: a negative height
    const size_t size = 54 + 4ull * std::max(image.width, 0) * std::max(image.height, 0);
    if (bytes.size() != size || bytes[0] != 'B' || bytes[1] != 'M' || static_cast<size_t>(field(2)) != size ||
        field(10) != 54 || (field(28) & 0xFFFF) != 32 || image.height <= 0)
        return image;
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    std::memcpy(image.pixels.data(), bytes.data() + 54, size - 54);
    image.loaded = true;
    return image;
}

std::wstring tempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

}  // namespace dormalis::testing
