#include "foundation/contract.h"

#include "foundation/registry.h"

namespace dormalis {

std::wstring installedFile(const wchar_t* name, const std::wstring& dir) {
    return dir + L"\\" + name;
}

std::wstring installedFile(const wchar_t* name) {
    return installedFile(name, installDir());
}

FailedPause lastFailedPause() {
    const std::wstring record = readString(HKEY_LOCAL_MACHINE, RegistryPath, LastFailedPauseValue);
    const size_t first = record.find(L'|'), second = first == std::wstring::npos ? first : record.find(L'|', first + 1);
    if (second == std::wstring::npos || first == 0) return {};
    return {record.substr(0, first), record.substr(first + 1, second - first - 1), record.substr(second + 1)};
}

bool modeConfigured() {
    return readDword(HKEY_LOCAL_MACHINE, RegistryPath, ModeConfiguredValue, 0) == 1;
}

}  // namespace dormalis
