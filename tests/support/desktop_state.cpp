#include "tests/support/desktop_state.h"

#include <fstream>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/unique.h"
#include "tests/support/support.h"

namespace dormalis::testing {

namespace {

constexpr const wchar_t* DesktopKey = L"Control Panel\\Desktop";
constexpr UINT Flags = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;

void clearMachineValues() {
    for (const wchar_t* name : {L"ModeConfigured", L"InstallPath", L"Firewall", L"NetworkState"})
        deleteMachineValue(name);
}

}  // namespace

DesktopState::DesktopState() {
    saver_ = readString(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE", L"\x01");
    hadSaver_ = saver_ != L"\x01";
    SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &active_, 0);
    SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout_, 0);
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
    deleteKeyTree(HKEY_CURRENT_USER, PolicyKey);
    clearMachineValues();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    scratch_ = std::filesystem::path(temp) / (L"dormalis selection-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::remove_all(scratch_);
    std::filesystem::create_directories(scratch_);
    installDirectoryOverride = scratch_.wstring();
}

DesktopState::~DesktopState() {
    installDirectoryOverride.clear();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
    deleteKeyTree(HKEY_CURRENT_USER, PolicyKey);
    clearMachineValues();
    if (hadSaver_) {
        selectSaver(saver_);
    } else {
        clearSaver();
    }
    setSaverActive(active_ != FALSE);
    setTimeoutSeconds(timeout_);
}

std::wstring DesktopState::createFile(const std::wstring& name) const {
    const std::filesystem::path path = scratch_ / name;
    std::ofstream{path} << "scr";
    return path.wstring();
}

std::wstring selectedSaver() {
    return readString(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE", L"<absent>");
}

void selectSaver(const std::wstring& path) {
    writeString(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE", path);
}

void clearSaver() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE");
}

BOOL saverActive() {
    BOOL active = 2;
    SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    return active;
}

UINT saverTimeout() {
    UINT seconds = 0;
    SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
    return seconds;
}

void setSaverActive(bool active) {
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, active ? TRUE : FALSE, nullptr, Flags);
}

void setTimeoutSeconds(UINT seconds) {
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, Flags);
}

}  // namespace dormalis::testing
