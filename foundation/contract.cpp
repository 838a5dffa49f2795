#include "foundation/contract.h"

#include "foundation/registry.h"

namespace dormalis {

std::wstring installedFile(const wchar_t* name, const std::wstring& dir) {
    return dir + L"\\" + name;
}

std::wstring installedFile(const wchar_t* name) {
    return installedFile(name, installDir());
}

bool modeConfigured() {
    return readDword(HKEY_LOCAL_MACHINE, RegistryPath, ModeConfiguredValue, 0) == 1;
}

}  // namespace dormalis
