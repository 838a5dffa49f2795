#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// Folder validation for the setup program: the normalised folder, or a runtime error with the reason.
std::wstring validateInstallDirectory(const std::wstring& requested);

int installNative(bool firewall, const std::wstring& programFile, const std::wstring& uninstallerFile);
int uninstallNative();

void stopService(SC_HANDLE service);
void closeInstalledWindows();
bool copyWithRetry(const std::wstring& source, const std::wstring& destination);

}  // namespace dormalis
