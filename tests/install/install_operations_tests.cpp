#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "foundation/unique.h"
#include "foundation/constants.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/install.h"
#include "install/staging.h"
#include "tests/install/install_fixture.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

// Copies of this program stand in for running installed programs: "--stubborn-window" shows a top-level window
// that ignores WM_CLOSE and ends by itself after a while, before any test runs.
LRESULT CALLBACK stubbornProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

struct StubbornWindowStandIn {
    StubbornWindowStandIn() {
        if (std::wstring(GetCommandLineW()).find(L"--stubborn-window") == std::wstring::npos) return;
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = stubbornProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Dormalis.Test.Stubborn";
        RegisterClassW(&windowClass);
        CreateWindowExW(0, windowClass.lpszClassName, L"Stubborn", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                        windowClass.hInstance, nullptr);
        const ULONGLONG end = GetTickCount64() + 15000;
        MSG message;
        while (GetTickCount64() < end) {
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            Sleep(20);
        }
        ExitProcess(0);
    }
} stubbornWindowStandIn;

std::string contents(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write(const std::wstring& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

TEST(CopyWithRetry, CopiesOverwritesAndGivesUpAsDescribed) {
    ScratchFolder scratch(L"C:\\dormalis-copy");
    const std::wstring source = scratch.path + L"\\source.bin";
    const std::wstring destination = scratch.path + L"\\destination.bin";
    write(source, "new program");
    write(destination, "old program, longer than the new one");
    EXPECT_TRUE(copyWithRetry(source, destination));
    EXPECT_EQ(contents(destination), "new program");

    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(copyWithRetry(scratch.path + L"\\missing.bin", destination));
    EXPECT_LT(GetTickCount64() - start, 2000u) << "a missing source is not worth waiting for";

    {
        // Held open without sharing, as a running preview holds the screen saver: about five seconds of retries.
        UniqueHandle held{CreateFileW(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_TRUE(held.valid());
        start = GetTickCount64();
        EXPECT_FALSE(copyWithRetry(source, destination));
        const ULONGLONG waited = GetTickCount64() - start;
        EXPECT_GE(waited, 4500u);
        EXPECT_LT(waited, 20000u);
    }

    // Released while the copy still retries: it succeeds.
    write(source, "newer program");
    UniqueHandle held{CreateFileW(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
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

// The installed programs are played by copies of the test driver and of this program under the installed names.
struct InstalledStandIns {
    CleanMachine clean;
    InstalledStandIns() {
        std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
        CopyFileW((buildFolder() + L"\\test_driver.exe").c_str(), (DefaultFolder + L"\\Dormalis.exe").c_str(), FALSE);
        CopyFileW((buildFolder() + L"\\install_tests.exe").c_str(), (DefaultFolder + L"\\Dormalis.scr").c_str(), FALSE);
    }
};

HWND waitForWindow(const wchar_t* title) {
    for (int i = 0; i < 200; ++i) {
        if (HWND found = FindWindowW(nullptr, title)) return found;
        Sleep(50);
    }
    return nullptr;
}

TEST(CloseInstalledWindows, ClosesRunningInstalledCopiesAndLeavesOtherProgramsAlone) {
    InstalledStandIns installed;
    UniqueHandle program =
        startProcess(quoted(DefaultFolder + L"\\Dormalis.exe") + L" create-host \"Installed program\" 50 50 60000");
    UniqueHandle other =
        startProcess(quoted(buildFolder() + L"\\test_driver.exe") + L" create-host \"Other program\" 50 50 60000");
    ASSERT_NE(waitForWindow(L"Installed program"), nullptr);
    ASSERT_NE(waitForWindow(L"Other program"), nullptr);

    EXPECT_NO_THROW(closeInstalledWindows());
    EXPECT_EQ(WaitForSingleObject(program.get(), 0), WAIT_OBJECT_0) << "the installed copy is closed and awaited";
    EXPECT_EQ(WaitForSingleObject(other.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "same program elsewhere";
    EXPECT_NO_THROW(closeInstalledWindows()) << "nothing left to close";
    finishProcess(other.get(), 1);
}

TEST(CloseInstalledWindows, ACopyThatDoesNotCloseIsReported) {
    InstalledStandIns installed;
    UniqueHandle saver = startProcess(quoted(DefaultFolder + L"\\Dormalis.scr") + L" --stubborn-window");
    ASSERT_NE(waitForWindow(L"Stubborn"), nullptr);
    try {
        closeInstalledWindows();
        ADD_FAILURE() << "a window that stays open must fail the call";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Close Dormalis and screen saver settings in all sessions, then retry.");
    }
    finishProcess(saver.get(), 1);
}

std::wstring lastInstallError() {
    return readString(HKEY_LOCAL_MACHINE, RegistryPath, L"LastInstallError", L"<absent>");
}

// installNative called directly, quiet so that a failure is recorded instead of waiting on a message box.
struct QuietInstall {
    CleanMachine clean;
    const std::wstring program = buildFolder() + L"\\Dormalis.exe";
    const std::wstring uninstaller = buildFolder() + L"\\Uninstall.exe";
    QuietInstall() {
        installQuiet = true;
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the shortcut is made through COM, as in the setup
    }
    ~QuietInstall() {
        CoUninitialize();
        installQuiet = false;
    }
};

// A folder's entries as Wine reports them. Wine keeps no ACL, but it derives the Unix mode from the descriptor a
// folder is created with (the protected one leaves others nothing) and reports the mode back as entries; a
// descriptor applied to a folder created without one leaves Everyone's read entry in place.
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

TEST(InstallNative, AFolderFoundInPlaceIsRefusedAndAFreshOneIsCreatedProtected) {
    QuietInstall install;
    // Any user may make the folder first (under Wine it is owned by the installing user) and keep a handle to it
    // that outlives the descriptor the installation sets.
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    EXPECT_EQ(installNative(true, install.program, install.uninstaller), 1);
    EXPECT_EQ(lastInstallError(), L"Cannot secure installation folder.");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(DefaultFolder + L"\\Dormalis.exe")));

    ASSERT_TRUE(RemoveDirectoryW(DefaultFolder.c_str()));
    ASSERT_EQ(installNative(true, install.program, install.uninstaller), 0) << narrow(lastInstallError());
    const std::wstring entries = reportedEntries(DefaultFolder);
    EXPECT_EQ(entries.find(L";;;WD)"), std::wstring::npos) << "not created protected: " << narrow(entries);
}

TEST(InstallNative, RunFromTheInstalledProgramItRefreshesOnlyTheScreenSaverCopy) {
    QuietInstall install;
    ASSERT_EQ(installNative(true, install.program, install.uninstaller), 0) << narrow(lastInstallError());
    write(DefaultFolder + L"\\Dormalis.scr", "stale screen saver");
    // The same file in another letter case is still the installed program itself: it is not copied onto itself.
    const std::wstring installed = L"c:\\program files\\dormalisnative\\DORMALIS.EXE";
    ASSERT_EQ(installNative(true, installed, install.uninstaller), 0) << narrow(lastInstallError());
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(install.program));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(install.program));
}

TEST(InstallNative, AHeldScreenSaverFailsTheUpdateAfterTheProgramWasCopied) {
    QuietInstall install;
    ASSERT_EQ(installNative(true, install.program, install.uninstaller), 0) << narrow(lastInstallError());
    {
        UniqueHandle preview{CreateFileW((DefaultFolder + L"\\Dormalis.scr").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_TRUE(preview.valid());
        // Another program file makes the copy that did happen visible.
        EXPECT_EQ(installNative(true, install.uninstaller, install.uninstaller), 1);
    }
    EXPECT_EQ(lastInstallError(), L"Cannot update the screen saver. Close screen saver settings and previews first.");
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(install.uninstaller));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(install.program));
}

TEST(InstallNative, AMissingUninstallerFailsWithItsOwnMessage) {
    QuietInstall install;
    EXPECT_EQ(installNative(false, install.program, buildFolder() + L"\\NoSuchUninstaller.exe"), 1);
    EXPECT_EQ(lastInstallError(), L"Cannot install the uninstaller.");
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, RegistryPath, L"PackageVersion", 0), 0u) << "not complete";
}

}  // namespace
}  // namespace dormalis
