// Used only while the install area is not part of the build: elevation is refused, as a declined prompt would be.
#include "install/mode_change.h"

namespace dormalis {

int changeNetworkMode(bool) {
    return 1;
}

bool elevateAndWait(HWND, const std::wstring&) {
    return false;
}

}  // namespace dormalis
