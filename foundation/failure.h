#pragma once

#include <string>

namespace dormalis {

// A Windows error code as the system's message text (or "Windows error") followed by the code in parentheses.
std::wstring errorText(unsigned long code);

}  // namespace dormalis
