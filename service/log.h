#pragma once

#include <string>

namespace dormalis {

// Records one line in LastDiagnostic, the debugger output and the event log; never fails towards the caller.
void logEvent(const std::wstring& text);

}  // namespace dormalis
