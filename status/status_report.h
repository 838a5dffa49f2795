#pragma once

#include <string>

namespace dormalis {

std::wstring networkModeLabel();
// Said instead of the selection state while the organisation's policy keeps Dormalis from starting.
std::wstring managedSaverLine();
std::wstring networkStatus();
// The last pause the service could not make, with its time, mode and reason; empty when none failed since the
// last one that held.
std::wstring failedPauseLine();
std::wstring configurationReport();

}  // namespace dormalis
