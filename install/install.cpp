#include "install/install.h"

#include <shlobj.h>

#include <exception>
#include <stdexcept>
#include <vector>

#include "foundation/contract.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/event_source.h"
#include "install/install_folder.h"
#include "install/shortcut.h"

namespace dormalis {

namespace {

constexpr const wchar_t* OldServiceName = L"DormalisService";
constexpr const wchar_t* RunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* Publisher = L"Dormalis";
constexpr DWORD CompletePackage = 100;
constexpr ULONGLONG StopTimeoutMs = 30000;
constexpr DWORD ProcessExitTimeoutMs = 5000;
constexpr DWORD WindowCloseTimeoutMs = 8000;
constexpr ULONGLONG CopyTimeoutMs = 5000;
constexpr ULONGLONG StartTimeoutMs = 15000;

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

void requireAdministrator() {
    if (!isAdministrator()) fail("Administrator rights required.");
}

void copyProgramFiles(const std::wstring& dir, const std::wstring& programFile, const std::wstring& uninstallerFile) {
    const std::wstring installedProgram = installedFile(ProgramFileName, dir);
    // Setup run again from the installed program: that file is the source and is already in place.
    if (!samePath(programFile, installedProgram) && !copyWithRetry(programFile, installedProgram)) {
        fail("Cannot update Dormalis.exe. Close its other windows first.");
    }
    if (!copyWithRetry(programFile, installedFile(SaverFileName, dir))) {
        fail("Cannot update the screen saver. Close screen saver settings and previews first.");
    }
    if (!copyWithRetry(uninstallerFile, installedFile(UninstallerFileName, dir)))
        fail("Cannot install the uninstaller.");
}

// Reads a DWORD of the machine key; another type counts as absent.
bool readMachineDword(const wchar_t* name, DWORD& value) {
    DWORD bytes = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, RegistryPath, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) ==
           ERROR_SUCCESS;
}

// An update keeps the recorded mode; a first installation records the user's flag as an unconfirmed default.
void recordModeAndFolder(bool firewall, const std::wstring& dir) {
    DWORD existingMode = 0;
    const bool modeKnown = readMachineDword(FirewallValue, existingMode) && existingMode <= 1;
    DWORD configured = 0;
    if (!readMachineDword(ModeConfiguredValue, configured)) configured = modeKnown ? 1 : 0;
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, modeKnown ? existingMode : (firewall ? 1 : 0));
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, ModeConfiguredValue, configured);
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, InstallPathValue, dir);
}

void configureService(SC_HANDLE manager, UniqueService& service, const std::wstring& dir) {
    const std::wstring commandLine = L"\"" + installedFile(ProgramFileName, dir) + L"\" --service";
    const wchar_t dependencies[] = L"BFE\0";  // the literal adds the second terminating null
    if (!service) {
        service.reset(CreateServiceW(manager, ServiceName, Product, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                     dependencies, nullptr, nullptr));
        if (!service) fail("Service creation failed.");
    }
    if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                              commandLine.c_str(), nullptr, nullptr, dependencies, L"LocalSystem", nullptr, Product)) {
        fail("Cannot update service configuration.");
    }
    SC_ACTION restarts[3] = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 1000}};
    SERVICE_FAILURE_ACTIONSW actions{86400, nullptr, nullptr, 3, restarts};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
    // Without it the restarts follow only a crash, not a stop that reports an error code.
    SERVICE_FAILURE_ACTIONS_FLAG onErrorStops{TRUE};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorStops);
    // What the Services console shows; a service without one looks suspect to the administrator.
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(ServiceDescription)};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
}

bool queryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                &needed) != FALSE;
}

void startAndWait(SC_HANDLE service) {
    if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        fail("Service startup failed.");
    }
    const ULONGLONG deadline = GetTickCount64() + StartTimeoutMs;
    do {
        SERVICE_STATUS_PROCESS status{};
        if (!queryStatus(service, status)) fail("Cannot query service.");
        if (status.dwCurrentState == SERVICE_RUNNING) return;
        if (status.dwCurrentState == SERVICE_STOPPED) fail("Service failed to start.");
        Sleep(100);
    } while (GetTickCount64() < deadline);
    fail("Service startup timed out.");
}

// The size Apps & Features shows, in kilobytes.
DWORD installedKilobytes(const std::wstring& dir) {
    ULONGLONG bytes = 0;
    for (const wchar_t* name : {ProgramFileName, SaverFileName, UninstallerFileName}) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(installedFile(name, dir).c_str(), GetFileExInfoStandard, &data)) {
            bytes += (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
    }
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

void writeUninstallEntry(const std::wstring& dir) {
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayName", Product);
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayVersion", Version);
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"Publisher", Publisher);
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"InstallLocation", dir);
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayIcon", installedFile(ProgramFileName, dir));
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"UninstallString",
                L"\"" + installedFile(UninstallerFileName, dir) + L"\" --uninstall");
    writeString(HKEY_LOCAL_MACHINE, UninstallKey, L"QuietUninstallString",
                L"\"" + installedFile(UninstallerFileName, dir) + L"\" --uninstall --quiet");
    writeDword(HKEY_LOCAL_MACHINE, UninstallKey, L"EstimatedSize", installedKilobytes(dir));
    writeDword(HKEY_LOCAL_MACHINE, UninstallKey, L"NoModify", 1);
    writeDword(HKEY_LOCAL_MACHINE, UninstallKey, L"NoRepair", 1);
}

