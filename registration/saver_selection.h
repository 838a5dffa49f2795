#pragma once

#include <string>

namespace dormalis {

// What the organisation's screen-saver policy, which Windows applies over the user's own values, does to
// Dormalis: nothing (no policy, or one that selects Dormalis), or keeps it from starting. Only ever read.
enum class SaverPolicy { None, SelectsOther, SaversOff };
SaverPolicy saverPolicy();
// Throws, saying that the organisation manages the screen saver, when its policy keeps Dormalis from starting.
void refuseManagedSaver();

std::wstring normalizeSaverPath(std::wstring path);
bool isDormalisPath(const std::wstring& path);
bool isDormalisSelected();
void setSaverTimeout(unsigned minutes);
void activateSaver();
void deactivateSaver();

}  // namespace dormalis
