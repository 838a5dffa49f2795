#pragma once

#include <string>

namespace dormalis {

std::wstring normalizeSaverPath(std::wstring path);
bool isDormalisPath(const std::wstring& path);
bool isDormalisSelected();
void setSaverTimeout(unsigned minutes);
void activateSaver();
void deactivateSaver();

}  // namespace dormalis
