#include <windows.h>

#include <cfgmgr32.h>

#include "foundation/constants.h"
#include "foundation/unique.h"
#include "service/log.h"
#include "service/network.h"

// The recovery list and the adapters it names. Apart from the service, only the uninstaller runs this, once the
// service is stopped, so the two never work on the list at the same time.
namespace dormalis {

namespace {

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
    // Unplugged while disabled, or an ID no device can ever have (we only list IDs the system gave us): nothing
    // to enable, and keeping it would hold recovery pending, and every saver out, for good.
    if (located == CR_NO_SUCH_DEVNODE || located == CR_INVALID_DEVICE_ID) {
        clearEntry(id);
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

}  // namespace

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

bool restoreListedAdapters() {
    bool restored = true;
    for (const std::wstring& id : savedDevices()) {
        if (restoreDevice(id)) continue;
        logEvent(L"Adapter restoration pending: " + id);
        restored = false;
    }
    return restored;
}

}  // namespace dormalis
