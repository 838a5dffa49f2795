// The settings window's process: the class, the top window and its modal pages, and the message handling that
// is not a command.
#include "ui/ui.h"

#include <commctrl.h>

#include <algorithm>

#include "foundation/failure.h"
#include "foundation/process.h"

namespace dormalis {

namespace {

constexpr UINT_PTR SnapshotTimer = 99;
constexpr UINT_PTR StatusTimer = 98;
constexpr UINT StatusPeriodMs = 3000;
constexpr ULONGLONG StatusGapMs = 1000;  // the card is compared with the machine no more often
constexpr const wchar_t* SingleWindowMutex = L"Local\\Dormalis.Native.Ui";
constexpr const wchar_t* MainWindowMark = L"Dormalis.Native.Ui.Main";  // a property of the process's first window
constexpr ULONGLONG HandOverWaitMs = 5000;
constexpr int LineStep = 32;   // pixels, whatever the DPI
constexpr int WheelStep = 60;  // pixels per notch, whatever the DPI

Ui* uiOf(HWND window) {
    return reinterpret_cast<Ui*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

unsigned minutesFromSeconds(UINT seconds) {
    const unsigned minutes = (seconds + 59) / 60;
    return std::clamp(minutes, 1u, 240u);
}

LRESULT onCreate(Ui& ui) {
    ui.scale = static_cast<float>(GetDpiForWindow(ui.window)) / 96.0f;
    ui.fonts();
    UINT seconds = 600;
    if (!SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0)) seconds = 600;
    ui.minutes = minutesFromSeconds(seconds);
    if (ui.page == SetupPage && !quitAfterTest) SetTimer(ui.window, StatusTimer, StatusPeriodMs, nullptr);
    return 0;
}

void onClose(Ui& ui) {
    if (ui.page == CustomizePage) {
        settings = ui.saved;
        try {
            settings.save();
        } catch (const std::exception& error) {
            // The page must still close; the user learns that the old settings could not be stored.
            showFailure(ui.window, error, FailureScope::Action);
        }
    }
    DestroyWindow(ui.window);
}

LRESULT onDpiChanged(Ui& ui, WPARAM wParam, LPARAM lParam) {
    ui.scale = static_cast<float>(HIWORD(wParam)) / 96.0f;
    ui.fonts();
    RECT before{}, after{};
    GetClientRect(ui.window, &before);
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(ui.window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    GetClientRect(ui.window, &after);
    // A resize has laid the page out for the new scale already; an unchanged size brings no WM_SIZE.
    if (EqualRect(&before, &after)) ui.layout();
    return 0;
}

// As a dialog does: the control that had the focus gets it back when the window is active again.
LRESULT onActivate(Ui& ui, WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        rememberFocus(ui);
        return 0;
    }
    // Posted: a rebuild inside the activation would take the focus it is about to give back.
    PostMessageW(ui.window, WM_TIMER, StatusTimer, 0);
    if (!HIWORD(wParam) && ui.focusId && ui.control(ui.focusId)) {
        restoreFocus(ui);
        return 0;
    }
    return DefWindowProcW(ui.window, WM_ACTIVATE, wParam, lParam);
}

void onTrackBar(Ui& ui) {
    settings.density = static_cast<int>(SendMessageW(ui.control(DensityBar), TBM_GETPOS, 0, 0));
    settings.speed = static_cast<int>(SendMessageW(ui.control(SpeedBar), TBM_GETPOS, 0, 0));
}

void onVerticalScroll(Ui& ui, WPARAM wParam) {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(ui.window, SB_VERT, &info);
    int position = info.nPos;
    switch (LOWORD(wParam)) {
        case SB_LINEUP:
            position -= LineStep;
            break;
        case SB_LINEDOWN:
            position += LineStep;
            break;
        case SB_PAGEUP:
            position -= static_cast<int>(info.nPage);
            break;
        case SB_PAGEDOWN:
            position += static_cast<int>(info.nPage);
            break;
        case SB_THUMBTRACK:
            position = info.nTrackPos;
            break;
        default:
            break;
    }
    scrollTo(ui, position);
}

void onWheel(Ui& ui, WPARAM wParam) {
    // Precision touchpads and smooth wheels send fractions of a notch; what is left over counts towards the next
    // one, until the direction changes.
    const int delta = static_cast<short>(HIWORD(wParam));
    if ((delta < 0) != (ui.wheelRest < 0)) ui.wheelRest = 0;
    ui.wheelRest += delta;
    const int notches = ui.wheelRest / WHEEL_DELTA;
    ui.wheelRest -= notches * WHEEL_DELTA;
    if (notches != 0) scrollTo(ui, ui.scroll - WheelStep * notches);
}

void onTimer(Ui& ui, WPARAM timer) {
    if (timer == StatusTimer) return refreshStatus(ui);
    if (snapshotPath.empty()) return;
    capture(ui.window, snapshotPath);
    KillTimer(ui.window, SnapshotTimer);
    DestroyWindow(ui.window);
}

// Another start asked for a page: it opens over the setup window, unless a page or a box is open already; that one
// has been brought to the front and keeps it.
void onOpenPage(Ui& ui, WPARAM page) {
    if (ui.page != SetupPage || !IsWindowEnabled(ui.window)) return;
    if (page == CustomizePage || page == AboutPage) showPage(ui.window, static_cast<int>(page));
}

LRESULT onPaint(Ui& ui, UINT message, WPARAM wParam) {
    if (message == WM_PRINTCLIENT) {
        paintPage(ui, reinterpret_cast<HDC>(wParam));
    } else {
        PaintDc paint(ui.window);
        paintPage(ui, paint.get());
    }
    return 0;
}

// Enter presses the button that has the focus, as in a dialog. The dialog manager presses the default button it is
// told of here; an owner-drawn button never makes itself the default, and nothing else has a default.
LRESULT focusedButtonAsDefault(Ui& ui) {
    HWND focus = GetFocus();
    wchar_t className[8] = {};
    if (!focus || GetParent(focus) != ui.window || !GetClassNameW(focus, className, 8)) return 0;
    const bool ownerDrawn = (GetWindowLongW(focus, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
    if (lstrcmpiW(className, L"Button") != 0 || !ownerDrawn) return 0;
    return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
}

// An owned page has no taskbar button of its own: minimised alone it would vanish and leave its owner disabled, so
// it goes down with its owner and comes back with it.
LRESULT onSystemCommand(Ui& ui, WPARAM wParam, LPARAM lParam) {
    HWND owner = GetWindow(ui.window, GW_OWNER);
    if ((wParam & 0xFFF0) == SC_MINIMIZE && owner) {
        ShowWindow(owner, SW_MINIMIZE);
        return 0;
    }
    return DefWindowProcW(ui.window, WM_SYSCOMMAND, wParam, lParam);
}

// A theme, colour or text size change while the window is open: the common controls learn of it from their parent,
// all that the page draws itself is drawn again in the colours now in force, and new text size lays the page out
// again.
LRESULT onSystemChange(Ui& ui, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCOLORCHANGE) {
        for (HWND control : ui.controls)
            if (control) SendMessageW(control, WM_SYSCOLORCHANGE, wParam, lParam);
    }
    if (message == WM_SETTINGCHANGE && textScale() != ui.text) {
        ui.fonts();
        ui.layout();
    }
    RedrawWindow(ui.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    return DefWindowProcW(ui.window, message, wParam, lParam);
}

LRESULT dispatch(Ui& ui, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return onCreate(ui);
        case WM_SIZE:
            ui.layout();
            return 0;
        case RebuildMessage:
            ui.layout();
            ui.fitHeight();
            return 0;
        case WM_ACTIVATE:
            return onActivate(ui, wParam, lParam);
        case WM_CLOSE:
            onClose(ui);
            return 0;
        case WM_SYSCOMMAND:
            return onSystemCommand(ui, wParam, lParam);
        case DM_GETDEFID:
            return focusedButtonAsDefault(ui);
        case OpenPageMessage:
            onOpenPage(ui, wParam);
            return 0;
        case WM_DESTROY:
            RemovePropW(ui.window, MainWindowMark);
            if (!GetWindow(ui.window, GW_OWNER)) PostQuitMessage(0);
            return 0;
        case WM_GETMINMAXINFO: {
            auto& limits = *reinterpret_cast<MINMAXINFO*>(lParam);
            limits.ptMinTrackSize = POINT{ui.px(ui.tx(NarrowestPage)), ui.px(350)};
            return 0;
        }
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
            return onSystemChange(ui, message, wParam, lParam);
        case WM_DPICHANGED:
            return onDpiChanged(ui, wParam, lParam);
        case WM_COMMAND:
            command(ui, wParam);
            return 0;
        case WM_HSCROLL:
            onTrackBar(ui);
            return 0;
        case WM_VSCROLL:
            onVerticalScroll(ui, wParam);
            return 0;
        case WM_MOUSEWHEEL:
            onWheel(ui, wParam);
            return 0;
        case WM_TIMER:
            onTimer(ui, wParam);
            return 0;
        case WM_ERASEBKGND:
            return eraseBackground(ui, reinterpret_cast<HDC>(wParam));
        case WM_PAINT:
        case WM_PRINTCLIENT:
            return onPaint(ui, message, wParam);
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            return controlColors(reinterpret_cast<HDC>(wParam));
        case WM_MEASUREITEM:
            measureItem(ui, *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_DRAWITEM:
            drawItem(ui, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        default:
            return DefWindowProcW(ui.window, message, wParam, lParam);
    }
}

// Runs the message loop of one window until it is gone or the quit message arrives.
void pump(HWND window) {
    MSG message;
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The quit message belongs to the outermost loop; swallowing it here would leave the process running.
            if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (dialogMessage(window, message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The first window of the settings process already running in this session, or null.
HWND runningWindow() {
    for (HWND found = nullptr; (found = FindWindowExW(nullptr, found, UiClass, nullptr)) != nullptr;)
        if (GetPropW(found, MainWindowMark)) return found;
    return nullptr;
}

void bringForward(HWND running, int page) {
    DWORD process = 0;
    GetWindowThreadProcessId(running, &process);
    AllowSetForegroundWindow(process);
    if (IsIconic(running)) ShowWindowAsync(running, SW_RESTORE);
    SetForegroundWindow(GetLastActivePopup(running));
    if (page != SetupPage) PostMessageW(running, OpenPageMessage, static_cast<WPARAM>(page), 0);
}

// Two windows would each hold their own copy of the settings, and closing one would undo what the other saved: a
// second start brings the first window to the front, with the page it was asked for. The first may not have made
// its window yet, or be ending: once its mutex is free this start is the first. True in that case.
bool handOver(HANDLE single, int page) {
    const ULONGLONG deadline = GetTickCount64() + HandOverWaitMs;
    do {
        if (HWND running = runningWindow()) {
            bringForward(running, page);
            return false;
        }
        const DWORD waited = WaitForSingleObject(single, 50);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return true;
    } while (GetTickCount64() < deadline);
    return false;
}

int runModal(Ui& ui, HWND owner) {
    EnableWindow(owner, FALSE);
    ShowWindow(ui.window, SW_SHOW);
    pump(ui.window);
    EnableWindow(owner, TRUE);
    SetForegroundWindow(owner);
    return ui.result;
}

}  // namespace

bool registerUiClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = UiClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void scrollTo(Ui& ui, int position) {
    SetScrollPos(ui.window, SB_VERT, position, TRUE);
    ui.scroll = GetScrollPos(ui.window, SB_VERT);
    for (size_t i = 0; i < ui.controls.size(); ++i) {
        const Box& box = ui.rects[i];
        if (ui.controls[i]) {
            SetWindowPos(ui.controls[i], nullptr, box.x, box.y - ui.scroll, box.width, box.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    InvalidateRect(ui.window, nullptr, TRUE);
}

bool dialogMessage(HWND window, MSG& message) {
    if (!IsDialogMessageW(window, &message)) return false;
    Ui* ui = uiOf(window);
    HWND focus = GetFocus();
    if (!ui || !focus || GetParent(focus) != window) return true;
    RECT area{}, client{};
    GetWindowRect(focus, &area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
    GetClientRect(window, &client);
    const int margin = ui->px(12);
    if (area.top < margin) {
        scrollTo(*ui, ui->scroll + area.top - margin);
    } else if (area.bottom > client.bottom - margin) {
        // A control taller than the window shows its top.
        scrollTo(*ui, ui->scroll + std::min(area.bottom - client.bottom + margin, area.top - margin));
    }
    return true;
}

void refreshStatus(Ui& ui) {
    if (ui.page != SetupPage || quitAfterTest || !IsWindow(ui.window)) return;
    const ULONGLONG since = GetTickCount64() - ui.statusCheckedAt;
    if (since < StatusGapMs) {
        SetTimer(ui.window, StatusTimer, static_cast<UINT>(StatusGapMs - since), nullptr);
        return;
    }
    SetTimer(ui.window, StatusTimer, StatusPeriodMs, nullptr);
    // Not under a page, box or elevated copy of its own (the command rebuilds the page as it returns), nor
    // under an open list; a hidden or minimized window is compared once it shows again.
    if (!IsWindowVisible(ui.window) || IsIconic(ui.window) || !IsWindowEnabled(ui.window) || ui.layingOut ||
        SendMessageW(ui.control(LanguageList), CB_GETDROPPEDSTATE, 0, 0)) {
        return;
    }
    ui.statusCheckedAt = GetTickCount64();
    if (statusStale(ui)) ui.layout();
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* ui = static_cast<Ui*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ui->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(ui));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    Ui* ui = uiOf(window);
    if (!ui) return DefWindowProcW(window, message, wParam, lParam);
    return guardedMessage(window, FailureScope::Action, [&] { return dispatch(*ui, message, wParam, lParam); });
}

LRESULT CALLBACK hoverProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    switch (message) {
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        case WM_MOUSEMOVE:
            if (!GetPropW(button, L"Hover")) {
                SetPropW(button, L"Hover", reinterpret_cast<HANDLE>(1));
                TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, button, 0};
                TrackMouseEvent(&track);
                InvalidateRect(button, nullptr, TRUE);
            }
            break;
        case WM_MOUSELEAVE:
            RemovePropW(button, L"Hover");
            InvalidateRect(button, nullptr, TRUE);
            break;
        case WM_NCDESTROY:
            // A property left on a destroyed window is leaked by the system.
            RemovePropW(button, L"Hover");
            RemoveWindowSubclass(button, hoverProc, 1);
            break;
        default:
            break;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

int showPage(HWND owner, int page) {
    Ui ui(page);
    if (!createUi(ui, owner)) return 0;
    return runModal(ui, owner);
}

int runWindow() {
    registerUiClass();
    UniqueHandle single;
    if (!quitAfterTest) {
        // Owned until this process ends, so that a later start can tell an ending first one from a running one.
        single.reset(CreateMutexW(nullptr, TRUE, SingleWindowMutex));
        if (single && GetLastError() == ERROR_ALREADY_EXISTS && !handOver(single.get(), requestedPage)) return 0;
    }
    // The Windows screen-saver dialog waits for its page as for a dialog box of its own.
    HWND owner = IsWindow(requestedOwner) ? requestedOwner : nullptr;
    Ui ui(requestedPage);
    if (!createUi(ui, owner)) return 1;
    HWND window = ui.window;
    if (!quitAfterTest) SetPropW(window, MainWindowMark, reinterpret_cast<HANDLE>(1));
    if (owner) {
        runModal(ui, owner);
        return 0;
    }
    ShowWindow(window, SW_SHOW);
    if (quitAfterTest) {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        UpdateWindow(window);
        SetTimer(window, SnapshotTimer, 1000, nullptr);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsWindow(window) && dialogMessage(window, message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace dormalis
