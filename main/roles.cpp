#include "main/roles.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "foundation/contract.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/settings.h"
#include "install/mode_change.h"
#include "registration/saver_selection.h"
#include "saver/saver.h"
#include "service/service.h"
#include "status/status_report.h"
#include "status/tray.h"
#include "ui/settings_window.h"

namespace dormalis {

namespace {

int startUninstaller() {
    const std::wstring uninstaller = installedFile(UninstallerFileName);
    ShellExecuteW(nullptr, L"open", uninstaller.c_str(), L"--uninstall", nullptr, SW_SHOWNORMAL);
    return 0;
}

bool screenSaverStartIsPreview() {
    LASTINPUTINFO lastInput{sizeof(lastInput), 0};
    GetLastInputInfo(&lastInput);
    UINT timeoutSeconds = 0;
    const bool known = SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeoutSeconds, 0) != FALSE;
    const DWORD idle = GetTickCount() - lastInput.dwTime;
    return saverStartIsPreview(idle, saverPreviewThresholdMs(known, timeoutSeconds));
}

int embeddedPreview(std::uint64_t host) {
    HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(host));
    if (!IsWindow(parent)) return 0;
    runSaver(parent, true, 0);
    return 0;
}

int screenSaver() {
    runSaver(nullptr, screenSaverStartIsPreview(), 0);
    return 0;
}

int settingsWindow(const Role& role) {
    requestedPage = role.page;
    requestedOwner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(role.hostWindow));
    if (role.uiTest) {
        settings.language = role.uiTestLanguage;
        snapshotPath = role.snapshotPath;
        quitAfterTest = true;
    }
    return runWindow();
}

}  // namespace

int runRole(const Role& role) {
    switch (role.kind) {
        case RoleKind::Tray:
            return runTray();
        case RoleKind::RestoreNetwork:
            return requestNetworkRestore();
        case RoleKind::Service:
            runService();
            return 0;
        case RoleKind::ModeFirewall:
            return changeNetworkMode(true);
        case RoleKind::ModeAdapters:
            return changeNetworkMode(false);
        case RoleKind::Activate:
            activateSaver();
            return 0;
        case RoleKind::Deactivate:
            deactivateSaver();
            return 0;
        case RoleKind::SetTimeout:
            setSaverTimeout(role.timeoutMinutes);
            return 0;
        case RoleKind::Uninstall:
            return startUninstaller();
        case RoleKind::Diagnostics:
            MessageBoxW(nullptr, configurationReport().c_str(), Product, MB_OK | MB_ICONINFORMATION);
            return 0;
        case RoleKind::Preview:
            return runSaver(nullptr, true, 0), 0;
        case RoleKind::PreviewTest:
            return runSaver(nullptr, true, 3), 0;
        case RoleKind::NetworkTest:
            return runSaver(nullptr, false, 6), 0;
        case RoleKind::EmbeddedPreview:
            return embeddedPreview(role.hostWindow);
        case RoleKind::ScreenSaver:
            return screenSaver();
        case RoleKind::SettingsWindow:
            break;
    }
    return settingsWindow(role);
}

}  // namespace dormalis
