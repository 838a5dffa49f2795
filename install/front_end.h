#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dormalis {

// What the setup program and the uninstaller share.

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

// Runs this program again elevated with `arguments` (and the mark) and waits: its exit code, or 1 when it could not
// start (the reason is shown unless `quiet`).
int runElevated(const std::wstring& arguments, bool quiet);

}  // namespace dormalis
