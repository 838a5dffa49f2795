// A stand-in service registered under the product's service name. It accepts stop and user controls and writes
// every control code it receives to the machine registry, so tests can see what reached the service.
#include <windows.h>

#include <string>

namespace {

constexpr const wchar_t* RecordKey = L"SOFTWARE\\DormalisTestService";

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{};
HANDLE stopEvent = nullptr;

void record(DWORD control) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    std::wstring controls;
    if (RegQueryValueExW(key, L"Controls", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
        controls = buffer;
    }
    if (!controls.empty()) controls += L" ";
    controls += std::to_wstring(control);
    RegSetValueExW(key, L"Controls", 0, REG_SZ, reinterpret_cast<const BYTE*>(controls.c_str()),
                   static_cast<DWORD>((controls.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void report(DWORD state) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*) {
    if (control != SERVICE_CONTROL_INTERROGATE) record(control);
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    statusHandle = RegisterServiceCtrlHandlerExW(L"DormalisNative", handler, nullptr);
    if (!statusHandle) return;
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_RUNNING);
    WaitForSingleObject(stopEvent, INFINITE);
    report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
    wchar_t name[] = L"DormalisNative";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
