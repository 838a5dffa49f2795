#pragma once

namespace dormalis {

int runWindow();

}  // namespace dormalis
