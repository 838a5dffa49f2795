#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/unique.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "install/admin.h"
#include "install/event_source.h"
#include "install/front_end.h"
#include "setup/setup_controls.h"
#include "testbed/testbed.h"
#include "tests/install/install_fixture.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr DWORD SetupTimeoutMs = 120000;
const std::wstring InstalledExe = DefaultFolder + L"\\Dormalis.exe";
constexpr const wchar_t* ShortcutPath = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk";
constexpr const wchar_t* RunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* ServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\DormalisNative";

DWORD setup(const std::wstring& arguments) {
    ProcessResult result =
        runProcess(quoted(buildFolder() + L"\\Dormalis Setup.exe") + L" " + arguments, SetupTimeoutMs);
    return result.finished ? result.exitCode : STILL_ACTIVE;
}

DWORD machineDword(const wchar_t* name) {
    return readDword(HKEY_LOCAL_MACHINE, RegistryPath, name, 0xDEAD);
}
std::wstring machineString(const wchar_t* name) {
    return readString(HKEY_LOCAL_MACHINE, RegistryPath, name, L"<absent>");
}
std::wstring entryString(const wchar_t* name) {
    return readString(HKEY_LOCAL_MACHINE, UninstallKey, name, L"<absent>");
}

std::string contents(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct ServiceState {
    bool exists = false;
    DWORD state = 0;
    QUERY_SERVICE_CONFIGW config{};
    std::wstring binaryPath, account, displayName;
};

ServiceState serviceState() {
    ServiceState result;
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    UniqueService service{OpenServiceW(manager.get(), ServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG)};
    if (!service) return result;
    result.exists = true;
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status)) result.state = status.dwCurrentState;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed)) {
        result.config = *reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        result.binaryPath = result.config.lpBinaryPathName ? result.config.lpBinaryPathName : L"";
        result.account = result.config.lpServiceStartName ? result.config.lpServiceStartName : L"";
        result.displayName = result.config.lpDisplayName ? result.config.lpDisplayName : L"";
    }
    return result;
}

DWORD waitForServiceState(DWORD wanted, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD state = serviceState().state;
    while (state != wanted && GetTickCount64() < deadline) {
        Sleep(100);
        state = serviceState().state;
    }
    return state;
}

// Wine's configuration query leaves the dependency list empty; the registry holds what was registered.
std::wstring registeredDependencies() {
    wchar_t buffer[256] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, ServiceKey, L"DependOnService", RRF_RT_ANY, &type, buffer, &bytes) !=
        ERROR_SUCCESS) {
        return L"<absent>";
    }
    std::wstring list(buffer, bytes / sizeof(wchar_t));
    for (wchar_t& c : list)
        if (c == L'\0') c = L'|';
    return (type == REG_MULTI_SZ ? L"multi:" : L"other:") + list;
}

struct Shortcut {
    std::wstring path, workingFolder, icon;
    int iconIndex = -1;
};

Shortcut readShortcut(const std::wstring& file) {
    Shortcut result;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return result;
    }
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
            wchar_t text[MAX_PATH] = {};
            if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) result.path = text;
            if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) result.workingFolder = text;
            if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &result.iconIndex))) result.icon = text;
        }
        persist->Release();
    }
    link->Release();
    return result;
}

class InstallSystem : public ::testing::Test {
  protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
    CleanMachine clean;
};

