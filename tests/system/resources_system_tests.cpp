#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

#pragma pack(push, 2)
struct IconDirectoryEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDirectory {
    WORD reserved, type, count;
    IconDirectoryEntry entries[1];
};
#pragma pack(pop)

struct LoadedModule {
    HMODULE module;
    ~LoadedModule() { FreeLibrary(module); }
};

std::wstring programPath() {
    return buildFolder() + L"\\Dormalis.exe";
}

std::string resourceBytes(HMODULE module, const wchar_t* type, const wchar_t* name) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
}

std::wstring versionString(const std::vector<BYTE>& block, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return {};
    return value;
}

TEST(Resources, IconOneCarriesSevenSizes) {
    LoadedModule image{LoadLibraryExW(programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    ASSERT_NE(image.module, nullptr);
    std::string group = resourceBytes(image.module, RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), sizeof(IconDirectory));
    const auto* directory = reinterpret_cast<const IconDirectory*>(group.data());
    ASSERT_EQ(directory->count, 7);
    std::vector<int> sizes;
    for (int i = 0; i < directory->count; ++i)
        sizes.push_back(directory->entries[i].width ? directory->entries[i].width : 256);
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));

    // The drawn artwork: transparent corners, an opaque shield in the middle.
    UniqueIcon icon{static_cast<HICON>(LoadImageW(image.module, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, 0))};
    ASSERT_TRUE(icon.valid());
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon.get(), &info));
    UniqueBitmap color{info.hbmColor}, mask{info.hbmMask};
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = 48;
    format.bmiHeader.biHeight = -48;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(48 * 48);
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    ASSERT_EQ(GetDIBits(dc.get(), color.get(), 0, 48, pixels.data(), &format, DIB_RGB_COLORS), 48);
    EXPECT_EQ(pixels[0] >> 24, 0u) << "corner is transparent";
    const DWORD centre = pixels[24 * 48 + 24];
    EXPECT_EQ(centre >> 24, 255u) << "shield is opaque";
    EXPECT_GT(centre & 0xFF, (centre >> 16) & 0xFF) << "shield is blue";
}

TEST(Resources, ManifestAsksForWhatTheProgramNeeds) {
    LoadedModule image{LoadLibraryExW(programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    std::string manifest = resourceBytes(image.module, RT_MANIFEST, MAKEINTRESOURCEW(1));
    for (const char* needed :
         {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "PerMonitorV2",
          "<longPathAware", ">true</longPathAware>", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(manifest.find(needed), std::string::npos) << needed;
    }
}

TEST(Resources, VersionIsOneZeroZeroZeroNamedDormalis) {
    DWORD ignored = 0;
    DWORD bytes = GetFileVersionInfoSizeW(programPath().c_str(), &ignored);
    ASSERT_GT(bytes, 0u);
    std::vector<BYTE> block(bytes);
    ASSERT_TRUE(GetFileVersionInfoW(programPath().c_str(), 0, bytes, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(versionString(block, L"FileDescription"), L"Dormalis");
    EXPECT_EQ(versionString(block, L"ProductName"), L"Dormalis");
    EXPECT_EQ(versionString(block, L"FileVersion"), L"1.0.0.0");
}

// Event Viewer formats each service event with the message of ID 1 from the registered file: the line itself.
TEST(Resources, EventMessageOneIsTheInsertionStringAlone) {
    LoadedModule image{LoadLibraryExW(programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    for (const wchar_t* line : {L"Accepted saver process: 42", L"Firewall filters released."}) {
        wchar_t text[256] = {};
        DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(line)};
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, image.module, 1,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), text, 256, reinterpret_cast<va_list*>(inserts));
        EXPECT_EQ(std::wstring(text), line);
    }
}

}  // namespace
}  // namespace dormalis
