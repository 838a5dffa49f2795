// A stand-in service registered under the product's service name. It accepts stop and user controls and writes
// every control code it receives to the machine registry, so tests can see what reached the service.
#include <windows.h>

#include <string>

#include "foundation/unique.h"

namespace {

constexpr const wchar_t* RecordKey = L"SOFTWARE\\DormalisTestService";
constexpr DWORD HandOverPipe = 129;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{};
HANDLE stopEvent = nullptr;

void record(DWORD control) {
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, RecordKey, L"Controls", RRF_RT_REG_SZ, nullptr, buffer, &bytes);
    std::wstring controls = buffer;
    controls += (controls.empty() ? L"" : L" ") + std::to_wstring(control);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, RecordKey, L"Controls", REG_SZ, controls.c_str(),
                    static_cast<DWORD>((controls.size() + 1) * sizeof(wchar_t)));
}

DWORD readValue(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, RecordKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// Makes the control pipe here, as the real service does, and hands it to the process named by "Requester": a
// saver talking to it then finds this service's process at the other end.
void handOverPipe() {
    dormalis::UniqueHandle pipe{CreateNamedPipeW(
        L"\\\\.\\pipe\\Dormalis.Native.Control", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 128, 128, 0, nullptr)};
    dormalis::UniqueHandle requester{OpenProcess(PROCESS_DUP_HANDLE, FALSE, readValue(L"Requester"))};
    // The copy in the requester is its own to close; ours goes with the holder.
    HANDLE copy = nullptr;
    if (!pipe || !requester ||
        !DuplicateHandle(GetCurrentProcess(), pipe.get(), requester.get(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        copy = INVALID_HANDLE_VALUE;
    const DWORD value = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(copy));
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, RecordKey, L"Pipe", REG_DWORD, &value, sizeof value);
}

void report(DWORD state) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*) {
    if (control == HandOverPipe) return handOverPipe(), NO_ERROR;
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
