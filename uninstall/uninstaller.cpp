// Uninstall.exe: removes the installation and returns the outcome as its exit code. Run from the installation, it
// first moves its own file out of the folder it removes.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

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
#include "registration/saver_selection.h"
#include "uninstall/uninstall_window.h"

using namespace dormalis;

namespace {

struct UninstallOptions {
    bool uninstall = false;
    bool quiet = false;
    bool confirmed = false;  // asked already, by the copy that started this one
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
        } else {
            options.understood = false;
        }
    }
    return options;
}

void showError(const UninstallOptions& options, const std::wstring& message) {
    if (!options.quiet) showFailure(nullptr, message, FailureScope::Process);
}

// Compared as files: started by an 8.3 path, or by any other spelling, the installed uninstaller is still itself.
bool runsFromInstallation(const std::wstring& self) {
    return sameFile(self, installedFile(UninstallerFileName));
}

constexpr int AsideAttempts = 20;

// Where this program's file went, and whether the folder holding it is its own.
struct Aside {
    std::wstring path;
    bool ownFolder = false;
};

// Windows keeps a running program's file from being deleted but lets it be renamed on its own volume: this file
// moves out of the folder it removes, into a private folder (or, when that is on another volume, beside the
// protected installation folder), and goes at the next restart. An empty path when it cannot move.
Aside moveAside(const std::wstring& self) {
    try {
        const std::wstring path = installedFile(UninstallerFileName, makePrivateFolder(L"Dormalis-Uninstall"));
        if (MoveFileExW(self.c_str(), path.c_str(), 0)) return {path, true};
        RemoveDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str());
    } catch (const std::exception&) {
        // The folder beside the installation is tried next.
    }
    // Never over an entry that exists already: someone else may have prepared it.
    for (int attempt = 0; attempt < AsideAttempts; ++attempt) {
        const std::wstring beside = installDir() + L"-Uninstall-" + randomName() + L".exe";
        if (MoveFileExW(self.c_str(), beside.c_str(), 0)) return {beside, false};
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return {};
}

void discard(const Aside& aside) {
    if (aside.ownFolder) {
        removeStaged(aside.path);
    } else if (!DeleteFileW(aside.path.c_str())) {
        MoveFileExW(aside.path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

// The removal itself, without a box: the window or the exit code tells the outcome, LastInstallError the reason.
int uninstallHere() {
    installQuiet = true;
    const std::wstring self = ownProgramPath();
    const bool installed = runsFromInstallation(self);
    const Aside aside = installed ? moveAside(self) : Aside{};
    if (installed && aside.path.empty()) {
        recordInstallError(L"Cannot move the uninstaller out of the installation folder.");
        return ExitFailed;
    }
    if (uninstallNative() != 0) {
        // The installation stays, so does its uninstaller.
        if (installed && !MoveFileExW(aside.path.c_str(), self.c_str(), 0)) {
            CopyFileW(aside.path.c_str(), self.c_str(), FALSE);
        }
        return ExitFailed;
    }
    if (installed) discard(aside);
    return ExitSucceeded;
}

// Asked once, by the copy the user started; adapters are mentioned only where adapter mode may have left some.
bool confirmed() {
    const std::wstring question =
        readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 1) == 0
            ? text("setup.uninstallQuestion")
            : tr(L"Désinstaller Dormalis ?", L"Uninstall Dormalis?", L"Dormalis deinstallieren?",
                 L"要卸载 Dormalis 吗？", L"¿Desinstalar Dormalis?", L"Disinstallare Dormalis?");
    return MessageBoxW(nullptr, question.c_str(), Product, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Once the files are gone a selection of ours would leave Windows with no screen saver at all: the user who starts
// the removal gets the previous one back, through Disable's own code. An elevated copy may run as another account,
// so this happens before elevation. True when it did.
bool giveSaverBack(const UninstallOptions& options) {
    if (!isDormalisSelected()) return false;
    try {
        deactivateSaver();
        return true;
    } catch (const std::exception& error) {
        showError(options, widenMessage(error.what()));
        return false;
    }
}

// A declined prompt or a refused removal leaves Dormalis installed: it stays the user's screen saver.
void keepSaver() {
    try {
        activateSaver();
    } catch (const std::exception&) {
        // A half-removed installation cannot be selected again; the previous saver stays.
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);  // later loads come from System32 only
    startFrontEnd(module);
    // A current folder inside the installation would keep that folder from being removed.
    std::vector<wchar_t> system(MAX_PATH + 1, L'\0');
    if (GetSystemDirectoryW(system.data(), MAX_PATH)) SetCurrentDirectoryW(system.data());

    std::vector<std::wstring> arguments = commandArguments();
    const bool elevatedCopy = takeElevatedMark(arguments);
    const UninstallOptions options = parseOptions(arguments);
    // Checked before elevation: a typo never costs a prompt.
    if (!options.uninstall || !options.understood) {
        showError(options, L"Usage: " + std::wstring(UninstallerFileName) + L" --uninstall [--quiet]");
        return ExitBadCommandLine;
    }
    if (!options.quiet && !options.confirmed && !confirmed()) return ExitCancelled;
    // Quiet means no prompt at all; without the machine key there is nowhere to record why.
    if (options.quiet && !isAdministrator()) return ExitFailed;
    const bool deselected = !elevatedCopy && giveSaverBack(options);
    int result = ExitFailed;
    if (!isAdministrator() && !elevatedCopy) {
        std::vector<std::wstring> confirmed = arguments;
        confirmed.emplace_back(L"--confirmed");
        result = runElevated(joinArguments(confirmed), false);
    } else {
        result = options.quiet ? uninstallHere() : runUninstallWindow(uninstallHere);
    }
    if (deselected && result != ExitSucceeded) keepSaver();
    return result;
}
