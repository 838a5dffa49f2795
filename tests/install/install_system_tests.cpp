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
#include "install/front_end.h"
#include "setup/setup_controls.h"
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

// Wine's "runas" starts the copy with the caller's own token, so the copy is no administrator either: it must
// try once and report, not start yet another copy.
TEST_F(InstallSystem, AnOrdinaryUsersSetupStartsOneElevatedCopyAndReportsItsResult) {
    UniqueHandle job{CreateJobObjectW(nullptr, nullptr)};
    UniqueHandle process =
        startAsOrdinaryUser(quoted(buildFolder() + L"\\Dormalis Setup.exe") + L" --quiet", job.get());
    EXPECT_EQ(finishProcess(process.get(), SetupTimeoutMs), 1u);
    EXPECT_EQ(processesStartedIn(job.get()), 2u) << "the setup and one elevated copy";
    EXPECT_EQ(machineString(L"LastInstallError"), L"Administrator rights required.");
    EXPECT_FALSE(serviceState().exists);
}

TEST_F(InstallSystem, AnOrdinaryUsersUninstallerRemovesNothing) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    UniqueHandle job{CreateJobObjectW(nullptr, nullptr)};
    UniqueHandle process =
        startAsOrdinaryUser(quoted(buildFolder() + L"\\Uninstall.exe") + L" --uninstall --quiet", job.get());
    EXPECT_EQ(finishProcess(process.get(), 60000), 1u);
    EXPECT_EQ(processesStartedIn(job.get()), 2u) << "the uninstaller and one elevated copy";
    EXPECT_TRUE(exists(InstalledExe));
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 5000), static_cast<DWORD>(SERVICE_RUNNING))
        << "the rights are checked before the service is stopped";
}

