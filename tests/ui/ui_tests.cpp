// The settings window in this process: real page windows, real messages, real snapshots. Layout is checked by
// invariants (nothing overlaps, everything stays inside the page, every text fits its control) in every
// language, on both sides of the wide/narrow boundary and at three scales.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <memory>
#include <thread>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "registration/saver_selection.h"
#include "status/status_report.h"
#include "tests/support/support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/ui.h"

namespace dormalis {
namespace {

using namespace testing;

void pumpMessages() {  // a quit message left by a destroyed top window is dropped too
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A page window made by createUi, destroyed with the record; owned by a hidden window, so that closing it does
// not post the quit message.
struct OpenPage {
    std::unique_ptr<Ui> ui;
    HWND owner;
    explicit OpenPage(int page, bool topWindow = false) : ui(std::make_unique<Ui>(page)) {
        owner = topWindow
                    ? nullptr
                    : CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
        createUi(*ui, owner);
        pumpMessages();
    }
    ~OpenPage() {
        if (IsWindow(ui->window)) DestroyWindow(ui->window);
        if (owner) DestroyWindow(owner);
        pumpMessages();
    }
    Ui* operator->() { return ui.get(); }
    Ui& operator*() { return *ui; }
};

// A control's rectangle in the page's client area, as it is now (scrolled).
RECT placeOf(Ui& ui, HWND control) {
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, ui.window, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

LRESULT CALLBACK anySize(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_GETMINMAXINFO) reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxTrackSize = POINT{4000, 4000};
    return result;
}

// Brings the page to `dpi` and its window to a client area `widthDips` wide before any scroll bar (and `heightPx`
// high, when given), through the messages a DPI change and a user's resize send.
void setGeometry(Ui& ui, int dpi, int widthDips, int heightPx = 0) {
    SetWindowSubclass(ui.window, anySize, 1, 0);  // the test display is 1920 pixels wide; pages go wider
    RECT frame{};
    GetWindowRect(ui.window, &frame);
    if (ui.px(96) != dpi)
        SendMessageW(ui.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    GetWindowRect(ui.window, &frame);
    RECT wanted{0, 0, static_cast<int>(std::ceil(widthDips * ui.scale)), heightPx};
    AdjustWindowRectEx(&wanted, GetWindowLongW(ui.window, GWL_STYLE), FALSE, GetWindowLongW(ui.window, GWL_EXSTYLE));
    const int height = heightPx > 0 ? wanted.bottom - wanted.top : frame.bottom - frame.top;
    SetWindowPos(ui.window, nullptr, 0, 0, wanted.right - wanted.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
    pumpMessages();
}

Image snapshot(Ui& ui) {
    const std::wstring path = tempFile(L"dormalis-ui-test.bmp");
    DeleteFileW(path.c_str());
    ShowWindow(ui.window, SW_SHOWNOACTIVATE);  // as the program shows its pages
    pumpMessages();
    capture(ui.window, path);
    return readBmp(path);
}

SIZE textSize(Ui& ui, const std::wstring& text, int width, UINT format, int font = 0) {
    WindowDc dc(ui.window);
    SelectionGuard selected(dc.get(), ui.typefaces[font].get());
    RECT area{0, 0, width, 0};
    DrawTextW(dc.get(), text.c_str(), -1, &area, DT_CALCRECT | DT_NOPREFIX | format);
    return SIZE{area.right, area.bottom};
}

// What the page shows, unscrolled: each child window where it really is, and the ink of each painted text.
std::vector<std::pair<std::string, RECT>> itemsOf(Ui& ui) {
    std::vector<std::pair<std::string, RECT>> items;
    for (HWND child = GetWindow(ui.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT area = placeOf(ui, child);
        OffsetRect(&area, 0, ui.scroll);
        items.push_back({"control " + std::to_string(GetDlgCtrlID(child)), area});
    }
    for (const Label& label : ui.labels) {
        const SIZE ink = textSize(ui, label.caption, label.rect.right - label.rect.left, DT_WORDBREAK, label.font);
        items.push_back({"label \"" + narrow(label.caption.substr(0, 24)) + "\"",
                         RECT{label.rect.left, label.rect.top, label.rect.left + ink.cx, label.rect.top + ink.cy}});
    }
    return items;
}

// The texts a control shows and the room it gives them: owner-drawn captions their text area, radio captions
// the space beside the mark, the display modes the closed list less its arrow.
void expectTextsFit(Ui& ui, HWND child, const std::string& where) {
    wchar_t className[16] = {}, caption[512] = {};
    GetClassNameW(child, className, 16);
    GetWindowTextW(child, caption, 512);
    RECT room{};
    GetClientRect(child, &room);
    std::vector<std::wstring> texts{caption};
    UINT format = DT_WORDBREAK;
    if (lstrcmpiW(className, L"Button") == 0 && (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW) {
        room = buttonTextArea(ui.scale, room);
        format |= DT_CENTER;
    } else if (lstrcmpiW(className, L"Button") == 0) {
        room.left += GetSystemMetrics(SM_CXMENUCHECK) + ui.px(4);
    } else if (GetDlgCtrlID(child) == DisplaysCombo) {
        texts.clear();
        for (int item = 0; SendMessageW(child, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(caption)) > 0; ++item)
            texts.push_back(caption);
        room.right -= GetSystemMetrics(SM_CXVSCROLL) + ui.px(4);
        format = DT_SINGLELINE;
    } else {
        return;
    }
    for (const std::wstring& text : texts) {
        const SIZE ink = textSize(ui, text, room.right - room.left, format);
        EXPECT_TRUE(ink.cx <= room.right - room.left && ink.cy <= room.bottom - room.top)
            << where << ": \"" << narrow(text) << "\" needs " << ink.cx << "x" << ink.cy << ", has "
            << room.right - room.left << "x" << room.bottom - room.top;
    }
}

void expectSoundLayout(Ui& ui, const std::string& where) {
    RECT client{};
    GetClientRect(ui.window, &client);
    const RECT page{0, 0, client.right, std::max<LONG>(ui.contentHeight, client.bottom)};
    const auto items = itemsOf(ui);
    for (size_t i = 0; i < items.size(); ++i) {
        RECT common{};
        IntersectRect(&common, &items[i].second, &page);
        EXPECT_TRUE(EqualRect(&common, &items[i].second)) << where << ": " << items[i].first << " leaves the page";
        for (size_t j = i + 1; j < items.size(); ++j) {
            EXPECT_FALSE(IntersectRect(&common, &items[i].second, &items[j].second))
                << where << ": " << items[i].first << " overlaps " << items[j].first;
        }
    }
    for (HWND child = GetWindow(ui.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        expectTextsFit(ui, child, where);
    ui.layout();  // a page laid out for the client it has is laid out the same again
    const auto again = itemsOf(ui);
    EXPECT_TRUE(std::equal(items.begin(), items.end(), again.begin(), again.end(),
                           [](const auto& a, const auto& b) { return EqualRect(&a.second, &b.second) != FALSE; }))
        << where << ": the page was laid out for another client width";
}

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        registerUiClass();
        // The pointer rests in a corner no page reaches, so no button is hovered by accident.
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
        SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout_, 0);
        settings = Settings{};
        settings.language = 1;
        settings.density = 100;
        settings.speed = 3;
        settings.color = RGB(1, 2, 3);
        settings.displays = 2;
        settings.save();
    }
    void TearDown() override {
        SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, timeout_, nullptr, SPIF_SENDCHANGE);
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
        settings = Settings{};
        snapshotPath.clear();
    }
    UINT timeout_ = 0;
};

TEST_F(UiTest, NothingOverlapsOrLeavesThePageAndEveryTextFitsInEveryLanguageWidthAndScale) {
    for (int page = SetupPage; page <= AboutPage; ++page) {
        for (unsigned language = 0; language < 6; ++language) {
            settings.language = language;
            OpenPage open(page);
            for (int dpi : {96, 144, 192}) {
                for (int width : {450, 796, 1000}) {
                    setGeometry(*open, dpi, width);
                    const std::string where = "page " + std::to_string(page) + " language " + std::to_string(language) +
                                              " dpi " + std::to_string(dpi) + " width " + std::to_string(width);
                    expectSoundLayout(*open, where);
                    if (page != SetupPage || width == 796) continue;  // wide: two columns; narrow: one
                    const RECT enable = placeOf(*open, open->control(EnableButton));
                    EXPECT_EQ(placeOf(*open, open->control(CustomizeButton)).left == enable.left, width == 450)
                        << where;
                }
            }
        }
    }
}

TEST_F(UiTest, AMinimizedPageIsNotLaidOutUntilItIsRestored) {
    OpenPage about(AboutPage);
    HWND close = about->control(CancelButton);
    ShowWindow(about->window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(about->window));
    EXPECT_EQ(about->control(CancelButton), close) << "not rebuilt for a window without a client area";
    ShowWindow(about->window, SW_RESTORE);
    EXPECT_NE(about->control(CancelButton), close) << "laid out again for the restored size";
    expectSoundLayout(*about, "restored");
}

TEST_F(UiTest, ThePageWindowIsCreatedInsideItsWorkAreaAndScrollsWhatDoesNotFit) {
    RECT original{}, small{100, 50, 700, 550}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &original, 0);
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &small, 0));
    OpenPage setup(SetupPage);
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &original, 0);
    GetWindowRect(setup->window, &frame);
    EXPECT_TRUE(frame.left >= small.left && frame.right <= small.right) << "created across the work area's width";
    setGeometry(*setup, 192, 560);  // at 200 % the page is taller than the screen
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(setup->window, SB_VERT, &info);
    EXPECT_EQ(info.nMax, setup->contentHeight);
    EXPECT_LT(static_cast<int>(info.nPage), setup->contentHeight) << "content taller than the window scrolls";
}

TEST_F(UiTest, DpiChangeRescalesTheFontsAndLaysThePageOutForTheSuggestedSize) {
    OpenPage about(AboutPage);
    // Until the resize lays the page out again, its controls still use the old fonts: those must still exist.
    int deletedFonts = 0;
    const auto countDeletedFonts = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR data) -> LRESULT {
        for (HWND child = GetWindow(window, GW_CHILD); message == WM_SIZE && child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0));
            if (font && GetObjectType(font) != OBJ_FONT) ++*reinterpret_cast<int*>(data);
        }
        return DefSubclassProc(window, message, wParam, lParam);
    };
    SetWindowSubclass(about->window, countDeletedFonts, 2, reinterpret_cast<DWORD_PTR>(&deletedFonts));
    RECT suggested{100, 80, 100 + 1200, 80 + 900}, frame{};
    SendMessageW(about->window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RemoveWindowSubclass(about->window, countDeletedFonts, 2);
    EXPECT_EQ(deletedFonts, 0);
    GetWindowRect(about->window, &frame);
    EXPECT_TRUE(EqualRect(&frame, &suggested));
    LOGFONTW body{};
    GetObjectW(about->typefaces[0].get(), sizeof(body), &body);
    EXPECT_EQ(body.lfHeight, -24) << "16 DIPs at 150 %";
    for (HWND control : about->controls)
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), about->typefaces[0].get());
    expectSoundLayout(*about, "after the DPI change");
}

