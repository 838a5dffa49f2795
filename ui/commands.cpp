// What the buttons, lists and boxes of the pages do. A failing action reaches the window procedure's guard, which
// shows its message; the window carries on.
#include "ui/ui.h"

#include <commdlg.h>
#include <shellapi.h>

#include <exception>

#include "foundation/contract.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "install/mode_change.h"
#include "registration/saver_selection.h"
#include "status/status_report.h"

namespace dormalis {

namespace {

COLORREF custom[16] = {};  // the colour dialog's custom slots, kept for the life of the process

void inform(Ui& ui, const std::wstring& message, UINT icon) {
    MessageBoxW(ui.window, message.c_str(), Product, MB_OK | icon);
}

bool elevateForMode(Ui& ui) {
    return elevateAndWait(ui.window, settings.firewall ? L"--mode-firewall" : L"--mode-adapters");
}

void enable(Ui& ui) {
    refuseManagedSaver();  // before the mode page, whose choice would be asked for in vain
    if (!modeConfigured()) {
        if (showPage(ui.window, ModePage) != 1) {
            settings.load();
            return;
        }
        const bool recorded = elevateForMode(ui);
        settings.load();
        if (!recorded) return;
    }
    activateSaver();
    const std::wstring tray = installedFile(ProgramFileName);
    ShellExecuteW(ui.window, L"open", tray.c_str(), L"--tray", nullptr, SW_HIDE);
    ui.layout();
}

void disable(Ui& ui) {
    deactivateSaver();
    ui.layout();
    inform(ui, uitext::disabledMessage(), MB_ICONINFORMATION);
}

void save(Ui& ui) {
    if (ui.minutesEdited) {
        if (ui.minutes < 1 || ui.minutes > 240) {
            inform(ui, uitext::minutesWarning(), MB_ICONWARNING);
            SetFocus(ui.control(MinutesEdit));
            return;
        }
        setSaverTimeout(ui.minutes);
    }
    settings.save();
    ui.result = 1;
    DestroyWindow(ui.window);
}

void chooseStarColor(Ui& ui) {
    CHOOSECOLORW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = ui.window;
    dialog.rgbResult = settings.color;
    dialog.lpCustColors = custom;
    dialog.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (ChooseColorW(&dialog)) settings.color = dialog.rgbResult;
}

void reset(Ui& ui) {
    const Settings defaults;
    settings.color = defaults.color;
    settings.density = defaults.density;
    settings.speed = defaults.speed;
    ui.layout();
}

void changeMode(Ui& ui) {
    if (showPage(ui.window, ModePage) == 1) elevateForMode(ui);
    settings.load();
    ui.layout();
}

// Interactive users hold the service's user-defined-control right: a user whose network stayed cut needs no
// administrator unless the service refuses the request.
void restoreNetwork(Ui& ui) {
    const unsigned long sent = sendNetworkRestore();
    if (sent == ERROR_SUCCESS || (sent == ERROR_ACCESS_DENIED && elevateAndWait(ui.window, L"--restore-network"))) {
        inform(ui, uitext::restoreRequested(), MB_ICONINFORMATION);
    } else {
        inform(ui, uitext::restoreFailed(), MB_ICONWARNING);
    }
}

void open(Ui& ui, const wchar_t* file, const wchar_t* parameters) {
    ShellExecuteW(ui.window, L"open", file, parameters, nullptr, SW_SHOW);
}

// Notifications recognised by identifier and code together; true when handled.
bool notification(Ui& ui, WPARAM wParam) {
    if (wParam == MAKEWPARAM(LanguageList, CBN_SELCHANGE)) {
        const LRESULT chosen = SendMessageW(ui.control(LanguageList), CB_GETCURSEL, 0, 0);
        if (chosen < 0 || chosen > 5) return true;  // no selection: keep the language rather than store garbage
        settings.language = static_cast<unsigned>(chosen);
        settings.save();
        // The list is rebuilt once its notification has returned, and an open list once it closes: destroyed
        // earlier, it would end arrow-key selection after one step.
        ui.languagePending = SendMessageW(ui.control(LanguageList), CB_GETDROPPEDSTATE, 0, 0) != FALSE;
        if (!ui.languagePending) PostMessageW(ui.window, RebuildMessage, 0, 0);
        return true;
    }
    if (wParam == MAKEWPARAM(LanguageList, CBN_CLOSEUP)) {
        if (ui.languagePending) PostMessageW(ui.window, RebuildMessage, 0, 0);
        ui.languagePending = false;
        return true;
    }
    if (wParam == MAKEWPARAM(DisplaysCombo, CBN_SELCHANGE)) {
        settings.displays = static_cast<unsigned>(SendMessageW(ui.control(DisplaysCombo), CB_GETCURSEL, 0, 0));
        return true;
    }
    if (wParam == MAKEWPARAM(MinutesEdit, EN_CHANGE)) {
        if (!ui.layingOut) {
            ui.minutes = GetDlgItemInt(ui.window, MinutesEdit, nullptr, FALSE);
            ui.minutesEdited = true;
        }
        return true;
    }
    return false;
}

void action(Ui& ui, int id) {
    switch (id) {
        case EnableButton:
            return enable(ui);
        case CustomizeButton:
            showPage(ui.window, CustomizePage);
            return;
        case DisableButton:
            return disable(ui);
        case WindowsSettingsButton:
            return open(ui, L"control.exe", L"desk.cpl,,@screensaver");
        case AboutButton:
            if (ui.page == AboutPage) return open(ui, ProductPage, nullptr);
            showPage(ui.window, AboutPage);
            return;
        case SaveButton:
            return save(ui);
        case CancelButton:
            SendMessageW(ui.window, WM_CLOSE, 0, 0);
            return;
        case ContinueButton:
            settings.firewall = SendMessageW(ui.control(FirewallRadio), BM_GETCHECK, 0, 0) == BST_CHECKED;
            ui.result = 1;
            DestroyWindow(ui.window);
            return;
        case AdaptersRadio:
            settings.firewall = false;
            return;
        case FirewallRadio:
            settings.firewall = true;
            return;
        case ColorButton:
            return chooseStarColor(ui);
        case ResetButton:
            return reset(ui);
        case ModeButton:
            return changeMode(ui);
        case CheckButton:
            return inform(ui, configurationReport(), MB_ICONINFORMATION);
        case RestoreButton:
            return restoreNetwork(ui);
        default:
            return;  // 1 and 2 (Enter and Escape from dialog navigation) and anything else
    }
}

}  // namespace

void command(Ui& ui, WPARAM wParam) {
    // Before any page or box this command opens disables the window and takes the focus from its control.
    rememberFocus(ui);
    if (notification(ui, wParam)) return;
    const int id = LOWORD(wParam);
    if (id < EnableButton || id > RestoreButton) return;
    action(ui, id);
    refreshStatus(ui);
}

}  // namespace dormalis
