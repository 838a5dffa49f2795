#pragma once

#include <windows.h>

#include <string>

#include "foundation/unique.h"

namespace dormalis {

// Rights an ordinary user must not hold on a folder above the installation folder: with any of them the folder
// could be deleted, renamed away or re-permissioned, and the service made to run another program.
inline constexpr DWORD AncestorForbiddenRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;  // 0xD0040
// On a drive root DELETE means nothing (a root cannot be removed), so it is not held against it.
inline constexpr DWORD RootForbiddenRights = WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;  // 0xC0040

// The pieces of validateInstallDirectory, each usable on its own (the tests reach the rules that Wine hides
// behind the ancestor walk through them).

// Rules on the raw text and its full-path form; the folder without trailing backslashes, or an error.
std::wstring normalisedInstallPath(const std::wstring& requested);

// The caller's account without its administrator membership, as an impersonation token; throws when it cannot
// be built.
UniqueHandle ordinaryUserView();

// Whether the ordinary user view is granted something on `descriptor`, and nothing of `forbidden`.
bool folderDescriptorIsSafe(PSECURITY_DESCRIPTOR descriptor, HANDLE userView, DWORD forbidden);

// Walks from `folder` up to its drive root; false at the first link, unreadable or user-controllable folder.
bool ancestorsAreSafe(const std::wstring& folder, HANDLE userView);

// The rules on the folder itself: not a link, and empty unless it is the current installation.
void checkTargetFolder(const std::wstring& path, bool serviceInstalled);

}  // namespace dormalis