// ---- Painting, on the pixels of snapshots ----------------------------------------------------------------------

// Pixels of the border colour on the button's middle row, near its left edge, and the fill just inside them.
int borderWidth(const Image& image, Ui& ui, int id) {
    const RECT box = placeOf(ui, ui.control(id));
    const int y = (box.top + box.bottom) / 2;
    return image.count(RECT{box.left, y, box.left + ui.px(10), y + 1}, buttonColors(id).border);
}
COLORREF fillOf(const Image& image, Ui& ui, int id) {
    const RECT box = placeOf(ui, ui.control(id));
    return image.at(box.left + ui.px(9), (box.top + box.bottom) / 2);
}

TEST_F(UiTest, HeaderCardAndButtonsTakeTheirColoursAndTheCardFollowsTheService) {
    for (bool installed : {false, true}) {
        // A registered service (never started) is what makes the page say "installed".
        UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
        UniqueService service{installed ? CreateServiceW(manager.get(), ServiceName, ServiceName, SERVICE_ALL_ACCESS,
                                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                         SERVICE_ERROR_IGNORE, L"C:\\windows\\system32\\cmd.exe",
                                                         nullptr, nullptr, nullptr, nullptr, nullptr)
                                        : nullptr};
        OpenPage setup(SetupPage);
        setGeometry(*setup, 96, 1000, 850);
        const Image image = snapshot(*setup);
        if (service) DeleteService(service.get());
        ASSERT_TRUE(image.loaded);
        EXPECT_EQ(setup->installed, installed);
        const int right = image.width - 3;
        EXPECT_EQ(image.at(right, 0), AccentColor);
        EXPECT_EQ(image.at(right, setup->headerBottom - 1), HeaderColor);
        EXPECT_EQ(image.at(right, setup->headerBottom), BackgroundColor);
        // The icon covers some of its 48 x 48 square at (28, 28) with something other than the header band.
        EXPECT_GT(48 * 48 - image.count(RECT{28, 28, 76, 76}, HeaderColor), 48 * 48 / 4);
        const int middle = (setup->card.top + setup->card.bottom) / 2;
        EXPECT_EQ(image.at(setup->card.left + 8, middle), installed ? CardInstalledFill : CardMissingFill);
        EXPECT_EQ(image.at(setup->card.left, middle), installed ? CardInstalledBorder : CardMissingBorder);
        for (int id : {EnableButton, CustomizeButton, DisableButton, WindowsSettingsButton, ModeButton, CheckButton}) {
            EXPECT_EQ(fillOf(image, *setup, id), buttonColors(id).fill) << id;
            EXPECT_EQ(borderWidth(image, *setup, id), 1) << id;
        }
    }
}

