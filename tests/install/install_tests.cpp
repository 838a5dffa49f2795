#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/folder_validation.h"
#include "install/front_end.h"
#include "install/install.h"
#include "install/mode_change.h"
#include "install/staging.h"
#include "tests/install/install_fixture.h"

namespace dormalis {
namespace {

using namespace testing;

// This program stands in for the elevated copy that elevateAndWait starts: "--exit-with N" ends it with N after a
// short while, before any test runs.
const int elevatedCopyStandIn = [] {
    const std::wstring line = GetCommandLineW();
    const size_t at = line.find(L"--exit-with ");
    if (at != std::wstring::npos) {
        Sleep(400);
        ExitProcess(static_cast<UINT>(std::stoul(line.substr(at + 12))));
    }
    return 0;
}();

template <typename Call>
std::string outcome(Call call) {
    try {
        return narrow(call());
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::string contents(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write(const std::wstring& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

// Held open without delete or write sharing, as a running preview holds the screen saver.
UniqueHandle hold(const std::wstring& path) {
    return UniqueHandle{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
}

constexpr const char* I =
    "Choose a protected folder (for example under Program Files). User-writable parent folders and links are not "
    "safe for a Windows service.";

// The rules in the order they apply: the form, the drive root, the drive type, an existing installation, the parent.
// Wine gives every real folder the user as its owner, so the walk up the parents (I) refuses all that pass them.
TEST(FolderValidation, EachRuleRefusesWithItsOwnMessage) {
    CleanMachine clean;
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    write(DefaultFolder + L"\\plain.txt", "x");
    const std::wstring longest = L"C:\\" + std::wstring(236, L'a');
    ASSERT_EQ(GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_REMOVABLE)) << "the prefix maps R: as a floppy";
    std::vector<std::pair<const char*, std::vector<std::wstring>>> rules = {
        {"Choose an absolute local installation folder, not a drive root.",
         {L"", L"C:", L"C:\\", L"D:Tools", L"\\\\server\\share\\Tools", L"\\\\?\\C:\\Tools", L"\\\\.\\C:\\Tools",
          L"C:/Tools", L"Tools\\Dormalis", L"\\Tools\\Dormalis", L"C:\\Tools:stream", L"C:\\Tools\\a:b", longest + L"b",
          L"C:\\" + std::wstring(200, L'.') + L"\\" + std::wstring(50, L'a')}},  // too long though it would shrink
        {"A drive root cannot be an installation folder.",
         {L"C:\\\\", L"C:\\.", L"C:\\..", L"C:\\Tools\\..", L"C:\\Tools\\..\\.\\", L"C:\\\\\\\\"}},
        {"Choose a local fixed disk.", {L"Q:\\Tools", L"R:\\Tools"}},  // a letter with no drive; a removable drive
        {"The parent folder must already exist.",
         {L"C:\\no-such-parent\\Dormalis", DefaultFolder + L"\\plain.txt\\Dormalis"}},
        {I, {longest}},  // 239 characters pass the form
    };
    for (const wchar_t forbidden : std::wstring(L"<>\"|?*"))
        rules[0].second.push_back(L"C:\\Tools\\x" + std::wstring(1, forbidden));
    for (const auto& [refusal, inputs] : rules) {
        for (const std::wstring& input : inputs)
            EXPECT_EQ(outcome([&] { return validateInstallDirectory(input); }), refusal) << narrow(input);
    }
    for (const auto& [input, normalised] :
         {std::pair{L"C:\\windows\\Tools\\", "C:\\windows\\Tools"}, std::pair{L"C:\\windows\\..\\Tools", "C:\\Tools"},
          std::pair{L"c:\\windows\\.\\x\\..\\Tools\\", "c:\\windows\\Tools"}, std::pair{L"C:\\A", "C:\\A"}}) {
        EXPECT_EQ(outcome([&] { return normalisedInstallPath(input); }), normalised);
        EXPECT_EQ(outcome([&] { return validateInstallDirectory(input); }), I) << narrow(input);
    }

    // An installed service ties the folder to its installation; the same folder in another letter case passes.
    registerStandInService(L"\"" + DefaultFolder + L"\\Dormalis.exe\" --service");
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", DefaultFolder);
    const char* elsewhere =
        "To change the folder of an existing installation, uninstall Dormalis first, then run Setup again.";
    for (const auto& [input, refusal] :
         {std::pair{L"C:\\Apps\\Dormalis", elsewhere}, std::pair{L"c:\\PROGRAM FILES\\dormalisnative\\", I},
          std::pair{L"Q:\\Tools", "Choose a local fixed disk."}})  // the drive rule comes first
        EXPECT_EQ(outcome([&] { return validateInstallDirectory(input); }), refusal) << narrow(input);

    // The folder itself: no link, and empty unless it is the current installation, which keeps its files.
    const std::wstring linked = L"C:\\dormalis-links\\linked";
    for (const auto& [path, installed, result] :
         {std::tuple{DefaultFolder + L"\\not-yet", false, ""}, std::tuple{DefaultFolder, true, ""},
          std::tuple{DefaultFolder, false, "Choose an empty folder dedicated to Dormalis."},
          std::tuple{linked, false, "Linked folders are not supported."},
          std::tuple{linked, true, "Linked folders are not supported."}})
        EXPECT_EQ(outcome([&] { return (checkTargetFolder(path, installed), std::wstring()); }), result)
            << narrow(path) << installed;
}

// Descriptors stand for real Windows folders, which Wine cannot show. The judgement must not depend on who asks:
// the process itself holds a principal the protected folders grant full control, as LocalSystem does when a
// deployment tool runs the setup; the impersonated view is the same administrator without that membership.
TEST(FolderValidation, AFolderIsJudgedByItsOwnerAndEntriesWhoeverAsks) {
    const std::wstring user = L"S-1-5-21-1-2-3-1001",
                       ti = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::wstring admins = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", addFiles = L"O:SY" + admins + L"(A;CI;0x100116;;;BU)";
    const std::wstring root =
        L"O:" + ti + L"D:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)";
    const DWORD above = AncestorForbiddenRights, claim = ClaimForbiddenRights;
    std::vector<std::tuple<std::wstring, DWORD, bool>> cases = {
        {L"O:" + ti + L"D:P(A;;FA;;;" + ti + L")(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)", above,
         true},                                                             // Program Files
        {root, RootForbiddenRights, true},                                  // a root where users add folders...
        {root, above, false},                                               // ...and the same rights below it
        {InstallFolderSddl, claim, true},                                   // what an installation sets
        {L"O:" + user + admins, above, false},                              // owned by a user
        {L"D:P(A;;FA;;;BA)", above, false},                                 // no owner
        {L"O:BAG:BA", above, false},                                        // no DACL: open to all
        {addFiles, above, true},                                            // users may add files above...
        {addFiles, claim, false},                                           // ...not to the folder taken over
        {L"O:BA" + admins + L"(A;OICIIO;FA;;;BU)", claim, false},           // inherited inside
        {L"O:BA" + admins + L"(A;;GA;;;CO)", above, true},                  // CREATOR OWNER is the trusted owner
        {L"O:" + user + admins + L"(A;;GA;;;CO)", above, false},            // or a user
        {L"O:BAD:P(D;;FA;;;WD)(D;OICI;GA;;;BU)(A;;FA;;;BA)", above, true},  // deny entries take rights away
    };
    // One forbidden right for anyone but the system, administrators and TrustedInstaller is enough.
    for (const auto& [right, forbidden] : {std::pair{L"WD", above}, std::pair{L"WO", above}, std::pair{L"SD", above},
                                           std::pair{L"0x40", above}, std::pair{L"GA", above}, std::pair{L"GW", claim}})
        for (const std::wstring& grantee : {user, std::wstring(L"BU"), std::wstring(L"WD")})
            cases.emplace_back(L"O:BA" + admins + L"(A;;" + right + L";;;" + grantee + L")", forbidden, false);

    UniqueHandle ordinary = ordinaryUserToken(), view;
    ASSERT_TRUE(DuplicateToken(ordinary.get(), SecurityImpersonation, view.put()));
    for (HANDLE caller : {static_cast<HANDLE>(nullptr), view.get()}) {
        for (const auto& [sddl, forbidden, expected] : cases) {
            UniqueLocal descriptor;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                             descriptor.put(), nullptr));
            bool safe = !expected;
            std::thread([&] {
                if (caller) SetThreadToken(nullptr, caller);
                safe = folderDescriptorIsSafe(descriptor.get(), forbidden);
            }).join();
            EXPECT_EQ(safe, expected) << narrow(sddl) << (caller ? ", as an ordinary user" : "");
        }
    }
}

TEST(InstallOperations, CopiesRetryOnlyWhileTheDestinationIsHeld) {
    CleanMachine clean;
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    const std::wstring source = DefaultFolder + L"\\source.bin", destination = DefaultFolder + L"\\destination.bin";
    write(source, "new program");
    write(destination, "old program, longer than the new one");
    EXPECT_TRUE(copyWithRetry(source, destination));
    EXPECT_EQ(contents(destination), "new program");
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(copyWithRetry(DefaultFolder + L"\\missing.bin", destination));
    EXPECT_LT(GetTickCount64() - start, 2000u) << "a missing source is not worth waiting for";

    // Released while the copy still retries: it succeeds. (Giving up shows when an update meets a held saver.)
    write(source, "newer program");
    UniqueHandle held = hold(destination);
    std::thread release([&] {
        Sleep(1000);
        held.reset();
    });
    EXPECT_TRUE(copyWithRetry(source, destination));
    release.join();
    EXPECT_EQ(contents(destination), "newer program");

    // Programs are staged where users cannot rename the folder away, as its owner can in the user's own %TEMP%.
    const std::filesystem::path staged = makePrivateFolder(L"Dormalis-Test");
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_TRUE(samePath(staged.parent_path().wstring(), std::wstring(windows) + L"\\Temp")) << staged.string();
    RemoveDirectoryW(staged.c_str());
}

TEST(InstallOperations, ClosesRunningInstalledCopiesAndLeavesOtherProgramsAlone) {
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
    finishProcess(other.get(), 1);
}

// installNative called directly, quiet so that a failure is recorded instead of waiting on a message box.
class InstallNative : public ::testing::Test {
  protected:
    CleanMachine clean;
    const std::wstring program = buildFolder() + L"\\Dormalis.exe", uninstaller = buildFolder() + L"\\Uninstall.exe";
    void SetUp() override {
        installQuiet = true;
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the shortcut is made through COM, as in the setup
    }
    void TearDown() override {
        CoUninitialize();
        installQuiet = false;
    }
    static std::string lastError() { return narrow(machineString(L"LastInstallError")); }
};

// Wine keeps no ACL, but it derives the Unix mode from the descriptor a folder is created with (the protected one
// leaves others nothing) and reports it back as entries; a descriptor applied later leaves Everyone's read entry.
std::wstring reportedEntries(const std::wstring& folder) {
    UniqueLocal descriptor;
    PACL ignored = nullptr;
    GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &ignored,
                          nullptr, descriptor.put());
    UniqueLocal text;
    if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                           descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                           reinterpret_cast<LPWSTR*>(text.put()), nullptr))
        return L"<unreadable>";
    return static_cast<const wchar_t*>(text.get());
}

TEST_F(InstallNative, AFolderFoundInPlaceIsRefusedAndAFreshOneIsCreatedProtected) {
    // Any user may make the folder first (under Wine it is owned by the installing user) and keep a handle to it
    // that outlives the descriptor the installation sets.
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    EXPECT_EQ(installNative(true, program, uninstaller), 1);
    EXPECT_EQ(lastError(), "Cannot secure installation folder.");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(DefaultFolder + L"\\Dormalis.exe")));

    ASSERT_TRUE(RemoveDirectoryW(DefaultFolder.c_str()));
    ASSERT_EQ(installNative(true, program, uninstaller), 0) << lastError();
    const std::wstring entries = reportedEntries(DefaultFolder);
    EXPECT_EQ(entries.find(L";;;WD)"), std::wstring::npos) << "not created protected: " << narrow(entries);
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder) << "the service and the settings find it there";
}

