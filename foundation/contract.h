#pragma once

#include <windows.h>

#include <string>

#include "foundation/constants.h"

// What crosses a process boundary: the control pipe's words, the service's restore control, the machine values
// that more than one role reads or writes, and the files of an installation. Both sides use these names.
namespace dormalis {

// Control pipe words (the pipe is PipeName): 8-bit letters, one word per message, no terminator on the wire.
inline constexpr char StartWord[] = "START";
inline constexpr char AliveWord[] = "ALIVE";
inline constexpr char StopWord[] = "STOP";
inline constexpr char OkWord[] = "OK";
inline constexpr char ErrorWord[] = "ERROR";

// The service's own control code: give the network back now.
inline constexpr DWORD RestoreNowControl = 128;

// The machine's NetworkState value; only the service writes it.
enum NetworkState : DWORD {
    NetworkReady = 0,  // not blocked
    NetworkBlocked = 1,
    NetworkRestoring = 2,
    NetworkError = 3,
};

// Values of the machine key RegistryPath shared between roles.
inline constexpr const wchar_t* NetworkStateValue = L"NetworkState";
inline constexpr const wchar_t* ModeConfiguredValue = L"ModeConfigured";
inline constexpr const wchar_t* FirewallValue = L"Firewall";
inline constexpr const wchar_t* InstallPathValue = L"InstallPath";
inline constexpr const wchar_t* LastInstallErrorValue = L"LastInstallError";
// "time|mode|reason" of the last pause the service could not make (UTC time as 2026-12-07T07:06:43Z; mode
// firewall, adapters or none; the reason in English); only the service writes it, and only a later pause that
// holds removes it.
inline constexpr const wchar_t* LastFailedPauseValue = L"LastFailedPause";

// The files of an installation folder.
inline constexpr const wchar_t* ProgramFileName = L"Dormalis.exe";
inline constexpr const wchar_t* SaverFileName = L"Dormalis.scr";
inline constexpr const wchar_t* UninstallerFileName = L"Uninstall.exe";
inline constexpr const wchar_t* ShortcutFileName = L"Dormalis.lnk";

// `name` inside the folder `dir`, or inside installDir() when no folder is given.
std::wstring installedFile(const wchar_t* name, const std::wstring& dir);
std::wstring installedFile(const wchar_t* name);

struct FailedPause {
    std::wstring time, mode, reason;  // all empty when no pause failed since the last one that held
};
FailedPause lastFailedPause();

// Whether the user has confirmed an interruption mode. Only the 1 that the mode change writes counts: an
// installation records 0 while its mode is a mere default, and a missing or foreign value confirms nothing.
bool modeConfigured();

}  // namespace dormalis
