#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <exdisp.h>
#include <objbase.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/constants.h"
#include "foundation/contract.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "install/admin.h"
#include "install/event_source.h"
#include "install/folder_validation.h"
#include "install/front_end.h"
#include "install/install.h"
#include "install/mode_change.h"
#include "install/staging.h"
#include "setup/setup_controls.h"
#include "uninstall/uninstall_window.h"
#include "testbed/testbed.h"
#include "tests/support/support.h"

// The installation operations in process; the setup and the uninstaller through windows and command lines.
namespace dormalis {
namespace {

using namespace testing;
namespace controls = setup_controls;

// Every trace of an installation (both editions' services, running installed programs and uninstaller copies).
void removeInstallation() {
    removeService(ServiceName);
    removeService(L"DormalisService");
    UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const std::wstring prefix = DefaultFolder + L"\\";
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        UniqueHandle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                         entry.th32ProcessID)};
        const std::wstring image = process ? imagePath(process.get()) : std::wstring();
        if ((_wcsnicmp(image.c_str(), prefix.c_str(), prefix.size()) == 0 ||
             image.find(L"\\Dormalis-Uninstall-") != std::wstring::npos) &&
            TerminateProcess(process.get(), 99))
            WaitForSingleObject(process.get(), 5000);
    }
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(DefaultFolder), ignored);
    DeleteFileW(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk");
    deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    deleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", ServiceName);
}
struct CleanMachine {
    CleanMachine() { removeInstallation(); }
    ~CleanMachine() { removeInstallation(); }
};

// A stopped service with the given command line, as an installation (or the 1.x edition) registers it.
void registerStandInService(const std::wstring& commandLine, const wchar_t* name = L"DormalisNative") {
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    UniqueService service{CreateServiceW(manager.get(), name, L"Dormalis", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)};
    if (!service) throw std::runtime_error("cannot register the stand-in service");
}

// Held open without delete or write sharing, as a running preview holds the screen saver.
UniqueHandle hold(const std::wstring& path) {
    return UniqueHandle{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
}

// This program plays the elevated copy that elevateAndWait starts: "--exit-with N" records which file runs and
// ends it with N after a while.
const int elevatedCopyStandIn = [] {
    const std::wstring line = GetCommandLineW();
    const size_t at = line.find(L"--exit-with ");
    if (at == std::wstring::npos) return 0;
    writeString(HKEY_CURRENT_USER, RegistryPath, L"ElevatedCopy", ownProgramPath());
    Sleep(400), ExitProcess(static_cast<UINT>(std::stoul(line.substr(at + 12))));
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

constexpr const char* I =
    "Choose a protected folder (for example under Program Files). User-writable parent folders and links are not "
    "safe for a Windows service.";

// The rules in their order. Wine makes the user own every folder, so the walk up the parents (I) refuses the rest.
TEST(FolderValidation, EachRuleRefusesWithItsOwnMessage) {
    CleanMachine clean;
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    std::ofstream(std::filesystem::path(DefaultFolder + L"\\plain.txt")) << "x";
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
    for (const wchar_t forbidden : std::wstring(L"<>\"|?*%"))
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

// Descriptors stand for real Windows folders. The judgement must not depend on who asks: this process holds the
// administrators' full control, as LocalSystem does; the impersonated view is the same user without it.
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

// Programs are staged where users cannot rename the folder away, as its owner can in the user's own %TEMP%, under
// a name no one can prepare: here every name made of this process and the next two seconds' ticks exists first.
TEST(InstallOperations, ProgramsAreStagedInTheWindowsTempFolder) {
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring temp = std::wstring(windows) + L"\\Temp";
    const std::wstring guess = temp + L"\\Dormalis-Test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    const ULONGLONG tick = GetTickCount64() % 1000000;
    for (ULONGLONG n = tick; n < tick + 2000; ++n)
        CreateDirectoryW((guess + std::to_wstring(n)).c_str(), nullptr);
    const std::filesystem::path staged = makePrivateFolder(L"Dormalis-Test");
    EXPECT_TRUE(samePath(staged.parent_path().wstring(), temp)) << staged.string();
    for (ULONGLONG n = tick; n < tick + 2000; ++n)
        RemoveDirectoryW((guess + std::to_wstring(n)).c_str());
    RemoveDirectoryW(staged.c_str());
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

// Wine derives the Unix mode from the descriptor a folder is created with and reports it back as entries.
std::wstring reportedEntries(const std::wstring& folder) {
    UniqueLocal descriptor, text;
    GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                          descriptor.put());
    if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                           descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                           reinterpret_cast<LPWSTR*>(text.put()), nullptr))
        return L"<unreadable>";
    return static_cast<const wchar_t*>(text.get());
}

TEST_F(InstallNative, AFolderFoundInPlaceIsRefusedAndAFreshOneIsCreatedProtected) {
    // Any user may make the folder first, at the recorded path too once the installation's own went missing, and
    // keep a handle to it that outlives the descriptor set later. Parents are never made.
    std::filesystem::create_directories(std::filesystem::path(DefaultFolder));
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", DefaultFolder);
    EXPECT_EQ(installNative(true, program, uninstaller), 1);
    EXPECT_EQ(lastError(), "Cannot secure installation folder.");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(DefaultFolder + L"\\Dormalis.exe")));
    installDirectoryOverride = L"C:\\no-such-parent\\Dormalis";
    EXPECT_EQ(installNative(true, program, uninstaller), 1);
    installDirectoryOverride.clear();
    EXPECT_EQ(lastError(), "The parent folder must already exist.");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(L"C:\\no-such-parent")));

    ASSERT_TRUE(RemoveDirectoryW(DefaultFolder.c_str()));
    ASSERT_EQ(installNative(true, program, uninstaller), 0) << lastError();
    const std::wstring entries = reportedEntries(DefaultFolder);
    EXPECT_EQ(entries.find(L";;;WD)"), std::wstring::npos) << "not created protected: " << narrow(entries);
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder) << "the service and the settings find it there";
}

