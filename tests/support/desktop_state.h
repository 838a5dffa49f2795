#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace dormalis::testing {

// Puts back, when it ends, everything the saver selection touches: the Windows choice, switch and timeout, the
// product's per-user key and the machine values the activation reads. A scratch folder stands in for the
// installation folder.
class DesktopState {
  public:
    DesktopState();
    ~DesktopState();
    DesktopState(const DesktopState&) = delete;
    DesktopState& operator=(const DesktopState&) = delete;

    std::filesystem::path scratch() const { return scratch_; }
    std::wstring saverFile() const { return (scratch_ / L"Dormalis.scr").wstring(); }
    std::wstring createFile(const std::wstring& name) const;  // an empty file in the scratch folder; its full path

  private:
    std::wstring saver_;
    bool hadSaver_ = false;
    BOOL active_ = FALSE;
    UINT timeout_ = 0;
    std::filesystem::path scratch_;
};

// The organisation's screen-saver policy, which DesktopState removes as well.
inline constexpr const wchar_t* PolicyKey = L"Software\\Policies\\Microsoft\\Windows\\Control Panel\\Desktop";

std::wstring selectedSaver();  // "SCRNSAVE.EXE", or "<absent>"
void selectSaver(const std::wstring& path);
void clearSaver();
BOOL saverActive();
UINT saverTimeout();
void setSaverActive(bool active);
void setTimeoutSeconds(UINT seconds);

}  // namespace dormalis::testing
