#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "registration/saver_selection.h"
#include "tests/registration/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

std::string failureOf(void (*operation)()) {
    try {
        operation();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<no failure>";
}

std::wstring remembered(const wchar_t* name) {
    return readString(HKEY_CURRENT_USER, RegistryPath, name, L"<absent>");
}

DWORD rememberedNumber(const wchar_t* name) {
    return readDword(HKEY_CURRENT_USER, RegistryPath, name, 0xDEAD);
}

TEST(SaverPath, RecognisesOurFileNameHoweverItIsWritten) {
    SetEnvironmentVariableW(L"DORMALIS_TEST_ROOT", L"C:\\Program Files");
    EXPECT_TRUE(isDormalisPath(L"  \"C:\\Program Files\\DormalisNative\\DORMALIS.SCR\"\t "));
    EXPECT_TRUE(isDormalisPath(L"%ProgramFiles%/DormalisNative/Dormalis.scr"));
    EXPECT_TRUE(isDormalisPath(L"%DORMALIS_TEST_ROOT%/Elsewhere/dormalis.scr"));
    EXPECT_TRUE(isDormalisPath(L"D:\\Any\\Folder\\Dormalis.ScreenSaver.scr"));
    EXPECT_TRUE(isDormalisPath(L"Dormalis.scr"));
    EXPECT_FALSE(isDormalisPath(L"C:\\Program Files\\DormalisNative\\Dormalis.scr.bak"));
    EXPECT_FALSE(isDormalisPath(L"C:\\Windows\\System32\\Bubbles.scr"));
    EXPECT_FALSE(isDormalisPath(L"C:\\Dormalis.scr\\Other.scr"));
    EXPECT_FALSE(isDormalisPath(L""));
    EXPECT_FALSE(isDormalisPath(L" \"\" \t"));
}

TEST(SaverPath, NormalisationTrimsExpandsAndTurnsSlashes) {
    SetEnvironmentVariableW(L"DORMALIS_TEST_ROOT", L"C:\\Program Files");
    EXPECT_EQ(normalizeSaverPath(L" \"%DORMALIS_TEST_ROOT%/X/y.scr\" "), L"C:\\Program Files\\X\\y.scr");
    EXPECT_EQ(normalizeSaverPath(L"\"\t \""), L"");
    // An unknown variable stays as written rather than vanishing.
    EXPECT_EQ(normalizeSaverPath(L"%DORMALIS_NO_SUCH_VARIABLE%\\a.scr"), L"%DORMALIS_NO_SUCH_VARIABLE%\\a.scr");
}

TEST(SaverPath, ExistingShortNamesBecomeLongOnes) {
    DesktopState state;
    const std::wstring full = state.createFile(L"A rather long saver name.scr");
    wchar_t shortName[MAX_PATH] = {};
    DWORD length = GetShortPathNameW(full.c_str(), shortName, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(normalizeSaverPath(shortName), full);
}

TEST(SaverTimeout, RefusesOutOfRangeAndSetsSecondsInRange) {
    DesktopState state;
    setTimeoutSeconds(420);
    for (unsigned minutes : {0u, 241u, static_cast<unsigned>(-5)}) {
        try {
            setSaverTimeout(minutes);
            ADD_FAILURE() << minutes << " minutes accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Delay must be between 1 and 240 minutes.");
        }
        EXPECT_EQ(saverTimeout(), 420u) << "a refused delay changed the timeout";
    }
    setSaverTimeout(1);
    EXPECT_EQ(saverTimeout(), 60u);
    setSaverTimeout(240);
    EXPECT_EQ(saverTimeout(), 14400u);
}

TEST(SaverActivation, IsRefusedBeforeAnythingIsWritten) {
    DesktopState state;
    selectSaver(L"C:\\Windows\\System32\\Other.scr");
    setSaverActive(false);

    // No mode chosen yet: refused even though everything else is in place.
    TestService service;
    service.start();
    state.createFile(L"Dormalis.scr");
    EXPECT_EQ(failureOf(activateSaver), "Choose the network interruption mode in Dormalis before activation.");
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 2);
    EXPECT_EQ(failureOf(activateSaver), "Choose the network interruption mode in Dormalis before activation.");

    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    std::filesystem::remove(state.saverFile());
    EXPECT_EQ(failureOf(activateSaver), "Screen saver file missing. Reinstall Dormalis.");

    state.createFile(L"Dormalis.scr");
    service.stop();
    EXPECT_EQ(failureOf(activateSaver), "The Dormalis service is unavailable. Reinstall with the setup program.");

    EXPECT_EQ(selectedSaver(), L"C:\\Windows\\System32\\Other.scr");
    EXPECT_EQ(saverActive(), FALSE);
    EXPECT_EQ(remembered(L"PreviousSaver"), L"<absent>");
    EXPECT_EQ(rememberedNumber(L"PreviousSaved"), 0xDEADu);
}

