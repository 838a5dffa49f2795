#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <tuple>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "registration/saver_selection.h"
#include "tests/support/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

// The per-user values of the product, as text ("<absent>" when missing).
std::wstring remembered(const wchar_t* name) {
    const DWORD number = readDword(HKEY_CURRENT_USER, RegistryPath, name, 0xDEAD);
    return number != 0xDEAD ? std::to_wstring(number) : readString(HKEY_CURRENT_USER, RegistryPath, name, L"<absent>");
}

template <typename Call>
std::string failureOf(Call call) {
    try {
        return call(), "<no failure>";
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

TEST(SaverPath, RecognisesOurFileNameHoweverItIsWritten) {
    SetEnvironmentVariableW(L"DORMALIS_TEST_ROOT", L"C:\\Program Files");
    for (const wchar_t* ours :
         {L"  \"C:\\Program Files\\DormalisNative\\DORMALIS.SCR\"\t ", L"Dormalis.scr",
          L"%ProgramFiles%/DormalisNative/Dormalis.scr", L"%DORMALIS_TEST_ROOT%/Elsewhere/dormalis.scr",
          L"D:\\Any\\Folder\\Dormalis.ScreenSaver.scr"})
        EXPECT_TRUE(isDormalisPath(ours)) << narrow(ours);
    for (const wchar_t* other : {L"C:\\Program Files\\DormalisNative\\Dormalis.scr.bak", L"C:\\Dormalis.scr\\Other.scr",
                                 L"C:\\Windows\\System32\\Bubbles.scr", L"", L" \"\" \t"})
        EXPECT_FALSE(isDormalisPath(other)) << narrow(other);
    EXPECT_EQ(normalizeSaverPath(L" \"%DORMALIS_TEST_ROOT%/X/y.scr\" "), L"C:\\Program Files\\X\\y.scr");
    EXPECT_EQ(normalizeSaverPath(L"%DORMALIS_NO_SUCH_VARIABLE%\\a.scr"), L"%DORMALIS_NO_SUCH_VARIABLE%\\a.scr")
        << "an unknown variable stays as written rather than vanishing";
    DesktopState state;
    const std::wstring full = state.createFile(L"A rather long saver name.scr");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(full.c_str(), shortName, MAX_PATH), 0u);
    EXPECT_EQ(normalizeSaverPath(shortName), full) << "an existing short name becomes the long one";
}

TEST(SaverTimeout, RefusesOutOfRangeAndSetsSecondsInRange) {
    DesktopState state;
    setTimeoutSeconds(420);  // what a refusal leaves
    for (const auto& [minutes, seconds] : {std::pair{0u, 420u}, std::pair{241u, 420u}, std::pair{0xFFFFFFFBu, 420u},
                                           std::pair{1u, 60u}, std::pair{240u, 14400u}}) {
        EXPECT_EQ(failureOf([&] { setSaverTimeout(minutes); }),
                  seconds == 420 ? "Delay must be between 1 and 240 minutes." : "<no failure>");
        EXPECT_EQ(saverTimeout(), seconds) << minutes;
    }
}

TEST(SaverActivation, IsRefusedBeforeAnythingIsWritten) {
    DesktopState state;
    selectSaver(L"C:\\Windows\\System32\\Other.scr");
    setSaverActive(false);
    TestService service;
    service.start();
    state.createFile(L"Dormalis.scr");
    const std::string noMode = "Choose the network interruption mode in Dormalis before activation.";
    EXPECT_EQ(failureOf(activateSaver), noMode) << "even with everything else in place";
    setMachineDword(L"ModeConfigured", 2);
    EXPECT_EQ(failureOf(activateSaver), noMode);
    setMachineDword(L"ModeConfigured", 1);
    std::filesystem::remove(state.saverFile());
    EXPECT_EQ(failureOf(activateSaver), "Screen saver file missing. Reinstall Dormalis.");
    state.createFile(L"Dormalis.scr");
    service.stop();
    EXPECT_EQ(failureOf(activateSaver), "The Dormalis service is unavailable. Reinstall with the setup program.");

    EXPECT_EQ(std::tuple(selectedSaver(), saverActive(), remembered(L"PreviousSaved")),
              std::tuple(std::wstring(L"C:\\Windows\\System32\\Other.scr"), FALSE, std::wstring(L"<absent>")));
}

TEST(SaverActivation, RemembersThePreviousChoiceAsStoredOnlyTheFirstTime) {
    DesktopState state;
    TestService service;
    service.start();
    setMachineDword(L"ModeConfigured", 1);
    state.createFile(L"Dormalis.scr");
    for (const auto& [previous, active] :
         {std::pair{L"  \"C:\\Windows\\System32\\Other.scr\"", false}, std::pair{L"", true}}) {
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        *previous ? selectSaver(previous) : clearSaver();
        setSaverActive(active);
        setTimeoutSeconds(420);
        activateSaver();
        EXPECT_EQ(std::tuple(normalizeSaverPath(selectedSaver()), saverActive(), saverTimeout()),
                  std::tuple(state.saverFile(), TRUE, 420u))
            << "activation leaves the timeout alone";
        setTimeoutSeconds(900);
        activateSaver();  // a second activation must not remember our own saver
        const std::wstring kept = remembered(L"PreviousSaver") + L"|" + remembered(L"PreviousActive") + L"|" +
                                  remembered(L"PreviousTimeout") + L"|" + remembered(L"PreviousSaved");
        EXPECT_EQ(kept, std::wstring(previous) + (active ? L"|1" : L"|0") + L"|420|1");
    }
}

TEST(SaverDeactivation, GivesBackOnlyAUsableRememberedSaverAndTheRememberedTimeout) {
    DesktopState state;
    const std::wstring other = state.createFile(L"Other Product.scr"), absent = L"<absent>";
    const std::wstring gone = (state.scratch() / L"Gone" / L"Dormalis.scr").wstring();
    SetEnvironmentVariableW(L"DORMALIS_TEST_ROOT", state.scratch().c_str());
    const std::wstring bubbles = L"C:\\Windows\\System32\\Bubbles.scr", ours = state.createFile(L"Dormalis.scr");
    // Selected and remembered saver (none remembered when empty), PreviousActive; saver, active and timeout after.
    const std::tuple<std::wstring, std::wstring, DWORD, std::wstring, BOOL, UINT> cases[] = {
        {bubbles, other, 0, bubbles, TRUE, 900},  // another product's choice is left alone
        {ours, L"\"" + other + L"\"", 0, other, FALSE, 420},
        {ours, state.scratch() / L"Gone.scr", 1, absent, FALSE, 420},  // the timeout comes back without the saver
        {ours, L"D:\\Old\\Dormalis.ScreenSaver.scr", 1, absent, FALSE, 420},  // never our own
        {ours, state.scratch().wstring(), 1, absent, FALSE, 420},             // nor a folder
        {L"%DORMALIS_TEST_ROOT%/dormalis.SCR", L"", 1, absent, FALSE, 900},
        {gone, other, 1, gone, TRUE, 900},  // a removed installation's file is no longer ours to give back
    };
    for (const auto& [selected, previous, previousActive, after, activeAfter, timeoutAfter] : cases) {
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        selectSaver(selected);
        setSaverActive(true);
        setTimeoutSeconds(900);
        if (!previous.empty()) {
            writeString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver", previous);
            writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousActive", previousActive);
            writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", 420);
            writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 1);
        }
        deactivateSaver();
        EXPECT_EQ(std::tuple(selectedSaver(), saverActive(), saverTimeout()),
                  std::tuple(after, activeAfter, timeoutAfter))
            << narrow(selected) << " / " << narrow(previous);
    }
    EXPECT_NO_THROW(deactivateSaver()) << "a second call has nothing left to do";
}

}  // namespace
}  // namespace dormalis
