#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

int runTray();

// The shield shown in the notification area, green when this saver is selected and grey otherwise. The caller
// owns the icon; null when Windows refuses a drawing object.
HICON drawShield(bool selected);
std::wstring trayTooltip(bool selected);

}  // namespace dormalis
