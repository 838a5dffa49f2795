#include "foundation/process.h"

namespace dormalis {

HINSTANCE instance = nullptr;
int requestedPage = 0;
std::wstring snapshotPath;
bool quitAfterTest = false;

}  // namespace dormalis
