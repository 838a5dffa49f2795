#include "service/network.h"

#include <fwpmu.h>

#include <cfgmgr32.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/unique.h"
#include "service/log.h"

namespace dormalis {

HANDLE engine = nullptr;

namespace {

// Only this service writes the recovery list, so once a restore has seen it empty the idle loop need not read
// the registry every 50 ms; unknown (true) until the first restore has looked.
bool journalMayHoldEntries = true;

// Removes one recovery entry and makes the removal durable. If the key cannot be opened the entry stays, and
// the next attempt finds the adapter started and clears it then.
void clearEntry(const std::wstring& id) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Journal, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    RegDeleteValueW(key.get(), id.c_str());
    RegFlushKey(key.get());
}

// Brings one listed adapter back; false when it must stay on the list.
bool restoreDevice(const std::wstring& id) {
    DEVINST node = 0;
    CONFIGRET located = CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(id.c_str()), CM_LOCATE_DEVNODE_NORMAL);
    if (located == CR_NO_SUCH_DEVNODE) {
        clearEntry(id);  // unplugged while disabled: nothing left to enable
        return true;
    }
    if (located != CR_SUCCESS) return false;
    ULONG status = 0, problem = 0;
    if (CM_Get_DevNode_Status(&status, &problem, node, 0) == CR_SUCCESS && (status & DN_STARTED)) {
        clearEntry(id);
        return true;
    }
    if (CM_Enable_DevNode(node, 0) != CR_SUCCESS) return false;
    clearEntry(id);
    return true;
}

bool releaseFirewall() {
    if (!engine) return true;
    if (FwpmEngineClose0(engine) != ERROR_SUCCESS) {
        setNetworkState(NetworkError);
        logEvent(L"Firewall recovery failed; retry pending.");
        return false;
    }
    engine = nullptr;
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

std::vector<std::wstring> savedDevices() {
    std::vector<std::wstring> ids;
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Journal, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return ids;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512] = {};
        wchar_t data[4096] = {};
        DWORD nameLength = 512, dataSize = sizeof data, type = 0;
        LONG rc = RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ || dataSize < 2) continue;
        // The data need not be terminated; the buffer is zeroed and one character longer than any ID we keep.
        data[4095] = L'\0';
        std::wstring id(data);
        if (id.size() > 2047) id.resize(2047);
        if (!id.empty()) ids.push_back(id);
    }
    return ids;
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
    bool restored = true;
    for (const std::wstring& id : savedDevices()) {
        if (restoreDevice(id)) continue;
        logEvent(L"Adapter restoration pending: " + id);
        restored = false;
    }
    journalMayHoldEntries = !savedDevices().empty();
    setNetworkState(restored ? NetworkReady : NetworkError);
    return restored;
}

}  // namespace dormalis
