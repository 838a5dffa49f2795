#pragma once

#include <functional>

namespace dormalis {

// Its controls, which the system tests reach: the stage under way, then the result; and Close.
inline constexpr int UninstallProgress = 100;
inline constexpr int UninstallClose = 101;

// The uninstaller's small window: runs `removal` on a worker thread while it shows each stage, then ends on the
// result or the reason until the user closes it. Returns what `removal` returned.
int runUninstallWindow(const std::function<int()>& removal);

}  // namespace dormalis