// A first installation only proposes its mode; an update keeps the recorded one, and an older installation that
// recorded a mode without ModeConfigured had it chosen for real.
TEST_F(InstallNative, AnUpdateKeepsTheRecordedModeAndRefreshesTheScreenSaverEvenFromTheInstalledProgram) {
    const DWORD Absent = 0xDEAD;
    using Run = std::tuple<DWORD, DWORD, bool, DWORD, DWORD>;
    // Firewall and ModeConfigured before, the setup's proposal, and both values after.
    for (const auto& [firewallBefore, configuredBefore, firewall, firewallAfter, configuredAfter] :
         {Run{Absent, Absent, false, 0, 0},  // first installation
          Run{0, 0, true, 0, 0},             // an unconfirmed mode is kept as it was
          Run{0, Absent, true, 0, 1},        // an older installation's mode
          Run{2, 1, true, 1, 1},             // a value that is no mode counts as none
          Run{1, Absent, false, 1, 1}}) {
        for (const auto& [name, value] :
             {std::pair{L"Firewall", firewallBefore}, std::pair{L"ModeConfigured", configuredBefore}}) {
            if (value == Absent)
                deleteMachineValue(name);
            else
                setMachineDword(name, value);
        }
        ASSERT_EQ(installNative(firewall, program, uninstaller), 0) << lastError();
        EXPECT_EQ(machineDword(L"Firewall"), firewallAfter) << firewallBefore << "/" << configuredBefore;
        EXPECT_EQ(machineDword(L"ModeConfigured"), configuredAfter) << firewallBefore << "/" << configuredBefore;
    }
    // The same file in another letter case is still the installed program itself: it is not copied onto itself.
    write(DefaultFolder + L"\\Dormalis.scr", "stale screen saver");
    ASSERT_EQ(installNative(true, L"c:\\program files\\dormalisnative\\DORMALIS.EXE", uninstaller), 0) << lastError();
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(program));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(program));
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000)) << "the updated service runs again";
}