TEST(SaverActivation, RemembersThePreviousChoiceOnlyTheFirstTime) {
    DesktopState state;
    TestService service;
    service.start();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    state.createFile(L"Dormalis.scr");
    selectSaver(L"  \"C:\\Windows\\System32\\Other.scr\"");
    setSaverActive(false);
    setTimeoutSeconds(420);

    activateSaver();
    EXPECT_EQ(selectedSaver(), state.saverFile());
    EXPECT_EQ(saverActive(), TRUE);
    EXPECT_EQ(saverTimeout(), 420u) << "activation must leave the timeout alone";
    EXPECT_EQ(remembered(L"PreviousSaver"), L"  \"C:\\Windows\\System32\\Other.scr\"") << "stored as read";
    EXPECT_EQ(rememberedNumber(L"PreviousActive"), 0u);
    EXPECT_EQ(rememberedNumber(L"PreviousTimeout"), 420u);
    EXPECT_EQ(rememberedNumber(L"PreviousSaved"), 1u);

    setTimeoutSeconds(900);
    activateSaver();
    EXPECT_EQ(remembered(L"PreviousSaver"), L"  \"C:\\Windows\\System32\\Other.scr\"");
    EXPECT_EQ(rememberedNumber(L"PreviousActive"), 0u);
    EXPECT_EQ(rememberedNumber(L"PreviousTimeout"), 420u);
}

TEST(SaverActivation, WithNothingSelectedRemembersAnEmptyPath) {
    DesktopState state;
    TestService service;
    service.start();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    state.createFile(L"Dormalis.scr");
    clearSaver();
    setSaverActive(true);

    activateSaver();
    EXPECT_EQ(remembered(L"PreviousSaver"), L"");
    EXPECT_EQ(rememberedNumber(L"PreviousActive"), 1u);
    EXPECT_TRUE(isDormalisSelected());
}

TEST(SaverDeactivation, LeavesAnotherProductsSelectionAlone) {
    DesktopState state;
    selectSaver(L"C:\\Windows\\System32\\Other.scr");
    setSaverActive(true);
    setTimeoutSeconds(480);
    writeString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver", L"C:\\Somewhere\\Else.scr");
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", 60);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 1);

    deactivateSaver();
    EXPECT_EQ(selectedSaver(), L"C:\\Windows\\System32\\Other.scr");
    EXPECT_EQ(saverActive(), TRUE);
    EXPECT_EQ(saverTimeout(), 480u);
}

TEST(SaverDeactivation, GivesBackARememberedSaverThatStillExists) {
    DesktopState state;
    const std::wstring other = state.createFile(L"Other Product.scr");
    selectSaver(state.saverFile());
    setSaverActive(true);
    setTimeoutSeconds(900);
    writeString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver", L"\"" + other + L"\"");
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousActive", 0);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", 420);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 1);

    deactivateSaver();
    EXPECT_EQ(selectedSaver(), other);
    EXPECT_EQ(saverActive(), FALSE);
    EXPECT_EQ(saverTimeout(), 420u);
    EXPECT_FALSE(isDormalisSelected());
}

TEST(SaverDeactivation, ClearsTheSelectionWhenTheRememberedSaverIsGone) {
    DesktopState state;
    const std::wstring other = state.createFile(L"Other.scr");
    selectSaver(state.saverFile());
    setSaverActive(true);
    setTimeoutSeconds(900);
    writeString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver", other);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousActive", 1);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", 420);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 1);
    std::filesystem::remove(other);

    deactivateSaver();
    EXPECT_EQ(selectedSaver(), L"<absent>");
    EXPECT_EQ(saverActive(), FALSE);
    EXPECT_EQ(saverTimeout(), 420u) << "the remembered timeout comes back even without the saver";
}

TEST(SaverDeactivation, RefusesToGiveBackOurOwnSaverOrAFolder) {
    DesktopState state;
    for (const std::wstring& previous :
         {std::wstring(L"D:\\Old\\Dormalis.ScreenSaver.scr"), state.scratch().wstring()}) {
        selectSaver(state.saverFile());
        setSaverActive(true);
        writeString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver", previous);
        deactivateSaver();
        EXPECT_EQ(selectedSaver(), L"<absent>") << narrow(previous);
        EXPECT_EQ(saverActive(), FALSE) << narrow(previous);
    }
}

TEST(SaverDeactivation, WithoutRememberedValuesSwitchesOffAndKeepsTheTimeout) {
    DesktopState state;
    selectSaver(L"%ProgramFiles%/DormalisNative/dormalis.SCR");
    setSaverActive(true);
    setTimeoutSeconds(780);

    deactivateSaver();
    EXPECT_EQ(selectedSaver(), L"<absent>");
    EXPECT_EQ(saverActive(), FALSE);
    EXPECT_EQ(saverTimeout(), 780u);
    // A second call has nothing left to do and still succeeds.
    EXPECT_NO_THROW(deactivateSaver());
}

}  // namespace
}  // namespace dormalis
