#pragma once

#include <windows.h>

namespace dormalis {

// Volume serial and file ID: the same file however its path is spelled (8.3 forms, letter case, links).
bool fileIdentity(HANDLE file, FILE_ID_INFO& identity);
bool sameIdentity(const FILE_ID_INFO& a, const FILE_ID_INFO& b);

}  // namespace dormalis
