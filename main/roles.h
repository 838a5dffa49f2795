#pragma once

#include "main/command_line.h"

namespace dormalis {

// Runs the chosen role; its result is the process exit code. Exceptions escape to the caller.
int runRole(const Role& role);

}  // namespace dormalis