// A first installation only proposes its mode; an update keeps the recorded one (chosen, if without ModeConfigured).
TEST_F(InstallNative, AnUpdateKeepsTheRecordedModeRefreshesTheScreenSaverEvenFromItselfAndFailsWhenItIsHeld) {
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
             {std::pair{L"Firewall", firewallBefore}, {L"ModeConfigured", configuredBefore}})
            value == Absent ? deleteMachineValue(name) : setMachineDword(name, value);
        ASSERT_EQ(installNative(firewall, program, uninstaller), 0) << lastError();
        EXPECT_EQ(machineDword(L"Firewall"), firewallAfter) << firewallBefore << "/" << configuredBefore;
        EXPECT_EQ(machineDword(L"ModeConfigured"), configuredAfter) << firewallBefore << "/" << configuredBefore;
    }
    // The same file in another letter case is still the installed program itself: it is not copied onto itself.
    std::ofstream(std::filesystem::path(DefaultFolder + L"\\Dormalis.scr")) << "stale screen saver";
    ASSERT_EQ(installNative(true, L"c:\\program files\\dormalisnative\\DORMALIS.EXE", uninstaller), 0) << lastError();
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(program));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(program));
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000)) << "the updated service runs again";

    // A held screen saver fails the update after about five seconds of retries.
    {
        UniqueHandle preview = hold(DefaultFolder + L"\\Dormalis.scr");
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(installNative(true, uninstaller, uninstaller), 1) << "another program shows the copy that did happen";
        EXPECT_GE(GetTickCount64() - start, 4500u);
    }
    EXPECT_EQ(lastError(), "Cannot update the screen saver. Close screen saver settings and previews first.");
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.exe"), contents(uninstaller));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(program));
}

// The elevated copy's work on a thread (as `token` when given): its exit code and the text of its box, answered here.
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

