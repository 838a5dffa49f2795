#pragma once

#include <windows.h>

#include <string>

#include "foundation/unique.h"

namespace dormalis::testing {

// The folder of the running test executable: the build folder, where every program of the product lies.
std::wstring buildFolder();

struct ProcessResult {
    DWORD exitCode = STILL_ACTIVE;
    bool finished = false;  // false: still running at the deadline, and terminated
    std::string output;     // standard output, as bytes
};

// Runs a command line to its end (or the deadline), collecting its standard output.
ProcessResult runProcess(const std::wstring& commandLine, DWORD timeoutMs);

// Starts a command line and returns its process handle; the caller waits for or ends it.
UniqueHandle startProcess(const std::wstring& commandLine);

// Waits for a started process; kills it at the deadline. Returns the exit code, or STILL_ACTIVE if it was killed.
DWORD finishProcess(HANDLE process, DWORD timeoutMs);

// Runs the test driver with the given arguments; its output has the trailing line break removed.
ProcessResult driver(const std::wstring& arguments, DWORD timeoutMs = 15000);

// Quotes a path for a command line.
std::wstring quoted(const std::wstring& text);

// Deletes a registry key and everything below it; a missing key is fine.
void deleteKeyTree(HKEY root, const wchar_t* subkey);

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& text);

}  // namespace dormalis::testing
