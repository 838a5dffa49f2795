#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "install/admin.h"

namespace dormalis {

// What the setup program and the uninstaller share.

// The exit codes of both front ends: the ones deployment tools already read (3010, restart needed, is never used).
inline constexpr int ExitSucceeded = 0;
inline constexpr int ExitBadCommandLine = 87;  // ERROR_INVALID_PARAMETER
inline constexpr int ExitCancelled = 1223;     // ERROR_CANCELLED: the elevation prompt or the question declined
inline constexpr int ExitFailed = 1603;        // ERROR_INSTALL_FAILURE: the reason is in LastInstallError

// What both front ends do first: the instance, the common controls, COM, and the settings shown in the Windows
// display language.
void startFrontEnd(HINSTANCE module);

// Arguments joined back into one command line, each quoted when it needs to be.
std::wstring joinArguments(const std::vector<std::wstring>& arguments);

// The settings language index (0 French ... 5 Italian) for the Windows display language; English otherwise.
unsigned languageForUi(unsigned short languageId);

// Removes the mark that runElevated adds and tells whether it was there: a copy started elevated that still is
// no administrator (a refused or absent elevation that Windows let through anyway) must not start yet another.
bool takeElevatedMark(std::vector<std::wstring>& arguments);

// Runs this program again elevated with `arguments` (and the mark) and waits: its exit code, ExitCancelled when the
// prompt was declined, or ExitFailed when it could not start (the reason is shown unless `quiet`).
int runElevated(const std::wstring& arguments, bool quiet);

// What the front ends' windows show while a stage of the installation or the uninstallation runs.
std::wstring stageText(InstallStep step);

// Writes `message` to LastInstallError of the machine key; silent when it cannot.
void recordInstallError(const std::wstring& message);
// Removes LastInstallError: after a success an earlier failure no longer describes the machine.
void clearInstallError();

}  // namespace dormalis
