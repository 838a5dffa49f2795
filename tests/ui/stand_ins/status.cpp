// Used only while the status area is not part of the build: the service manager is asked for real.
#include <windows.h>

#include "foundation/constants.h"
#include "foundation/service_queries.h"
#include "status/status_report.h"

namespace dormalis {

bool serviceInstalled() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceW(manager, ServiceName, SERVICE_QUERY_STATUS);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}
bool serviceRunning() {
    return false;
}
int requestNetworkRestore() {
    return 1;
}
std::wstring networkModeLabel() {
    return L"-";
}
std::wstring networkStatus() {
    return L"-";
}
std::wstring configurationReport() {
    return L"-";
}

}  // namespace dormalis