TEST_F(UiTest, HoverPressAndFocusDarkenAndThickenAtEveryScale) {
    for (int dpi : {96, 192}) {
        OpenPage setup(SetupPage);
        setGeometry(*setup, dpi, 760, 900);
        scrollTo(*setup, setup->rects[1].y - 20);
        const auto expectLook = [&](int id, int darker, int border, const char* state) {
            const Image image = snapshot(*setup);
            const COLORREF fill = buttonColors(id).fill;
            EXPECT_EQ(fillOf(image, *setup, id),
                      RGB(GetRValue(fill) - darker, GetGValue(fill) - darker, GetBValue(fill) - darker))
                << state << " at " << dpi;
            EXPECT_EQ(borderWidth(image, *setup, id), setup->px(border)) << state << " at " << dpi;
        };
        snapshot(*setup);  // shown from here on; showing lays the page out again
        HWND enable = setup->control(EnableButton);
        // The pointer's move over the button; the queue is not pumped, or Wine's leave notice (the real pointer is
        // elsewhere) would end the hover before the picture is taken.
        SendMessageW(enable, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        expectLook(EnableButton, 7, 3, "hovered");
        SendMessageW(enable, BM_SETSTATE, TRUE, 0);
        expectLook(EnableButton, 18, 3, "pressed");
        SendMessageW(enable, BM_SETSTATE, FALSE, 0);
        SendMessageW(enable, WM_MOUSELEAVE, 0, 0);  // as the system reports the pointer leaving
        expectLook(EnableButton, 0, 1, "left");
        SetForegroundWindow(setup->window);
        SetFocus(setup->control(DisableButton));
        expectLook(DisableButton, 0, 3, "focused");
    }
}

TEST_F(UiTest, TheClosedLanguageListShowsTheFlagOfTheCurrentLanguageOnly) {
    const COLORREF own[6] = {RGB(0, 70, 170),   RGB(20, 50, 130), RGB(20, 20, 20),  // a colour only that flag has
                             RGB(255, 230, 20), RGB(185, 25, 40), RGB(0, 140, 75)};
    for (unsigned language = 0; language < 6; ++language) {
        settings.language = language;
        OpenPage setup(SetupPage);
        const Image image = snapshot(*setup);
        for (unsigned other = 0; other < 6; ++other) {
            EXPECT_EQ(image.count(placeOf(*setup, setup->control(LanguageList)), own[other]) > 4, other == language)
                << language << " shows flag " << other;
        }
    }
    OpenPage mode(ModePage);  // and a system-drawn control sits on the page's background
    const RECT radio = placeOf(*mode, mode->control(FirewallRadio));
    EXPECT_GT(snapshot(*mode).count(radio, BackgroundColor),
              (radio.right - radio.left) * (radio.bottom - radio.top) / 2);
}

// ---- Commands, through real messages ---------------------------------------------------------------------------

DWORD stored(const wchar_t* name) {
    return readDword(HKEY_CURRENT_USER, RegistryPath, name, 0xDEADBEEF);
}

UINT windowsTimeout() {
    UINT seconds = 0;
    SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
    return seconds;
}

void send(Ui& ui, int id, int code = BN_CLICKED) {
    SendMessageW(ui.window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(ui.control(id)));
}

// Moves a track bar as the user would, and tells the page as the bar itself does.
void drag(Ui& ui, int id, int position) {
    SendMessageW(ui.control(id), TBM_SETPOS, TRUE, position);
    SendMessageW(ui.window, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(ui.control(id)));
}

// Gives a control the keyboard focus, as a click or Tab does.
bool focus(Ui& ui, int id) {
    ShowWindow(ui.window, SW_SHOW);
    SetForegroundWindow(ui.window);
    SetFocus(ui.control(id));
    return GetFocus() == ui.control(id);
}

int focused() {
    return GetDlgCtrlID(GetFocus());
}

// Sends a command that shows a message box of this process; reads the box and presses OK.
std::pair<std::wstring, HICON> boxAfter(Ui& ui, int id) {
    std::pair<std::wstring, HICON> seen;
    std::thread reader([&] {
        HWND box = nullptr;
        if (!waitUntil([&] { return (box = FindWindowW(L"#32770", L"Dormalis")) && IsWindowVisible(box); }, 10000))
            return;
        wchar_t text[2048] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        seen = {text, reinterpret_cast<HICON>(SendDlgItemMessageW(box, 0x440, STM_GETICON, 0, 0))};
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    send(ui, id);
    reader.join();
    pumpMessages();
    return seen;
}

TEST_F(UiTest, SaveRefusesAnIdleTimeOutsideOneTo240AndStoresAValidOne) {
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, 420, nullptr, SPIF_SENDCHANGE);
    OpenPage customize(CustomizePage);
    drag(*customize, DensityBar, 500);
    ASSERT_TRUE(focus(*customize, SaveButton));
    for (const wchar_t* typed : {L"0", L"241", L""}) {
        SetDlgItemTextW(customize->window, MinutesEdit, typed);
        const auto [text, icon] = boxAfter(*customize, SaveButton);
        EXPECT_EQ(text, L"Choose 1 to 240 minutes.") << narrow(typed);
        EXPECT_EQ(icon, LoadIconW(nullptr, IDI_WARNING));
        EXPECT_TRUE(IsWindow(customize->window)) << "the page stays open";
        EXPECT_EQ(focused(), MinutesEdit) << "the box to correct has the focus";
        EXPECT_EQ(stored(L"Density"), 100u) << "nothing stored";
        EXPECT_EQ(windowsTimeout(), 420u);
    }
    SetDlgItemTextW(customize->window, MinutesEdit, L"15");
    send(*customize, SaveButton);
    EXPECT_FALSE(IsWindow(customize->window));
    EXPECT_EQ(customize->result, 1);
    EXPECT_EQ(windowsTimeout(), 900u);
    EXPECT_EQ(stored(L"Density"), 500u);
    EXPECT_EQ(settings.density, 500) << "Save keeps the edits";
}

TEST_F(UiTest, TheIdleTimeShownIsTheWindowsTimeoutInWholeMinutesAndAnUntouchedBoxIsNotWrittenBack) {
    for (auto [seconds, minutes] : {std::pair{0u, 1u}, {30u, 1u}, {61u, 2u}, {600u, 10u}, {20000u, 240u}}) {
        SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, SPIF_SENDCHANGE);
        if (windowsTimeout() != seconds) continue;  // a value this system refuses to keep
        OpenPage customize(CustomizePage);
        EXPECT_EQ(GetDlgItemInt(customize->window, MinutesEdit, nullptr, FALSE), minutes) << seconds;
        send(*customize, SaveButton);
        EXPECT_EQ(windowsTimeout(), seconds);
    }
}

TEST_F(UiTest, ResetKeepsTheFocusAndCancelOrCloseStoreTheSettingsFromBeforeThePageOpened) {
    for (int way = 0; way < 3; ++way) {
        OpenPage customize(CustomizePage, way == 2);
        drag(*customize, DensityBar, 480);
        drag(*customize, SpeedBar, 11);
        SendMessageW(customize->control(DisplaysCombo), CB_SETCURSEL, 1, 0);
        send(*customize, DisplaysCombo, CBN_SELCHANGE);
        ASSERT_TRUE(focus(*customize, ResetButton));
        send(*customize, ResetButton);
        EXPECT_EQ(focused(), ResetButton) << "the focus survives the rebuild";
        EXPECT_EQ(settings.density, 260);
        EXPECT_EQ(settings.speed, 5);
        EXPECT_EQ(settings.color, RGB(200, 228, 255));
        EXPECT_EQ(settings.displays, 1u) << "Reset leaves the display mode";
        EXPECT_EQ(SendMessageW(customize->control(DensityBar), TBM_GETPOS, 0, 0), 260) << "the bars were rebuilt";
        settings.save();  // something else storing the live values meanwhile must not survive the cancel either
        for (int id : {IDOK, IDCANCEL, 107, 122, 0})  // Enter, Escape and unknown identifiers do nothing
            send(*customize, id);
        ASSERT_TRUE(IsWindow(customize->window));
        SendMessageW(customize->window, way == 1 ? WM_CLOSE : WM_COMMAND, way == 1 ? 0 : CancelButton, 0);
        EXPECT_FALSE(IsWindow(customize->window));
        EXPECT_EQ(customize->result, 0);
        EXPECT_EQ(settings.color, RGB(1, 2, 3));
        EXPECT_EQ(stored(L"Density"), 100u);
        EXPECT_EQ(stored(L"Speed"), 3u);
        EXPECT_EQ(stored(L"Displays"), 2u);
        MSG quit;
        EXPECT_EQ(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE), way == 2) << "only a top window quits";
    }
}