TEST_F(InstallSystem, AQuietInstallPutsEveryPieceInPlaceAndStartsTheService) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));

    EXPECT_EQ(contents(InstalledExe), contents(buildFolder() + L"\\Dormalis.exe"));
    EXPECT_EQ(contents(DefaultFolder + L"\\Dormalis.scr"), contents(buildFolder() + L"\\Dormalis.exe"));
    EXPECT_EQ(contents(DefaultFolder + L"\\Uninstall.exe"), contents(buildFolder() + L"\\Uninstall.exe"));
    EXPECT_GT(contents(InstalledExe).size(), 100000u);

    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0u) << "a first installation's mode is only a default";
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder);
    EXPECT_EQ(machineDword(L"PackageVersion"), 100u);
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>");

    EXPECT_EQ(entryString(L"DisplayName"), L"Dormalis");
    EXPECT_EQ(entryString(L"DisplayVersion"), L"1.0.0");
    EXPECT_EQ(entryString(L"Publisher"), L"Dormalis");
    EXPECT_EQ(entryString(L"InstallLocation"), DefaultFolder);
    EXPECT_EQ(entryString(L"DisplayIcon"), InstalledExe);
    EXPECT_EQ(entryString(L"UninstallString"), L"\"" + DefaultFolder + L"\\Uninstall.exe\" --uninstall");
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, UninstallKey, L"NoModify", 0), 1u);
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, UninstallKey, L"NoRepair", 0), 1u);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, RunKey, ServiceName), L"\"" + InstalledExe + L"\" --tray");

    Shortcut shortcut = readShortcut(ShortcutPath);
    EXPECT_TRUE(samePath(shortcut.path, InstalledExe)) << narrow(shortcut.path);
    EXPECT_TRUE(samePath(shortcut.workingFolder, DefaultFolder)) << narrow(shortcut.workingFolder);
    EXPECT_TRUE(samePath(shortcut.icon, InstalledExe)) << narrow(shortcut.icon);
    EXPECT_EQ(shortcut.iconIndex, 0);

    ServiceState service = serviceState();
    ASSERT_TRUE(service.exists);
    EXPECT_EQ(service.config.dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(service.config.dwServiceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(service.config.dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(service.binaryPath, L"\"" + InstalledExe + L"\" --service");
    EXPECT_EQ(service.account, L"LocalSystem");
    EXPECT_EQ(service.displayName, L"Dormalis");
    EXPECT_EQ(registeredDependencies(), L"multi:BFE||");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, EventSourceKey, L"EventMessageFile"), InstalledExe);
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, EventSourceKey, L"TypesSupported", 0), 7u) << "error, warning, information";
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 10000), static_cast<DWORD>(SERVICE_RUNNING));
}

DWORD processesStartedIn(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                   nullptr)) {
        return 0;
    }
    return accounting.TotalProcesses;
}

// An ordinary user is played by a restricted token (Wine's "runas" never refuses); the job counts the processes, so
// an elevated copy would show.
TEST_F(InstallSystem, TheCommandLineIsCheckedBeforeElevationAndQuietNeverAsksForRights) {
    const std::wstring setupExe = quoted(buildFolder() + L"\\Dormalis Setup.exe");
    const std::wstring uninstallExe = quoted(buildFolder() + L"\\Uninstall.exe");
    const struct {
        std::wstring line;
        DWORD code;
    } runs[] = {{setupExe + L" --quiet --mode bogus", ExitBadCommandLine},
                {setupExe + L" --quiet --mode", ExitBadCommandLine},
                {setupExe + L" --quiet --dir", ExitBadCommandLine},
                {setupExe + L" --quiet --dir \"\"", ExitBadCommandLine},
                {setupExe + L" --bogus --quiet", ExitBadCommandLine},
                {uninstallExe + L" --quiet", ExitBadCommandLine},
                {uninstallExe + L" --uninstall --bogus --quiet", ExitBadCommandLine},
                {setupExe + L" --quiet --mode adapters", ExitFailed},
                {uninstallExe + L" --uninstall --quiet", ExitFailed}};
    for (const auto& run : runs) {
        UniqueHandle job{CreateJobObjectW(nullptr, nullptr)};
        UniqueHandle process = startAsOrdinaryUser(run.line, job.get());
        EXPECT_EQ(finishProcess(process.get(), 30000), run.code) << narrow(run.line);
        EXPECT_EQ(processesStartedIn(job.get()), 1u) << narrow(run.line) << ": no elevated copy";
    }
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>") << "nothing to record without the machine key";
    EXPECT_FALSE(serviceState().exists);
}

