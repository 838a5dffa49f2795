#include <windows.h>

#include <wtsapi32.h>

#include "foundation/contract.h"
#include "service/loop.h"
#include "service/network.h"
#include "service/service.h"

namespace dormalis {

std::atomic<bool> restoreRequested{false};
std::atomic<DWORD> saverSession{0};
UniqueHandle stopEvent;

namespace {

constexpr DWORD AcceptedWhileRunning =
    SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_SESSIONCHANGE;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};

void report(DWORD state, DWORD accepted, DWORD checkPoint, DWORD waitHint) {
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    if (statusHandle) SetServiceStatus(statusHandle, &status);
}

bool endsUserPresence(DWORD control, DWORD eventType) {
    if (control == SERVICE_CONTROL_SESSIONCHANGE)
        return eventType == WTS_CONSOLE_DISCONNECT || eventType == WTS_REMOTE_DISCONNECT ||
               eventType == WTS_SESSION_LOGOFF || eventType == WTS_SESSION_LOCK;
    if (control == SERVICE_CONTROL_POWEREVENT)
        return eventType == PBT_APMSUSPEND || eventType == PBT_APMRESUMESUSPEND || eventType == PBT_APMRESUMEAUTOMATIC;
    return control == RestoreNowControl;
}

// A secure saver locks its own session a grace period after it starts, while it still runs: that lock is not the
// user's return. The saver's STOP, its silence or its death ends the pause then.
bool lockUnderConnectedSaver(DWORD control, DWORD eventType, const void* eventData) {
    if (control != SERVICE_CONTROL_SESSIONCHANGE || eventType != WTS_SESSION_LOCK || !eventData) return false;
    const DWORD session = static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
    return session != 0 && session == saverSession.load();
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    statusHandle = RegisterServiceCtrlHandlerExW(ServiceName, controlEx, nullptr);
    if (!statusHandle) return;
    report(SERVICE_START_PENDING, 0, 1, 30000);
    // Whatever a previous run left interrupted (a crash, a power loss) is given back before any saver can connect.
    restore();
    // Running before the pipe exists: another program holding its name must not keep the service down, and a
    // stop must not wait for the name.
    report(SERVICE_RUNNING, AcceptedWhileRunning, 0, 0);
    UniqueHandle pipe = claimControlPipe();
    if (pipe)
        runLoop(pipe.get());
    else
        restore();  // stopped while the name was held: what an earlier run left is given back all the same
    pipe.reset();
    report(SERVICE_STOPPED, 0, 0, 0);
}

}  // namespace

DWORD WINAPI controlEx(DWORD control, DWORD eventType, void* eventData, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        // Stop pending goes out before the event: the loop may report stopped at once after it.
        report(SERVICE_STOP_PENDING, 0, 1, 30000);
        if (stopEvent) SetEvent(stopEvent.get());
    } else if (endsUserPresence(control, eventType) && !lockUnderConnectedSaver(control, eventType, eventData)) {
        restoreRequested.exchange(true);
    }
    return NO_ERROR;
}

void runService() {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(ServiceName), serviceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherW(table);
    // The handler can no longer be called.
    stopEvent.reset();
}

}  // namespace dormalis
