#pragma once

#include <windows.h>

namespace dormalis {

// Runs one saver showing to its end on the calling thread (full screen, or inside `parent` for "/p").
void runSaver(HWND parent, bool preview, int testSeconds);

// A live starfield child window for the settings window; pixel coordinates in the parent's client area.
// Returns null when the window cannot be created. The window frees its own state when destroyed.
HWND createEmbeddedPreview(HWND parent, int x, int y, int width, int height);

}  // namespace dormalis
