#pragma once

#include <string>

namespace dormalis {

std::wstring networkModeLabel();
// Said instead of the selection state while the organisation's policy keeps Dormalis from starting.
std::wstring managedSaverLine();
std::wstring networkStatus();
// What keeps the status card from showing green: the service not running, and the last pause that failed, one
// line each; empty when neither.
std::wstring attentionLines();
std::wstring configurationReport();

}  // namespace dormalis
