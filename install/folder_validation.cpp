#include "install/folder_validation.h"

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/unique.h"
#include "install/admin.h"
#include "install/install.h"

namespace dormalis {

namespace {

constexpr size_t MinInputLength = 4;
constexpr size_t MaxInputLength = 239;
constexpr DWORD FullPathBuffer = 32768;

constexpr const char* NotAbsolute = "Choose an absolute local installation folder, not a drive root.";
constexpr const char* Invalid = "Invalid installation folder.";
constexpr const char* DriveRoot = "A drive root cannot be an installation folder.";
constexpr const char* NotFixed = "Choose a local fixed disk.";
constexpr const char* InstalledElsewhere =
    "To change the folder of an existing installation, uninstall Dormalis first, then run Setup again.";
constexpr const char* UnsafeAncestor =
    "Choose a protected folder (for example under Program Files). User-writable parent folders and links are not "
    "safe for a Windows service.";
constexpr const char* Linked = "Linked folders are not supported.";
constexpr const char* NotEmpty = "Choose an empty folder dedicated to Dormalis.";

void checkRawForm(const std::wstring& requested) {
    if (requested.size() < MinInputLength || requested.size() > MaxInputLength) throw std::runtime_error(NotAbsolute);
    if (requested[1] != L':' || requested[2] != L'\\') throw std::runtime_error(NotAbsolute);
    // The event source's message file is an expandable string: a %NAME% in the folder would lead elsewhere.
    if (requested.find_first_of(L"<>\"|?*%") != std::wstring::npos) throw std::runtime_error(NotAbsolute);
    // A colon after the drive letter names a stream or a device.
    if (requested.find(L':', 2) != std::wstring::npos) throw std::runtime_error(NotAbsolute);
}

std::wstring fullPath(const std::wstring& requested) {
    std::vector<wchar_t> buffer(FullPathBuffer, L'\0');
    const DWORD length = GetFullPathNameW(requested.c_str(), FullPathBuffer, buffer.data(), nullptr);
    if (length == 0 || length >= FullPathBuffer) throw std::runtime_error(Invalid);
    return std::wstring(buffer.data(), length);
}

bool isMissing(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory ||
           (error.category() == std::system_category() &&
            (error.value() == ERROR_FILE_NOT_FOUND || error.value() == ERROR_PATH_NOT_FOUND));
}

void checkParent(const std::wstring& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(parent, error);
    if (error && !isMissing(error))
        throw std::filesystem::filesystem_error("Cannot read the parent folder", parent, error);
    if (!std::filesystem::is_directory(status)) throw std::runtime_error(NoParentFolder);
}

// Attributes and descriptor are read through one handle to the folder itself (a link is opened, not followed):
// read by path twice, a junction swapped in between would have a user's folder judged by another's descriptor.
bool folderIsSafe(const std::wstring& folder, DWORD forbidden) {
    UniqueHandle handle{CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    FILE_BASIC_INFO basic{};
    if (!handle || !GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read =
        GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor);
    UniqueLocal held{descriptor};
    if (read != ERROR_SUCCESS || !descriptor) return false;
    return folderDescriptorIsSafe(descriptor, forbidden);
}

// Whether the parent folder lists an entry of this name, even one whose attributes cannot be read.
bool hasDirectoryEntry(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !IsValidSid(sid) || !ConvertSidToStringSidW(sid, &text)) return {};
    UniqueLocal held{text};
    return text;
}

// The principals that may control the folders a LocalSystem service runs from.
bool isTrusted(PSID sid) {
    const std::wstring text = sidText(sid);
    return text == L"S-1-5-18" || text == L"S-1-5-32-544" ||
           text == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";  // TrustedInstaller
}

bool isCreatorOwner(PSID sid) {
    return sidText(sid) == L"S-1-3-0";
}

bool isDenyEntry(BYTE type) {
    return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

// Entries laid out as header, mask, SID.
bool hasPlainLayout(BYTE type) {
    return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
}

std::wstring rootOf(const std::wstring& folder) {
    return std::filesystem::path(folder).root_path().wstring();
}

}  // namespace

std::wstring normalisedInstallPath(const std::wstring& requested) {
    checkRawForm(requested);
    std::wstring path = fullPath(requested);
    if (path.size() <= 3) throw std::runtime_error(DriveRoot);
    while (!path.empty() && path.back() == L'\\') {
        path.pop_back();
        if (path.size() <= 3) throw std::runtime_error(DriveRoot);
    }
    return path;
}

bool folderDescriptorIsSafe(PSECURITY_DESCRIPTOR descriptor, DWORD forbidden) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !isTrusted(owner)) return false;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    // Without a DACL everyone may do everything.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (isDenyEntry(header->AceType)) continue;
        ACCESS_MASK rights = static_cast<const ACCESS_ALLOWED_ACE*>(entry)->Mask;
        MapGenericMask(&rights, &mapping);
        if ((rights & forbidden) == 0) continue;
        // Entries of other kinds place their SID elsewhere; one that grants a forbidden right cannot be vouched for.
        if (!hasPlainLayout(header->AceType)) return false;
        PSID grantee = const_cast<DWORD*>(&static_cast<const ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        if (!isTrusted(isCreatorOwner(grantee) ? owner : grantee)) return false;
    }
    return true;
}

bool ancestorsAreSafe(const std::wstring& folder) {
    std::wstring current = folder;
    for (;;) {
        const bool isRoot = samePath(current, rootOf(current));
        if (!folderIsSafe(current, isRoot ? RootForbiddenRights : AncestorForbiddenRights)) return false;
        std::wstring parent = std::filesystem::path(current).parent_path().wstring();
        if (parent.empty() || samePath(parent, current)) return true;
        current = parent;
    }
}

void checkTargetFolder(const std::wstring& path, bool serviceInstalled) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const DWORD readError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    const bool notFound = readError == ERROR_FILE_NOT_FOUND || readError == ERROR_PATH_NOT_FOUND;
    if (notFound && !hasDirectoryEntry(path)) return;  // the installation creates it
    // Whatever exists but cannot be read, a link to nothing included, counts as a link.
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw std::runtime_error(Linked);
    }
    if (serviceInstalled) return;
    std::filesystem::directory_iterator entries(path);  // a listing error escapes as the library's own
    if (entries != std::filesystem::directory_iterator{}) throw std::runtime_error(NotEmpty);
}

std::wstring validateInstallDirectory(const std::wstring& requested) {
    const std::wstring path = normalisedInstallPath(requested);
    if (GetDriveTypeW(path.substr(0, 3).c_str()) != DRIVE_FIXED) throw std::runtime_error(NotFixed);
    const bool installed = serviceInstalled();
    if (installed && !samePath(path, installDir())) throw std::runtime_error(InstalledElsewhere);
    checkParent(path);
    if (!ancestorsAreSafe(std::filesystem::path(path).parent_path().wstring()))
        throw std::runtime_error(UnsafeAncestor);
    checkTargetFolder(path, installed);
    return path;
}

}  // namespace dormalis
