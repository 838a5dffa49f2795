// Used only while the registration area is not part of the build: nothing is ever selected.
#include <stdexcept>

#include "registration/saver_selection.h"

namespace dormalis {

std::wstring normalizeSaverPath(std::wstring path) {
    return path;
}
bool isDormalisPath(const std::wstring&) {
    return false;
}
bool isDormalisSelected() {
    return false;
}
void setSaverTimeout(unsigned) {}
void activateSaver() {
    throw std::runtime_error("Screen saver selection is not available in this build.");
}
void deactivateSaver() {}

}  // namespace dormalis
