#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// Records the interruption mode (run elevated): 0 on success, 1 on failure.
int changeNetworkMode(bool firewall);

// Runs this program elevated with `arguments` and waits, dispatching the caller's messages meanwhile.
bool elevateAndWait(HWND owner, const std::wstring& arguments);

}  // namespace dormalis
