#pragma once

#include <string>

namespace dormalis {

std::wstring networkModeLabel();
// Said instead of the selection state while the organisation's policy keeps Dormalis from starting.
std::wstring managedSaverLine();
std::wstring networkStatus();
std::wstring configurationReport();

}  // namespace dormalis
