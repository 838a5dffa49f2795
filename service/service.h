#pragma once

namespace dormalis {

// Hands the thread to the service control dispatcher; returns when the service has stopped.
void runService();

}  // namespace dormalis
