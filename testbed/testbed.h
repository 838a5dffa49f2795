#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "testbed/state.h"

// The test side of the simulated network stack: describe the machine, inject failures, read what was done.
namespace dormalis::testbed {

struct Adapter {
    std::wstring id;    // device instance ID, for example ROOT\NET\0000
    std::wstring guid;  // interface GUID in braces, equal to the driver key's NetCfgInstanceId
    DWORD type = 6;     // interface type: 6 Ethernet, 71 Wi-Fi, 24 loopback, 131 tunnel, 243 mobile broadband
    bool hardware = true;
    DWORD state = DeviceStarted;
};

struct SubLayerRecord {
    std::wstring key;
    DWORD weight = 0;
    DWORD ownerPid = 0;
};

struct FilterRecord {
    std::wstring layer;
    std::wstring subLayer;
    DWORD action = 0;
    DWORD conditions = 0;
    DWORD ownerPid = 0;
};

// Forgets everything: adapters (with their setupapi registry entries), sessions, faults, counts, WFP objects.
void reset();

// Adds an adapter: an interface row, a present network-class device with its driver key, and a node state
// (kept as "Initial <id>" under Root too).
void addAdapter(const Adapter& adapter);
// Only the interface row, with no device behind it.
void addInterface(const std::wstring& guid, DWORD type, bool hardware);
// DeviceStopped/DeviceStarted/DeviceDisabled/DeviceNeedsRestart, or -1 when the node does not exist.
long deviceState(const std::wstring& id);
// Enabling the adapter leaves it needing a restart of Windows.
void needRestartOnEnable(const std::wstring& id);
// Every disable of a node takes this long.
void delayDisables(DWORD ms);
// Disables that asked the user, or came before the product's recovery list named the adapter.
DWORD unsafeDisables();

// The connect state (WTS_CONNECTSTATE_CLASS) the session information query answers for a session.
void setSessionState(DWORD session, DWORD state);

// Makes calls number first .. first+count-1 of a simulated function fail with code (count 0: every call on).
void failCall(const std::wstring& function, DWORD first, DWORD code, DWORD count = 1);
void clearFaults();
void clearCalls();
DWORD calls(const std::wstring& function);

// The filtering engine restarts (as the Base Filtering Engine service does): every session is aborted and every
// object gone; an old handle answers FWP_E_SESSION_ABORTED from every call, its close included, which frees it.
void restartEngine();

// The committed filtering objects alive now (sessions of ended processes are ended first, as the engine would).
std::vector<SubLayerRecord> subLayers();
std::vector<FilterRecord> filters();

}  // namespace dormalis::testbed
