// What each page holds, top to bottom, in DIPs. Every builder returns the page's bottom.
#include "ui/ui.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "foundation/contract.h"
#include "foundation/service_queries.h"
#include "foundation/text.h"
#include "registration/saver_selection.h"
#include "saver/saver.h"
#include "status/status_report.h"

namespace dormalis {

namespace {

// Widths of 796 DIPs and more get the two-column arrangements; larger text needs as much more room.
bool wide(const Ui& ui, int width) {
    return width >= ui.tx(796);
}

// The pixel height `caption` takes in the body font, wrapped at `width` pixels.
int wrappedHeight(Ui& ui, const std::wstring& caption, int width, UINT format) {
    RECT measured{0, 0, width, 0};
    WindowDc dc(ui.window);
    SelectionGuard font(dc.get(), ui.typefaces[0].get());
    DrawTextW(dc.get(), caption.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | format);
    return measured.bottom;
}

// The height in DIPs a button of `width` needs to show its wrapped caption whole, never below `height`.
int fitted(Ui& ui, const std::wstring& caption, int width, int height) {
    const RECT area = buttonTextArea(ui.scale, RECT{0, 0, ui.px(width), ui.px(height)});
    const int ink = wrappedHeight(ui, caption, area.right - area.left, DT_CENTER);
    const int padding = ui.px(height) - (area.bottom - area.top);
    return std::max(height, static_cast<int>(std::ceil((ink + padding) / ui.scale)));
}

// An owner-drawn button at least `height` DIPs high; returns the height it took.
int button(Ui& ui, const std::wstring& caption, int id, int x, int y, int width, int height) {
    const int used = fitted(ui, caption, width, height);
    HWND created = ui.add(L"BUTTON", caption, id, x, y, width, used, BS_OWNERDRAW);
    if (created) SetWindowSubclass(created, hoverProc, 1, 0);
    return used;
}

// Two buttons side by side in halves of the page, as high as the taller needs; returns that height.
int buttonPair(Ui& ui, int width, int y, const std::wstring& left, int leftId, const std::wstring& right, int rightId) {
    const int half = (width - 68) / 2;
    const int height = std::max(fitted(ui, left, half, 46), fitted(ui, right, half, 46));
    button(ui, left, leftId, 28, y, half, height);
    button(ui, right, rightId, half + 40, y, half, height);
    return height;
}

// A radio button at least 42 DIPs high, higher when its caption wraps beside the mark; returns the height it took.
int radio(Ui& ui, const std::wstring& caption, int id, int y, int width, bool checked, unsigned long style) {
    const int mark = GetSystemMetricsForDpi(SM_CXMENUCHECK, static_cast<UINT>(std::lround(ui.scale * 96))) + ui.px(4);
    const int ink = wrappedHeight(ui, caption, ui.px(width) - mark, 0);
    const int height = std::max(42, static_cast<int>(std::ceil(ink / ui.scale)) + 20);
    HWND created = ui.add(L"BUTTON", caption, id, 28, y, width, height, BS_AUTORADIOBUTTON | BS_MULTILINE | style);
    SendMessageW(created, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return height;
}

bool saverEnabled() {
    BOOL active = FALSE;
    SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    return isDormalisSelected() && active != FALSE;
}

std::wstring statusText(bool installed, bool running) {
    const std::wstring service = !installed ? text("setup.notInstalled")
                                 : running  ? uitext::installedLine()
                                            : uitext::stoppedLine();
    const std::wstring saver =
        saverPolicy() != SaverPolicy::None ? managedSaverLine() : uitext::enabledLine(saverEnabled());
    const std::wstring failed = installed ? failedPauseLine() : L"";
    return service + L"\n" + saver + L"\n" + uitext::modePrefix() + networkModeLabel() +
           (failed.empty() ? L"" : L"\n" + failed);
}

// The list's caption and the list below it; returns the caption's height and the list's.
int languageList(Ui& ui, int x, int y, int width) {
    const int listWidth = std::min(width - 56, ui.tx(240));
    const int caption = std::max(30, ui.label(text("language.caption"), x, y, listWidth, false));
    HWND list = ui.add(L"COMBOBOX", L"", LanguageList, x, y + caption, listWidth, ui.tx(230),
                       CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL);
    if (!list) return caption;
    for (const wchar_t* name : languageNames)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), ui.px(ui.tx(32)));
    SendMessageW(list, CB_SETITEMHEIGHT, 0, ui.px(ui.tx(32)));
    SendMessageW(list, CB_SETCURSEL, settings.language, 0);
    return caption + ui.tx(32);
}

// The six setup buttons: two columns when wide, one stacked column when narrow; returns the row of the restore
// button below them.
int setupButtons(Ui& ui, int width, int row) {
    const bool twoColumns = wide(ui, width);
    const int half = (width - 70) / 2;
    const int columnWidth = twoColumns ? half : width - 56;
    const int right = twoColumns ? half + 42 : 28;
    const struct {
        std::wstring caption;
        int id;
        int column;
    } buttons[] = {
        {uitext::enable(), EnableButton, 0},
        {text("setup.customize"), CustomizeButton, 1},
        {uitext::disable(), DisableButton, 0},
        {text("setup.windowsSettings"), WindowsSettingsButton, 1},
        {text("setup.networkModeTitle"), ModeButton, 0},
        {uitext::check(), CheckButton, 1},
    };
    // A row is as high as its tallest caption needs; the rows below move down by what it adds.
    const size_t perRow = twoColumns ? 2 : 1;
    int y = row;
    for (size_t first = 0; first < std::size(buttons); first += perRow) {
        int height = 52;
        for (size_t i = first; i < first + perRow; ++i)
            height = std::max(height, fitted(ui, buttons[i].caption, columnWidth, 52));
        for (size_t i = first; i < first + perRow; ++i)
            button(ui, buttons[i].caption, buttons[i].id, buttons[i].column == 0 ? 28 : right, y, columnWidth, height);
        y += height + 12;
    }
    return y + 8;
}

}  // namespace

