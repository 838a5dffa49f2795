// Stand-in for the configuration manager's device-node calls. Wine's setupapi enumerates the fake adapters
// from the registry, but its node status is a stub and disabling or enabling a node aborts the process.
// Node states live in the shared test-bed state, so a disabled adapter stays disabled across processes.
// Our own definitions of these functions, not imports.
#define _CFGMGR32_
#include <windows.h>

#include <cfg.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/constants.h"
#include "testbed/state.h"

using namespace dormalis::testbed;

namespace {

// Nodes handed out by CM_Locate_DevNodeW carry this bit; smaller values come from setupapi's own enumeration.
constexpr DEVINST LocatedBit = 0x40000000;

std::vector<std::wstring> locatedNodes;

using GetDeviceIdFn = CONFIGRET(WINAPI*)(DEVINST, PWSTR, ULONG, ULONG);

// The instance ID of a present node, whichever side handed it out; empty when unknown or gone.
std::wstring idOf(DEVINST node) {
    std::wstring id;
    if (node & LocatedBit) {
        const size_t index = node & ~LocatedBit;
        if (index < locatedNodes.size()) id = locatedNodes[index];
    } else {
        static const auto setupapiGetId = reinterpret_cast<GetDeviceIdFn>(
            reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"setupapi.dll"), "CM_Get_Device_IDW")));
        wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
        if (setupapiGetId && setupapiGetId(node, buffer, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS) id = buffer;
    }
    return !id.empty() && hasValue(DevicesKey, id.c_str()) ? id : std::wstring();
}

// As the configuration manager checks an instance ID: three non-empty parts of printable ASCII without commas
// or spaces, shorter than MAX_DEVICE_ID_LEN.
bool wellFormed(const std::wstring& id) {
    const size_t first = id.find(L'\\'), last = id.rfind(L'\\');
    return id.size() < MAX_DEVICE_ID_LEN && std::count(id.begin(), id.end(), L'\\') == 2 && first > 0 &&
           last > first + 1 && last + 1 < id.size() &&
           std::all_of(id.begin(), id.end(), [](wchar_t c) { return c > L' ' && c <= 0x7E && c != L','; });
}

}  // namespace

extern "C" {

CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST node, PWSTR buffer, ULONG length, ULONG) {
    if (DWORD fault = enter(L"CM_Get_Device_IDW")) return fault;
    const std::wstring id = idOf(node);
    if (id.empty()) return CR_NO_SUCH_DEVNODE;
    if (!buffer) return CR_INVALID_POINTER;
    if (length < id.size() + 1) return CR_BUFFER_SMALL;
    wcscpy(buffer, id.c_str());
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST node, ULONG) {
    if (DWORD fault = enter(L"CM_Get_DevNode_Status")) return fault;
    const std::wstring id = idOf(node);
    if (id.empty()) return CR_NO_SUCH_DEVNODE;
    if (!status || !problem) return CR_INVALID_POINTER;
    const DWORD state = getDword(DevicesKey, id.c_str(), DeviceStopped);
    const bool troubled = state == DeviceDisabled || state == DeviceNeedsRestart;
    *status = DN_HAS_PROBLEM * troubled | DN_NEED_RESTART * (state == DeviceNeedsRestart) |
              DN_DRIVER_LOADED * (state == DeviceStarted) | DN_STARTED * (state == DeviceStarted);
    *problem = state == DeviceDisabled ? CM_PROB_DISABLED : state == DeviceNeedsRestart ? CM_PROB_NEED_RESTART : 0;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG) {
    if (DWORD fault = enter(L"CM_Locate_DevNodeW")) return fault;
    if (!node) return CR_INVALID_POINTER;
    *node = 0;
    if (!id) return CR_NO_SUCH_DEVNODE;
    if (!wellFormed(id)) return CR_INVALID_DEVICE_ID;
    if (!hasValue(DevicesKey, id)) return CR_NO_SUCH_DEVNODE;
    locatedNodes.push_back(id);
    *node = LocatedBit | static_cast<DEVINST>(locatedNodes.size() - 1);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Disable_DevNode(DEVINST node, ULONG flags) {
    if (DWORD fault = enter(L"CM_Disable_DevNode")) return fault;
    const std::wstring id = idOf(node);
    if (id.empty()) return CR_NO_SUCH_DEVNODE;
    if (flags & ~(CM_DISABLE_BITS | CM_DISABLE_PERSIST)) return CR_INVALID_FLAG;
    // A real adapter (Wi-Fi above all) can take seconds to go down; the caller waits all that time.
    Sleep(getDword(Root, L"DisableDelayMs", 0));
    Lock lock;
    // Counted for the tests: a disable that would ask the user (a service cannot answer), or of an adapter the
    // product's recovery list does not name yet (a crash now would leave it off for good).
    if (!(flags & CM_DISABLE_UI_NOT_OK) || !hasValue(dormalis::Journal, id.c_str()))
        setDword(Root, L"UnsafeDisables", getDword(Root, L"UnsafeDisables", 0) + 1);
    setDword(DevicesKey, id.c_str(), DeviceDisabled);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Enable_DevNode(DEVINST node, ULONG flags) {
    if (DWORD fault = enter(L"CM_Enable_DevNode")) return fault;
    const std::wstring id = idOf(node);
    if (id.empty()) return CR_NO_SUCH_DEVNODE;
    if (flags != 0) return CR_INVALID_FLAG;
    Lock lock;
    const bool restart = getDword(Root, (L"Restart " + id).c_str(), 0) != 0;
    setDword(DevicesKey, id.c_str(), restart ? DeviceNeedsRestart : DeviceStarted);
    return CR_SUCCESS;
}

}  // extern "C"
