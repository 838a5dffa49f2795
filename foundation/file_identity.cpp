#include "foundation/file_identity.h"

#include <cstring>

namespace dormalis {

bool fileIdentity(HANDLE file, FILE_ID_INFO& identity) {
    return GetFileInformationByHandleEx(file, FileIdInfo, &identity, sizeof identity) != FALSE;
}

bool sameIdentity(const FILE_ID_INFO& a, const FILE_ID_INFO& b) {
    return a.VolumeSerialNumber == b.VolumeSerialNumber && std::memcmp(&a.FileId, &b.FileId, sizeof a.FileId) == 0;
}

}  // namespace dormalis
