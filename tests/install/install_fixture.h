#pragma once

#include <windows.h>

#include <string>

#include "tests/support/support.h"

namespace dormalis::testing {

inline const std::wstring DefaultFolder = L"C:\\Program Files\\DormalisNative";

// Removes every trace of an installation before and after a test: running installed programs, the services
// (this edition's and the 1.x one), the files and folder, the shortcut, the machine keys and values.
void removeInstallation();
struct CleanMachine {
    CleanMachine() { removeInstallation(); }
    ~CleanMachine() { removeInstallation(); }
    CleanMachine(const CleanMachine&) = delete;
    CleanMachine& operator=(const CleanMachine&) = delete;
};

// Registers a stopped service with the given command line, as an installation (or the 1.x edition) would.
void registerStandInService(const std::wstring& commandLine, const wchar_t* name = L"DormalisNative");

// The same account without its administrator membership (deny-only) and privileges, as a primary token: the
// ordinary user that Wine, where every program is an elevated administrator, cannot otherwise show.
UniqueHandle ordinaryUserToken();
// Starts a command line as that ordinary user, inside `job`.
UniqueHandle startAsOrdinaryUser(const std::wstring& commandLine, HANDLE job);

// Reads the message box titled `title` (of any process), presses `button` and gives its text; "<no box>" when none
// appeared within the time.
std::string answerBox(const std::wstring& title, DWORD timeoutMs = 15000, int button = IDOK);

}  // namespace dormalis::testing
