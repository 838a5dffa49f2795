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

// The arguments of a raw command line after the program's path. Windows starts a screen saver by the path it
// finds in the registry, without quotes, so the head may be one of `ownPaths` (any letter case) with spaces in
// it; any other head ends where CommandLineToArgvW ends it.
std::vector<std::wstring> argumentsAfterProgram(const std::wstring& commandLine,
                                                const std::vector<std::wstring>& ownPaths);

// This program's file as the module reports it, in its long form and in its short form.
std::vector<std::wstring> ownProgramPaths();

// This program's own file.
std::wstring ownProgramPath();

// The full path of a process's image file; empty when it cannot be read.
std::wstring imagePath(HANDLE process);

}  // namespace dormalis