TEST(ModeChange, IsRefusedWithoutAnAdministratorTheServiceOrAReadyNetworkAndThenNothingIsWritten) {
    CleanMachine clean;
    const std::string restoreFirst = "Restore the network before changing the interruption mode.";
    EXPECT_EQ(changeMode(false), std::pair(1, std::string("Service is not installed. Run Dormalis Setup.")));
    registerStandInService(L"\"" + DefaultFolder + L"\\Dormalis.exe\" --service");
    EXPECT_EQ(changeMode(false), std::pair(1, restoreFirst)) << "a service that never wrote NetworkState";
    for (DWORD state : {1u, 3u}) {
        setMachineDword(L"NetworkState", state);
        EXPECT_EQ(changeMode(true), std::pair(1, restoreFirst)) << state;
    }
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", L"0");
    EXPECT_EQ(changeMode(true), std::pair(1, restoreFirst)) << "a text cannot vouch for a ready network";
    setMachineDword(L"NetworkState", 0);
    UniqueHandle ordinary = ordinaryUserToken(), view;
    ASSERT_TRUE(DuplicateToken(ordinary.get(), SecurityImpersonation, view.put()));
    EXPECT_EQ(changeMode(true, view.get()), std::pair(1, std::string("Administrator rights required.")));
    EXPECT_EQ(std::pair(machineDword(L"Firewall"), machineDword(L"ModeConfigured")),
              (std::pair<DWORD, DWORD>(0xDEAD, 0xDEAD)))
        << "nothing is written on a refusal";
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
    // The settings window's copy is the installed program, never the running file: here this one, installed.
    installDirectoryOverride = L"C:\\DormalisElevationTest";
    CreateDirectoryW(installDirectoryOverride.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ownProgramPath().c_str(), installedFile(ProgramFileName).c_str(), FALSE));
    EXPECT_TRUE(elevateAndWait(owner, L"--exit-with 0"));
    EXPECT_EQ(readString(HKEY_CURRENT_USER, RegistryPath, L"ElevatedCopy"), installedFile(ProgramFileName));
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
    EXPECT_EQ(readString(HKEY_CURRENT_USER, RegistryPath, L"ElevatedCopy"), ownProgramPath())
        << "and elevate themselves";
    installDirectoryOverride.clear();
    EXPECT_TRUE(IsWindowEnabled(owner)) << "enabled again after a failed copy";
    DestroyWindow(owner);
}

const std::wstring SetupExe = quoted(buildFolder() + L"\\Dormalis Setup.exe");
const std::wstring UninstallExe = quoted(buildFolder() + L"\\Uninstall.exe");
const std::wstring InstalledExe = DefaultFolder + L"\\Dormalis.exe";
constexpr const wchar_t* ShortcutPath = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk";
constexpr const wchar_t* RunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Any registry value as text: a number in decimal, a list with '|' after each item, "<absent>" when missing.
std::wstring value(const wchar_t* key, const wchar_t* name) {
    DWORD buffer[256] = {}, bytes = sizeof(buffer) - sizeof(wchar_t), type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &bytes) != ERROR_SUCCESS)
        return L"<absent>";
    if (type == REG_DWORD) return std::to_wstring(buffer[0]);
    std::wstring text(reinterpret_cast<const wchar_t*>(buffer),
                      bytes / sizeof(wchar_t) - 1);  // without the last terminator
    std::replace(text.begin(), text.end(), L'\0', L'|');
    return text;
}

// The image of the process that started the window's process.
std::wstring parentImage(HWND window) {
    DWORD child = 0, parent = 0;
    GetWindowThreadProcessId(window, &child);
    UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ProcessID == child) parent = entry.th32ParentProcessID;
    UniqueHandle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent)};
    return process ? imagePath(process.get()) : L"<gone>";
}

HWND uninstallWindow() {
    return FindWindowW(L"Dormalis.Native.Uninstall", nullptr);
}

std::wstring controlText(HWND window, int control) {
    wchar_t buffer[1024] = {};
    SendDlgItemMessageW(window, control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// An ordinary user is a restricted token (Wine's "runas" never refuses); the job would count an elevated copy.
TEST(FrontEnds, TheCommandLineIsCheckedBeforeElevationAndQuietNeverAsksForRights) {
    CleanMachine clean;
    std::vector<std::pair<std::wstring, DWORD>> runs = {{SetupExe + L" --quiet --mode adapters", ExitFailed},
                                                        {UninstallExe + L" --uninstall --quiet", ExitFailed}};
    for (const wchar_t* wrong :
         {L" --quiet --mode bogus", L" --quiet --mode", L" --quiet --dir", L" --quiet --dir \"\"", L" --bogus --quiet"})
        runs.emplace_back(SetupExe + wrong, ExitBadCommandLine);
    for (const wchar_t* wrong : {L" --quiet", L" --uninstall --bogus --quiet"})
        runs.emplace_back(UninstallExe + wrong, ExitBadCommandLine);
    for (const auto& [line, code] : runs) {
        UniqueHandle job{CreateJobObjectW(nullptr, nullptr)}, process = startAsOrdinaryUser(line, job.get());
        EXPECT_EQ(finishProcess(process.get(), 30000), code) << narrow(line);
        EXPECT_EQ(processesOf(job.get()), 1u) << narrow(line) << ": no elevated copy";
    }
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>") << "nothing to record without the machine key";
    EXPECT_EQ(serviceState(), 0u);
}

// The one installation of this area, from the setup window (driven from here by messages) to the uninstaller.
struct InstallSystem : ::testing::Test {
    CleanMachine clean;
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, RegistryPath, L"Language");
        testbed::reset();
    }
};

