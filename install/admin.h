#pragma once

#include <windows.h>

#include <string>

#include "foundation/failure.h"
#include "foundation/file_identity.h"
#include "foundation/unique.h"

namespace dormalis {

// The installation folder's descriptor: owned by administrators, no inheritance from above, full access for
// LocalSystem and administrators, read and run for users, all inherited by files and subfolders.
inline constexpr const wchar_t* InstallFolderSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)";

// When set, install and uninstall failures are recorded but not shown: the setup's quiet mode has no one to answer
// a message box.
extern bool installQuiet;

// The stages of an installation a window can show while it waits.
enum class InstallStep : int { Stopping = 1, Copying, Registering, Starting, RestoringAdapters, Removing };

// When set, installNative posts InstallProgressMessage to this window, the stage in wParam, as each stage begins.
extern HWND installProgressWindow;
inline constexpr UINT InstallProgressMessage = WM_APP + 13;
void reportInstallStep(InstallStep step);

// Whether the caller's token is a member of BUILTIN\Administrators; false when the check itself fails.
bool isAdministrator();

// The error box of install and uninstall; nothing is shown in quiet mode.
void showInstallError(const std::wstring& message);

}  // namespace dormalis
