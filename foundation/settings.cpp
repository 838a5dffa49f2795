#include "foundation/settings.h"

#include <algorithm>

#include "foundation/contract.h"
#include "foundation/registry.h"

namespace dormalis {

Settings settings;

namespace {

// Every default lies inside its range, so clamping a fallback leaves it unchanged.
DWORD userValue(const wchar_t* name, DWORD fallback) {
    return readDword(HKEY_CURRENT_USER, RegistryPath, name, fallback);
}

int clampSigned(DWORD stored, int low, int high) {
    return std::clamp(static_cast<int>(stored), low, high);
}

}  // namespace

void Settings::load() {
    const Settings defaults;
    language = std::min<DWORD>(userValue(L"Language", defaults.language), 5);
    density = clampSigned(userValue(L"Density", defaults.density), MinDensity, MaxDensity);
    speed = clampSigned(userValue(L"Speed", defaults.speed), MinSpeed, MaxSpeed);
    displays = std::min<DWORD>(userValue(L"Displays", defaults.displays), 2);
    color = userValue(L"Color", defaults.color);
    firewall = readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 1) != 0;
}

void Settings::save() {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", language);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Density", static_cast<DWORD>(density));
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Speed", static_cast<DWORD>(speed));
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Color", color);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Displays", displays);
}

}  // namespace dormalis
