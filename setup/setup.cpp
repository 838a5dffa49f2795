// What Dormalis Setup.exe does: installs the two programs it carries, with a window or quietly.
#include "setup/setup.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "install/admin.h"
#include "install/folder_validation.h"
#include "install/front_end.h"
#include "install/install.h"
#include "install/staging.h"
#include "setup/payload_ids.h"

namespace dormalis {

namespace {

constexpr const char* PackageIncomplete = "The installation package is incomplete.";

void writePayload(int id, const std::wstring& path) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(nullptr, found) : 0;
    if (!bytes || size == 0) throw std::runtime_error(PackageIncomplete);
    UniqueHandle file{CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
        throw std::runtime_error(PackageIncomplete);
    }
}

// The administrator's explicit choice: counted as made, so a standard user can Enable without an administrator.
void recordChosenMode(bool firewall) {
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, firewall ? 1 : 0);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, ModeConfiguredValue, 1);
}

}  // namespace

int runQuiet(const SetupOptions& options) {
    installQuiet = true;
    try {
        if (!options.folder.empty()) installDirectoryOverride = validateInstallDirectory(options.folder);
        const int result = options.modeGiven ? installChosenMode(options.firewall) : installPayload(options.firewall);
        if (result != 0) return ExitFailed;
    } catch (const std::exception& error) {
        recordInstallError(widenMessage(error.what()));
        return ExitFailed;
    }
    return ExitSucceeded;
}

bool parseSetupOptions(const std::vector<std::wstring>& arguments, SetupOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const std::wstring* value = i + 1 < arguments.size() ? &arguments[i + 1] : nullptr;
        if (argument == L"--quiet") {
            options.quiet = true;
            continue;
        }
        if (argument == L"--dir" && value && !value->empty() && value->rfind(L"--", 0) != 0) {
            options.folder = *value;
        } else if (argument == L"--mode" && value && (*value == L"firewall" || *value == L"adapters")) {
            options.firewall = *value == L"firewall";
            options.modeGiven = true;
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

int installPayload(bool firewall) {
    std::wstring program;
    std::wstring uninstaller;
    try {
        const std::wstring staging = makePrivateFolder(L"Dormalis-Setup");
        program = installedFile(ProgramFileName, staging);
        uninstaller = installedFile(UninstallerFileName, staging);
        writePayload(ProgramPayload, program);
        writePayload(UninstallerPayload, uninstaller);
    } catch (const std::exception& error) {
        recordInstallError(widenMessage(error.what()));
        if (!program.empty()) {
            DeleteFileW(program.c_str());
            removeStaged(uninstaller);
        }
        if (!installQuiet) showFailure(nullptr, text("setup.packageIncomplete"), FailureScope::Process);
        return 1;
    }
    const int result = installNative(firewall, program, uninstaller);
    DeleteFileW(program.c_str());
    removeStaged(uninstaller);
    if (result == 0) clearInstallError();
    return result;
}

int installChosenMode(bool firewall) {
    if (installPayload(firewall) != 0) return 1;
    try {
        recordChosenMode(firewall);
    } catch (const std::exception& error) {
        recordInstallError(widenMessage(error.what()));
        if (!installQuiet) showFailure(nullptr, widenMessage(error.what()), FailureScope::Process);
        return 1;
    }
    return 0;
}

}  // namespace dormalis
