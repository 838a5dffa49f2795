#include "foundation/service_queries.h"

#include <windows.h>

#include "foundation/contract.h"
#include "foundation/unique.h"

namespace dormalis {

namespace {

// SERVICE_USER_DEFINED_CONTROL: the only right a user needs to ask for a restore.
constexpr DWORD UserDefinedControlRight = 256;

UniqueService openManager() {
    return UniqueService{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
}

UniqueService openService(const UniqueService& manager, DWORD access) {
    if (!manager) return {};
    return UniqueService{OpenServiceW(manager.get(), ServiceName, access)};
}

}  // namespace

bool serviceInstalled() {
    UniqueService manager = openManager();
    return openService(manager, SERVICE_QUERY_STATUS).valid();
}

bool serviceRunning() {
    return serviceProcessId() != 0;
}

unsigned long serviceProcessId() {
    UniqueService manager = openManager();
    UniqueService service = openService(manager, SERVICE_QUERY_STATUS);
    if (!service) return 0;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
        return 0;
    }
    return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

int requestNetworkRestore() {
    return sendNetworkRestore() == ERROR_SUCCESS ? 0 : 1;
}

unsigned long sendNetworkRestore() {
    UniqueService manager = openManager();
    UniqueService service = openService(manager, UserDefinedControlRight);
    SERVICE_STATUS status{};
    if (!service || !ControlService(service.get(), RestoreNowControl, &status)) return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace dormalis
