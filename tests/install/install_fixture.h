#pragma once

#include <windows.h>

#include <string>

#include "tests/support/support.h"

namespace dormalis::testing {

// A folder made for one test and removed with everything in it afterwards.
struct ScratchFolder {
    std::wstring path;
    explicit ScratchFolder(std::wstring folder);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
};

// Removes every trace of an installation before and after a test: running installed programs, the services
// (this edition's and the 1.x one), the files and folder, the shortcut, the machine keys and values.
struct CleanMachine {
    CleanMachine();
    ~CleanMachine();
    CleanMachine(const CleanMachine&) = delete;
    CleanMachine& operator=(const CleanMachine&) = delete;
};
void removeInstallation();

// Registers DormalisNative (stopped) with the given command line, as an installation would.
void registerStandInService(const std::wstring& commandLine, const wchar_t* name = L"DormalisNative");

inline const std::wstring DefaultFolder = L"C:\\Program Files\\DormalisNative";

}  // namespace dormalis::testing

namespace dormalis::testing {

// The same account without its administrator membership (deny-only) and privileges, as a primary token.
UniqueHandle ordinaryUserToken();

// Starts a command line (inside `job` when given) as the same account without its administrator membership (deny-only)
// and privileges: the ordinary user that Wine, where every program is an elevated administrator, cannot otherwise show.
UniqueHandle startAsOrdinaryUser(const std::wstring& commandLine, HANDLE job = nullptr);

// Reads the message box titled `title` (of any process), presses `button` and gives its text; "<no box>" when none
// appeared within the time.
std::string answerBox(const std::wstring& title, DWORD timeoutMs = 15000, int button = IDOK);

// Runs a program that may show one message box titled `title`: its exit code and the box's text (empty when it
// showed none).
struct BoxedRun {
    DWORD exitCode = STILL_ACTIVE;
    std::string box;
};
BoxedRun runAnsweringBox(const std::wstring& commandLine, const std::wstring& title, DWORD timeoutMs = 60000);

}  // namespace dormalis::testing
