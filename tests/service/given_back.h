#pragma once

#include <windows.h>

#include "foundation/constants.h"
#include "testbed/testbed.h"

namespace dormalis::testing {

// The network as a test sees it: no filtering object left, nothing on the recovery list, every adapter that was
// started when the test described it is started again, and NetworkState reads 0. Shared by the tests and the
// scripted client, which checks it between its sessions.
inline bool networkGivenBack() {
    if (!testbed::filters().empty() || !testbed::subLayers().empty() || !testbed::names(Journal, true).empty())
        return false;
    for (const std::wstring& id : testbed::names(testbed::DevicesKey, true))
        if (testbed::getString(testbed::Root, (L"Initial " + id).c_str()) == L"started" &&
            testbed::deviceState(id) != testbed::DeviceStarted)
            return false;
    return testbed::getDword(RegistryPath, L"NetworkState", 99) == 0;
}

}  // namespace dormalis::testing
