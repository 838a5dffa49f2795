#include "install/admin.h"

#include <cstring>

#include "foundation/constants.h"

namespace dormalis {

bool installQuiet = false;
HWND installProgressWindow = nullptr;

void reportInstallStep(InstallStep step) {
    if (installProgressWindow)
        PostMessageW(installProgressWindow, InstallProgressMessage, static_cast<WPARAM>(step), 0);
}

bool isAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
    FreeSid(administrators);
    return checked && member;
}

bool installedServiceExists() {
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager) return false;
    UniqueService service{OpenServiceW(manager.get(), ServiceName, SERVICE_QUERY_STATUS)};
    return service.valid();
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring widenMessage(const char* message) {
    std::wstring wide;
    for (const char* c = message; *c; ++c)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

void showInstallError(const std::wstring& message) {
    if (installQuiet) return;
    MessageBoxW(nullptr, message.c_str(), ErrorTitle, MB_OK | MB_ICONERROR);
}

}  // namespace dormalis