TEST_F(InstallNative, AHeldScreenSaverFailsTheUpdateAfterAboutFiveSecondsOfRetries) {
    ASSERT_EQ(installNative(true, program, uninstaller), 0) << lastError();
    {
        UniqueHandle preview = hold(DefaultFolder + L"\\Dormalis.scr");
        const ULONGLONG start = GetTickCount64();
        // Another program file makes the copy that did happen visible.
        EXPECT_EQ(installNative(true, uninstaller, uninstaller), 1);
        EXPECT_GE(GetTickCount64() - start, 4500u);
    }
    EXPECT_EQ(lastError(), "Cannot update the screen saver. Close screen saver settings and previews first.");
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(uninstaller));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(program));
}

// The elevated copy's work on a thread of its own, as `token` when given: its exit code and the text of the box it
// showed, which is answered from here.
std::pair<int, std::string> changeMode(bool firewall, HANDLE token = nullptr) {
    std::atomic<bool> done{false};
    int result = -1;
    std::thread worker([&] {
        if (token) SetThreadToken(nullptr, token);
        result = changeNetworkMode(firewall);
        done = true;
    });
    wchar_t text[512] = {};
    waitUntil(
        [&] {
            HWND box = FindWindowW(L"#32770", L"Dormalis");
            if (!box) return done.load();
            GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 512);  // a message box's text control
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return true;
        },
        10000);
    worker.join();
    return {result, narrow(text)};
}

