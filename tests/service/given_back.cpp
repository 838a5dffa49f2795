#include "tests/service/given_back.h"

#include <windows.h>

#include "testbed/testbed.h"

namespace dormalis::testing {

bool networkGivenBack() {
    if (!testbed::filters().empty() || !testbed::subLayers().empty()) return false;
    HKEY recovery = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\DormalisNative\\Recovery", 0, KEY_READ, &recovery) ==
        ERROR_SUCCESS) {
        DWORD values = 0;
        RegQueryInfoKeyW(recovery, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(recovery);
        if (values != 0) return false;
    }
    for (const std::wstring& id : testbed::valueNames(testbed::DevicesKey))
        if (testbed::getString(testbed::Root, (L"Initial " + id).c_str()) == L"started" &&
            testbed::deviceState(id) != testbed::DeviceStarted)
            return false;
    DWORD state = 99, size = sizeof state;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\DormalisNative", L"NetworkState", RRF_RT_REG_DWORD, nullptr, &state,
                 &size);
    return state == 0;
}

}  // namespace dormalis::testing
