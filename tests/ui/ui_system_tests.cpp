// The real program: "--ui-test" snapshots of every page in every language, and the settings-window command lines.
#include <gtest/gtest.h>

#include <windows.h>

#include "foundation/constants.h"
#include "tests/support/support.h"
#include "tests/ui/ui_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

bool nearlyAllOf(const Image& image, const RECT& area, COLORREF color) {
    const int total = (area.right - area.left) * (area.bottom - area.top);
    return image.count(area, color) * 10 >= total * 9;
}

TEST(UiSystem, EveryPageInEveryLanguageIsSnapshotByTheRealProgram) {
    const int widths[4] = {1000, 1000, 780, 780};
    for (int language = 0; language < 6; ++language) {
        for (int page = 0; page < 4; ++page) {
            const std::wstring path = tempFile(
                (L"dormalis-page-" + std::to_wstring(page) + L"-" + std::to_wstring(language) + L".bmp").c_str());
            DeleteFileW(path.c_str());
            const std::wstring arguments =
                L"--ui-test " + std::to_wstring(language) + L" " + std::to_wstring(page) + L" " + quoted(path);
            const ProcessResult run = runProcess(dormalis(arguments), 30000);
            const std::string where = "page " + std::to_string(page) + " language " + std::to_string(language);
            ASSERT_TRUE(run.finished) << where;
            EXPECT_EQ(run.exitCode, 0u) << where;
            const Image image = readBmp(path);
            ASSERT_TRUE(image.loaded) << where;
            EXPECT_EQ(image.bitsPerPixel, 32) << where;
            EXPECT_EQ(image.heightField, -image.height) << where;
            EXPECT_EQ(image.fileSize, 54u + 4u * image.width * image.height) << where;
            // The client area of a page window of its width (less the frame and perhaps the scroll bar).
            EXPECT_LE(image.width, widths[page]) << where;
            EXPECT_GE(image.width, widths[page] - 60) << where;
            EXPECT_GT(image.height, 300) << where;
            const int right = image.width - 4;
            EXPECT_TRUE(nearlyAllOf(image, RECT{right - 4, 0, right, 4}, AccentColor)) << where;
            EXPECT_TRUE(nearlyAllOf(image, RECT{right - 4, 6, right, 20}, HeaderColor)) << where;
            EXPECT_TRUE(nearlyAllOf(image, RECT{2, 150, 20, 160}, BackgroundColor)) << where;
            // The icon in the header is the program's own.
            EXPECT_GT(48 * 48 - image.count(RECT{28, 28, 76, 76}, HeaderColor), 48 * 48 / 4) << where;
            // Buttons of the page's colours are there.
            const COLORREF fill = page == 3   ? buttonColors(AboutButton).fill
                                  : page == 2 ? buttonColors(ContinueButton).fill
                                              : buttonColors(page == 0 ? EnableButton : SaveButton).fill;
            EXPECT_GT(image.count(RECT{0, 0, image.width, image.height}, fill), 1000) << where;
        }
    }
}

}  // namespace
}  // namespace dormalis
