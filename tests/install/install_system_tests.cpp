#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "install/event_source.h"
#include "install/front_end.h"
#include "setup/setup_controls.h"
#include "testbed/testbed.h"
#include "tests/install/install_fixture.h"

namespace dormalis {
namespace {

using namespace testing;
namespace controls = setup_controls;

const std::wstring SetupExe = quoted(buildFolder() + L"\\Dormalis Setup.exe");
const std::wstring UninstallExe = quoted(buildFolder() + L"\\Uninstall.exe");
const std::wstring InstalledExe = DefaultFolder + L"\\Dormalis.exe";
constexpr const wchar_t* ShortcutPath = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk";
constexpr const wchar_t* RunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

DWORD run(const std::wstring& commandLine) {
    return runProcess(commandLine, 120000).exitCode;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Any registry value as text: a number in decimal, a list with '|' after each item, "<absent>" when missing.
std::wstring value(const wchar_t* key, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t), type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &bytes) != ERROR_SUCCESS)
        return L"<absent>";
    DWORD number = 0;
    std::memcpy(&number, buffer, sizeof(number));
    if (type == REG_DWORD) return std::to_wstring(number);
    std::wstring text(buffer, bytes / sizeof(wchar_t));
    for (wchar_t& c : text)
        if (c == L'\0') c = L'|';
    return type == REG_MULTI_SZ ? text : text.substr(0, text.find(L'|'));
}

std::wstring controlText(HWND window, int control) {
    wchar_t buffer[1024] = {};
    SendDlgItemMessageW(window, control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// An ordinary user is played by a restricted token (Wine's "runas" never refuses); the job counts the processes, so
// an elevated copy would show.
TEST(FrontEnds, TheCommandLineIsCheckedBeforeElevationAndQuietNeverAsksForRights) {
    CleanMachine clean;
    const struct {
        std::wstring line;
        DWORD code;
    } runs[] = {{SetupExe + L" --quiet --mode bogus", ExitBadCommandLine},
                {SetupExe + L" --quiet --mode", ExitBadCommandLine},
                {SetupExe + L" --quiet --dir", ExitBadCommandLine},
                {SetupExe + L" --quiet --dir \"\"", ExitBadCommandLine},
                {SetupExe + L" --bogus --quiet", ExitBadCommandLine},
                {UninstallExe + L" --quiet", ExitBadCommandLine},
                {UninstallExe + L" --uninstall --bogus --quiet", ExitBadCommandLine},
                {SetupExe + L" --quiet --mode adapters", ExitFailed},
                {UninstallExe + L" --uninstall --quiet", ExitFailed}};
    for (const auto& [line, code] : runs) {
        UniqueHandle job{CreateJobObjectW(nullptr, nullptr)};
        UniqueHandle process = startAsOrdinaryUser(line, job.get());
        EXPECT_EQ(finishProcess(process.get(), 30000), code) << narrow(line);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                  nullptr);
        EXPECT_EQ(accounting.TotalProcesses, 1u) << narrow(line) << ": no elevated copy";
    }
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>") << "nothing to record without the machine key";
    EXPECT_EQ(serviceState(), 0u);
}

// The one installation of this area, from the setup window (the quiet setup runs on the end-to-end road) to the
// uninstaller; the window is driven from here, as WM_SETTEXT and button messages are carried across processes.
struct InstallSystem : ::testing::Test {
    CleanMachine clean;
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, RegistryPath, L"Language");
        testbed::reset();
    }
};

