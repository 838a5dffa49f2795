#pragma once

#include <string>

#include "tests/support/support.h"

namespace dormalis::testing {

inline const std::wstring DefaultFolder = L"C:\\Program Files\\DormalisNative";

}  // namespace dormalis::testing