TEST_F(InstallSystem, AnUpdateKeepsTheRecordedModeAndConfirmsAnOldAdapterChoice) {
    ASSERT_EQ(setup(L"--quiet --mode adapters"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0u);

    // The recorded adapter mode wins over the flag of the new run, confirmed or not.
    ASSERT_EQ(setup(L"--quiet --mode firewall"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0u) << "an existing ModeConfigured is kept";

    // An older installation that recorded a mode without ModeConfigured chose it for real.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured");
    ASSERT_EQ(setup(L"--quiet --mode firewall"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);

    // A value that is no mode counts as none: the flag is written and ModeConfigured stays as it was.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 2);
    ASSERT_EQ(setup(L"--quiet --mode firewall"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 10000), static_cast<DWORD>(SERVICE_RUNNING))
        << "the updated service runs again";
}

TEST_F(InstallSystem, FailuresAreRecordedAndTheRecordOutlivesALaterSuccess) {
    const std::wstring olderEdition = L"Please uninstall Dormalis 1.x before installing the native edition.";
    registerStandInService(L"\"C:\\Program Files\\Dormalis\\Dormalis.exe\" --service", L"DormalisService");
    EXPECT_EQ(setup(L"--quiet"), 1u);
    EXPECT_EQ(machineString(L"LastInstallError"), olderEdition);
    EXPECT_FALSE(exists(InstalledExe)) << "the 1.x check comes before any file";
    EXPECT_FALSE(serviceState().exists);

    removeInstallation();
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"LastInstallError", olderEdition);
    ASSERT_EQ(setup(L"--quiet"), 0u);
    EXPECT_EQ(machineDword(L"PackageVersion"), 100u);
    EXPECT_EQ(machineString(L"LastInstallError"), olderEdition);
}

TEST_F(InstallSystem, TheQuietSetupValidatesAChosenFolderAndRefusesUnknownOptions) {
    EXPECT_EQ(setup(L"--quiet --dir \"C:\\Program Files\\Dormalis\""), 1u);
    EXPECT_NE(machineString(L"LastInstallError").find(L"Choose a protected folder"), std::wstring::npos)
        << "Wine's folders are all user-writable";
    EXPECT_FALSE(serviceState().exists);

    for (const wchar_t* arguments : {L"--quiet --mode bogus", L"--quiet --dir", L"--quiet --bogus"}) {
        EXPECT_EQ(setup(arguments), 1u) << narrow(arguments);
        EXPECT_EQ(machineString(L"LastInstallError").rfind(L"Usage:", 0), 0u) << narrow(arguments);
    }
    EXPECT_FALSE(exists(InstalledExe));
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
TEST_F(InstallSystem, TheSetupWindowChecksAChosenFolderAndInstallsWithTheChosenMode) {
    settings.language = languageForUi(GetUserDefaultUILanguage());  // what the setup itself chooses
    UniqueHandle process = startProcess(quoted(buildFolder() + L"\\Dormalis Setup.exe"));
    HWND window = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return (window = FindWindowW(L"Dormalis.Native.Setup", L"Dormalis")) != nullptr; }, 20000));
    // The window can be found before its controls exist; the Install button comes last.
    ASSERT_TRUE(waitUntil([&] { return GetDlgItem(window, setup_controls::Install) != nullptr; }, 10000));
    HWND folderField = GetDlgItem(window, setup_controls::Folder);
    HWND message = GetDlgItem(window, setup_controls::FolderMessage);
    HWND install = GetDlgItem(window, setup_controls::Install);
    EXPECT_EQ(controlText(folderField), DefaultFolder) << "the default folder is proposed";
    EXPECT_EQ(controlText(install), text("setup.install"));
    EXPECT_EQ(controlText(GetDlgItem(window, setup_controls::Status)), text("setup.notInstalled"));
    EXPECT_EQ(SendMessageW(GetDlgItem(window, setup_controls::Firewall), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(GetDlgItem(window, setup_controls::Adapters), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(IsWindowEnabled(install));

    const struct {
        const wchar_t* folder;
        const wchar_t* shown;
    } chosen[] = {{L"C:\\no-such-parent\\Dormalis", L"The parent folder must already exist."},
                  {L"D:Tools", L"Choose an absolute local installation folder, not a drive root."},
                  {L"C:\\\\", L"A drive root cannot be an installation folder."}};
    for (const auto& choice : chosen) {
        SendMessageW(folderField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(choice.folder));
        EXPECT_EQ(controlText(message), choice.shown) << narrow(choice.folder);
        EXPECT_FALSE(IsWindowEnabled(install)) << narrow(choice.folder);
    }
    SendMessageW(folderField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(DefaultFolder.c_str()));
    EXPECT_EQ(controlText(message), L"");
    EXPECT_TRUE(IsWindowEnabled(install));

    SendMessageW(GetDlgItem(window, setup_controls::Adapters), BM_CLICK, 0, 0);
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_EQ(widen(answerBox(L"Dormalis", 90000)), text("setup.installSuccess"));
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    EXPECT_EQ(machineDword(L"Firewall"), 0u) << "the adapter mode was chosen";
    EXPECT_EQ(machineDword(L"PackageVersion"), 100u);
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 10000), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(InstallSystem, TheInstalledUninstallerRemovesEverythingButAUsersFile) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    std::ofstream(std::filesystem::path(DefaultFolder + L"\\notes.txt")) << "mine";

    // Started as Windows starts it, from the installation folder: it hands over to a copy outside and leaves.
    ProcessResult uninstaller = runProcess(quoted(DefaultFolder + L"\\Uninstall.exe") + L" --uninstall --quiet", 30000);
    EXPECT_TRUE(uninstaller.finished);
    EXPECT_EQ(uninstaller.exitCode, 0u);
    ASSERT_TRUE(waitUntil([] { return !serviceState().exists && machineString(L"InstallPath") == L"<absent>"; }, 60000))
        << "the uninstallation did not finish";

    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"}) {
        EXPECT_FALSE(exists(DefaultFolder + L"\\" + name)) << narrow(name);
    }
    EXPECT_EQ(contents(DefaultFolder + L"\\notes.txt"), "mine") << "the user's file and its folder stay";
    EXPECT_FALSE(exists(ShortcutPath));
    EXPECT_EQ(entryString(L"DisplayName"), L"<absent>");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, RunKey, ServiceName, L"<absent>"), L"<absent>");
    HKEY machine = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, RegistryPath, 0, KEY_READ, &machine), ERROR_SUCCESS)
        << "the whole machine key goes";
    if (machine) RegCloseKey(machine);
}

