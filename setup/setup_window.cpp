// The setup's window, in the settings window's family: the header band, the folder with its check and Browse, the
// interruption mode, and Install, which runs on a worker thread while the window shows each stage.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "foundation/contract.h"
#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "install/admin.h"
#include "install/folder_validation.h"
#include "install/front_end.h"
#include "install/install.h"
#include "setup/setup.h"
#include "setup/setup_controls.h"
#include "setup/setup_texts.h"
#include "ui/front_end_window.h"
#include "ui/ui.h"

namespace dormalis {

namespace {

constexpr const wchar_t* WindowClass = L"Dormalis.Native.Setup";
constexpr UINT InstallDoneMessage = WM_APP + 14;
constexpr int Width = 600;
constexpr int Margin = 20;
constexpr int HeaderHeight = 100;
constexpr int ButtonHeight = 42;
constexpr int BrowseWidth = 130;
constexpr COLORREF FailureColor = RGB(158, 38, 38);

using namespace setup_controls;

struct SetupWindow {
    HWND hwnd = nullptr;
    float scale = 1.0f;
    float text = 1.0f;  // Windows' text size, taken by makeFonts
    UniqueFont body;
    UniqueFont title;
    SetupOptions presets;
    std::wstring proposedFolder;  // the current installation or the default; not a folder the user chose
    bool installed = false;
    bool busy = false;
    bool failed = false;
    std::thread worker;
    int result = ExitCancelled;
    HWND content = nullptr;  // the panel that scrolls everything between the header and the buttons
    int scroll = 0;          // pixels
    int contentHeight = 0;   // pixels

    int px(double dips) const { return static_cast<int>(dips * scale); }
    int tx(int dips) const { return grownWithText(dips, text); }
    UINT dpi() const { return static_cast<UINT>(std::lround(scale * 96)); }
};

// The content from top to bottom, in DIPs: a row takes at least its height, more when its text needs it.
struct Row {
    int id;
    int indent;
    int height;
    int gap;
};
constexpr Row Rows[] = {{Subtitle, 0, 46, 6},      {Status, 0, 22, 8},        {FolderCaption, 0, 22, 0},
                        {Folder, 0, 40, 0},        {FolderMessage, 0, 40, 4}, {ModeTitle, 0, 22, 4},
                        {Firewall, 0, 24, 2},      {FirewallHint, 20, 44, 6}, {Adapters, 0, 24, 2},
                        {AdaptersHint, 20, 44, 8}, {AdminNote, 0, 44, 6},     {Progress, 0, 66, 0}};
constexpr int ContentTop = 14;

HWND item(const SetupWindow& setup, int id) {
    HWND control = GetDlgItem(setup.content, id);
    return control ? control : GetDlgItem(setup.hwnd, id);
}

HWND addControl(SetupWindow& setup, HWND parent, const wchar_t* className, const std::wstring& text, DWORD style,
                int id) {
    HWND control = CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(setup.body.get()), TRUE);
    return control;
}

void setText(SetupWindow& setup, int id, const std::wstring& text);

std::wstring controlText(const SetupWindow& setup, int id) {
    HWND control = item(setup, id);
    std::wstring value(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    value.resize(static_cast<size_t>(GetWindowTextW(control, value.data(), static_cast<int>(value.size()))));
    return value;
}

// The folder to install into: the proposed one as it is, a chosen one only once validated.
std::wstring checkedFolder(const SetupWindow& setup, std::wstring& message) {
    const std::wstring typed = controlText(setup, Folder);
    if (samePath(typed, setup.proposedFolder)) return setup.proposedFolder;
    try {
        return validateInstallDirectory(typed);
    } catch (const std::exception& error) {
        message = widenMessage(error.what());
        return {};
    }
}

void onFolderChanged(SetupWindow& setup) {
    if (setup.busy) return;
    std::wstring message;
    const bool usable = !checkedFolder(setup, message).empty();
    setText(setup, FolderMessage, message);
    EnableWindow(item(setup, Install), usable);
}

// The modern folder picker; a folder that is not empty gets the product's own subfolder.
void onBrowse(SetupWindow& setup) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) return;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(setuptext::folderCaption().c_str());
    // The picker opens where the folder shown would go.
    const std::wstring shown = controlText(setup, Folder);
    IShellItem* start = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(shown.substr(0, shown.find_last_of(L'\\')).c_str(), nullptr,
                                              IID_PPV_ARGS(&start)))) {
        dialog->SetFolder(start);
        start->Release();
    }
    IShellItem* chosen = nullptr;
    wchar_t* path = nullptr;
    if (SUCCEEDED(dialog->Show(setup.hwnd)) && SUCCEEDED(dialog->GetResult(&chosen)) &&
        SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        std::wstring folder = path;
        CoTaskMemFree(path);
        std::error_code unreadable;
        if (!std::filesystem::is_empty(std::filesystem::path(folder), unreadable) || unreadable)
            folder += (folder.back() == L'\\' ? L"" : L"\\") + std::wstring(ServiceName);
        setText(setup, Folder, folder);
    }
    if (chosen) chosen->Release();
    dialog->Release();
}

