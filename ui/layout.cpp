// The layout engine: every page is rebuilt from scratch in DIPs scaled by the window's DPI, each element placed
// below the measured height of the one before, so long translations and narrow windows push content down.
#include "ui/ui.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/registry.h"

namespace dormalis {

namespace {

struct PageSize {
    int width;
    int height;
};

PageSize pageSize(int page) {
    const int width = page == SetupPage || page == CustomizePage ? 1000 : 780;
    const int height = page == SetupPage ? 850 : 780;
    return {width, height};
}

RECT primaryWorkArea() {
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

// The header is the same on every page; returns its height in DIPs.
int layoutHeader(Ui& ui, int width) {
    const int titleHeight = ui.label(Product, 88, 24, width - 116, true);
    const int versionHeight =
        ui.label(std::wstring(L"v") + Version + L"  \u00B7  Windows x64", 88, titleHeight + 28, width - 116, false);
    ui.labels.back().color = VersionColor;
    const int height = titleHeight + 28 + versionHeight;
    ui.headerBottom = ui.px(height + 20);
    return height;
}

int clientWidth(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.right - client.left;
}

int clientHeight(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client.bottom - client.top;
}

void destroyControls(Ui& ui) {
    for (HWND control : ui.controls) {
        if (control) DestroyWindow(control);
    }
    ui.controls.clear();
    ui.rects.clear();
    ui.labels.clear();
    ui.card = RECT{};
}

void placeControls(Ui& ui) {
    for (size_t i = 0; i < ui.controls.size(); ++i) {
        const Box& box = ui.rects[i];
        if (ui.controls[i]) {
            SetWindowPos(ui.controls[i], nullptr, box.x, box.y - ui.scroll, box.width, box.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

void updateScrollBar(Ui& ui) {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = ui.contentHeight;
    info.nPage = static_cast<UINT>(std::max(clientHeight(ui.window), 0));
    info.nPos = ui.scroll;
    SetScrollInfo(ui.window, SB_VERT, &info, TRUE);
    ui.scroll = GetScrollPos(ui.window, SB_VERT);
}

void build(Ui& ui, int width) {
    const int createdAt = ui.scroll;
    destroyControls(ui);
    const int header = layoutHeader(ui, width);
    const int top = header + 44;
    int bottom = 0;
    switch (ui.page) {
        case SetupPage:
            bottom = layoutSetupPage(ui, width, header);
            break;
        case CustomizePage:
            bottom = layoutCustomizePage(ui, width, top);
            break;
        case ModePage:
            bottom = layoutModePage(ui, width, top);
            break;
        default:
            bottom = layoutAboutPage(ui, width, top);
            break;
    }
    ui.contentHeight = ui.px(bottom);
    updateScrollBar(ui);
    // The controls were made at their scrolled places; only a clamped scroll position moves them.
    if (ui.scroll != createdAt) placeControls(ui);
    InvalidateRect(ui.window, nullptr, TRUE);
}

}  // namespace

float textScale() {
    const DWORD percent = readDword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor", 100);
    return static_cast<float>(std::clamp<DWORD>(percent, 100, 225)) / 100.0f;
}

void Ui::fonts() {
    text = textScale();
    for (int index = 0; index < 2; ++index) {
        const bool title = index == 1;
        if (!retired[index]) retired[index] = std::move(typefaces[index]);
        typefaces[index].reset(CreateFontW(-px((title ? 30 : 16) * text), 0, 0, 0, title ? FW_BOLD : FW_NORMAL, FALSE,
                                           FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                           CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
    }
}

int Ui::label(const std::wstring& text, int x, int y, int width, bool title) {
    RECT measured{0, 0, px(width), 0};
    {
        WindowDc dc(window);
        SelectionGuard font(dc.get(), typefaces[title ? 1 : 0].get());
        DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &measured,
                  DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    const int height = static_cast<int>(std::ceil((measured.bottom - measured.top) / scale));
    Label added;
    added.rect = RECT{px(x), px(y), px(x + width), px(y + height + 6)};
    added.caption = text;
    added.font = title ? 1 : 0;
    named(added);
    labels.push_back(std::move(added));
    return height + 6;
}

// Screen readers find no painted text: each text also lives in an owner-drawn Static at its place, which draws the
// page beneath it unchanged. Made before the control it captions, it is that control's name.
void Ui::named(const Label& text) {
    const RECT& area = text.rect;
    HWND control =
        CreateWindowExW(0, L"STATIC", text.caption.c_str(), WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX,
                        area.left, area.top - scroll, area.right - area.left, area.bottom - area.top, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), instance, nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(typefaces[text.font].get()), FALSE);
    controls.push_back(control);
    rects.push_back(Box{area.left, area.top, area.right - area.left, area.bottom - area.top});
}

HWND Ui::add(const wchar_t* className, const std::wstring& text, int id, int x, int y, int width, int height,
             unsigned long style) {
    HWND control = CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, px(x),
                                   px(y) - scroll, px(width), px(height), window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(typefaces[0].get()), TRUE);
    controls.push_back(control);
    rects.push_back(Box{px(x), px(y), px(width), px(height)});
    return control;
}

bool rememberFocus(Ui& ui) {
    HWND focus = GetFocus();
    if (!focus || !IsChild(ui.window, focus)) return false;
    while (GetParent(focus) != ui.window)
        focus = GetParent(focus);
    ui.focusId = GetDlgCtrlID(focus);
    return true;
}

void restoreFocus(Ui& ui) {
    HWND control = ui.focusId ? ui.control(ui.focusId) : nullptr;
    if (control) SetFocus(control);
}

void Ui::layout() {
    // A minimized window has no width to lay out for; restoring it brings a WM_SIZE.
    if (layingOut || !window || IsIconic(window)) return;
    layingOut = true;
    const bool hadFocus = rememberFocus(*this);
    // The scroll bar appearing or going changes the client width, and the WM_SIZE telling so arrives while this
    // layout runs: build again for the new width. Content only grows as the page narrows, so it settles at once.
    for (int pass = 0; pass < 3; ++pass) {
        const int width = clientWidth(window);
        build(*this, static_cast<int>(width / scale));
        if (clientWidth(window) == width) break;
    }
    if (hadFocus) restoreFocus(*this);
    retired[0].reset();
    retired[1].reset();
    layingOut = false;
}

void Ui::fitHeight() {
    RECT frame{};
    GetWindowRect(window, &frame);
    const int chrome = (frame.bottom - frame.top) - clientHeight(window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int height = std::min<int>(work.bottom - work.top - 30, chrome + contentHeight + px(8));
    SetWindowPos(window, nullptr, frame.left, work.top + (work.bottom - work.top - height) / 2,
                 frame.right - frame.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND createUi(Ui& ui, HWND owner) {
    const RECT work = primaryWorkArea();
    const float systemScale = static_cast<float>(GetDpiForSystem()) / 96.0f;
    const PageSize size = pageSize(ui.page);
    const int workWidth = work.right - work.left;
    const int workHeight = work.bottom - work.top;
    const float narrowest = std::ceil(NarrowestPage * textScale());
    const int width = std::min(workWidth - 30, static_cast<int>(std::max<float>(size.width, narrowest) * systemScale));
    const int height = std::min(workHeight - 30, static_cast<int>(size.height * systemScale));
    HWND window =
        CreateWindowExW(WS_EX_CONTROLPARENT, UiClass, Product, WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_CLIPCHILDREN,
                        work.left + (workWidth - width) / 2, work.top + (workHeight - height) / 2, width, height, owner,
                        nullptr, instance, &ui);
    if (!window) return nullptr;
    ui.layout();
    ui.fitHeight();
    return window;
}

}  // namespace dormalis