TEST_F(UiTest, ArrowKeysInTheLanguageListRebuildThePageInEachLanguageAndKeepTheFocus) {
    OpenPage setup(SetupPage);
    ASSERT_TRUE(focus(*setup, LanguageList));
    for (int press = 0; press < 2; ++press) {
        HWND list = GetFocus();
        SendMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
        EXPECT_TRUE(IsWindow(list)) << "the list outlives its own notification";
        pumpMessages();
    }
    EXPECT_EQ(settings.language, 3u) << "Down, Down from English";
    EXPECT_EQ(focused(), LanguageList);
    // In the open list the arrows move the choice, and the page follows once the list closes.
    HWND list = GetFocus();
    SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
    pumpMessages();
    EXPECT_TRUE(SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0)) << "still open";
    SendMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
    pumpMessages();
    EXPECT_FALSE(IsWindow(list)) << "rebuilt";
    EXPECT_EQ(stored(L"Language"), 4u);
    EXPECT_EQ(focused(), LanguageList);
    EXPECT_EQ(setup->labels[3].caption, text("setup.subtitle"));
    wchar_t caption[128] = {};
    GetWindowTextW(setup->control(EnableButton), caption, 128);
    EXPECT_STREQ(caption, L"Activar Dormalis");
    RECT client{};
    GetClientRect(setup->window, &client);
    EXPECT_GE(client.bottom, setup->contentHeight) << "the window was fitted to the new content";
    send(*setup, LanguageList, CBN_DROPDOWN);  // other notifications of the list change nothing
    EXPECT_EQ(settings.language, 4u);
}

