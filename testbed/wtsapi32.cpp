// Stand-in for the session information query: Wine answers no connect state at all, so each session's state
// is the one the test describes (active unless told otherwise).
#include <windows.h>

#include <wtsapi32.h>

#include <string>

#include "testbed/state.h"

using namespace dormalis::testbed;

extern "C" {

BOOL WINAPI WTSQuerySessionInformationW(HANDLE server, DWORD session, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                        DWORD* bytes) {
    (void)server;
    if (DWORD fault = enter(L"WTSQuerySessionInformationW")) {
        SetLastError(fault);
        return FALSE;
    }
    if (!buffer || !bytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD value = 0;
    if (infoClass == WTSConnectState)
        value = getDword(SessionsKey, std::to_wstring(session).c_str(), WTSActive);
    else if (infoClass == WTSSessionId)
        value = session;
    else {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    auto* data = static_cast<DWORD*>(LocalAlloc(LMEM_FIXED, sizeof(DWORD)));
    if (!data) return FALSE;
    *data = value;
    *buffer = reinterpret_cast<LPWSTR>(data);
    *bytes = sizeof(DWORD);
    return TRUE;
}

void WINAPI WTSFreeMemory(PVOID memory) {
    LocalFree(memory);
}

BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD) {
    return TRUE;
}

BOOL WINAPI WTSUnRegisterSessionNotification(HWND) {
    return TRUE;
}

BOOL WINAPI WTSEnumerateSessionsW(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW* sessions, DWORD* count) {
    if (!sessions || !count) return FALSE;
    *sessions = static_cast<PWTS_SESSION_INFOW>(LocalAlloc(LPTR, sizeof(WTS_SESSION_INFOW)));
    *count = 0;
    return *sessions != nullptr;
}

BOOL WINAPI WTSQueryUserToken(ULONG, PHANDLE token) {
    if (token) *token = nullptr;
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
}

}  // extern "C"