void setBusy(SetupWindow& setup, bool busy) {
    setup.busy = busy;
    for (int id : {Folder, Browse, Firewall, Adapters, Install, Cancel})
        EnableWindow(item(setup, id), !busy);
    if (setup.installed) EnableWindow(item(setup, Browse), FALSE);
}

void onInstall(SetupWindow& setup) {
    std::wstring message;
    const std::wstring folder = checkedFolder(setup, message);
    if (folder.empty()) {
        setText(setup, FolderMessage, message);
        return;
    }
    // Validation compares with the current installation, so the chosen folder takes over only now.
    installDirectoryOverride = folder;
    const bool firewall = IsDlgButtonChecked(setup.content, Firewall) == BST_CHECKED;
    setup.failed = false;
    setBusy(setup, true);
    setText(setup, Progress, L"");
    installQuiet = true;  // the window shows the reason itself
    installProgressWindow = setup.hwnd;
    HWND window = setup.hwnd;
    setup.worker = std::thread([window, firewall] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // The mode chosen here is the administrator's: a standard user then enables without being asked again.
        const int result = installChosenMode(firewall);
        CoUninitialize();
        PostMessageW(window, InstallDoneMessage, static_cast<WPARAM>(result), 0);
    });
}

// The settings window opens in the language this window spoke, unless the user already chose one.
void rememberLanguage() {
    if (readDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 0xFFFFFFFF) != 0xFFFFFFFF) return;
    try {
        writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", settings.language);
    } catch (const std::exception&) {
        // The settings window then falls back to its default language.
    }
}

void onInstallDone(SetupWindow& setup, int result) {
    setup.worker.join();
    installProgressWindow = nullptr;
    installDirectoryOverride.clear();
    setBusy(setup, false);
    if (result != 0) {
        setup.failed = true;
        setup.result = ExitFailed;
        const std::wstring reason =
            readString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue, text("setup.operationFailed"));
        setText(setup, Progress, setuptext::failed(reason));
        return;
    }
    setup.result = ExitSucceeded;
    setup.installed = true;
    rememberLanguage();
    const std::wstring folder = readString(HKEY_LOCAL_MACHINE, RegistryPath, InstallPathValue, installDir());
    const bool firewall = readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 1) != 0;
    setText(setup, Progress, setuptext::installedIn(folder, firewall));
    setText(setup, Status, text("setup.installed"));
    setText(setup, Cancel, setuptext::close());
    // The way forward: Install becomes Open, and the note says what starts the protection.
    setText(setup, AdminNote, setuptext::enableStarts());
    setText(setup, Install, setuptext::openProgram());
    for (int id : {Folder, Browse, Firewall, Adapters})
        EnableWindow(item(setup, id), FALSE);
    SetFocus(item(setup, Install));
}

