#include "service/network.h"

#include <cwchar>

#include "foundation/constants.h"
#include "foundation/contract.h"
#include "foundation/registry.h"
#include "foundation/unique.h"
#include "service/log.h"

namespace dormalis {

HANDLE engine = nullptr;

namespace {

// Only this service writes the recovery list, so once a restore has seen it empty the idle loop need not read
// the registry every 50 ms; unknown (true) until the first restore has looked.
bool journalMayHoldEntries = true;

bool releaseFirewall() {
    if (!engine) return true;
    if (!closeEngine()) {
        setNetworkState(NetworkError);
        logEvent(L"Firewall recovery failed; retry pending.");
        return false;
    }
    logEvent(L"Firewall filters released.");
    return true;
}

}  // namespace

void setNetworkState(NetworkState state) {
    try {
        writeDword(HKEY_LOCAL_MACHINE, RegistryPath, NetworkStateValue, state);
    } catch (...) {
        // Readers show a stale state; the network itself is what matters here.
    }
}

void recordFailedPause(const wchar_t* mode, const std::wstring& why) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t time[32] = {};
    swprintf(time, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
    try {
        writeString(HKEY_LOCAL_MACHINE, RegistryPath, LastFailedPauseValue,
                    std::wstring(time) + L"|" + mode + L"|" + (why.empty() ? L"Unknown." : why));
    } catch (...) {
        // As with NetworkState: the network itself is what matters here.
    }
}

void clearFailedPause() {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, LastFailedPauseValue);
}

void noteJournalWrite() {
    journalMayHoldEntries = true;
}

bool recoveryPending() {
    return engine != nullptr || (journalMayHoldEntries && !savedDevices().empty());
}

bool restore() {
    setNetworkState(NetworkRestoring);
    if (!releaseFirewall()) return false;
    const bool restored = restoreListedAdapters();
    journalMayHoldEntries = !savedDevices().empty();
    setNetworkState(restored ? NetworkReady : NetworkError);
    return restored;
}

}  // namespace dormalis