// On Windows the desktop shell runs before anyone installs; Wine starts it on the first request, which on a
// loaded machine can take longer than the setup waits for it.
bool desktopShellRuns() {
    return waitUntil(
        [] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            UniqueCom<IShellWindows> windows;
            const bool found = SUCCEEDED(
                CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(windows.put())));
            windows.reset();
            CoUninitialize();
            return found;
        },
        60000);
}

TEST_F(InstallSystem, FromTheSetupWindowToTheUninstallerEveryOutcomeIsToldAndRecorded) {
    settings.language = languageForUi(GetUserDefaultUILanguage());  // what the setup itself chooses
    RegDeleteKeyValueW(HKEY_CURRENT_USER, RegistryPath, L"Language");
    registerStandInService(L"\"C:\\Program Files\\Dormalis\\Dormalis.exe\" --service", L"DormalisService");
    // Deployment tools read the exit code: run with rights, a refused quiet installation is never a success.
    const std::wstring olderEdition = L"Please uninstall Dormalis 1.x before installing the native edition.";
    for (const auto& [arguments, reason] :
         {std::pair(L" --quiet", olderEdition), std::pair(L" --quiet --dir C:\\no-such-parent\\Dormalis",
                                                          std::wstring(L"The parent folder must already exist."))}) {
        EXPECT_EQ(runProcess(SetupExe + arguments, 60000).exitCode, static_cast<DWORD>(ExitFailed))
            << narrow(arguments);
        EXPECT_EQ(machineString(L"LastInstallError"), reason);
    }
    UniqueHandle process = startProcess(SetupExe + L" --mode adapters --dir C:\\no-such-parent\\Dormalis");
    HWND window = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return IsWindowVisible(window = FindWindowW(L"Dormalis.Native.Setup", nullptr)); }, 20000))
        << "shown only once its controls are made";
    HWND install = GetDlgItem(window, controls::Install), content = GetDlgItem(window, controls::Content);
    EXPECT_EQ(controlText(content, controls::Folder), L"C:\\no-such-parent\\Dormalis") << "--dir presets the folder";
    EXPECT_EQ(IsDlgButtonChecked(content, controls::Adapters), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(controlText(content, controls::Status), text("setup.notInstalled"));
    EXPECT_EQ(controlText(content, controls::FolderMessage), L"The parent folder must already exist.");
    EXPECT_FALSE(IsWindowEnabled(install));

    SendDlgItemMessageW(content, controls::Folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(DefaultFolder.c_str()));
    EXPECT_EQ(controlText(content, controls::FolderMessage), L"");
    EXPECT_TRUE(IsWindowEnabled(install));

    // The older edition refuses the installation before any file: the reason stays in view and is recorded.
    deleteMachineValue(L"LastInstallError");
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil(
        [&] { return controlText(content, controls::Progress).find(olderEdition) != std::wstring::npos; }, 60000))
        << narrow(controlText(content, controls::Progress));
    EXPECT_EQ(machineString(L"LastInstallError"), olderEdition);
    EXPECT_FALSE(exists(InstalledExe));
    EXPECT_TRUE(IsWindowEnabled(install)) << "Install can be tried again";

    removeInstallation();
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil(
        [&] { return controlText(content, controls::Progress).find(DefaultFolder) != std::wstring::npos; }, 90000))
        << narrow(controlText(content, controls::Progress));
    EXPECT_NE(controlText(content, controls::Progress).find(text("setup.networkModeAdapters")), std::wstring::npos);
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>") << "no failure stands beside a working installation";
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 99), settings.language)
        << "the settings window speaks the language the setup spoke";
    // Open: the settings window starts through the desktop shell, not as the elevated setup's child.
    ASSERT_TRUE(desktopShellRuns());
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_EQ(finishProcess(process.get(), 30000), 0u);
    HWND opened = nullptr;
    EXPECT_TRUE(waitUntil([&] { return (opened = FindWindowW(L"Dormalis.Native.Ui", nullptr)) != nullptr; }, 20000));
    EXPECT_NE(parentImage(opened).find(L"explorer.exe"), std::wstring::npos) << narrow(parentImage(opened));
    PostMessageW(opened, WM_CLOSE, 0, 0);

    const std::wstring serviceKey = L"SYSTEM\\CurrentControlSet\\Services\\DormalisNative";
    // The window's mode is the administrator's choice, confirmed as --mode confirms it.
    const std::tuple<std::wstring, std::wstring, std::wstring> pieces[] = {
        {RegistryPath, L"InstallPath", DefaultFolder},
        {RegistryPath, L"Firewall", L"0"},
        {RegistryPath, L"ModeConfigured", L"1"},
        {RegistryPath, L"PackageVersion", L"100"},
        {UninstallKey, L"DisplayName", L"Dormalis"},
        {UninstallKey, L"UninstallString", L"\"" + DefaultFolder + L"\\Uninstall.exe\" --uninstall"},
        {UninstallKey, L"QuietUninstallString", L"\"" + DefaultFolder + L"\\Uninstall.exe\" --uninstall --quiet"},
        {UninstallKey, L"NoModify", L"1"},
        {UninstallKey, L"NoRepair", L"1"},
        {serviceKey, L"Description", ServiceDescription},
        {RunKey, ServiceName, L"\"" + InstalledExe + L"\" --tray"},
        {serviceKey, L"ImagePath", L"\"" + InstalledExe + L"\" --service"},
        {serviceKey, L"ObjectName", L"LocalSystem"},
        {serviceKey, L"Start", std::to_wstring(SERVICE_AUTO_START)},
        {serviceKey, L"DependOnService", L"BFE|"},
        {EventSourceKey, L"EventMessageFile", InstalledExe}};
    for (const auto& [key, name, expected] : pieces)
        EXPECT_EQ(value(key.c_str(), name.c_str()), expected) << narrow(name);
    EXPECT_GE(std::wcstoull(value(UninstallKey, L"EstimatedSize").c_str(), nullptr, 10) * 1024,
              2 * std::filesystem::file_size(std::filesystem::path(InstalledExe)))
        << "kilobytes of at least the program and the screen saver";
    EXPECT_TRUE(exists(ShortcutPath));
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000));

    // An update's window shows the recorded mode, so that Install keeps it.
    process = startProcess(SetupExe);
    ASSERT_TRUE(
        waitUntil([&] { return IsWindowVisible(window = FindWindowW(L"Dormalis.Native.Setup", nullptr)); }, 20000));
    EXPECT_EQ(IsDlgButtonChecked(GetDlgItem(window, controls::Content), controls::Adapters),
              static_cast<UINT>(BST_CHECKED));
    PostMessageW(GetDlgItem(window, controls::Cancel), BM_CLICK, 0, 0);
    EXPECT_EQ(finishProcess(process.get(), 15000), static_cast<DWORD>(ExitCancelled));

    // A quiet update with a mode records it as the administrator's choice: a standard user can Enable at once.
    ASSERT_EQ(runProcess(SetupExe + L" --quiet --mode firewall", 60000).exitCode, 0u)
        << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(std::pair(machineDword(L"Firewall"), machineDword(L"ModeConfigured")), (std::pair<DWORD, DWORD>(1, 1)));
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000)) << "the updated service runs again";

    UniqueHandle declined = startProcess(UninstallExe + L" --uninstall");
    const std::wstring asked = widen(answerBox(L"Dormalis", 15000, IDNO));
    EXPECT_NE(asked.find(L"Dormalis"), std::wstring::npos) << "it asks first";
    EXPECT_NE(asked, text("setup.uninstallQuestion")) << "firewall mode leaves no adapters to speak of";
    EXPECT_EQ(finishProcess(declined.get(), 15000), static_cast<DWORD>(ExitCancelled));

    // The installed uninstaller: Wine's configuration manager cannot give a listed adapter back, so it refuses.
    const wchar_t* lost = L"{00000004-0000-0000-0000-4E6574446576}";
    writeString(HKEY_LOCAL_MACHINE, Journal, lost, L"ROOT\\NET\\0000");
    EXPECT_EQ(runProcess(quoted(DefaultFolder + L"\\Uninstall.exe") + L" --uninstall --quiet", 60000).exitCode,
              static_cast<DWORD>(ExitFailed));
    EXPECT_EQ(machineString(L"LastInstallError"),
              L"Some adapters still need recovery. Restart Windows before uninstalling.");
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"})
        EXPECT_TRUE(exists(DefaultFolder + L"\\" + name)) << narrow(name) << " must stay";
    EXPECT_NE(serviceState(), static_cast<DWORD>(SERVICE_STOPPED)) << "started again to recover the adapters";
    EXPECT_EQ(value(UninstallKey, L"DisplayName"), L"Dormalis");

    // The build's uninstaller (beside the test bed) brings the adapter back, but stops half-way at a held saver.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Journal, lost);
    testbed::reset();
    const testbed::Adapter adapter{L"ROOT\\NET\\DU01", L"{00000001-0000-0000-0000-4E6574446576}", 6, true,
                                   testbed::DeviceDisabled};
    testbed::addAdapter(adapter);
    writeString(HKEY_LOCAL_MACHINE, Journal, adapter.id.c_str(), adapter.id);
    {
        UniqueHandle preview = hold(DefaultFolder + L"\\Dormalis.scr");
        ASSERT_TRUE(preview.valid());
        UniqueHandle removal = startProcess(UninstallExe + L" --uninstall");
        answerBox(L"Dormalis", 15000, IDYES);
        std::vector<std::wstring> shown;  // the window's texts in turn
        const std::wstring reason = L"File is in use. Close screen saver previews and retry uninstall.";
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::wstring now = controlText(uninstallWindow(), UninstallProgress);
                if (!now.empty() && (shown.empty() || shown.back() != now)) shown.push_back(now);
                return now.find(reason) != std::wstring::npos;
            },
            60000));
        EXPECT_NE(std::find(shown.begin(), shown.end(), stageText(InstallStep::Removing)), shown.end());
        PostMessageW(GetDlgItem(uninstallWindow(), UninstallClose), BM_CLICK, 0, 0);
        EXPECT_EQ(finishProcess(removal.get(), 15000), static_cast<DWORD>(ExitFailed));
    }
    EXPECT_EQ(testbed::deviceState(adapter.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(machineString(L"LastInstallError"), L"File is in use. Close screen saver previews and retry uninstall.");
    EXPECT_FALSE(exists(InstalledExe)) << "files before the held one are gone";
    EXPECT_TRUE(exists(DefaultFolder + L"\\Uninstall.exe")) << "the deletion stops at the held file";
    EXPECT_EQ(serviceState(), 0u) << "what names the folder went before its files";
    EXPECT_EQ(value(RunKey, ServiceName) + value(UninstallKey, L"DisplayName") + machineString(L"InstallPath"),
              L"<absent><absent><absent>");
    EXPECT_FALSE(exists(ShortcutPath));

    // Dormalis.exe starts the installed uninstaller, which removes all, itself included, but the user's file. A
    // recovery entry no restore can read (not a string) holds nothing up.
    std::ofstream(std::filesystem::path(DefaultFolder + L"\\notes.txt")) << "mine";
    writeDword(HKEY_LOCAL_MACHINE, Journal, L"{00000002-0000-0000-0000-4E6574446576}", 1);
    setMachineDword(L"Firewall", 0);
    EXPECT_EQ(runProcess(quoted(buildFolder() + L"\\Dormalis.exe") + L" --uninstall", 60000).exitCode, 0u);
    EXPECT_EQ(widen(answerBox(L"Dormalis", 20000, IDYES)), text("setup.uninstallQuestion")) << "adapter mode";
    EXPECT_TRUE(waitUntil(
        [&] { return controlText(uninstallWindow(), UninstallProgress) == text("setup.uninstallSuccess"); }, 60000));
    PostMessageW(GetDlgItem(uninstallWindow(), UninstallClose), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return !exists(DefaultFolder + L"\\Uninstall.exe"); }, 10000));
    EXPECT_TRUE(exists(DefaultFolder + L"\\notes.txt"));
    EXPECT_EQ(serviceState(), 0u);
    EXPECT_FALSE(exists(ShortcutPath));
    EXPECT_EQ(value(RunKey, ServiceName), L"<absent>");
    for (const wchar_t* key : {RegistryPath, UninstallKey, EventSourceKey}) {
        UniqueKey left;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, left.put()), ERROR_SUCCESS) << narrow(key);
    }
}

}  // namespace
}  // namespace dormalis
