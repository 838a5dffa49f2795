// Dormalis Setup.exe: carries Dormalis.exe and Uninstall.exe and installs them, with a window or quietly.
#include "setup/setup.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

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

using namespace dormalis;

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

void recordFailure(const char* message) {
    try {
        writeString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue, widenMessage(message));
    } catch (const std::exception&) {
        // Nothing else can carry the reason in quiet mode; the exit code still tells the failure.
    }
}

bool parseOptions(const std::vector<std::wstring>& arguments, SetupOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == L"--quiet") {
            options.quiet = true;
        } else if (argument == L"--dir" && hasValue) {
            options.folder = arguments[++i];
        } else if (argument == L"--mode" && hasValue && arguments[i + 1] == L"firewall") {
            options.firewall = true;
            ++i;
        } else if (argument == L"--mode" && hasValue && arguments[i + 1] == L"adapters") {
            options.firewall = false;
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int runQuiet(const SetupOptions& options) {
    installQuiet = true;
    if (!options.folder.empty()) {
        try {
            installDirectoryOverride = validateInstallDirectory(options.folder);
        } catch (const std::exception& error) {
            recordFailure(error.what());
            return 1;
        }
    }
    return installPayload(options.firewall);
}

}  // namespace

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
        recordFailure(error.what());
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
    return result;
}

}  // namespace dormalis

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
    startFrontEnd(module);

    std::vector<std::wstring> arguments = commandArguments();
    const bool elevatedCopy = takeElevatedMark(arguments);
    SetupOptions options;
    for (const std::wstring& argument : arguments)
        options.quiet = options.quiet || argument == L"--quiet";
    const bool understood = parseOptions(arguments, options);
    if (!elevatedCopy && !isAdministrator()) return runElevated(joinArguments(arguments), options.quiet);
    if (!understood) {
        const char* usage = "Usage: \"Dormalis Setup.exe\" [--quiet [--dir PATH] [--mode firewall|adapters]]";
        recordFailure(usage);
        if (!options.quiet) showFailure(nullptr, widenMessage(usage), FailureScope::Process);
        return 1;
    }
    return options.quiet ? runQuiet(options) : runSetupWindow();
}
