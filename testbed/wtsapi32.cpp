// Stand-in for the session information query: Wine answers no connect state at all, so each session's state
// is the one the test describes (active unless told otherwise).
#include <windows.h>

#include <wtsapi32.h>

#include <string>

#include "testbed/state.h"

using namespace dormalis::testbed;

extern "C" {

BOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD session, WTS_INFO_CLASS infoClass, LPWSTR* buffer, DWORD* bytes) {
    DWORD error = enter(L"WTSQuerySessionInformationW");
    if (!error && (!buffer || !bytes)) error = ERROR_INVALID_PARAMETER;
    if (!error && infoClass != WTSConnectState) error = ERROR_NOT_SUPPORTED;  // none other is simulated
    auto* data = error ? nullptr : static_cast<DWORD*>(LocalAlloc(LMEM_FIXED, sizeof(DWORD)));
    if (!data) {
        SetLastError(error ? error : ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *data = getDword(SessionsKey, std::to_wstring(session).c_str(), WTSActive);
    *buffer = reinterpret_cast<LPWSTR>(data);
    *bytes = sizeof(DWORD);
    return TRUE;
}

void WINAPI WTSFreeMemory(PVOID memory) {
    LocalFree(memory);
}

}  // extern "C"
