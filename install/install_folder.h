#pragma once

#include <string>

#include "foundation/unique.h"

namespace dormalis {

// The machine value that keeps the identity (FILE_ID_INFO) of the folder the installation secured.
inline constexpr const wchar_t* InstallFolderIdentityValue = L"InstallFolderIdentity";

// Makes `dir` the installation folder: creates it with the protected descriptor in one call (its parent must
// exist), or takes over an existing folder that is the one the installation secured before, or one that only
// LocalSystem, administrators and TrustedInstaller control and that is empty unless it is at the recorded path;
// secures it; checks that the path still names that very folder; and records its identity. Throws with the reason
// otherwise. The returned handle keeps the folder from being renamed or deleted while it stays open.
UniqueHandle claimInstallFolder(const std::wstring& dir);

}  // namespace dormalis
