#pragma once

#include <string>

namespace dormalis {

// A new folder that only LocalSystem and administrators may change, in the Windows folder's Temp, whose entries
// users cannot rename or delete either: the setup and the uninstaller stage programs there that run elevated, and
// the user's own %TEMP% would let an unelevated process rename the staging folder away and put its own in place.
// Throws when no such folder can be made.
std::wstring makePrivateFolder(const wchar_t* prefix);

// Sixteen random hexadecimal digits: a name part no one can guess and prepare in advance.
std::wstring randomName();

// Removes a staged file and its folder; what is still in use goes at the next restart.
void removeStaged(const std::wstring& file);

}  // namespace dormalis
