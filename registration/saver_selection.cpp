#include "registration/saver_selection.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

#include "foundation/contract.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/unique.h"

namespace dormalis {

namespace {

constexpr const wchar_t* DesktopKey = L"Control Panel\\Desktop";
constexpr const wchar_t* SaverValue = L"SCRNSAVE.EXE";
constexpr const wchar_t* PolicyKey = L"Software\\Policies\\Microsoft\\Windows\\Control Panel\\Desktop";
constexpr DWORD PathBufferChars = 32768;
constexpr UINT ChangeFlags = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
constexpr DWORD DefaultTimeoutSeconds = 600;

std::wstring trimmed(const std::wstring& path) {
    const wchar_t* blanks = L"\t \"";
    const size_t first = path.find_first_not_of(blanks);
    if (first == std::wstring::npos) return {};
    return path.substr(first, path.find_last_not_of(blanks) - first + 1);
}

std::wstring expanded(const std::wstring& path) {
    std::vector<wchar_t> buffer(PathBufferChars, L'\0');
    DWORD length = ExpandEnvironmentStringsW(path.c_str(), buffer.data(), PathBufferChars);
    // The count includes the terminator; 0 is a failure and a larger count did not fit.
    if (length < 1 || length > PathBufferChars) return path;
    return std::wstring(buffer.data());
}

std::wstring longForm(const std::wstring& path) {
    std::vector<wchar_t> buffer(PathBufferChars, L'\0');
    DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), PathBufferChars);
    // A missing file fails here and keeps the form it was written in.
    if (length < 1 || length > PathBufferChars - 1) return path;
    return std::wstring(buffer.data(), length);
}

// Windows starts the saver from the stored path without quotes, and a path with a space reaches the saver split
// at it; the 8.3 form has none. A volume without short names gives the long form back, which is stored then.
std::wstring launchablePath(const std::wstring& path) {
    if (path.find(L' ') == std::wstring::npos) return path;
    std::vector<wchar_t> buffer(PathBufferChars, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), buffer.data(), PathBufferChars);
    if (length < 1 || length > PathBufferChars - 1) return path;
    return std::wstring(buffer.data(), length);
}

std::wstring selectedSaver() {
    return readString(HKEY_CURRENT_USER, DesktopKey, SaverValue);
}

// A policy value as Windows reads it: text, blanks and quotes around it ignored; empty when there is none.
std::wstring policyValue(const wchar_t* name) {
    return trimmed(readString(HKEY_CURRENT_USER, PolicyKey, name));
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isExistingFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The saver Windows starts: the policy's choice over the user's own. A selection naming a Dormalis file that is
// gone (an uninstallation seen from another account) shows no saver at all: it is not this product's saver any
// more, and a later activation remembers it only to drop it.
bool dormalisSelected() {
    const std::wstring forced = policyValue(SaverValue);
    const std::wstring selected = forced.empty() ? selectedSaver() : forced;
    return isDormalisPath(selected) && isExistingFile(normalizeSaverPath(selected));
}

bool queryActive(BOOL& active) {
    return SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &active, 0) != FALSE;
}

bool queryTimeout(UINT& seconds) {
    return SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0) != FALSE;
}

bool setActive(bool active) {
    return SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, active ? TRUE : FALSE, nullptr, ChangeFlags) != FALSE;
}

bool setTimeoutSeconds(UINT seconds) {
    return SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, ChangeFlags) != FALSE;
}

void rememberCurrentSaver() {
    BOOL active = FALSE;
    if (!queryActive(active)) active = FALSE;
    UINT timeout = DefaultTimeoutSeconds;
    if (!queryTimeout(timeout)) timeout = DefaultTimeoutSeconds;
    // Taken as stored: giving it back later must not alter what the user had.
    const std::wstring previous = selectedSaver();
    writeString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver", previous);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousActive", active ? 1 : 0);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", timeout);
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 1);
}

// The remembered saver, unless it is ours or no longer a file.
std::wstring usablePreviousSaver() {
    std::wstring previous = normalizeSaverPath(readString(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaver"));
    if (previous.empty() || isDormalisPath(previous) || !isExistingFile(previous)) return {};
    return previous;
}

void clearSelection() {
    UniqueKey desktop;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, DesktopKey, 0, KEY_SET_VALUE, desktop.put()) != ERROR_SUCCESS) {
        throw std::runtime_error("Cannot open screen saver settings.");
    }
    LSTATUS status = RegDeleteValueW(desktop.get(), SaverValue);
    desktop.reset();
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        throw std::runtime_error("Cannot clear the screen saver selection.");
    }
}

