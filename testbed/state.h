#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
class Lock {
  public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    HANDLE mutex_;
};

// Counts one call of a simulated function and answers the error code a test asked for at this call, or 0.
DWORD enter(const wchar_t* function);

DWORD getDword(const wchar_t* subkey, const wchar_t* name, DWORD fallback);
bool hasValue(const wchar_t* subkey, const wchar_t* name);
void setDword(const wchar_t* subkey, const wchar_t* name, DWORD value);
ULONGLONG getQword(const wchar_t* subkey, const wchar_t* name);
void setQword(const wchar_t* subkey, const wchar_t* name, ULONGLONG value);
std::wstring getString(const wchar_t* subkey, const wchar_t* name);
void setString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value);
void deleteValue(const wchar_t* subkey, const wchar_t* name);
void deleteTree(const wchar_t* subkey);
std::vector<std::wstring> subkeys(const wchar_t* subkey);
std::vector<std::wstring> valueNames(const wchar_t* subkey);

// The creation time of a process, 0 when it cannot be opened; with the ID it names one process for good.
ULONGLONG processCreated(DWORD pid);
// Ends the filtering sessions whose owner process has ended.
void pruneDeadSessions();
// Ends one filtering session: a dynamic one takes everything it added along; the objects of any other stay,
// owned by the engine, until deleted or the engine restarts (reset()).
void endSession(const std::wstring& session);
inline constexpr const wchar_t* EngineOwned = L"engine";  // tags the objects that outlived their session

std::wstring guidText(const GUID& guid);

}  // namespace dormalis::testbed