int layoutSetupPage(Ui& ui, int width, int header) {
    const int top = header + 44;
    const bool twoColumns = wide(ui, width);
    const int languageX = twoColumns ? width - 28 - ui.tx(240) : 28;
    const int languageY = twoColumns ? 24 : top;
    const int language = languageList(ui, languageX, languageY, width);

    const int subtitleY = twoColumns ? top : languageY + language + 22;
    const int subtitle = ui.label(text("setup.subtitle"), 28, subtitleY, width - 56, false);
    const int descriptionY = subtitleY + subtitle + 14;
    const int cardTop = descriptionY + ui.label(uitext::description(), 28, descriptionY, width - 56, false);

    const bool installed = serviceInstalled();
    const bool running = installed && serviceRunning();
    ui.status = statusText(installed, running);
    // Green only while the protection can work: the service running, and no pause failed since the last that held.
    ui.installed = running && lastFailedPause().time.empty();
    ui.statusCheckedAt = GetTickCount64();
    const int status = ui.label(ui.status, 46, cardTop + 33, width - 92, false);
    ui.labels.back().color = ui.installed ? StatusInstalledColor : StatusMissingColor;
    ui.card = RECT{ui.px(28), ui.px(cardTop + 18), ui.px(width - 28), ui.px(cardTop + 48 + status)};

    const int restoreY = setupButtons(ui, width, cardTop + status + 70);
    const int noteY = restoreY + button(ui, uitext::restore(), RestoreButton, 28, restoreY, width - 56, 44) + 12;
    const int aboutY = noteY + ui.label(uitext::uninstallNote(), 28, noteY, width - 56, false) + 18;
    ui.labels.back().color = NoteColor;
    const int aboutWidth = std::min(width - 56, 370);
    return aboutY +
           button(ui, text("about.button"), AboutButton, 28 + (width - 56 - aboutWidth) / 2, aboutY, aboutWidth, 48) +
           20;
}

bool statusStale(const Ui& ui) {
    const bool installed = serviceInstalled();
    return statusText(installed, installed && serviceRunning()) != ui.status;
}

