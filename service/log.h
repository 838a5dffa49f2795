#pragma once

#include <string>

namespace dormalis {

// Records one line in LastDiagnostic, the debugger output and the event log; never fails towards the caller.
void logEvent(const std::wstring& text);

// A Windows error code as the system's message text (or "Windows error") followed by the code in parentheses.
std::wstring errorText(unsigned long code);

}  // namespace dormalis
