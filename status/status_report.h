#pragma once

#include <string>

namespace dormalis {

std::wstring networkModeLabel();
std::wstring networkStatus();
std::wstring configurationReport();

}  // namespace dormalis
