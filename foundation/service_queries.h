#pragma once

namespace dormalis {

bool serviceInstalled();
bool serviceRunning();
// The process of the running service; 0 when it is not running.
unsigned long serviceProcessId();
// Sends control code 128 (restore the network now): 0 when delivered, 1 otherwise.
int requestNetworkRestore();
// The same request: ERROR_SUCCESS when delivered, else the error of opening the service or of the control.
unsigned long sendNetworkRestore();

}  // namespace dormalis