TEST_F(InstallSystem, FromTheSetupWindowToTheUninstallerEveryOutcomeIsToldAndRecorded) {
    ASSERT_EQ(run(SetupExe + L" --quiet --dir \"C:\\Program Files\\Dormalis\""), static_cast<DWORD>(ExitFailed));
    EXPECT_NE(machineString(L"LastInstallError").find(L"Choose a protected folder"), std::wstring::npos)
        << "a quiet refusal is recorded; Wine's folders are all user-writable";

    settings.language = languageForUi(GetUserDefaultUILanguage());  // what the setup itself chooses
    RegDeleteKeyValueW(HKEY_CURRENT_USER, RegistryPath, L"Language");
    registerStandInService(L"\"C:\\Program Files\\Dormalis\\Dormalis.exe\" --service", L"DormalisService");
    UniqueHandle process = startProcess(SetupExe + L" --mode adapters --dir C:\\no-such-parent\\Dormalis");
    HWND window = nullptr;
    // Shown only once its controls are made.
    ASSERT_TRUE(
        waitUntil([&] { return IsWindowVisible(window = FindWindowW(L"Dormalis.Native.Setup", nullptr)); }, 20000));
    HWND install = GetDlgItem(window, controls::Install);
    EXPECT_EQ(controlText(window, controls::Folder), L"C:\\no-such-parent\\Dormalis") << "--dir presets the folder";
    EXPECT_EQ(IsDlgButtonChecked(window, controls::Adapters), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(controlText(window, controls::Status), text("setup.notInstalled"));
    EXPECT_EQ(controlText(window, controls::FolderMessage), L"The parent folder must already exist.");
    EXPECT_FALSE(IsWindowEnabled(install));

    SendDlgItemMessageW(window, controls::Folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(DefaultFolder.c_str()));
    EXPECT_EQ(controlText(window, controls::FolderMessage), L"");
    EXPECT_TRUE(IsWindowEnabled(install));

    // The older edition refuses the installation before any file: the reason stays in view and is recorded.
    const std::wstring olderEdition = L"Please uninstall Dormalis 1.x before installing the native edition.";
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil(
        [&] { return controlText(window, controls::Progress).find(olderEdition) != std::wstring::npos; }, 60000))
        << narrow(controlText(window, controls::Progress));
    EXPECT_EQ(machineString(L"LastInstallError"), olderEdition);
    EXPECT_FALSE(exists(InstalledExe));
    EXPECT_TRUE(IsWindowEnabled(install)) << "Install can be tried again";

    removeInstallation();
    PostMessageW(install, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil(
        [&] { return controlText(window, controls::Progress).find(DefaultFolder) != std::wstring::npos; }, 90000))
        << narrow(controlText(window, controls::Progress));
    EXPECT_NE(controlText(window, controls::Progress).find(text("setup.networkModeAdapters")), std::wstring::npos);
    EXPECT_EQ(machineString(L"LastInstallError"), L"<absent>") << "no failure stands beside a working installation";
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 99), settings.language)
        << "the settings window speaks the language the setup spoke";
    PostMessageW(GetDlgItem(window, controls::Cancel), BM_CLICK, 0, 0);
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);

    const std::wstring serviceKey = L"SYSTEM\\CurrentControlSet\\Services\\DormalisNative";
    const std::wstring folder = DefaultFolder, exe = InstalledExe;
    const struct {
        std::wstring key, name, expected;
    } pieces[] = {
        {RegistryPath, L"InstallPath", folder},
        {RegistryPath, L"Firewall", L"0"},
        {RegistryPath, L"ModeConfigured", L"0"},  // the window's mode is only proposed, as on a first installation
        {RegistryPath, L"PackageVersion", L"100"},
        {UninstallKey, L"DisplayName", L"Dormalis"},
        {UninstallKey, L"UninstallString", L"\"" + folder + L"\\Uninstall.exe\" --uninstall"},
        {RunKey, ServiceName, L"\"" + exe + L"\" --tray"},
        {serviceKey, L"ImagePath", L"\"" + exe + L"\" --service"},
        {serviceKey, L"ObjectName", L"LocalSystem"},
        {serviceKey, L"Start", std::to_wstring(SERVICE_AUTO_START)},
        {serviceKey, L"DependOnService", L"BFE||"},
        {EventSourceKey, L"EventMessageFile", exe},
    };
    for (const auto& piece : pieces)
        EXPECT_EQ(value(piece.key.c_str(), piece.name.c_str()), piece.expected) << narrow(piece.name);
    EXPECT_TRUE(exists(ShortcutPath));
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"})
        EXPECT_TRUE(exists(folder + L"\\" + name)) << narrow(name);
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000));

    // A quiet update with a mode records it as the administrator's choice: a standard user can Enable at once.
    ASSERT_EQ(run(SetupExe + L" --quiet --mode firewall"), 0u) << narrow(machineString(L"LastInstallError"));
    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);
    EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000)) << "the updated service runs again";

    // The uninstaller asks first.
    UniqueHandle declined = startProcess(UninstallExe + L" --uninstall");
    EXPECT_EQ(widen(answerBox(L"Dormalis", 15000, IDNO)), text("setup.uninstallQuestion"));
    EXPECT_EQ(finishProcess(declined.get(), 15000), static_cast<DWORD>(ExitCancelled));

    // The installed uninstaller, which Windows runs, tells the outcome of the whole removal. Wine's configuration
    // manager locates no adapter, so nobody can give this listed one back: it refuses and leaves all in place.
    const wchar_t* lost = L"{00000004-0000-0000-0000-4E6574446576}";
    writeString(HKEY_LOCAL_MACHINE, Journal, lost, L"ROOT\\NET\\0000");
    EXPECT_EQ(run(quoted(folder + L"\\Uninstall.exe") + L" --uninstall --quiet"), static_cast<DWORD>(ExitFailed));
    EXPECT_EQ(machineString(L"LastInstallError"),
              L"Some adapters still need recovery. Restart Windows before uninstalling.");
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"})
        EXPECT_TRUE(exists(folder + L"\\" + name)) << narrow(name) << " must stay";
    EXPECT_NE(serviceState(), static_cast<DWORD>(SERVICE_STOPPED)) << "started again to recover the adapters";
    EXPECT_EQ(value(UninstallKey, L"DisplayName"), L"Dormalis");

    // The test bed's configuration manager beside the build's uninstaller lets it bring a listed adapter back itself
    // and go on, until a preview holds the screen saver open: the removal stops half-way.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Journal, lost);
    testbed::reset();
    const testbed::Adapter adapter{L"ROOT\\NET\\DU01", L"{00000001-0000-0000-0000-4E6574446576}", 6, true,
                                   testbed::DeviceDisabled};
    testbed::addAdapter(adapter);
    writeString(HKEY_LOCAL_MACHINE, Journal, adapter.id.c_str(), adapter.id);
    {
        UniqueHandle preview{CreateFileW((folder + L"\\Dormalis.scr").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr)};
        ASSERT_TRUE(preview.valid());
        EXPECT_EQ(run(UninstallExe + L" --uninstall --quiet"), static_cast<DWORD>(ExitFailed));
    }
    EXPECT_EQ(testbed::deviceState(adapter.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(machineString(L"LastInstallError"), L"File is in use. Close screen saver previews and retry uninstall.");
    EXPECT_FALSE(exists(InstalledExe)) << "files before the held one are gone";
    EXPECT_TRUE(exists(folder + L"\\Uninstall.exe")) << "the deletion stops at the held file";
    EXPECT_EQ(serviceState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(machineString(L"InstallPath"), folder);

    // Dormalis.exe starts the installed uninstaller, which completes the removal, its own file included, and leaves
    // the user's file with its folder.
    std::ofstream(std::filesystem::path(folder + L"\\notes.txt")) << "mine";
    EXPECT_EQ(run(quoted(buildFolder() + L"\\Dormalis.exe") + L" --uninstall"), 0u);
    answerBox(L"Dormalis", 20000, IDYES);
    EXPECT_EQ(widen(answerBox(L"Dormalis", 60000)), text("setup.uninstallSuccess"));
    EXPECT_TRUE(waitUntil([&] { return !exists(folder + L"\\Uninstall.exe"); }, 10000));
    EXPECT_TRUE(exists(folder + L"\\notes.txt"));
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
