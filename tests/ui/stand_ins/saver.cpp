// Used only while the saver area is not part of the build: no preview window, which the page lays out without.
#include "saver/saver.h"

namespace dormalis {

void runSaver(HWND, bool, int) {}

HWND createEmbeddedPreview(HWND, int, int, int, int) {
    return nullptr;
}

}  // namespace dormalis