int layoutCustomizePage(Ui& ui, int width, int top) {
    const bool twoColumns = wide(ui, width);
    const int half1 = (width - 80) / 2;
    const int previewWidth = twoColumns ? half1 : width - 56;
    const int previewX = twoColumns ? width - half1 - 28 : 28;
    const int leftWidth = twoColumns ? width - 56 - (half1 + 24) : width - 56;

    const int title = ui.label(text("dialog.title"), 28, top, width - 56, false);
    const int previewTop = top + title + 16;
    const int caption = ui.label(uitext::previewCaption(), previewX, previewTop, previewWidth, false);
    const int previewHeight = twoColumns ? 300 : 190;
    const int previewY = previewTop + caption + 8;
    HWND preview = createEmbeddedPreview(ui.window, ui.px(previewX), ui.px(previewY) - ui.scroll, ui.px(previewWidth),
                                         ui.px(previewHeight));
    if (preview) {
        SetWindowTextW(preview, uitext::previewCaption().c_str());
        ui.controls.push_back(preview);
        ui.rects.push_back(Box{ui.px(previewX), ui.px(previewY), ui.px(previewWidth), ui.px(previewHeight)});
    }

    const int colorY = twoColumns ? previewTop : previewTop + caption + 218;
    const int densityLabelY = colorY + button(ui, text("dialog.color"), ColorButton, 28, colorY, leftWidth, 46) + 18;
    const int densityY =
        densityLabelY + ui.label(text("dialog.density") + L" (40\u2013600)", 28, densityLabelY, leftWidth, false);
    HWND densityBar = ui.add(TRACKBAR_CLASSW, L"", DensityBar, 28, densityY, leftWidth, 40, TBS_AUTOTICKS);
    SendMessageW(densityBar, TBM_SETRANGE, TRUE, MAKELPARAM(MinDensity, MaxDensity));
    SendMessageW(densityBar, TBM_SETPOS, TRUE, settings.density);
    // A tick per step would merge 561 ticks into a grey bar; ten even steps end on the last one.
    SendMessageW(densityBar, TBM_SETTICFREQ, (MaxDensity - MinDensity) / 10, 0);
    const int speed = ui.label(text("dialog.speed") + L" (1\u201312)", 28, densityY + 58, leftWidth, false);
    const int speedY = densityY + 58 + speed;
    HWND speedBar = ui.add(TRACKBAR_CLASSW, L"", SpeedBar, 28, speedY, leftWidth, 40, TBS_AUTOTICKS);
    SendMessageW(speedBar, TBM_SETRANGE, TRUE, MAKELPARAM(MinSpeed, MaxSpeed));
    SendMessageW(speedBar, TBM_SETPOS, TRUE, settings.speed);
    const int belowReset =
        speedY + 60 + button(ui, text("dialog.reset"), ResetButton, 28, speedY + 60, leftWidth, 46) + 16;

    const int idleY = twoColumns ? std::max(previewTop + caption + 328, belowReset) : belowReset;
    const int idle = ui.label(uitext::idleCaption(), 28, idleY, width - 56, false);
    ui.add(L"EDIT", std::to_wstring(ui.minutes), MinutesEdit, 28, idleY + idle, 110, ui.tx(34), ES_NUMBER | WS_BORDER);
    const int displaysY = idleY + idle + ui.tx(34) + 16;
    const int displays = ui.label(uitext::displaysCaption(), 28, displaysY, width - 56, false);
    const int comboY = displaysY + displays;
    HWND combo = ui.add(L"COMBOBOX", L"", DisplaysCombo, 28, comboY, width - 56, 180, CBS_DROPDOWNLIST | WS_VSCROLL);
    for (int mode = 0; mode < 3; ++mode) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(uitext::displayMode(mode).c_str()));
    }
    SendMessageW(combo, CB_SETCURSEL, settings.displays, 0);
    const int hintY = comboY + ui.tx(34) + 18;  // the combo box is as high as its font makes it
    const int hint = ui.label(text("dialog.saveHint"), 28, hintY, width - 56, false);
    const int saveY = hintY + hint + 16;
    return saveY + buttonPair(ui, width, saveY, text("common.save"), SaveButton, text("common.cancel"), CancelButton) +
           20;
}

int layoutModePage(Ui& ui, int width, int top) {
    const int title = ui.label(text("setup.networkModeTitle"), 28, top, width - 56, false);
    const int firewallY = top + title + 18;
    const int firewall =
        radio(ui, text("setup.networkModeFirewall"), FirewallRadio, firewallY, width - 56, settings.firewall, WS_GROUP);
    const int firewallHintY = firewallY + firewall + 8;
    const int firewallHint = ui.label(text("setup.networkModeFirewallHint"), 48, firewallHintY, width - 76, false);
    const int adaptersY = firewallHintY + firewallHint + 24;
    const int adapters =
        radio(ui, text("setup.networkModeAdapters"), AdaptersRadio, adaptersY, width - 56, !settings.firewall, 0);
    const int adaptersHintY = adaptersY + adapters + 8;
    const int adaptersHint = ui.label(text("setup.networkModeAdaptersHint"), 48, adaptersHintY, width - 76, false);
    const int buttonsY = adaptersHintY + adaptersHint + 28;
    return buttonsY +
           buttonPair(ui, width, buttonsY, text("common.continue"), ContinueButton, text("common.cancel"),
                      CancelButton) +
           20;
}

int layoutAboutPage(Ui& ui, int width, int top) {
    const int title = ui.label(text("about.title"), 28, top, width - 56, false);
    const int runtimeY = top + title + 24;
    const int runtime = ui.label(uitext::runtimeLine(), 28, runtimeY, width - 56, false);
    const int descriptionY = runtimeY + runtime + 18;
    const int bottom = descriptionY + ui.label(uitext::description(), 28, descriptionY, width - 56, false);
    const int closeY = bottom + 24 + button(ui, uitext::publisher(), AboutButton, 28, bottom + 24, width - 56, 46) + 20;
    return closeY + button(ui, text("common.close"), CancelButton, 28, closeY, width - 56, 46) + 20;
}

}  // namespace dormalis