TEST_F(InstallSystem, AQuietModeIsTheAdministratorsChoiceAndOtherwiseAnUpdateKeepsTheRecordedMode) {
    ASSERT_EQ(setup(L"--quiet --mode adapters"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u) << "a standard user can Enable without an administrator";

    // Without --mode the recorded adapter mode wins over the setup's default, confirmed or not.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 0);
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0u) << "an existing ModeConfigured is kept";

    // An older installation that recorded a mode without ModeConfigured chose it for real.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured");
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);

    // A value that is no mode counts as none: the default is written and ModeConfigured stays as it was.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 2);
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);

    // An explicit mode replaces the recorded one on an update too.
    ASSERT_EQ(setup(L"--quiet --mode adapters"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 10000), static_cast<DWORD>(SERVICE_RUNNING))
        << "the updated service runs again";
}

TEST_F(InstallSystem, FailuresAreRecordedAndALaterSuccessRemovesTheRecord) {
    const std::wstring olderEdition = L"Please uninstall Dormalis 1.x before installing the native edition.";
    registerStandInService(L"\"C:\\Program Files\\Dormalis\\Dormalis.exe\" --service", L"DormalisService");
    EXPECT_EQ(setup(L"--quiet"), static_cast<DWORD>(ExitFailed));
    EXPECT_EQ(machineString(L"LastInstallError"), olderEdition);
    EXPECT_FALSE(exists(InstalledExe)) << "the 1.x check comes before any file";
    EXPECT_FALSE(serviceState().exists);

    removeInstallation();
    EXPECT_EQ(setup(L"--quiet --dir \"C:\\Program Files\\Dormalis\""), static_cast<DWORD>(ExitFailed));
    EXPECT_NE(machineString(L"LastInstallError").find(L"Choose a protected folder"), std::wstring::npos)
        << "Wine's folders are all user-writable";
    EXPECT_FALSE(serviceState().exists);

    ASSERT_EQ(setup(L"--quiet"), 0u);
    EXPECT_EQ(machineDword(L"PackageVersion"), 100u);
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>") << "no failure stands beside a working installation";
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > deadline) return false;
        Sleep(200);
    }
    return true;
}

