#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// Rights no one but LocalSystem, administrators and TrustedInstaller may hold on a folder above the installation
// folder: with any of them the folder could be deleted, renamed away or re-permissioned, and the service made to
// run another program.
inline constexpr DWORD AncestorForbiddenRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;  // 0xD0040
// On a drive root DELETE means nothing (a root cannot be removed), so it is not held against it.
inline constexpr DWORD RootForbiddenRights = WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;  // 0xC0040

// Rights no one but LocalSystem, administrators and TrustedInstaller may hold on an existing folder that the
// installation takes over: a handle opened with any of them before the folder is secured stays usable afterwards
// to plant a library beside the service, delete the folder or re-permission it.
inline constexpr DWORD ClaimForbiddenRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                              FILE_WRITE_ATTRIBUTES | DELETE | FILE_DELETE_CHILD | WRITE_DAC |
                                              WRITE_OWNER;

// The refusal of a folder whose parent does not exist: nothing creates parents, which would inherit whatever rights
// users hold above them.
inline constexpr const char* NoParentFolder = "The parent folder must already exist.";

// The pieces of validateInstallDirectory, each usable on its own (the tests reach the rules that Wine hides
// behind the ancestor walk through them).

// Rules on the raw text and its full-path form; the folder without trailing backslashes, or an error.
std::wstring normalisedInstallPath(const std::wstring& requested);

// Whether only LocalSystem, administrators and TrustedInstaller control a folder with this descriptor: one of them
// owns it and no entry, inherit-only ones included, grants anyone else a right of `forbidden` (an entry for
// CREATOR OWNER speaks for the owner). The caller's own identity plays no part, so an administrator and a
// deployment tool running as LocalSystem get the same answer. Whatever cannot be read counts as unsafe.
bool folderDescriptorIsSafe(PSECURITY_DESCRIPTOR descriptor, DWORD forbidden);

// Walks from `folder` up to its drive root; false at the first link, unreadable or user-controllable folder.
bool ancestorsAreSafe(const std::wstring& folder);

// The rules on the folder itself: not a link, and empty unless it is the current installation.
void checkTargetFolder(const std::wstring& path, bool serviceInstalled);

}  // namespace dormalis
