#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dormalis {

// Process-wide state set once by the entry point before any role runs.
extern HINSTANCE instance;
extern int requestedPage;          // settings-window page shown first: 0 setup, 1 customize, 2 mode, 3 about
extern HWND requestedOwner;        // the Windows screen-saver dialog that asked for the settings ("/c:<hwnd>")
extern std::wstring snapshotPath;  // UI test mode: where the settings window writes its picture
extern bool quitAfterTest;         // UI test mode: close after writing the picture

// The process's own arguments, without its path.
std::vector<std::wstring> commandArguments();

// This program's own file.
std::wstring ownProgramPath();

// The full path of a process's image file; empty when it cannot be read.
std::wstring imagePath(HANDLE process);

}  // namespace dormalis
