#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/contract.h"

// The network side of the service: the two pauses and the restore that undoes either.
// Everything here runs on the service loop thread only.
namespace dormalis {

// The filtering engine session of a firewall pause; null when none exists. A non-null engine while no saver is
// connected means that its release failed and recovery is pending.
extern HANDLE engine;

struct Device {
    DWORD node = 0;
    std::wstring id;
};

// Writes NetworkState; a failed write changes nothing else.
void setNetworkState(NetworkState state);

// Undoes any pause: closes the filtering session and enables every adapter of the recovery list.
// True when nothing is left pending.
bool restore();

// The device instance IDs of the recovery list, in registry order.
std::vector<std::wstring> savedDevices();
// Enables every listed adapter that is not running and clears the entries of those running or gone; logs each
// one that stays pending. True when the list is done.
bool restoreListedAdapters();

// Whether a restore still has something to do (an open engine or a recovery entry).
bool recoveryPending();
// Called before the adapter pause writes the recovery list.
void noteJournalWrite();

// Closes `engine` and sets it to null; false while a session of ours may still hold the block.
bool closeEngine();
// Whether the filtering session of the firewall pause still holds our sublayer. An engine restart aborts the
// session and takes the block with it.
bool firewallBlockHolds();

// The pauses; each logs its outcome and, on failure, has already called restore() and says why in `why`.
bool pauseFirewall(std::wstring& why);
bool pauseAdapters(std::wstring& why);

// Records the pause that could not be made (mode firewall, adapters or none), for the user to see; a pause
// that holds removes the record.
void recordFailedPause(const wchar_t* mode, const std::wstring& why);
void clearFailedPause();

// The started physical Ethernet and Wi-Fi adapters, in device order.
std::vector<Device> adapters();

}  // namespace dormalis