// The service handles close as a failure unwinds, before the caller shows it and the service is left to others.
void install(bool firewall, const std::wstring& programFile, const std::wstring& uninstallerFile) {
    requireAdministrator();
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) fail("Service manager unavailable.");
    if (UniqueService old{OpenServiceW(manager.get(), OldServiceName, SERVICE_QUERY_STATUS)}) {
        fail("Please uninstall Dormalis 1.x before installing the native edition.");
    }
    const std::wstring dir = installDir();
    const UniqueHandle claimed = claimInstallFolder(dir);  // held until the files are in place
    reportInstallStep(InstallStep::Stopping);
    UniqueService service{OpenServiceW(manager.get(), ServiceName, SERVICE_ALL_ACCESS)};
    if (service) stopService(service.get());
    closeInstalledWindows();
    reportInstallStep(InstallStep::Copying);
    copyProgramFiles(dir, programFile, uninstallerFile);
    reportInstallStep(InstallStep::Registering);
    recordModeAndFolder(firewall, dir);
    registerEventSource(installedFile(ProgramFileName, dir));
    configureService(manager.get(), service, dir);
    reportInstallStep(InstallStep::Starting);
    startAndWait(service.get());
    writeUninstallEntry(dir);
    writeString(HKEY_LOCAL_MACHINE, RunKey, ServiceName, L"\"" + installedFile(ProgramFileName, dir) + L"\" --tray");
    createShortcut(installedFile(ShortcutFileName, folder(CSIDL_COMMON_PROGRAMS)), installedFile(ProgramFileName, dir),
                   installDir());
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"PackageVersion", CompletePackage);
}

struct ClosingWindows {
    DWORD self = GetCurrentProcessId();
    std::wstring program;
    std::wstring saver;
    std::vector<UniqueHandle> processes;
};

BOOL CALLBACK closeIfInstalled(HWND window, LPARAM context) {
    auto& closing = *reinterpret_cast<ClosingWindows*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == closing.self) return TRUE;
    UniqueHandle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId)};
    if (!process) return TRUE;
    const std::wstring image = imagePath(process.get());
    if (!image.empty() && (samePath(image, closing.program) || samePath(image, closing.saver))) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        closing.processes.push_back(std::move(process));
    }
    return TRUE;
}

}  // namespace

bool copyWithRetry(const std::wstring& source, const std::wstring& destination) {
    const ULONGLONG deadline = GetTickCount64() + CopyTimeoutMs;
    for (;;) {
        if (CopyFileW(source.c_str(), destination.c_str(), FALSE)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
        Sleep(100);
        if (GetTickCount64() >= deadline) return false;
    }
}

void stopService(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    queryStatus(service, status);
    UniqueHandle process;
    if (status.dwProcessId != 0) process.reset(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    SERVICE_STATUS ignored{};
    ControlService(service, SERVICE_CONTROL_STOP, &ignored);
    // The service gives the network back before it reports stopped, so this wait covers the recovery.
    const ULONGLONG deadline = GetTickCount64() + StopTimeoutMs;
    bool queried = queryStatus(service, status);
    while (queried && status.dwCurrentState != SERVICE_STOPPED) {
        if (GetTickCount64() > deadline) fail("Service did not stop. Network recovery must finish first.");
        Sleep(100);
        queried = queryStatus(service, status);
    }
    if (process && WaitForSingleObject(process.get(), ProcessExitTimeoutMs) != WAIT_OBJECT_0) {
        fail("Service process is still exiting.");
    }
}

void closeInstalledWindows() {
    ClosingWindows closing;
    const std::wstring dir = installDir();
    closing.program = installedFile(ProgramFileName, dir);
    closing.saver = installedFile(SaverFileName, dir);
    EnumWindows(closeIfInstalled, reinterpret_cast<LPARAM>(&closing));
    bool allEnded = true;
    for (UniqueHandle& process : closing.processes) {
        if (WaitForSingleObject(process.get(), WindowCloseTimeoutMs) != WAIT_OBJECT_0) allEnded = false;
        process.reset();
    }
    if (!allEnded) fail("Close Dormalis and screen saver settings in all sessions, then retry.");
}

int installNative(bool firewall, const std::wstring& programFile, const std::wstring& uninstallerFile) {
    try {
        install(firewall, programFile, uninstallerFile);
        return 0;
    } catch (const std::exception& error) {
        const std::wstring message = widenMessage(error.what());
        try {
            writeString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue, message);
        } catch (const std::exception&) {
            // The failure itself is what the user must see; a record that cannot be written changes nothing.
        }
        showInstallError(message);
        return 1;
    }
}

}  // namespace dormalis
