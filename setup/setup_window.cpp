// The setup's window, in the settings window's family: the header band, the folder with its check and Browse, the
// interruption mode, and Install, which runs on a worker thread while the window shows each stage.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

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
constexpr COLORREF FailureColor = RGB(158, 38, 38);

using namespace setup_controls;

struct SetupWindow {
    HWND hwnd = nullptr;
    float scale = 1.0f;
    UniqueFont body;
    UniqueFont title;
    SetupOptions presets;
    std::wstring proposedFolder;  // the current installation or the default; not a folder the user chose
    bool installed = false;
    bool busy = false;
    bool failed = false;
    std::thread worker;
    int result = ExitCancelled;

    int px(double dips) const { return static_cast<int>(dips * scale); }
};

HWND addControl(SetupWindow& setup, const wchar_t* className, const std::wstring& text, DWORD style, int id, int x,
                int y, int width, int height) {
    HWND control = CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, setup.px(x), setup.px(y),
                                   setup.px(width), setup.px(height), setup.hwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(setup.body.get()), TRUE);
    return control;
}

std::wstring controlText(HWND hwnd, int id) {
    HWND control = GetDlgItem(hwnd, id);
    std::wstring value(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    value.resize(static_cast<size_t>(GetWindowTextW(control, value.data(), static_cast<int>(value.size()))));
    return value;
}

// The folder to install into: the proposed one as it is, a chosen one only once validated.
std::wstring checkedFolder(const SetupWindow& setup, std::wstring& message) {
    const std::wstring typed = controlText(setup.hwnd, Folder);
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
    SetDlgItemTextW(setup.hwnd, FolderMessage, message.c_str());
    EnableWindow(GetDlgItem(setup.hwnd, Install), usable);
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
    const std::wstring shown = controlText(setup.hwnd, Folder);
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
        SetDlgItemTextW(setup.hwnd, Folder, folder.c_str());
    }
    if (chosen) chosen->Release();
    dialog->Release();
}

void setBusy(SetupWindow& setup, bool busy) {
    setup.busy = busy;
    for (int id : {Folder, Browse, Firewall, Adapters, Install, Cancel})
        EnableWindow(GetDlgItem(setup.hwnd, id), !busy);
    if (setup.installed) EnableWindow(GetDlgItem(setup.hwnd, Browse), FALSE);
}

void onInstall(SetupWindow& setup) {
    std::wstring message;
    const std::wstring folder = checkedFolder(setup, message);
    if (folder.empty()) {
        SetDlgItemTextW(setup.hwnd, FolderMessage, message.c_str());
        return;
    }
    // Validation compares with the current installation, so the chosen folder takes over only now.
    installDirectoryOverride = folder;
    const bool firewall = IsDlgButtonChecked(setup.hwnd, Firewall) == BST_CHECKED;
    setup.failed = false;
    setBusy(setup, true);
    SetDlgItemTextW(setup.hwnd, Progress, L"");
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
        SetDlgItemTextW(setup.hwnd, Progress, setuptext::failed(reason).c_str());
        return;
    }
    setup.result = ExitSucceeded;
    setup.installed = true;
    rememberLanguage();
    const std::wstring folder = readString(HKEY_LOCAL_MACHINE, RegistryPath, InstallPathValue, installDir());
    const bool firewall = readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 1) != 0;
    SetDlgItemTextW(setup.hwnd, Progress, setuptext::installedIn(folder, firewall).c_str());
    SetDlgItemTextW(setup.hwnd, Status, text("setup.installed").c_str());
    SetDlgItemTextW(setup.hwnd, Cancel, setuptext::close().c_str());
    // The way forward: Install becomes Open, and the note says what starts the protection.
    SetDlgItemTextW(setup.hwnd, AdminNote, setuptext::enableStarts().c_str());
    SetDlgItemTextW(setup.hwnd, Install, setuptext::openProgram().c_str());
    for (int id : {Folder, Browse, Firewall, Adapters})
        EnableWindow(GetDlgItem(setup.hwnd, id), FALSE);
    SetFocus(GetDlgItem(setup.hwnd, Install));
}

// The settings window opens as the signed-in user, never as a child of this elevated setup, which then closes.
void onOpen(SetupWindow& setup) {
    if (openAsSignedInUser(installedFile(ProgramFileName))) {
        DestroyWindow(setup.hwnd);
        return;
    }
    SetDlgItemTextW(setup.hwnd, AdminNote, setuptext::openFromStartMenu().c_str());
    EnableWindow(GetDlgItem(setup.hwnd, Install), FALSE);
    SetFocus(GetDlgItem(setup.hwnd, Cancel));
}

