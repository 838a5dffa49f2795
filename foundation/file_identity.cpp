#include "foundation/file_identity.h"

#include <cstring>

#include "foundation/unique.h"

namespace dormalis {

namespace {

bool pathIdentity(const std::wstring& path, FILE_ID_INFO& id) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    return file && fileIdentity(file.get(), id);
}

}  // namespace

bool fileIdentity(HANDLE file, FILE_ID_INFO& identity) {
    return GetFileInformationByHandleEx(file, FileIdInfo, &identity, sizeof identity) != FALSE;
}

bool sameIdentity(const FILE_ID_INFO& a, const FILE_ID_INFO& b) {
    return a.VolumeSerialNumber == b.VolumeSerialNumber && std::memcmp(&a.FileId, &b.FileId, sizeof a.FileId) == 0;
}

bool sameFile(const std::wstring& a, const std::wstring& b) {
    FILE_ID_INFO first{}, second{};
    return pathIdentity(a, first) && pathIdentity(b, second) && sameIdentity(first, second);
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace dormalis
