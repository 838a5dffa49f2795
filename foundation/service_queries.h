#pragma once

namespace dormalis {

bool serviceInstalled();
bool serviceRunning();
// Sends control code 128 (restore the network now): 0 when delivered, 1 otherwise.
int requestNetworkRestore();

}  // namespace dormalis