// The settings window opens as the signed-in user, never as a child of this elevated setup, which then closes.
void onOpen(SetupWindow& setup) {
    if (openAsSignedInUser(installedFile(ProgramFileName))) {
        DestroyWindow(setup.hwnd);
        return;
    }
    setText(setup, AdminNote, setuptext::openFromStartMenu());
    EnableWindow(item(setup, Install), FALSE);
    SetFocus(item(setup, Cancel));
}

void makeFonts(SetupWindow& setup) {
    setup.text = textScale();
    setup.body.reset(CreateFontW(-setup.px(16 * setup.text), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                 L"Segoe UI"));
    setup.title.reset(CreateFontW(-setup.px(30 * setup.text), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                  L"Segoe UI"));
}

// The height a control's text takes at `width` pixels in the body font, as a static or a multi-line button wraps it.
int textHeight(const SetupWindow& setup, HWND control, int width) {
    const std::wstring caption = controlText(setup, GetDlgCtrlID(control));
    if (caption.empty()) return 0;
    WindowDc dc(setup.hwnd);
    SelectionGuard font(dc.get(), setup.body.get());
    RECT area{0, 0, width, 0};
    DrawTextW(dc.get(), caption.c_str(), -1, &area, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    return area.bottom;
}

// Install's and Cancel's height in pixels: larger text makes them taller.
int buttonHeight(const SetupWindow& setup) {
    return setup.px(setup.tx(ButtonHeight));
}

int headerBottom(const SetupWindow& setup) {
    return frontEndHeaderBottom(setup.hwnd, setup.scale, setup.title.get(), setup.body.get(), HeaderHeight);
}

// A button's width: at least `dips`, and wide enough for its caption on one line beside its rounded ends.
int buttonWidth(const SetupWindow& setup, int id, int dips) {
    const std::wstring caption = controlText(setup, id);
    WindowDc dc(setup.hwnd);
    SelectionGuard font(dc.get(), setup.body.get());
    RECT area{};
    DrawTextW(dc.get(), caption.c_str(), -1, &area, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const RECT room = buttonTextArea(setup.scale, RECT{0, 0, setup.px(dips), buttonHeight(setup)});
    const int ends = setup.px(dips) - static_cast<int>(room.right - room.left);
    return std::max(setup.px(dips), static_cast<int>(area.right) + ends + 1);
}

// Places the rows for a panel `width` pixels wide (when `apply`) and returns the height they take.
int placeRows(SetupWindow& setup, int width, bool apply) {
    const int inner = width - setup.px(2 * Margin);
    const int checkRoom = GetSystemMetricsForDpi(SM_CXMENUCHECK, setup.dpi()) + setup.px(4);
    int y = setup.px(ContentTop);
    for (const Row& row : Rows) {
        const int x = setup.px(Margin + row.indent), rowWidth = inner - setup.px(row.indent);
        int height = setup.px(setup.tx(row.height));
        if (row.id == Folder) {
            const int browse = buttonWidth(setup, Browse, BrowseWidth);
            if (apply) {
                MoveWindow(item(setup, Folder), x, y + setup.px(4) - setup.scroll, rowWidth - browse - setup.px(10),
                           setup.px(setup.tx(28)), FALSE);
                MoveWindow(item(setup, Browse), x + rowWidth - browse, y - setup.scroll, browse, setup.px(setup.tx(36)),
                           FALSE);
            }
        } else {
            HWND control = item(setup, row.id);
            const bool radio = row.id == Firewall || row.id == Adapters;
            height = std::max(height, textHeight(setup, control, rowWidth - (radio ? checkRoom : 0)));
            if (apply) MoveWindow(control, x, y - setup.scroll, rowWidth, height, FALSE);
        }
        y += height + setup.px(row.gap);
    }
    return y;
}

// The panel between the header and the buttons, scrolled when its rows need more room than it has; the buttons
// keep the bottom of the window.
void layout(SetupWindow& setup) {
    if (!setup.content) return;
    RECT client{};
    GetClientRect(setup.hwnd, &client);

    const int top = headerBottom(setup), buttonTop = client.bottom - setup.px(Margin) - buttonHeight(setup);
    const int visible = std::max(buttonTop - setup.px(8) - top, 0);
    int width = client.right;
    setup.contentHeight = placeRows(setup, width, false);
    if (setup.contentHeight > visible) {
        width -= GetSystemMetricsForDpi(SM_CXVSCROLL, setup.dpi());
        setup.contentHeight = placeRows(setup, width, false);
    }
    setup.scroll = std::clamp(setup.scroll, 0, std::max(setup.contentHeight - visible, 0));
    MoveWindow(setup.content, 0, top, client.right, visible, FALSE);
    SCROLLINFO bar{sizeof(bar),
                   SIF_RANGE | SIF_PAGE | SIF_POS,
                   0,
                   setup.contentHeight - 1,
                   static_cast<UINT>(visible),
                   setup.scroll,
                   0};
    SetScrollInfo(setup.content, SB_VERT, &bar, TRUE);
    placeRows(setup, width, true);
    const int right = client.right - setup.px(Margin);
    const int install = buttonWidth(setup, Install, 210), cancel = buttonWidth(setup, Cancel, 160);
    MoveWindow(item(setup, Install), right - install, buttonTop, install, buttonHeight(setup), FALSE);
    MoveWindow(item(setup, Cancel), right - install - setup.px(10) - cancel, buttonTop, cancel, buttonHeight(setup),
               FALSE);
    // Moved without redrawing, then redrawn once.
    RedrawWindow(setup.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Scrolls the panel so that its control `id` is wholly in view.
void showControl(SetupWindow& setup, int id) {
    HWND control = GetDlgItem(setup.content, id);
    if (!control) return;
    RECT area{}, visible{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, setup.content, reinterpret_cast<POINT*>(&area), 2);
    GetClientRect(setup.content, &visible);
    const int margin = setup.px(8);
    if (area.bottom > visible.bottom) setup.scroll += area.bottom - visible.bottom + margin;
    if (area.top - margin < 0 || area.bottom - area.top > visible.bottom) setup.scroll += area.top - margin;
    layout(setup);
}

// The stage under way and the result are scrolled into view as they come.
void setText(SetupWindow& setup, int id, const std::wstring& text) {
    SetWindowTextW(item(setup, id), text.c_str());
    id == Progress ? showControl(setup, Progress) : layout(setup);
}

// The window as tall as its content at the window's DPI, in its language and text size, within the work area; it
// widens with the text.
void fitWindow(SetupWindow& setup, const RECT* suggested) {
    const int width = setup.tx(Width);
    const int header = static_cast<int>(std::ceil(headerBottom(setup) / setup.scale));
    const int rows = static_cast<int>(std::ceil(placeRows(setup, setup.px(width), false) / setup.scale));
    fitFrontEndWindow(setup.hwnd, setup.dpi(), width, header + rows + 8 + setup.tx(ButtonHeight) + Margin, suggested);
    layout(setup);
}

void createControls(SetupWindow& setup) {
    makeFonts(setup);
    setup.content = createFrontEndPanel(setup.hwnd, Content);
    HWND panel = setup.content;
    addControl(setup, panel, L"STATIC", text("setup.subtitle"), SS_LEFT, Subtitle);
    addControl(setup, panel, L"STATIC", text(setup.installed ? "setup.installed" : "setup.notInstalled"), SS_LEFT,
               Status);
    addControl(setup, panel, L"STATIC", setuptext::folderCaption(), SS_LEFT, FolderCaption);
    const std::wstring folder = setup.presets.folder.empty() ? setup.proposedFolder : setup.presets.folder;
    // An installed service keeps its folder: moving it needs an uninstallation first.
    addControl(setup, panel, L"EDIT", folder,
               WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (setup.installed ? ES_READONLY : 0), Folder);
    // BS_NOTIFY: a button the keyboard reaches says so, and is scrolled into view.
    HWND browse =
        addControl(setup, panel, L"BUTTON", setuptext::browse(), BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, Browse);
    EnableWindow(browse, !setup.installed);
    addControl(setup, panel, L"STATIC", L"", SS_LEFT, FolderMessage);
    addControl(setup, panel, L"STATIC", text("setup.networkModeTitle"), SS_LEFT, ModeTitle);
    // The two choices follow each other, so that the arrow keys go from one to the other: a dialog's arrow keys walk
    // its group in creation order, and a hint between them would be the next stop. Their places come from Rows.
    const DWORD radio = BS_AUTORADIOBUTTON | BS_MULTILINE | BS_NOTIFY;
    addControl(setup, panel, L"BUTTON", text("setup.networkModeFirewall"), radio | WS_GROUP | WS_TABSTOP, Firewall);
    addControl(setup, panel, L"BUTTON", text("setup.networkModeAdapters"), radio, Adapters);
    addControl(setup, panel, L"STATIC", text("setup.networkModeFirewallHint"), SS_LEFT | WS_GROUP, FirewallHint);
    addControl(setup, panel, L"STATIC", text("setup.networkModeAdaptersHint"), SS_LEFT, AdaptersHint);
    addControl(setup, panel, L"STATIC", setuptext::adminNote(), SS_LEFT, AdminNote);
    addControl(setup, panel, L"STATIC", L"", SS_LEFT, Progress);
    addControl(setup, setup.hwnd, L"BUTTON", setuptext::cancel(), BS_OWNERDRAW | WS_TABSTOP, Cancel);
    addControl(setup, setup.hwnd, L"BUTTON", text("setup.install"), BS_OWNERDRAW | WS_TABSTOP, Install);
    CheckRadioButton(setup.content, Firewall, Adapters, setup.presets.firewall ? Firewall : Adapters);
    if (!setup.presets.folder.empty()) onFolderChanged(setup);
    fitWindow(setup, nullptr);
}

// New fonts reach every control before the old ones go, then the window takes its new size.
void remakeFonts(SetupWindow& setup, const RECT* suggested) {
    UniqueFont oldBody = std::move(setup.body), oldTitle = std::move(setup.title);
    makeFonts(setup);
    for (HWND parent : {setup.content, setup.hwnd})
        for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (child != setup.content)
                SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(setup.body.get()), TRUE);
    fitWindow(setup, suggested);
    InvalidateRect(setup.hwnd, nullptr, TRUE);
}

void onDpiChanged(SetupWindow& setup, WPARAM dpi, const RECT* suggested) {
    setup.scale = static_cast<float>(LOWORD(dpi)) / 96.0f;
    remakeFonts(setup, suggested);
}

void onSettingChange(SetupWindow& setup, WPARAM what) {
    if (textScale() != setup.text) {
        remakeFonts(setup, nullptr);
    } else if (what == SPI_SETWORKAREA) {
        fitWindow(setup, nullptr);
    }
}

LRESULT onScroll(SetupWindow& setup, UINT message, WPARAM wParam) {
    setup.scroll = requestedScroll(setup.content, message, wParam, setup.scroll, setup.contentHeight);
    layout(setup);
    return 0;
}

LRESULT onPaint(SetupWindow& setup) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(setup.hwnd, &paint);
    paintFrontEndHeader(setup.hwnd, dc, setup.scale, setup.title.get(), setup.body.get(), HeaderHeight);
    EndPaint(setup.hwnd, &paint);
    return 0;
}

LRESULT onControlColor(SetupWindow& setup, HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    COLORREF color = SystemControlText;
    if (id == FolderMessage || (id == Progress && setup.failed)) color = FailureColor;
    if (id == Progress && setup.result == ExitSucceeded) color = StatusInstalledColor;
    if (id == AdminNote || id == FirewallHint || id == AdaptersHint) color = NoteColor;
    if (id == Status) color = setup.installed ? StatusInstalledColor : StatusMissingColor;
    return frontEndTextColor(dc, color);
}

LRESULT onDrawItem(SetupWindow& setup, const DRAWITEMSTRUCT& item) {
    SetBkMode(item.hDC, TRANSPARENT);
    SelectionGuard font(item.hDC, setup.body.get());
    RECT area = item.rcItem;
    UniqueBrush background{CreateSolidBrush(BackgroundColor)};
    FillRect(item.hDC, &area, background.get());
    const ButtonColors colors = item.CtlID == Install  ? buttonColors(EnableButton)
                                : item.CtlID == Cancel ? buttonColors(CancelButton)
                                                       : buttonColors(0);
    drawRoundedButton(item, colors, setup.scale);
    return TRUE;
}

void onClose(SetupWindow& setup) {
    if (!setup.busy) DestroyWindow(setup.hwnd);  // an installation under way cannot be stopped half-way
}

LRESULT onCommand(SetupWindow& setup, WPARAM wParam) {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (id == Folder && code == EN_CHANGE) onFolderChanged(setup);
    if (code == EN_SETFOCUS || code == BN_SETFOCUS) showControl(setup, id);
    if (code != BN_CLICKED) return 0;
    if (id == Install) setup.result == ExitSucceeded ? onOpen(setup) : onInstall(setup);
    if (id == Browse) onBrowse(setup);
    if (id == Cancel || id == IDCANCEL) onClose(setup);
    return 0;
}

LRESULT onStep(SetupWindow& setup, WPARAM step) {
    setText(setup, Progress, stageText(static_cast<InstallStep>(step)));
    return 0;
}

LRESULT handleMessage(SetupWindow& setup, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            createControls(setup);
            return 0;
        case WM_PAINT:
            return onPaint(setup);
        case WM_SIZE:
            layout(setup);
            return 0;
        case WM_DPICHANGED:
            onDpiChanged(setup, wParam, reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SETTINGCHANGE:
            onSettingChange(setup, wParam);
            return 0;
        case WM_VSCROLL:
        case WM_MOUSEWHEEL:
            return onScroll(setup, message, wParam);
        case WM_ERASEBKGND:
            return eraseFrontEndBackground(setup.hwnd, reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLORSTATIC:
            return onControlColor(setup, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_DRAWITEM:
            return onDrawItem(setup, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        case WM_COMMAND:
            return onCommand(setup, wParam);
        case InstallProgressMessage:
            return onStep(setup, wParam);
        case InstallDoneMessage:
            onInstallDone(setup, static_cast<int>(wParam));
            return 0;
        case WM_CLOSE:
            onClose(setup);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(setup.hwnd, message, wParam, lParam);
    }
}

}  // namespace

int runSetupWindow(const SetupOptions& options) {
    SetupWindow setup;
    setup.presets = options;
    setup.installed = serviceInstalled();
    // An update shows the recorded mode, so that Install keeps it unless the administrator changes it.
    if (setup.installed && !options.modeGiven) {
        setup.presets.firewall = readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 1) != 0;
    }
    setup.proposedFolder = installDir();
    HWND hwnd = openFrontEndWindow(WindowClass, frontEndProc<SetupWindow, handleMessage>, &setup);
    if (!hwnd) return ExitFailed;
    runFrontEndLoop(hwnd);
    if (setup.worker.joinable()) setup.worker.join();  // the session ended under a running installation
    return setup.result;
}

}  // namespace dormalis
