#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// The service's description in the Services console (English, as every text of the service).
inline constexpr const wchar_t* ServiceDescription =
    L"Cuts this computer's network access while the Dormalis screen saver runs and gives it back when the user "
    L"returns, even after a crash or a power loss.";

// Folder validation for the setup program: the normalised folder, or a runtime error with the reason.
std::wstring validateInstallDirectory(const std::wstring& requested);

int installNative(bool firewall, const std::wstring& programFile, const std::wstring& uninstallerFile);
int uninstallNative();

void stopService(SC_HANDLE service);
void closeInstalledWindows();
bool copyWithRetry(const std::wstring& source, const std::wstring& destination);

}  // namespace dormalis
