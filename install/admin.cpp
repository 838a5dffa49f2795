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
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.put())) {
        return false;
    }
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, administrators.get(), &member) && member;
}

void showInstallError(const std::wstring& message) {
    if (installQuiet) return;
    showFailure(nullptr, message, FailureScope::Process);
}

}  // namespace dormalis
