#include <winsock2.h>
#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <setupapi.h>

#include <cwctype>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/unique.h"
#include "service/log.h"
#include "service/network.h"

namespace dormalis {

namespace {

using UniqueDeviceSet = Unique<HDEVINFO, &SetupDiDestroyDeviceInfoList>;

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The GUIDs of the physical Ethernet and Wi-Fi interfaces; false when the table cannot be read.
bool physicalInterfaces(std::vector<std::wstring>& guids) {
    PMIB_IF_TABLE2 table = nullptr;
    if (GetIfTable2(&table) != NO_ERROR || !table) return false;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        if (!row.InterfaceAndOperStatusFlags.HardwareInterface) continue;
        if (row.Type != IF_TYPE_ETHERNET_CSMACD && row.Type != IF_TYPE_IEEE80211) continue;
        wchar_t text[64] = {};
        if (StringFromGUID2(row.InterfaceGuid, text, 64)) guids.emplace_back(text);
    }
    FreeMibTable(table);
    return true;
}

std::wstring netCfgInstanceId(HDEVINFO set, SP_DEVINFO_DATA& data) {
    UniqueKey key(SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
    if (!key) return {};
    wchar_t value[128] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(key.get(), nullptr, L"NetCfgInstanceId", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return {};
    return value;
}

// The device behind one set entry, when it is a started adapter of a wanted interface.
bool chosenDevice(HDEVINFO set, SP_DEVINFO_DATA& data, const std::vector<std::wstring>& wanted, Device& device) {
    std::wstring instance = netCfgInstanceId(set, data);
    if (instance.empty()) return false;
    bool match = false;
    for (const std::wstring& guid : wanted)
        match = match || sameText(guid, instance);
    if (!match) return false;
    ULONG status = 0, problem = 0;
    // A disabled or stopped adapter is never touched, so restore() will not enable what the user turned off.
    if (CM_Get_DevNode_Status(&status, &problem, data.DevInst, 0) != CR_SUCCESS || !(status & DN_STARTED)) return false;
    wchar_t id[200] = {};
    if (CM_Get_Device_IDW(data.DevInst, id, 200, 0) != CR_SUCCESS) return false;
    id[199] = L'\0';
    device = Device{data.DevInst, id};
    return true;
}

std::vector<Device> adaptersOf(HDEVINFO set, const std::vector<std::wstring>& wanted) {
    std::vector<Device> devices;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        Device device;
        if (chosenDevice(set, data, wanted, device)) devices.push_back(device);
    }
    return devices;
}

// Writes the recovery list; false at the first value that cannot be written.
bool recordDevices(const std::vector<Device>& devices) {
    noteJournalWrite();
    try {
        for (const Device& device : devices)
            writeString(HKEY_LOCAL_MACHINE, Journal, device.id.c_str(), device.id);
    } catch (...) {
        return false;
    }
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Journal, 0, KEY_READ, key.put()) == ERROR_SUCCESS) RegFlushKey(key.get());
    return true;
}

bool disableAll(const std::vector<Device>& devices, std::wstring& why) {
    for (const Device& device : devices) {
        const CONFIGRET rc = CM_Disable_DevNode(device.node, CM_DISABLE_UI_NOT_OK);
        if (rc == CR_SUCCESS) continue;
        why = L"Adapter not disabled (configuration manager code " + std::to_wstring(rc) + L"): " + device.id;
        return false;
    }
    return true;
}

// Why the adapters could not be paused, at the first step that failed.
bool pauseDevices(const std::vector<Device>& devices, std::wstring& why) {
    if (devices.empty()) {
        why = L"No started physical Ethernet or Wi-Fi adapter.";
        return false;
    }
    if (!recordDevices(devices)) {
        why = L"Recovery list not writable.";
        return false;
    }
    return disableAll(devices, why);
}

}  // namespace

std::vector<Device> adapters() {
    std::vector<std::wstring> wanted;
    if (!physicalInterfaces(wanted)) return {};
    UniqueDeviceSet set(SetupDiGetClassDevsW(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) return {};
    return adaptersOf(set.get(), wanted);
}

bool pauseAdapters(std::wstring& why) {
    std::vector<std::wstring> wanted;
    UniqueDeviceSet set;
    if (physicalInterfaces(wanted))
        set.reset(SetupDiGetClassDevsW(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) {
        why = L"Network adapters not listed.";
        return false;
    }
    // The set stays open until the nodes are disabled: its node handles are only valid while it exists.
    const bool paused = pauseDevices(adaptersOf(set.get(), wanted), why);
    set.reset();
    if (!paused) {
        restore();
        return false;
    }
    logEvent(L"Physical Ethernet/Wi-Fi adapters paused.");
    return true;
}

}  // namespace dormalis
