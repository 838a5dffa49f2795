// Uninstall.exe: removes the installation. The installed copy cannot delete its own file, so it hands the work to
// a copy of itself outside the installation folder and leaves.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cwchar>
#include <exception>
#include <string>
#include <vector>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "install/admin.h"
#include "install/front_end.h"
#include "install/install.h"
#include "install/staging.h"

using namespace dormalis;

namespace {

constexpr DWORD HandOverTimeoutMs = 15000;

struct UninstallOptions {
    bool uninstall = false;
    bool quiet = false;
    bool confirmed = false;  // asked already, by the copy that started this one
    DWORD waitFor = 0;       // the process this one takes over from
    bool understood = true;
};

UninstallOptions parseOptions(const std::vector<std::wstring>& arguments) {
    UninstallOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == L"--uninstall") {
            options.uninstall = true;
        } else if (arguments[i] == L"--quiet") {
            options.quiet = true;
        } else if (arguments[i] == L"--confirmed") {
            options.confirmed = true;
        } else if (arguments[i] == L"--after" && i + 1 < arguments.size()) {
            options.waitFor = static_cast<DWORD>(std::wcstoul(arguments[++i].c_str(), nullptr, 10));
        } else {
            options.understood = false;
        }
    }
    return options;
}

void showError(const UninstallOptions& options, const std::wstring& message) {
    if (!options.quiet) showFailure(nullptr, message, FailureScope::Process);
}

bool runsFromInstallation(const std::wstring& self) {
    return samePath(self.substr(0, self.find_last_of(L'\\')), installDir());
}

// Copies this program to a private folder and starts the copy; 0 when it runs.
int handOver(const UninstallOptions& options, const std::wstring& self) {
    std::wstring copy;
    try {
        copy = installedFile(UninstallerFileName, makePrivateFolder(L"Dormalis-Uninstall"));
    } catch (const std::exception&) {
        showError(options, text("setup.prepareUninstallFailed"));
        return 1;
    }
    if (!CopyFileW(self.c_str(), copy.c_str(), TRUE)) {
        removeStaged(copy);
        showError(options, text("setup.prepareUninstallFailed"));
        return 1;
    }
    std::vector<std::wstring> arguments{L"--uninstall", L"--confirmed", L"--after",
                                        std::to_wstring(GetCurrentProcessId())};
    if (options.quiet) arguments.emplace_back(L"--quiet");
    std::wstring commandLine = joinArguments({copy}) + L" " + joinArguments(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        removeStaged(copy);
        showError(options, text("setup.uninstallerStartFailed"));
        return 1;
    }
    // The copy goes on alone; nothing here waits for it.
    UniqueHandle thread{started.hThread};
    UniqueHandle process{started.hProcess};
    return 0;
}

void waitForPredecessor(DWORD processId) {
    if (processId == 0) return;
    UniqueHandle predecessor{OpenProcess(SYNCHRONIZE, FALSE, processId)};
    if (predecessor) WaitForSingleObject(predecessor.get(), HandOverTimeoutMs);
}

int uninstallHere(const UninstallOptions& options, const std::wstring& self) {
    waitForPredecessor(options.waitFor);
    installQuiet = options.quiet;
    const int result = uninstallNative();
    if (result == 0 && !options.quiet) {
        MessageBoxW(nullptr, text("setup.uninstallSuccess").c_str(), Product, MB_OK | MB_ICONINFORMATION);
    }
    if (options.waitFor != 0) removeStaged(self);  // a staged copy goes; this one is still running, so at restart
    return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
    startFrontEnd(module);

    std::vector<std::wstring> arguments = commandArguments();
    const bool elevatedCopy = takeElevatedMark(arguments);
    const UninstallOptions options = parseOptions(arguments);
    if (!options.uninstall || !options.understood) {
        showError(options, L"Usage: " + std::wstring(UninstallerFileName) + L" --uninstall [--quiet]");
        return 1;
    }
    if (!elevatedCopy && !isAdministrator()) return runElevated(joinArguments(arguments), options.quiet);
    if (!options.quiet && !options.confirmed &&
        MessageBoxW(nullptr, text("setup.uninstallQuestion").c_str(), Product, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return 1;
    }
    const std::wstring self = ownProgramPath();
    return runsFromInstallation(self) ? handOver(options, self) : uninstallHere(options, self);
}