void makeFonts(SetupWindow& setup) {
    setup.body.reset(CreateFontW(-setup.px(16), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                 L"Segoe UI"));
    setup.title.reset(CreateFontW(-setup.px(30), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                                  L"Segoe UI"));
}

void createControls(SetupWindow& setup) {
    makeFonts(setup);
    const int inner = Width - 2 * Margin;
    const int browseWidth = 130;
    int y = HeaderHeight + 14;
    addControl(setup, L"STATIC", text("setup.subtitle"), SS_LEFT, Subtitle, Margin, y, inner, 46);
    y += 52;
    addControl(setup, L"STATIC", text(setup.installed ? "setup.installed" : "setup.notInstalled"), SS_LEFT, Status,
               Margin, y, inner, 22);
    y += 30;
    addControl(setup, L"STATIC", setuptext::folderCaption(), SS_LEFT, FolderCaption, Margin, y, inner, 22);
    y += 24;
    const std::wstring folder = setup.presets.folder.empty() ? setup.proposedFolder : setup.presets.folder;
    // An installed service keeps its folder: moving it needs an uninstallation first.
    addControl(setup, L"EDIT", folder, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (setup.installed ? ES_READONLY : 0),
               Folder, Margin, y + 2, inner - browseWidth - 10, 28);
    HWND browse = addControl(setup, L"BUTTON", setuptext::browse(), BS_OWNERDRAW | WS_TABSTOP, Browse,
                             Width - Margin - browseWidth, y - 2, browseWidth, 36);
    EnableWindow(browse, !setup.installed);
    y += 38;
    addControl(setup, L"STATIC", L"", SS_LEFT, FolderMessage, Margin, y, inner, 40);
    y += 44;
    addControl(setup, L"STATIC", text("setup.networkModeTitle"), SS_LEFT, ModeTitle, Margin, y, inner, 22);
    y += 26;
    addControl(setup, L"BUTTON", text("setup.networkModeFirewall"), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
               Firewall, Margin, y, inner, 24);
    y += 26;
    addControl(setup, L"STATIC", text("setup.networkModeFirewallHint"), SS_LEFT, FirewallHint, Margin + 20, y,
               inner - 20, 44);
    y += 50;
    addControl(setup, L"BUTTON", text("setup.networkModeAdapters"), BS_AUTORADIOBUTTON, Adapters, Margin, y, inner, 24);
    y += 26;
    addControl(setup, L"STATIC", text("setup.networkModeAdaptersHint"), SS_LEFT, AdaptersHint, Margin + 20, y,
               inner - 20, 44);
    y += 52;
    addControl(setup, L"STATIC", setuptext::adminNote(), SS_LEFT, AdminNote, Margin, y, inner, 44);
    y += 50;
    addControl(setup, L"STATIC", L"", SS_LEFT, Progress, Margin, y, inner, 66);
    y += 74;
    addControl(setup, L"BUTTON", setuptext::cancel(), BS_OWNERDRAW | WS_TABSTOP, Cancel, Width - Margin - 380, y, 160,
               42);
    addControl(setup, L"BUTTON", text("setup.install"), BS_OWNERDRAW | WS_TABSTOP, Install, Width - Margin - 210, y,
               210, 42);
    CheckRadioButton(setup.hwnd, Firewall, Adapters, setup.presets.firewall ? Firewall : Adapters);
    if (!setup.presets.folder.empty()) onFolderChanged(setup);
}

int clientHeight() {
    return HeaderHeight + 14 + 52 + 30 + 24 + 38 + 44 + 26 + 26 + 50 + 26 + 52 + 50 + 74 + 42 + Margin;
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
    if (code != BN_CLICKED) return 0;
    if (id == Install) setup.result == ExitSucceeded ? onOpen(setup) : onInstall(setup);
    if (id == Browse) onBrowse(setup);
    if (id == Cancel || id == IDCANCEL) onClose(setup);
    return 0;
}

LRESULT onStep(SetupWindow& setup, WPARAM step) {
    SetDlgItemTextW(setup.hwnd, Progress, stageText(static_cast<InstallStep>(step)).c_str());
    return 0;
}

LRESULT handleMessage(SetupWindow& setup, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            createControls(setup);
            return 0;
        case WM_PAINT:
            return onPaint(setup);
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
    HWND hwnd =
        openFrontEndWindow(WindowClass, frontEndProc<SetupWindow, handleMessage>, Width, clientHeight(), &setup);
    if (!hwnd) return ExitFailed;
    runFrontEndLoop(hwnd);
    if (setup.worker.joinable()) setup.worker.join();  // the session ended under a running installation
    return setup.result;
}

}  // namespace dormalis
