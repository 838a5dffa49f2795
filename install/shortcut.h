#pragma once

#include <string>

namespace dormalis {

// Saves a shell link at `linkPath` to `target`, its icon taken from the target; throws when it cannot.
// The caller's thread must have COM initialised.
void createShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder);

}  // namespace dormalis
