#pragma once

#include "saver/starfield.h"

namespace dormalis {

// True while createEmbeddedPreview still owns `saver` because its window is being created: a window that
// fails during creation must not free what its creator frees.
bool embeddedPreviewIsBeingCreated(const Saver* saver);

}  // namespace dormalis
