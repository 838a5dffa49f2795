#include "install/mode_change.h"

#include <shellapi.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "install/admin.h"
#include "install/front_end.h"

namespace dormalis {

namespace {

void recordMode(bool firewall) {
    if (!isAdministrator()) throw std::runtime_error("Administrator rights required.");
    if (!serviceInstalled()) throw std::runtime_error("Service is not installed. Run Dormalis Setup.");
    // Only a network that is not interrupted may change mode: the pause in progress was made in the old one.
    DWORD state = 0;
    DWORD bytes = sizeof(state);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RegistryPath, NetworkStateValue, RRF_RT_REG_DWORD, nullptr, &state, &bytes) !=
            ERROR_SUCCESS ||
        state != NetworkReady) {
        throw std::runtime_error("Restore the network before changing the interruption mode.");
    }
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, firewall ? 1 : 0);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, ModeConfiguredValue, 1);
}

void pumpUntilEnded(HANDLE process) {
    // A window closed meanwhile posts the quit message; it belongs to the outermost loop, which would otherwise
    // never end and leave the process running without a window.
    std::optional<WPARAM> quit;
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = message.wParam;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(*quit));
}

}  // namespace

int changeNetworkMode(bool firewall) {
    try {
        recordMode(firewall);
        return 0;
    } catch (const std::exception& error) {
        showFailure(nullptr, error, FailureScope::Action);
        return 1;
    }
}

int runElevatedCopy(HWND owner, const std::wstring& path, const std::wstring& arguments, int show, bool quiet) {
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execute.hwnd = owner;
    execute.lpVerb = L"runas";
    execute.lpFile = path.c_str();
    execute.lpParameters = arguments.c_str();
    execute.nShow = show;
    if (!ShellExecuteExW(&execute)) {
        const DWORD error = GetLastError();
        if (!quiet) showFailure(owner, errorText(error), FailureScope::Action);
        return error == ERROR_CANCELLED ? ExitCancelled : ExitFailed;
    }
    UniqueHandle process{execute.hProcess};
    if (owner) EnableWindow(owner, FALSE);
    DWORD exitCode = 1;
    if (process) {
        pumpUntilEnded(process.get());
        if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 1;
    }
    process.reset();
    if (owner) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    return static_cast<int>(exitCode);
}

// Never the running file: an administrator who confirms the prompt in a user's copy of the program would run it
// elevated, with whatever that user put beside it.
bool elevateAndWait(HWND owner, const std::wstring& arguments) {
    return runElevatedCopy(owner, installedFile(ProgramFileName), arguments, SW_HIDE, false) == 0;
}

}  // namespace dormalis
