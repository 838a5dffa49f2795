#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dormalis {

enum class RoleKind {
    Tray,
    RestoreNetwork,
    Service,
    ModeFirewall,
    ModeAdapters,
    Activate,
    Deactivate,
    SetTimeout,
    Uninstall,
    Diagnostics,
    Preview,
    PreviewTest,
    NetworkTest,
    EmbeddedPreview,
    ScreenSaver,
    SettingsWindow,
};

// The role chosen from the command line and the few parameters some roles read.
struct Role {
    RoleKind kind = RoleKind::SettingsWindow;
    unsigned timeoutMinutes =
        0;  // --set-timeout, as read from its argument (negative values wrap and are refused later)
    std::uint64_t hostWindow = 0;  // /p, and /c when Windows' screen-saver dialog asks
    int page = 0;                  // settings window: first page
    bool uiTest = false;           // settings window: snapshot mode
    unsigned uiTestLanguage = 0;
    std::wstring snapshotPath;
};

// `arguments` excludes the program path.
Role chooseRole(const std::vector<std::wstring>& arguments);

// A "/s" start this soon after the last input is a preview that leaves the network alone.
DWORD saverPreviewThresholdMs(bool timeoutKnown, UINT timeoutSeconds);
bool saverStartIsPreview(DWORD idleMs, DWORD thresholdMs);

}  // namespace dormalis