void announceDesktopChange() {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(DesktopKey), SMTO_ABORTIFHUNG,
                        1000, &ignored);
}

}  // namespace

SaverPolicy saverPolicy() {
    if (policyValue(L"ScreenSaveActive") == L"0") return SaverPolicy::SaversOff;
    const std::wstring forced = policyValue(SaverValue);
    return forced.empty() || isDormalisPath(forced) ? SaverPolicy::None : SaverPolicy::SelectsOther;
}

void refuseManagedSaver() {
    switch (saverPolicy()) {
        case SaverPolicy::SelectsOther:
            throw std::runtime_error(
                "Your organization manages the screen saver: its policy selects another screen saver.");
        case SaverPolicy::SaversOff:
            throw std::runtime_error("Your organization manages the screen saver: its policy turns screen savers off.");
        case SaverPolicy::None:
            break;
    }
}

std::wstring normalizeSaverPath(std::wstring path) {
    path = trimmed(path);
    if (path.empty()) return path;
    path = longForm(expanded(path));
    for (wchar_t& character : path) {
        if (character == L'/') character = L'\\';
    }
    return path;
}

bool isDormalisPath(const std::wstring& path) {
    const std::wstring normalized = normalizeSaverPath(path);
    const size_t slash = normalized.find_last_of(L'\\');
    const std::wstring name = slash == std::wstring::npos ? normalized : normalized.substr(slash + 1);
    return _wcsicmp(name.c_str(), SaverFileName) == 0 || _wcsicmp(name.c_str(), L"Dormalis.ScreenSaver.scr") == 0;
}

bool isDormalisSelected() {
    return dormalisSelected();
}

void setSaverTimeout(unsigned minutes) {
    if (minutes == 0 || minutes > 240) throw std::runtime_error("Delay must be between 1 and 240 minutes.");
    if (!policyValue(L"ScreenSaveTimeOut").empty()) {
        throw std::runtime_error(
            "Your organization's policy sets the screen saver timeout; it cannot be changed here.");
    }
    const UINT seconds = minutes * 60;
    if (!setTimeoutSeconds(seconds)) {
        throw std::runtime_error("Windows refused the screen saver timeout (possibly managed by policy).");
    }
    UINT applied = 0;
    if (!queryTimeout(applied) || applied != seconds) {
        throw std::runtime_error("The requested delay was not applied. Check Windows policies.");
    }
}

void activateSaver() {
    refuseManagedSaver();
    if (!modeConfigured()) {
        throw std::runtime_error("Choose the network interruption mode in Dormalis before activation.");
    }
    if (!serviceRunning()) {
        throw std::runtime_error("The Dormalis service is unavailable. Reinstall with the setup program.");
    }
    const std::wstring path = installedFile(SaverFileName);
    if (!fileExists(path)) throw std::runtime_error("Screen saver file missing. Reinstall Dormalis.");
    // Only the first activation remembers: a second one would record our own saver as the user's previous one. The
    // user's own value decides, not a policy that selects Dormalis over it.
    if (!isDormalisPath(selectedSaver())) rememberCurrentSaver();
    writeString(HKEY_CURRENT_USER, DesktopKey, SaverValue, launchablePath(path));
    if (!setActive(true)) throw std::runtime_error("Windows refused screen saver activation.");
}

void deactivateSaver() {
    if (!isDormalisSelected()) return;
    const std::wstring previous = usablePreviousSaver();
    const bool active = !previous.empty() && readDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousActive", 1) != 0;
    if (!previous.empty()) {
        writeString(HKEY_CURRENT_USER, DesktopKey, SaverValue, previous);
    } else {
        clearSelection();
    }
    if (!setActive(active)) throw std::runtime_error("Windows refused screen saver deactivation.");
    if (readDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousSaved", 0) != 0) {
        setTimeoutSeconds(readDword(HKEY_CURRENT_USER, RegistryPath, L"PreviousTimeout", DefaultTimeoutSeconds));
    }
    announceDesktopChange();
    if (isDormalisSelected()) {
        throw std::runtime_error(
            "Windows kept Dormalis selected. Close screen saver settings and check Windows policies.");
    }
    if (previous.empty()) {
        BOOL stillActive = TRUE;
        if (!queryActive(stillActive) || stillActive != FALSE) {
            throw std::runtime_error("Windows did not disable automatic screen saver activation.");
        }
    }
}

}  // namespace dormalis
