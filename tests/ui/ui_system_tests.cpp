// The real program: "--ui-test" snapshots of every page in every language, and the settings-window command lines.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
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

// The first page window of the program, as the driver finds it.
std::wstring findPage() {
    const ProcessResult found = driver(L"find Dormalis.Native.Ui - 15000");
    return found.exitCode == 0 ? widen(found.output) : std::wstring{};
}

void post(const std::wstring& window, unsigned message, unsigned wParam) {
    driver(L"post " + window + L" " + std::to_wstring(message) + L" " + std::to_wstring(wParam) + L" 0");
}

class UiSystemFlows : public ::testing::Test {
  protected:
    void SetUp() override {
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
        writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
        writeDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 123);
        writeDword(HKEY_CURRENT_USER, RegistryPath, L"Speed", 9);
    }
    void TearDown() override {
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    }
};

TEST_F(UiSystemFlows, ScreenSaverConfigurationResetThenCancelLeavesTheStoredSettings) {
    UniqueHandle process = startProcess(dormalis(L"/c"));
    const std::wstring page = findPage();
    ASSERT_FALSE(page.empty());
    post(page, WM_COMMAND, ResetButton);
    post(page, WM_COMMAND, CancelButton);
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 0), 123u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Speed", 0), 9u);
}

TEST_F(UiSystemFlows, ScreenSaverConfigurationResetThenSaveStoresTheDefaults) {
    UniqueHandle process = startProcess(dormalis(L"/c"));
    const std::wstring page = findPage();
    ASSERT_FALSE(page.empty());
    post(page, WM_COMMAND, ResetButton);
    post(page, WM_COMMAND, SaveButton);
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 0), 260u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Speed", 0), 5u);
}

TEST_F(UiSystemFlows, RestoreWithoutAServiceWarnsThatTheRequestFailed) {
    UniqueHandle process = startProcess(dormalis(L""));
    const std::wstring page = findPage();
    ASSERT_FALSE(page.empty());
    post(page, WM_COMMAND, RestoreButton);
    const ProcessResult box = driver(L"message-box Dormalis 20000");
    EXPECT_EQ(box.output, "Recovery request failed. Retry with administrator rights or restart Windows.");
    driver(L"press Dormalis 1");
    post(page, WM_CLOSE, 0);
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
}

}  // namespace
}  // namespace dormalis
