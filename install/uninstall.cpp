#include <shlobj.h>

#include <exception>
#include <stdexcept>

#include "foundation/contract.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/event_source.h"
#include "install/install.h"
#include "service/network.h"

namespace dormalis {

namespace {

constexpr const wchar_t* RunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int DeleteAttempts = 50;

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

void deleteInstalledFile(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    for (int attempt = 1; attempt <= DeleteAttempts; ++attempt) {
        if (DeleteFileW(path.c_str())) return;
        Sleep(100);
    }
    fail("File is in use. Close screen saver previews and retry uninstall.");
}

void removeEntries() {
    UniqueKey run;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RunKey, 0, KEY_SET_VALUE, run.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(run.get(), ServiceName);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, RegistryPath);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, RegistryPath);
    removeEventSource();
}

// The service handles close as a failure unwinds, before the caller shows it: a box left open would otherwise keep
// a service that is marked for deletion alive.
void uninstall() {
    if (!isAdministrator()) fail("Administrator rights required.");
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) fail("Service manager unavailable.");
    UniqueService service{OpenServiceW(manager.get(), ServiceName, SERVICE_ALL_ACCESS)};
    reportInstallStep(InstallStep::Stopping);
    if (service) stopService(service.get());
    closeInstalledWindows();
    // With the service stopped or gone nothing else brings the listed adapters back: the uninstaller does it with
    // the service's own code and refuses only while some stay listed. Both read the list by the same rules, so an
    // entry the restore cannot even read never holds the removal up for good.
    if (!savedDevices().empty()) {
        reportInstallStep(InstallStep::RestoringAdapters);
        restoreListedAdapters();
    }
    if (!savedDevices().empty()) {
        // The service re-enables the listed adapters when it starts; removing it now would strand them.
        if (service) StartServiceW(service.get(), 0, nullptr);
        fail("Some adapters still need recovery. Restart Windows before uninstalling.");
    }
    // Whatever names the folder goes before the folder: were the removal cut short later, a user who recreated
    // the folder would find no service, autostart, entry or shortcut left to run what they put there.
    reportInstallStep(InstallStep::Removing);
    const std::wstring dir = installDir();
    if (service) {
        if (!DeleteService(service.get())) fail("Cannot remove service.");
        service.reset();
    }
    removeEntries();
    try {
        DeleteFileW(installedFile(ShortcutFileName, folder(CSIDL_COMMON_PROGRAMS)).c_str());
    } catch (const std::exception&) {
        // Without a Programs folder there is no shortcut to remove.
    }
    for (const wchar_t* name : {ProgramFileName, SaverFileName, UninstallerFileName}) {
        deleteInstalledFile(installedFile(name, dir));
    }
    RemoveDirectoryW(dir.c_str());
}

}  // namespace

int uninstallNative() {
    try {
        uninstall();
        return 0;
    } catch (const std::exception& error) {
        const std::wstring message = widenMessage(error.what());
        try {
            // Read by deployment tools after a refused or failed removal; the key itself still exists here.
            writeString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue, message);
        } catch (const std::exception&) {
            // The failure shown and the exit code still tell it.
        }
        showInstallError(message);
        return 1;
    }
}

}  // namespace dormalis
