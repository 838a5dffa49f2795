#pragma once

namespace dormalis {

int runTray();

}  // namespace dormalis
