// The real program: its "--ui-test" snapshots, and the settings window it opens for no argument and for /c.
#include <gtest/gtest.h>

#include <windows.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "tests/support/support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/ui.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

TEST(UiSystem, TheRealProgramSnapshotsEachPageInItsOwnWidth) {
    const int widths[4] = {1000, 1000, 780, 780}, buttons[4] = {EnableButton, SaveButton, ContinueButton, AboutButton};
    for (int page = 0; page < 4; ++page) {
        const std::wstring path = tempFile(L"dormalis-page.bmp"), language = std::to_wstring((page * 2 + 1) % 6);
        DeleteFileW(path.c_str());
        const ProcessResult run =
            runProcess(dormalis(L"--ui-test " + language + L" " + std::to_wstring(page) + L" " + quoted(path)), 30000);
        EXPECT_EQ(run.exitCode, 0u) << page;
        const Image image = readBmp(path);
        ASSERT_TRUE(image.loaded) << page;
        // The client area of a page window of its width (less the frame and perhaps the scroll bar).
        EXPECT_TRUE(image.width <= widths[page] && image.width >= widths[page] - 60) << page << ": " << image.width;
        EXPECT_EQ(image.at(image.width - 4, 0), AccentColor) << page;
        EXPECT_GT(48 * 48 - image.count(RECT{28, 28, 76, 76}, HeaderColor), 48 * 48 / 4) << "the program's icon";
        EXPECT_GT(image.count(RECT{0, 0, image.width, image.height}, buttonColors(buttons[page]).fill), 1000) << page;
    }
}

// Runs the program, waits for its page window and posts the commands to it.
UniqueHandle runPage(const std::wstring& arguments, std::initializer_list<std::pair<unsigned, unsigned>> messages) {
    UniqueHandle process = startProcess(dormalis(arguments));
    const ProcessResult page = driver(L"find Dormalis.Native.Ui - 15000");
    EXPECT_EQ(page.exitCode, 0u) << "no page window";
    for (const auto& [message, wParam] : messages)
        driver(L"post " + widen(page.output) + L" " + std::to_wstring(message) + L" " + std::to_wstring(wParam) +
               L" 0");
    return process;
}

TEST(UiSystem, ScreenSaverConfigurationOpensTheCustomizePageAndSaveStoresItsSettings) {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 123);
    UniqueHandle process = runPage(L"/c", {{WM_COMMAND, ResetButton}, {WM_COMMAND, SaveButton}});
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 0), 260u);
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
}

TEST(UiSystem, WithoutArgumentsTheSetupPageOpensAndRestoreWithoutAServiceWarns) {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    UniqueHandle process = runPage(L"", {{WM_COMMAND, RestoreButton}});
    EXPECT_EQ(driver(L"message-box Dormalis 20000").output,
              "Recovery request failed. Retry with administrator rights or restart Windows.");
    driver(L"press Dormalis 1");
    driver(L"post " + widen(driver(L"find Dormalis.Native.Ui - 5000").output) + L" 16 0 0");  // WM_CLOSE
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
}

}  // namespace
}  // namespace dormalis
