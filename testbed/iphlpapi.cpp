// Stand-in for the interface table: the test describes each interface (GUID, type, hardware flag) instead of
// the Linux host's own network devices.
#include <winsock2.h>
#include <windows.h>

#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <string>
#include <vector>

#include "testbed/state.h"

using namespace dormalis::testbed;

extern "C" {

DWORD WINAPI GetIfTable2(PMIB_IF_TABLE2* table) {
    if (!table) return ERROR_INVALID_PARAMETER;
    *table = nullptr;
    if (DWORD fault = enter(L"GetIfTable2")) return fault;
    const std::vector<std::wstring> rows = names(InterfacesKey);
    size_t size = sizeof(MIB_IF_TABLE2) + rows.size() * sizeof(MIB_IF_ROW2);
    auto* result = static_cast<PMIB_IF_TABLE2>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!result) return ERROR_NOT_ENOUGH_MEMORY;
    result->NumEntries = static_cast<ULONG>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::wstring path = std::wstring(InterfacesKey) + L"\\" + rows[i];
        MIB_IF_ROW2& row = result->Table[i];
        row.InterfaceIndex = static_cast<NET_IFINDEX>(i + 1);
        CLSIDFromString(getString(path.c_str(), L"Guid").c_str(), &row.InterfaceGuid);
        row.Type = getDword(path.c_str(), L"Type", IF_TYPE_ETHERNET_CSMACD);
        row.InterfaceAndOperStatusFlags.HardwareInterface = getDword(path.c_str(), L"Hardware", 1) != 0;
        row.OperStatus = IfOperStatusUp;
    }
    *table = result;
    return ERROR_SUCCESS;
}

void WINAPI FreeMibTable(PVOID memory) {
    if (memory) HeapFree(GetProcessHeap(), 0, memory);
}

}  // extern "C"