TEST_F(UiTest, TheWheelScrolls60PixelsANotchAndTheArrows32AtEveryScaleWithinTheContent) {
    for (int dpi : {96, 192}) {
        OpenPage setup(SetupPage);
        setGeometry(*setup, dpi, 800, 400);
        const auto scroll = [&](UINT message, int code, int times) {
            for (int step = 0; step < times; ++step)
                SendMessageW(setup->window, message, message == WM_VSCROLL ? code : MAKEWPARAM(0, code), 0);
            return setup->scroll;
        };
        EXPECT_EQ(scroll(WM_MOUSEWHEEL, -40, 6), 120) << "a touchpad's thirds of a notch add up, at " << dpi;
        EXPECT_EQ(scroll(WM_MOUSEWHEEL, WHEEL_DELTA / 2, 1), 120) << "half a notch is no notch";
        EXPECT_EQ(scroll(WM_VSCROLL, SB_LINEDOWN, 1), 152) << dpi;
        EXPECT_EQ(placeOf(*setup, setup->controls[1]).top, setup->rects[1].y - 152) << "the controls moved along";
        RECT client{};
        GetClientRect(setup->window, &client);
        EXPECT_EQ(scroll(WM_VSCROLL, SB_PAGEDOWN, 20), setup->contentHeight - client.bottom + 1) << "stops at the end";
        setup->layout();
        EXPECT_EQ(setup->scroll, setup->contentHeight - client.bottom + 1) << "a rebuild keeps the position";
        EXPECT_EQ(scroll(WM_VSCROLL, SB_PAGEUP, 20), 0) << "and at the top";
    }
}

