#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/unique.h"

// Shared state of the simulated Windows components. It lives in the registry so that the test process, the
// service process and Wine's service manager all see the same machine, and it survives the death of any of them.
namespace dormalis::testbed {

inline constexpr const wchar_t* Root = L"SOFTWARE\\DormalisTestbed";
inline constexpr const wchar_t* FaultsKey = L"SOFTWARE\\DormalisTestbed\\Faults";
inline constexpr const wchar_t* CallsKey = L"SOFTWARE\\DormalisTestbed\\Calls";
inline constexpr const wchar_t* DevicesKey = L"SOFTWARE\\DormalisTestbed\\Devices";
inline constexpr const wchar_t* InterfacesKey = L"SOFTWARE\\DormalisTestbed\\Interfaces";
inline constexpr const wchar_t* SessionsKey = L"SOFTWARE\\DormalisTestbed\\Sessions";
inline constexpr const wchar_t* WfpKey = L"SOFTWARE\\DormalisTestbed\\Wfp";
inline constexpr const wchar_t* WfpSessionsKey = L"SOFTWARE\\DormalisTestbed\\Wfp\\Sessions";
inline constexpr const wchar_t* WfpSubLayersKey = L"SOFTWARE\\DormalisTestbed\\Wfp\\SubLayers";
inline constexpr const wchar_t* WfpFiltersKey = L"SOFTWARE\\DormalisTestbed\\Wfp\\Filters";

// Device node states kept under DevicesKey (value name = device instance ID).
inline constexpr DWORD DeviceStopped = 0;
inline constexpr DWORD DeviceStarted = 1;
inline constexpr DWORD DeviceDisabled = 2;
inline constexpr DWORD DeviceNeedsRestart = 3;  // enabled, but it starts only after Windows restarts

// Serialises read-modify-write of the shared state between processes.
struct Lock {
    Lock() { WaitForSingleObject(mutex.get(), 10000); }
    ~Lock() { ReleaseMutex(mutex.get()); }
    UniqueHandle mutex{CreateMutexW(nullptr, FALSE, L"Local\\DormalisTestbed")};
};

// Counts one call of a simulated function and answers the error code a test asked for at this call, or 0.
DWORD enter(const wchar_t* function);

DWORD getDword(const wchar_t* subkey, const wchar_t* name, DWORD fallback);
bool hasValue(const wchar_t* subkey, const wchar_t* name);
void setDword(const wchar_t* subkey, const wchar_t* name, DWORD value);
std::wstring getString(const wchar_t* subkey, const wchar_t* name);
void setString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value);
void deleteTree(const wchar_t* subkey);
// The subkeys of a key, or with values set its value names.
std::vector<std::wstring> names(const wchar_t* subkey, bool values = false);

// The creation time of a running process, else empty; with the ID it names one process for good.
std::wstring processCreated(DWORD pid);
// Ends the filtering sessions whose owner process has ended.
void pruneDeadSessions();
// Ends one filtering session: its open transaction is aborted, a dynamic session takes everything it added
// along, and the objects of any other stay, owned by the engine, until the engine restarts (reset()).
void endSession(const std::wstring& session);
inline constexpr const wchar_t* EngineOwned = L"engine";    // the owner of objects that outlived their session
inline constexpr const wchar_t* Uncommitted = L" pending";  // follows the owner of an object in a transaction

std::wstring guidText(const GUID& guid);

}  // namespace dormalis::testbed
