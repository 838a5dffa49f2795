#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// Volume serial and file ID: the same file however its path is spelled (8.3 forms, letter case, links).
bool fileIdentity(HANDLE file, FILE_ID_INFO& identity);
bool sameIdentity(const FILE_ID_INFO& a, const FILE_ID_INFO& b);

// Both paths open and name the same file. Opening reaches whatever the path names: never call it with a path a
// less trusted party chose before its text is known to be safe.
bool sameFile(const std::wstring& a, const std::wstring& b);

// Case-insensitive comparison of two whole paths, without touching the file system.
bool samePath(const std::wstring& a, const std::wstring& b);

}  // namespace dormalis
