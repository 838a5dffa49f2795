// Dormalis Setup.exe: carries Dormalis.exe and Uninstall.exe and installs them, with a window or quietly.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "install/admin.h"
#include "install/front_end.h"
#include "setup/setup.h"

using namespace dormalis;

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);  // later loads come from System32 only
    startFrontEnd(module);

    std::vector<std::wstring> arguments = commandArguments();
    const bool elevatedCopy = takeElevatedMark(arguments);
    SetupOptions options;
    options.quiet = std::find(arguments.begin(), arguments.end(), L"--quiet") != arguments.end();
    // Checked before elevation: a typo never costs a prompt.
    if (!parseSetupOptions(arguments, options)) {
        if (!options.quiet) {
            showFailure(nullptr, L"Usage: \"Dormalis Setup.exe\" [--quiet] [--dir PATH] [--mode firewall|adapters]",
                        FailureScope::Process);
        }
        return ExitBadCommandLine;
    }
    if (!isAdministrator()) {
        // Quiet means no prompt at all; without the machine key there is nowhere to record why.
        if (options.quiet) return ExitFailed;
        if (!elevatedCopy) return runElevated(joinArguments(arguments), false);
    }
    return options.quiet ? runQuiet(options) : runSetupWindow(options);
}
