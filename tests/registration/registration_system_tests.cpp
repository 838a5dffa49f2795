#include <gtest/gtest.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "registration/saver_selection.h"
#include "tests/support/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

// The real program's switches. Wine caches each process's saver parameters: the timeout is read in the registry.
TEST(RegistrationSystem, TheSwitchesSelectTheSaverSetTheTimeoutAndGiveBackThePreviousChoice) {
    DesktopState state;
    TestService service;
    service.start();
    setMachineDword(L"ModeConfigured", 1);
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", state.scratch().wstring());
    state.createFile(L"Dormalis.scr");
    const std::wstring other = state.createFile(L"Other.scr");
    selectSaver(other);
    const wchar_t* desktop = L"Control Panel\\Desktop";
    writeString(HKEY_CURRENT_USER, desktop, L"ScreenSaveTimeOut", L"420");
    const std::wstring program = quoted(buildFolder() + L"\\Dormalis.exe");
    const auto dormalis = [&](const wchar_t* arguments) { return runProcess(program + arguments, 15000).exitCode; };

    // The organisation's policy wins over the user's values: the switches fail and say so, and change nothing.
    const auto refusal = [&](const wchar_t* arguments) {
        UniqueHandle process = startProcess(program + arguments);
        const std::string shown = answerBox(L"Dormalis Native", 10000);
        return finishProcess(process.get(), 10000) == 1 ? shown : "not exit code 1: " + shown;
    };
    const std::wstring forced = L"C:\\Windows\\System32\\Policy.scr";
    writeString(HKEY_CURRENT_USER, PolicyKey, L"SCRNSAVE.EXE", forced);
    writeString(HKEY_CURRENT_USER, PolicyKey, L"ScreenSaveTimeOut", L"900");
    EXPECT_EQ(refusal(L" --activate"),
              "Your organization manages the screen saver: its policy selects another screen saver.");
    EXPECT_EQ(refusal(L" --set-timeout 5"),
              "Your organization's policy sets the screen saver timeout; it cannot be changed here.");
    EXPECT_EQ(std::tuple(selectedSaver(), readString(HKEY_CURRENT_USER, desktop, L"ScreenSaveTimeOut"),
                         readString(HKEY_CURRENT_USER, PolicyKey, L"SCRNSAVE.EXE")),
              std::tuple(other, std::wstring(L"420"), forced));
    deleteKeyTree(HKEY_CURRENT_USER, PolicyKey);

    ASSERT_EQ(dormalis(L" --activate"), 0u);
    EXPECT_EQ(selectedSaver().find(L' '), std::wstring::npos) << "the folder's 8.3 form: " << narrow(selectedSaver());
    EXPECT_EQ(normalizeSaverPath(selectedSaver()), state.saverFile());
    ASSERT_EQ(dormalis(L" --set-timeout 5"), 0u);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, desktop, L"ScreenSaveTimeOut"), L"300") << "minutes";
    ASSERT_EQ(dormalis(L" --deactivate"), 0u);
    EXPECT_EQ(selectedSaver(), other);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, desktop, L"ScreenSaveTimeOut"), L"420");
}

}  // namespace
}  // namespace dormalis
