#include "install/staging.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <vector>

#include "foundation/unique.h"

namespace dormalis {

namespace {

constexpr const wchar_t* PrivateSddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr int NameAttempts = 20;

}  // namespace

std::wstring makePrivateFolder(const wchar_t* prefix) {
    std::vector<wchar_t> windows(MAX_PATH + 1, L'\0');
    const DWORD length = GetSystemWindowsDirectoryW(windows.data(), static_cast<UINT>(windows.size()));
    if (length == 0 || length >= windows.size()) throw std::runtime_error("Temporary folder unavailable");
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PrivateSddl, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr)) {
        throw std::runtime_error("Cannot prepare folder permissions.");
    }
    UniqueLocal descriptor{attributes.lpSecurityDescriptor};
    const std::wstring base = std::wstring(windows.data(), length) + L"\\Temp\\" + prefix + L"-";
    // A folder that already exists may have been prepared by someone else: only a folder we create is used.
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        const std::wstring candidate = base + randomName();
        if (CreateDirectoryW(candidate.c_str(), &attributes)) return candidate;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("Cannot create a temporary folder");
}

std::wstring randomName() {
    std::random_device source;
    wchar_t text[17] = {};
    swprintf(text, 17, L"%08x%08x", source(), source());
    return text;
}

void removeStaged(const std::wstring& file) {
    const std::wstring folder = file.substr(0, file.find_last_of(L'\\'));
    if (!DeleteFileW(file.c_str())) MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!RemoveDirectoryW(folder.c_str())) MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace dormalis