std::wstring controlText(HWND control) {
    wchar_t buffer[1024] = {};
    SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// The window is driven from this process: WM_SETTEXT and button messages are carried across processes.
TEST_F(InstallSystem, TheSetupWindowIsPresetKeepsAFailureInViewAndEndsOnWhereAndHow) {
    settings.language = languageForUi(GetUserDefaultUILanguage());  // what the setup itself chooses
    RegDeleteKeyValueW(HKEY_CURRENT_USER, RegistryPath, L"Language");
    registerStandInService(L"\"C:\\Program Files\\Dormalis\\Dormalis.exe\" --service", L"DormalisService");
    UniqueHandle process = startProcess(quoted(buildFolder() + L"\\Dormalis Setup.exe") +
                                        L" --mode adapters --dir C:\\no-such-parent\\Dormalis");
    HWND window = nullptr;
    // Shown only once its controls are made.
    ASSERT_TRUE(
        waitUntil([&] { return IsWindowVisible(window = FindWindowW(L"Dormalis.Native.Setup", nullptr)); }, 20000));
    HWND folderField = GetDlgItem(window, setup_controls::Folder);
    HWND message = GetDlgItem(window, setup_controls::FolderMessage);
    HWND install = GetDlgItem(window, setup_controls::Install);
    HWND progress = GetDlgItem(window, setup_controls::Progress);
    EXPECT_EQ(controlText(folderField), L"C:\\no-such-parent\\Dormalis") << "--dir presets the folder";
    EXPECT_EQ(SendMessageW(GetDlgItem(window, setup_controls::Adapters), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(controlText(GetDlgItem(window, setup_controls::Status)), text("setup.notInstalled"));
    EXPECT_EQ(controlText(message), L"The parent folder must already exist.");
    EXPECT_FALSE(IsWindowEnabled(install));

    // Browse opens the folder picker; a chosen folder that holds files gets the product's own folder inside.
    PostMessageW(GetDlgItem(window, setup_controls::Browse), BM_CLICK, 0, 0);
    HWND picker = nullptr, name = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (picker = FindWindowW(L"#32770", nullptr)) != nullptr; }, 10000));
    EnumChildWindows(
        picker,
        [](HWND child, LPARAM found) {
            if (GetDlgCtrlID(child) == 1152) *reinterpret_cast<HWND*>(found) = child;  // the file name field
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&name));
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"C:\\windows"));
    PostMessageW(picker, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return controlText(folderField) == L"C:\\windows\\DormalisNative"; }, 10000))
        << narrow(controlText(folderField));
    EXPECT_FALSE(IsWindowEnabled(install)) << "a chosen folder is checked; Wine's folders are all user-writable";
    SendMessageW(folderField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(DefaultFolder.c_str()));
    EXPECT_EQ(controlText(message), L"");
    EXPECT_TRUE(IsWindowEnabled(install));

    // The older edition refuses the installation: the reason stays in view and Install can be tried again.
    PostMessageW(install, BM_CLICK, 0, 0);
    const std::wstring refusal = L"Please uninstall Dormalis 1.x before installing the native edition.";
    EXPECT_TRUE(waitUntil([&] { return controlText(progress).find(refusal) != std::wstring::npos; }, 60000))
        << narrow(controlText(progress));
    EXPECT_TRUE(IsWindow(window) && IsWindowEnabled(install));

    removeInstallation();
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return controlText(progress).find(DefaultFolder) != std::wstring::npos; }, 90000))
        << narrow(controlText(progress));
    EXPECT_NE(controlText(progress).find(text("setup.networkModeAdapters")), std::wstring::npos) << "in which mode";
    EXPECT_EQ(machineDword(L"Firewall"), 0u) << "the adapter mode was chosen";
    EXPECT_EQ(machineDword(L"PackageVersion"), 100u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 99), settings.language)
        << "the settings window speaks the language the setup spoke";
    PostMessageW(GetDlgItem(window, setup_controls::Cancel), BM_CLICK, 0, 0);
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, RegistryPath, L"Language");
}

// The uninstaller Windows runs is the installed one: its exit code must be the outcome of the whole removal.
TEST_F(InstallSystem, TheInstalledUninstallerRefusesWhileAdaptersWaitThenRemovesEverythingButAUsersFile) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    // Wine's configuration manager locates no adapter, so nobody can give this one back.
    const wchar_t* adapter = L"{00000004-0000-0000-0000-4E6574446576}";
    writeString(HKEY_LOCAL_MACHINE, Journal, adapter, L"ROOT\\NET\\0000");
    const std::wstring installed = quoted(DefaultFolder + L"\\Uninstall.exe") + L" --uninstall --quiet";
    EXPECT_EQ(runProcess(installed, 60000).exitCode, static_cast<DWORD>(ExitFailed));
    EXPECT_EQ(machineString(L"LastInstallError"),
              L"Some adapters still need recovery. Restart Windows before uninstalling.");
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"}) {
        EXPECT_TRUE(exists(DefaultFolder + L"\\" + name)) << narrow(name) << " must stay";
    }
    EXPECT_NE(serviceState().state, static_cast<DWORD>(SERVICE_STOPPED)) << "started again to recover the adapters";
    EXPECT_EQ(entryString(L"DisplayName"), L"Dormalis");

    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Journal, adapter);
    std::ofstream(std::filesystem::path(DefaultFolder + L"\\notes.txt")) << "mine";
    EXPECT_EQ(runProcess(installed, 60000).exitCode, 0u) << narrow(machineString(L"LastInstallError"));
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"}) {
        EXPECT_FALSE(exists(DefaultFolder + L"\\" + name)) << narrow(name);
    }
    EXPECT_EQ(contents(DefaultFolder + L"\\notes.txt"), "mine") << "the user's file and its folder stay";
    EXPECT_FALSE(serviceState().exists);
    EXPECT_FALSE(exists(ShortcutPath));
    EXPECT_EQ(entryString(L"DisplayName"), L"<absent>");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, RunKey, ServiceName, L"<absent>"), L"<absent>");
    for (const wchar_t* key : {RegistryPath, EventSourceKey}) {
        HKEY left = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &left), ERROR_SUCCESS) << narrow(key);
        if (left) RegCloseKey(left);
    }
}