TEST(ModeChange, IsRecordedOnlyByAnAdministratorWithTheServiceInstalledAndTheNetworkReady) {
    CleanMachine clean;
    const std::string restoreFirst = "Restore the network before changing the interruption mode.";
    EXPECT_EQ(changeMode(false), std::pair(1, std::string("Service is not installed. Run Dormalis Setup.")));
    registerStandInService(L"\"" + DefaultFolder + L"\\Dormalis.exe\" --service");
    EXPECT_EQ(changeMode(false), std::pair(1, restoreFirst)) << "a service that never wrote NetworkState";
    for (DWORD state : {1u, 2u, 3u}) {
        setMachineDword(L"NetworkState", state);
        EXPECT_EQ(changeMode(true), std::pair(1, restoreFirst)) << state;
    }
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", L"0");
    EXPECT_EQ(changeMode(true), std::pair(1, restoreFirst)) << "another type cannot vouch for a ready network";
    setMachineDword(L"NetworkState", 0);
    UniqueHandle ordinary = ordinaryUserToken(), view;
    ASSERT_TRUE(DuplicateToken(ordinary.get(), SecurityImpersonation, view.put()));
    EXPECT_EQ(changeMode(true, view.get()), std::pair(1, std::string("Administrator rights required.")));
    EXPECT_EQ(machineDword(L"Firewall"), 0xDEADu) << "nothing is written on a refusal";
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0xDEADu);

    for (bool firewall : {false, true, true}) {  // the mode already recorded is written again and confirmed
        setMachineDword(L"ModeConfigured", 0);
        EXPECT_EQ(changeMode(firewall), std::pair(0, std::string()));
        EXPECT_EQ(machineDword(L"Firewall"), firewall ? 1u : 0u);
        EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);
    }
}

int ticks = 0, ticksWhileEnabled = 0;
void CALLBACK countTick(HWND owner, UINT, UINT_PTR, DWORD) {
    ++ticks;
    if (IsWindowEnabled(owner)) ++ticksWhileEnabled;
}

TEST(Elevation, ReportsTheElevatedCopysExitCodeAndKeepsTheOwnerPaintingButDisabled) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"Elevation owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    SetTimer(owner, 1, 50, countTick);
    EXPECT_TRUE(elevateAndWait(owner, L"--exit-with 0"));
    EXPECT_GT(ticks, 2) << "messages must flow while the copy runs";
    EXPECT_EQ(ticksWhileEnabled, 0) << "the owner is disabled during the wait";
    EXPECT_FALSE(elevateAndWait(owner, L"--exit-with 3"));
    // A window closed while the copy runs posts the quit message, which the program's own loop must still get.
    PostQuitMessage(7);
    EXPECT_TRUE(elevateAndWait(owner, L"--exit-with 0"));
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit message was swallowed";
    EXPECT_EQ(quit.wParam, 7u);
    EXPECT_EQ(runElevated(L"--exit-with 1603", true), ExitFailed) << "the front ends pass the copy's code on";
    EXPECT_TRUE(IsWindowEnabled(owner)) << "enabled again after a failed copy";
    DestroyWindow(owner);
}

}  // namespace
}  // namespace dormalis
