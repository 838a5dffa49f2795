#pragma once

#include <string>

#include "foundation/unique.h"

namespace dormalis {

// Makes `dir` the installation folder: creates it with the protected descriptor in one call, or takes over an
// existing folder that is the recorded installation or an empty one that only LocalSystem, administrators and
// TrustedInstaller control; secures it; and checks that the path still names that very folder. Throws with the
// reason otherwise. The returned handle keeps the folder from being renamed or deleted while it stays open.
UniqueHandle claimInstallFolder(const std::wstring& dir);

}  // namespace dormalis
