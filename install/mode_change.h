#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// Records the interruption mode (run elevated): 0 on success, 1 on failure.
int changeNetworkMode(bool firewall);

// Runs the program `path` elevated with `arguments`, shown as `show`, and waits, dispatching the thread's messages
// meanwhile; `owner` (which may be null) is disabled until it ends. Its exit code, or ExitCancelled when the prompt
// was declined and ExitFailed when it could not start otherwise (the reason is shown, owned by `owner`, unless
// `quiet`).
int runElevatedCopy(HWND owner, const std::wstring& path, const std::wstring& arguments, int show, bool quiet);

// Runs the installed Dormalis.exe elevated with `arguments`, hidden, and waits: whether it ended with exit code 0.
bool elevateAndWait(HWND owner, const std::wstring& arguments);

}  // namespace dormalis