TEST_F(UiTest, AnExceptionInsideACommandIsShownAndTheWindowCarriesOn) {
    // A mode is configured but no service runs: the saver selection refuses with its own message.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    OpenPage setup(SetupPage);
    const auto [message, icon] = boxAfter(*setup, EnableButton);
    EXPECT_EQ(icon, LoadIconW(nullptr, IDI_ERROR));
    EXPECT_NE(message.find(L"service"), std::wstring::npos) << narrow(message);
    EXPECT_FALSE(isDormalisSelected());
    SendMessageW(setup->control(LanguageList), CB_SETCURSEL, 4, 0);
    send(*setup, LanguageList, CBN_SELCHANGE);
    EXPECT_EQ(settings.language, 4u) << "still answering";
}

TEST_F(UiTest, EnableOrChangeModeWithTheModePageCancelledChangesNothingAndKeepsTheFocus) {
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 1);
    for (int id : {EnableButton, ModeButton}) {
        OpenPage setup(SetupPage);
        ASSERT_TRUE(focus(*setup, id));
        settings.firewall = false;  // a live change the reload must drop
        // The user picks adapters on the network mode page, then cancels it.
        std::thread cancel([&] {
            HWND page = nullptr;
            waitUntil([&] { return (page = FindWindowW(UiClass, nullptr)) && page != setup->window; }, 10000);
            PostMessageW(page, WM_COMMAND, AdaptersRadio, 0);
            PostMessageW(page, WM_COMMAND, CancelButton, 0);
        });
        send(*setup, id);  // runs the network mode page modally until the cancel arrives
        cancel.join();
        EXPECT_TRUE(settings.firewall) << "reloaded from the machine's choice";
        EXPECT_FALSE(isDormalisSelected());
        EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 0), 0u);
        EXPECT_TRUE(IsWindowEnabled(setup->window)) << "the owner is enabled again";
        EXPECT_EQ(focused(), id) << "the focus is back where it was";
    }
}

TEST_F(UiTest, DisableAndCheckShowTheirMessagesAndKeepTheFocus) {
    OpenPage setup(SetupPage);
    HWND before = setup->control(DisableButton);
    const std::pair<int, std::wstring> cases[] = {
        {DisableButton,
         L"Dormalis is no longer selected as the screen saver. The app remains installed. Close and "
         L"reopen any open Windows screen saver settings to refresh the display."},
        {CheckButton, configurationReport()}};
    for (const auto& [id, expected] : cases) {
        ASSERT_TRUE(focus(*setup, id));
        const auto [message, icon] = boxAfter(*setup, id);
        EXPECT_EQ(message, expected) << id;
        EXPECT_EQ(icon, LoadIconW(nullptr, IDI_INFORMATION)) << id;
        EXPECT_EQ(focused(), id) << "the focus survives the rebuild and the message";
    }
    EXPECT_NE(setup->control(DisableButton), before) << "Disable rebuilt the page";
}

}  // namespace
}  // namespace dormalis
