#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "foundation/unique.h"

namespace dormalis::testing {

// The default installation folder.
inline const std::wstring DefaultFolder = L"C:\\Program Files\\DormalisNative";

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

// This account without its administrators membership and privileges: an ordinary user, which Wine cannot show.
UniqueHandle ordinaryUserToken();
// Starts a command line as that ordinary user inside `job`, which then counts every elevated copy it starts too.
UniqueHandle startAsOrdinaryUser(const std::wstring& commandLine, HANDLE job);
// How many processes were ever started in a job.
DWORD processesOf(HANDLE job);

// Waits for a started process; kills it at the deadline. Returns the exit code, or STILL_ACTIVE if it was killed.
DWORD finishProcess(HANDLE process, DWORD timeoutMs);

// Runs the test driver with the given arguments; its output has the trailing line break removed.
ProcessResult driver(const std::wstring& arguments, DWORD timeoutMs = 15000);

// Reads the message box titled `title` (of any process), presses `button` and gives its text or "<no box>".
std::string answerBox(const std::wstring& title, DWORD timeoutMs, int button = IDOK);

// Quotes a path for a command line.
std::wstring quoted(const std::wstring& text);

// Deletes a registry key and everything below it; a missing key is fine.
void deleteKeyTree(HKEY root, const wchar_t* subkey);

// Polls a condition every 10 ms until it holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Values of the product's machine key; the fallback stands for an absent value.
DWORD machineDword(const wchar_t* name, DWORD fallback = 0xDEAD);
std::wstring machineString(const wchar_t* name, const std::wstring& fallback = L"<absent>");
void setMachineDword(const wchar_t* name, DWORD value);
void deleteMachineValue(const wchar_t* name);

// The product's service, or the one named, opened with `access`; empty when it is not registered.
UniqueService openService(DWORD access, const wchar_t* name = L"DormalisNative");
// The product's service's status with its process; all zero when it is not registered.
SERVICE_STATUS_PROCESS serviceStatus();
// The current state of the product's service, or 0 when it is not registered.
DWORD serviceState();
// Stops the named service, waits until it has stopped, and deletes it; nothing when it is not registered.
void removeService(const wchar_t* name = L"DormalisNative");
// Waits for the product's service to reach a state; returns whether it did.
bool waitForServiceState(DWORD state, DWORD timeoutMs);

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& text);

}  // namespace dormalis::testing
