#include "install/install_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "foundation/constants.h"
#include "foundation/contract.h"
#include "foundation/file_identity.h"
#include "foundation/registry.h"
#include "install/admin.h"
#include "install/folder_validation.h"

namespace dormalis {

namespace {

constexpr const char* CannotPrepare = "Cannot prepare folder permissions.";
constexpr const char* CannotSecure = "Cannot secure installation folder.";
constexpr const char* NotEmpty = "Choose an empty folder dedicated to Dormalis.";

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

UniqueLocal installFolderDescriptor() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(InstallFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        fail(CannotPrepare);
    }
    return UniqueLocal{descriptor};
}

// Opens the folder itself, never what a link leads to. Without delete sharing no one can rename or delete it
// while the handle is open.
UniqueHandle openFolder(const std::wstring& dir, DWORD access) {
    return UniqueHandle{CreateFileW(dir.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
}

// The identity of an open folder; false when it is no plain directory.
bool folderIdentity(HANDLE folder, FILE_ID_INFO& identity) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(folder, &information)) return false;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    return fileIdentity(folder, identity);
}

bool isRecordedInstallation(const std::wstring& dir) {
    const std::wstring recorded = readString(HKEY_LOCAL_MACHINE, RegistryPath, InstallPathValue);
    return !recorded.empty() && samePath(recorded, dir);
}

// The very folder an installation made or took over and secured, known by the identity it recorded then: a folder
// made again at the recorded path, by anyone, is another folder.
bool isSecuredInstallation(const std::wstring& dir, const FILE_ID_INFO& identity) {
    FILE_ID_INFO recorded{};
    DWORD bytes = sizeof recorded;
    return isRecordedInstallation(dir) &&
           RegGetValueW(HKEY_LOCAL_MACHINE, RegistryPath, InstallFolderIdentityValue, RRF_RT_REG_BINARY, nullptr,
                        &recorded, &bytes) == ERROR_SUCCESS &&
           bytes == sizeof recorded && sameIdentity(recorded, identity);
}

// A folder found in place may have been prepared by anyone, one at the recorded path too when the installation's
// own went missing and a user made it again: it is taken over only when no one but the system, administrators and
// TrustedInstaller could have opened it for writing or re-permissioning, and, unless it is at the recorded path,
// when it is empty.
void takeOverExisting(HANDLE folder, const std::wstring& dir) {
    PSECURITY_DESCRIPTOR current = nullptr;
    const DWORD read = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, nullptr, nullptr, &current);
    UniqueLocal held{current};
    if (read != ERROR_SUCCESS || !folderDescriptorIsSafe(current, ClaimForbiddenRights)) fail(CannotSecure);
    if (!isRecordedInstallation(dir) && !std::filesystem::is_empty(std::filesystem::path(dir))) fail(NotEmpty);
}

void applyDescriptor(HANDLE folder, PSECURITY_DESCRIPTOR descriptor) {
    PACL dacl = nullptr;
    BOOL daclPresent = FALSE, daclDefaulted = FALSE, ownerDefaulted = FALSE;
    PSID owner = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted) ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted)) {
        fail(CannotPrepare);
    }
    const DWORD result =
        SetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        owner, nullptr, dacl, nullptr);
    if (result != ERROR_SUCCESS) fail(CannotSecure);
}

}  // namespace

UniqueHandle claimInstallFolder(const std::wstring& dir) {
    UniqueLocal descriptor = installFolderDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    // Created and protected in one step: there is no moment in which another account could open it.
    const bool created = CreateDirectoryW(dir.c_str(), &attributes) != FALSE;
    const DWORD createError = created ? ERROR_SUCCESS : GetLastError();
    if (createError == ERROR_PATH_NOT_FOUND) fail(NoParentFolder);
    if (!created && createError != ERROR_ALREADY_EXISTS) {
        throw std::filesystem::filesystem_error("Cannot create the installation folder", std::filesystem::path(dir),
                                                std::error_code(static_cast<int>(createError), std::system_category()));
    }
    UniqueHandle folder = openFolder(dir, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES);
    FILE_ID_INFO judged{};
    if (!folder || !folderIdentity(folder.get(), judged)) fail(CannotSecure);
    if (!created) {
        if (!isSecuredInstallation(dir, judged)) takeOverExisting(folder.get(), dir);
        applyDescriptor(folder.get(), descriptor.get());
    }
    // The copies go by path: it must still lead to the folder judged above, not to a link or a folder put in its
    // place.
    UniqueHandle reopened = openFolder(dir, FILE_READ_ATTRIBUTES);
    FILE_ID_INFO current{};
    if (!reopened || !folderIdentity(reopened.get(), current) || !sameIdentity(judged, current)) fail(CannotSecure);
    if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, InstallFolderIdentityValue, REG_BINARY, &judged,
                        sizeof judged) != ERROR_SUCCESS)
        fail(CannotSecure);
    return folder;
}

}  // namespace dormalis