// The test bed's configuration manager beside it lets the uninstaller enable the listed adapter and go on.
TEST_F(InstallSystem, TheUninstallerBringsAListedAdapterBackItselfAndGoesOn) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    testbed::reset();
    const testbed::Adapter adapter{L"ROOT\\NET\\DU01", L"{00000001-0000-0000-0000-4E6574446576}", 6, true,
                                   testbed::DeviceDisabled};
    testbed::addAdapter(adapter);
    writeString(HKEY_LOCAL_MACHINE, Journal, adapter.id.c_str(), adapter.id);
    const std::wstring uninstaller = quoted(buildFolder() + L"\\Uninstall.exe") + L" --uninstall --quiet";
    EXPECT_EQ(runProcess(uninstaller, 60000).exitCode, 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(testbed::deviceState(adapter.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_FALSE(exists(DefaultFolder));
    EXPECT_FALSE(serviceState().exists);
    testbed::reset();
}

TEST_F(InstallSystem, TheUninstallerAsksFirstAndASecondRunCompletesARemovalThatStoppedHalfWay) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    settings.language = languageForUi(GetUserDefaultUILanguage());
    const std::wstring uninstaller = quoted(buildFolder() + L"\\Uninstall.exe") + L" --uninstall";
    UniqueHandle declined = startProcess(uninstaller);
    EXPECT_EQ(widen(answerBox(L"Dormalis", 15000, IDNO)), text("setup.uninstallQuestion"));
    EXPECT_EQ(finishProcess(declined.get(), 15000), static_cast<DWORD>(ExitCancelled));
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 5000), static_cast<DWORD>(SERVICE_RUNNING));
    const std::string inUse = "File is in use. Close screen saver previews and retry uninstall.";
    {
        // A preview holds the screen saver open without letting anyone delete it.
        UniqueHandle preview{CreateFileW((DefaultFolder + L"\\Dormalis.scr").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_TRUE(preview.valid());
        UniqueHandle process = startProcess(uninstaller);
        answerBox(L"Dormalis", 15000, IDYES);
        EXPECT_EQ(answerBox(L"Dormalis Native", 30000), inUse);
        EXPECT_EQ(finishProcess(process.get(), 15000), static_cast<DWORD>(ExitFailed));
    }
    EXPECT_EQ(narrow(machineString(L"LastInstallError")), inUse);
    EXPECT_FALSE(exists(InstalledExe)) << "files before the held one are gone";
    EXPECT_TRUE(exists(DefaultFolder + L"\\Uninstall.exe")) << "the deletion stops at the held file";
    EXPECT_EQ(serviceState().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder);

    // Dormalis.exe starts the installed uninstaller, which now removes everything, its own file and folder included.
    EXPECT_EQ(runProcess(quoted(buildFolder() + L"\\Dormalis.exe") + L" --uninstall", 30000).exitCode, 0u);
    answerBox(L"Dormalis", 20000, IDYES);
    EXPECT_EQ(widen(answerBox(L"Dormalis", 60000)), text("setup.uninstallSuccess"));
    EXPECT_TRUE(waitUntil([] { return !exists(DefaultFolder); }, 10000)) << "the folder and Uninstall.exe are gone";
    EXPECT_FALSE(serviceState().exists);
    EXPECT_EQ(machineString(L"InstallPath"), L"<absent>");
}

}  // namespace
}  // namespace dormalis
