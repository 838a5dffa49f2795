#include <gtest/gtest.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "tests/registration/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

struct BoxedFailure {
    DWORD exitCode = 0;
    std::string message;
};

// Runs a command that is expected to fail: reads its error box through the driver, closes it, and collects the exit.
BoxedFailure failingRun(const std::wstring& arguments) {
    UniqueHandle process = startProcess(dormalis(arguments));
    ProcessResult box = driver(L"message-box \"Dormalis Native\" 10000");
    driver(L"press \"Dormalis Native\" 1");
    return {finishProcess(process.get(), 10000), box.exitCode == 0 ? box.output : "<no box>"};
}

// Wine keeps each process's screen-saver parameters in a cache loaded once, so another process's timeout only shows
// in the registry: read and prepare it there. The active switch is not shared between processes at all under Wine
// (every process starts with it on), so its handling is covered in process by the unit tests.
std::wstring storedTimeout() {
    return readString(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"ScreenSaveTimeOut", L"<absent>");
}
void storeTimeout(const wchar_t* seconds) {
    writeString(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"ScreenSaveTimeOut", seconds);
}

std::wstring remembered(const wchar_t* name) {
    return readString(HKEY_CURRENT_USER, RegistryPath, name, L"<absent>");
}

TEST(RegistrationSystem, SetTimeoutTakesMinutes) {
    DesktopState state;
    storeTimeout(L"420");
    ProcessResult result = runProcess(dormalis(L"--set-timeout 5"), 15000);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(storedTimeout(), L"300");
}

TEST(RegistrationSystem, SetTimeoutOutOfRangeShowsTheRangeMessageAndExitsOne) {
    DesktopState state;
    storeTimeout(L"420");
    for (const wchar_t* minutes : {L"0", L"241", L"-3"}) {
        BoxedFailure failure = failingRun(std::wstring(L"--set-timeout ") + minutes);
        EXPECT_EQ(failure.message, "Delay must be between 1 and 240 minutes.") << narrow(minutes);
        EXPECT_EQ(failure.exitCode, 1u) << narrow(minutes);
    }
    EXPECT_EQ(storedTimeout(), L"420");
}

TEST(RegistrationSystem, ActivateAndDeactivateSwapTheWindowsChoice) {
    DesktopState state;
    TestService service;
    service.start();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", state.scratch().wstring());
    state.createFile(L"Dormalis.scr");
    const std::wstring other = state.createFile(L"Other.scr");
    selectSaver(other);
    storeTimeout(L"420");

    ASSERT_EQ(runProcess(dormalis(L"--activate"), 15000).exitCode, 0u);
    EXPECT_EQ(selectedSaver(), state.saverFile());
    EXPECT_EQ(remembered(L"PreviousSaver"), other);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", 9), 420u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 9), 1u);

    storeTimeout(L"600");
    ASSERT_EQ(runProcess(dormalis(L"--activate"), 15000).exitCode, 0u);
    EXPECT_EQ(remembered(L"PreviousSaver"), other) << "a second activation must not remember our own saver";
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", 9), 420u);

    ASSERT_EQ(runProcess(dormalis(L"--deactivate"), 15000).exitCode, 0u);
    EXPECT_EQ(selectedSaver(), other);
    EXPECT_EQ(storedTimeout(), L"420");
}

TEST(RegistrationSystem, ActivateWithoutAChosenModeFailsInItsBox) {
    DesktopState state;
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", state.scratch().wstring());
    state.createFile(L"Dormalis.scr");
    selectSaver(L"C:\\Windows\\System32\\Other.scr");

    BoxedFailure failure = failingRun(L"--activate");
    EXPECT_EQ(failure.message, "Choose the network interruption mode in Dormalis before activation.");
    EXPECT_EQ(failure.exitCode, 1u);
    EXPECT_EQ(selectedSaver(), L"C:\\Windows\\System32\\Other.scr");
    EXPECT_EQ(remembered(L"PreviousSaver"), L"<absent>");
}

}  // namespace
}  // namespace dormalis
