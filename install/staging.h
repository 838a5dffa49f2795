#pragma once

#include <string>

namespace dormalis {

// A new folder under the temporary folder that only LocalSystem and administrators may change: the setup and the
// uninstaller stage programs there that run elevated, so an unelevated process must not be able to swap them.
// Throws when no such folder can be made.
std::wstring makePrivateFolder(const wchar_t* prefix);

// Removes a staged file and its folder; what is still in use goes at the next restart.
void removeStaged(const std::wstring& file);

}  // namespace dormalis
