#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/install.h"
#include "install/staging.h"
#include "tests/install/install_fixture.h"

namespace dormalis {
namespace {

using namespace testing;

std::string contents(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write(const std::wstring& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

// Held open without sharing, as a running preview holds the screen saver.
UniqueHandle hold(const std::wstring& path) {
    return UniqueHandle{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
}

TEST(CopyWithRetry, CopiesOverGivesUpOnAMissingSourceAtOnceAndWaitsForAHeldDestination) {
    ScratchFolder scratch(L"C:\\dormalis-copy");
    const std::wstring source = scratch.path + L"\\source.bin", destination = scratch.path + L"\\destination.bin";
    write(source, "new program");
    write(destination, "old program, longer than the new one");
    EXPECT_TRUE(copyWithRetry(source, destination));
    EXPECT_EQ(contents(destination), "new program");

    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(copyWithRetry(scratch.path + L"\\missing.bin", destination));
    EXPECT_LT(GetTickCount64() - start, 2000u) << "a missing source is not worth waiting for";

    // Released while the copy still retries: it succeeds. (Giving up after the retries shows in InstallNative.)
    write(source, "newer program");
    UniqueHandle held = hold(destination);
    ASSERT_TRUE(held.valid());
    std::thread release([&] {
        Sleep(1000);
        held.reset();
    });
    EXPECT_TRUE(copyWithRetry(source, destination));
    release.join();
    EXPECT_EQ(contents(destination), "newer program");
}

TEST(Staging, ProgramsAreStagedWhereUsersCannotRenameTheirFolderAway) {
    const std::filesystem::path folder = makePrivateFolder(L"Dormalis-Test");
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    // In the user's own %TEMP% its owner may rename any folder, protected or not, and put another in its place.
    EXPECT_TRUE(samePath(folder.parent_path().wstring(), std::wstring(windows) + L"\\Temp"))
        << narrow(folder.wstring());
    RemoveDirectoryW(folder.c_str());
}

TEST(CloseInstalledWindows, ClosesRunningInstalledCopiesAndLeavesOtherProgramsAlone) {
    CleanMachine clean;
    // The installed program is played by a copy of the test driver under its installed name.
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    const std::wstring driverProgram = buildFolder() + L"\\test_driver.exe";
    ASSERT_TRUE(CopyFileW(driverProgram.c_str(), (DefaultFolder + L"\\Dormalis.exe").c_str(), FALSE));
    UniqueHandle program =
        startProcess(quoted(DefaultFolder + L"\\Dormalis.exe") + L" create-host \"Installed program\" 50 50 60000");
    UniqueHandle other = startProcess(quoted(driverProgram) + L" create-host \"Other program\" 50 50 60000");
    ASSERT_TRUE(waitUntil([] { return FindWindowW(nullptr, L"Installed program") != nullptr; }, 10000));
    ASSERT_TRUE(waitUntil([] { return FindWindowW(nullptr, L"Other program") != nullptr; }, 10000));

    EXPECT_NO_THROW(closeInstalledWindows());
    EXPECT_EQ(WaitForSingleObject(program.get(), 0), WAIT_OBJECT_0) << "the installed copy is closed and awaited";
    EXPECT_EQ(WaitForSingleObject(other.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "same program elsewhere";
    EXPECT_NO_THROW(closeInstalledWindows()) << "nothing left to close";
    finishProcess(other.get(), 1);
}

// installNative called directly, quiet so that a failure is recorded instead of waiting on a message box.
class InstallNative : public ::testing::Test {
  protected:
    CleanMachine clean;
    const std::wstring program = buildFolder() + L"\\Dormalis.exe";
    const std::wstring uninstaller = buildFolder() + L"\\Uninstall.exe";
    void SetUp() override {
        installQuiet = true;
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the shortcut is made through COM, as in the setup
    }
    void TearDown() override {
        CoUninitialize();
        installQuiet = false;
    }
    static std::wstring lastError() { return machineString(L"LastInstallError"); }
};

// Wine keeps no ACL, but it derives the Unix mode from the descriptor a folder is created with (the protected one
// leaves others nothing) and reports that mode back as entries; a descriptor applied to a folder created without
// one leaves Everyone's read entry in place.
std::wstring reportedEntries(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                          &descriptor);
    UniqueLocal held{descriptor};
    wchar_t* text = nullptr;
    if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                             DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"<unreadable>";
    UniqueLocal heldText{text};
    return text;
}

TEST_F(InstallNative, AFolderFoundInPlaceIsRefusedAndAFreshOneIsCreatedProtected) {
    // Any user may make the folder first (under Wine it is owned by the installing user) and keep a handle to it
    // that outlives the descriptor the installation sets.
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    EXPECT_EQ(installNative(true, program, uninstaller), 1);
    EXPECT_EQ(lastError(), L"Cannot secure installation folder.");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(DefaultFolder + L"\\Dormalis.exe")));

    ASSERT_TRUE(RemoveDirectoryW(DefaultFolder.c_str()));
    ASSERT_EQ(installNative(true, program, uninstaller), 0) << narrow(lastError());
    const std::wstring entries = reportedEntries(DefaultFolder);
    EXPECT_EQ(entries.find(L";;;WD)"), std::wstring::npos) << "not created protected: " << narrow(entries);
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder) << "the service and the settings find it there";
}

// A first installation only proposes its mode; an update keeps the recorded one, and an older installation that
// recorded a mode without ModeConfigured had it chosen for real.
TEST_F(InstallNative, AnUpdateKeepsTheRecordedModeAndAFirstInstallationOnlyProposesOne) {
    const DWORD Absent = 0xDEAD;
    const struct {
        DWORD firewallBefore, configuredBefore;
        bool firewall;
        DWORD firewallAfter, configuredAfter;
    } runs[] = {
        {Absent, Absent, false, 0, 0},  // first installation
        {0, 0, true, 0, 0},             // an unconfirmed mode is kept as it was
        {0, Absent, true, 0, 1},        // an older installation's mode
        {2, 1, true, 1, 1},             // a value that is no mode counts as none
        {1, Absent, false, 1, 1},
    };
    for (const auto& run : runs) {
        for (const auto& [name, value] :
             {std::pair{L"Firewall", run.firewallBefore}, std::pair{L"ModeConfigured", run.configuredBefore}}) {
            if (value == Absent)
                deleteMachineValue(name);
            else
                setMachineDword(name, value);
        }
        ASSERT_EQ(installNative(run.firewall, program, uninstaller), 0) << narrow(lastError());
        EXPECT_EQ(machineDword(L"Firewall"), run.firewallAfter) << run.firewallBefore << "/" << run.configuredBefore;
        EXPECT_EQ(machineDword(L"ModeConfigured"), run.configuredAfter)
            << run.firewallBefore << "/" << run.configuredBefore;
    }
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000)) << "the updated service runs again";
}

TEST_F(InstallNative, RunFromTheInstalledProgramItRefreshesOnlyTheScreenSaverCopy) {
    ASSERT_EQ(installNative(true, program, uninstaller), 0) << narrow(lastError());
    write(DefaultFolder + L"\\Dormalis.scr", "stale screen saver");
    // The same file in another letter case is still the installed program itself: it is not copied onto itself.
    ASSERT_EQ(installNative(true, L"c:\\program files\\dormalisnative\\DORMALIS.EXE", uninstaller), 0)
        << narrow(lastError());
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(program));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(program));
}

TEST_F(InstallNative, AHeldScreenSaverFailsTheUpdateAfterAboutFiveSecondsOfRetries) {
    ASSERT_EQ(installNative(true, program, uninstaller), 0) << narrow(lastError());
    {
        UniqueHandle preview = hold(DefaultFolder + L"\\Dormalis.scr");
        ASSERT_TRUE(preview.valid());
        const ULONGLONG start = GetTickCount64();
        // Another program file makes the copy that did happen visible.
        EXPECT_EQ(installNative(true, uninstaller, uninstaller), 1);
        EXPECT_GE(GetTickCount64() - start, 4500u);
    }
    EXPECT_EQ(lastError(), L"Cannot update the screen saver. Close screen saver settings and previews first.");
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(uninstaller));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(program));
}

TEST_F(InstallNative, AMissingUninstallerFailsWithItsOwnMessage) {
    EXPECT_EQ(installNative(false, program, buildFolder() + L"\\NoSuchUninstaller.exe"), 1);
    EXPECT_EQ(lastError(), L"Cannot install the uninstaller.");
    EXPECT_EQ(machineDword(L"PackageVersion"), 0xDEADu) << "not complete";
}

}  // namespace
}  // namespace dormalis