TEST_F(InstallSystem, TheProgramsUninstallSwitchRunsTheInstalledUninstallerWhichAsksAndReports) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    settings.language = languageForUi(GetUserDefaultUILanguage());
    // Dormalis.exe starts the installed Uninstall.exe, which asks, hands over to its copy and leaves; the copy
    // removes everything, its own original included, and reports.
    ProcessResult program = runProcess(quoted(buildFolder() + L"\\Dormalis.exe") + L" --uninstall", 30000);
    EXPECT_EQ(program.exitCode, 0u);
    EXPECT_EQ(widen(answerBox(L"Dormalis", 20000, IDYES)), text("setup.uninstallQuestion"));
    EXPECT_EQ(widen(answerBox(L"Dormalis", 60000)), text("setup.uninstallSuccess"));
    EXPECT_TRUE(waitUntil([] { return !exists(DefaultFolder); }, 10000)) << "the folder and Uninstall.exe are gone";
    EXPECT_FALSE(serviceState().exists);
    EXPECT_EQ(machineString(L"InstallPath"), L"<absent>");
    EXPECT_FALSE(exists(ShortcutPath));
}

TEST_F(InstallSystem, AdaptersWaitingForRecoveryStopTheUninstallationAndTheServiceRunsAgain) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    writeString(HKEY_LOCAL_MACHINE, Journal, L"{00000004-0000-0000-0000-4E6574446576}", L"ROOT\\NET\\0000");

    ProcessResult uninstaller = runProcess(quoted(buildFolder() + L"\\Uninstall.exe") + L" --uninstall --quiet", 60000);
    EXPECT_EQ(uninstaller.exitCode, 1u);
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"}) {
        EXPECT_TRUE(exists(DefaultFolder + L"\\" + name)) << narrow(name) << " must not be deleted";
    }
    ServiceState service = serviceState();
    EXPECT_TRUE(service.exists);
    EXPECT_NE(service.state, static_cast<DWORD>(SERVICE_STOPPED)) << "started again to recover the adapters";
    EXPECT_EQ(entryString(L"DisplayName"), L"Dormalis");
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder);
}

TEST_F(InstallSystem, AScreenSaverFileInUseStopsTheUninstallationHalfWayAndASecondRunCompletesIt) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    const std::wstring uninstaller = quoted(buildFolder() + L"\\Uninstall.exe") + L" --uninstall";
    {
        // A preview holds the screen saver open without letting anyone delete it.
        UniqueHandle preview{CreateFileW((DefaultFolder + L"\\Dormalis.scr").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_TRUE(preview.valid());
        UniqueHandle process = startProcess(uninstaller);
        EXPECT_EQ(answerBox(L"Dormalis", 15000, IDYES).rfind("Uninstall Dormalis?", 0), 0u)
            << "the question comes first";
        const std::string failure = answerBox(L"Dormalis Native", 30000);
        EXPECT_EQ(failure, "File is in use. Close screen saver previews and retry uninstall.");
        EXPECT_EQ(finishProcess(process.get(), 15000), 1u);
    }
    EXPECT_FALSE(exists(InstalledExe)) << "files before the held one are gone";
    EXPECT_TRUE(exists(DefaultFolder + L"\\Dormalis.scr"));
    EXPECT_TRUE(exists(DefaultFolder + L"\\Uninstall.exe")) << "the deletion stops at the held file";
    ServiceState service = serviceState();
    EXPECT_TRUE(service.exists);
    EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(entryString(L"DisplayName"), L"Dormalis");
    EXPECT_EQ(machineString(L"InstallPath"), DefaultFolder);

    UniqueHandle again = startProcess(uninstaller);
    EXPECT_EQ(answerBox(L"Dormalis", 15000, IDYES).rfind("Uninstall Dormalis?", 0), 0u);
    EXPECT_EQ(answerBox(L"Dormalis", 30000), "Dormalis has been uninstalled.");
    EXPECT_EQ(finishProcess(again.get(), 15000), 0u);
    EXPECT_FALSE(exists(DefaultFolder));
    EXPECT_FALSE(serviceState().exists);
    EXPECT_EQ(machineString(L"InstallPath"), L"<absent>");
}

TEST_F(InstallSystem, DeclinedUninstallLeavesEverything) {
    ASSERT_EQ(setup(L"--quiet"), 0u) << narrow(machineString(L"LastInstallError"));
    UniqueHandle process = startProcess(quoted(buildFolder() + L"\\Uninstall.exe") + L" --uninstall");
    ProcessResult question = driver(L"message-box Dormalis 15000");
    EXPECT_EQ(question.exitCode, 0u);
    driver(L"press Dormalis " + std::to_wstring(IDNO));
    EXPECT_EQ(finishProcess(process.get(), 15000), 1u);
    EXPECT_TRUE(exists(InstalledExe));
    EXPECT_EQ(waitForServiceState(SERVICE_RUNNING, 5000), static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
}  // namespace dormalis
