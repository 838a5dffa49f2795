#include "install/mode_change.h"

#include <shellapi.h>

#include <exception>
#include <stdexcept>
#include <vector>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/registry.h"
#include "install/admin.h"

namespace dormalis {

namespace {

void recordMode(bool firewall) {
    if (!isAdministrator()) throw std::runtime_error("Administrator rights required.");
    if (!installedServiceExists()) throw std::runtime_error("Service is not installed. Run Dormalis Setup.");
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

std::wstring ownPath() {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

void pumpUntilEnded(HANDLE process) {
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

int changeNetworkMode(bool firewall) {
    try {
        recordMode(firewall);
        return 0;
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, widenMessage(error.what()).c_str(), Product, MB_OK | MB_ICONERROR);
        return 1;
    }
}

bool elevateAndWait(HWND owner, const std::wstring& arguments) {
    const std::wstring path = ownPath();
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.hwnd = owner;
    execute.lpVerb = L"runas";
    execute.lpFile = path.c_str();
    execute.lpParameters = arguments.c_str();
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExW(&execute)) {
        const DWORD error = GetLastError();
        MessageBoxW(owner, errorText(error).c_str(), Product, MB_OK | MB_ICONERROR);
        return false;
    }
    UniqueHandle process{execute.hProcess};
    EnableWindow(owner, FALSE);
    DWORD exitCode = 1;
    if (process) {
        pumpUntilEnded(process.get());
        if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 1;
    }
    process.reset();
    EnableWindow(owner, TRUE);
    SetForegroundWindow(owner);
    return exitCode == 0;
}

}  // namespace dormalis
