// Commands and the rest of the message handling, driven through real messages to real page windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "registration/saver_selection.h"
#include "status/status_report.h"
#include "tests/support/support.h"
#include "tests/ui/ui_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

DWORD stored(const wchar_t* name) {
    return readDword(HKEY_CURRENT_USER, RegistryPath, name, 0xDEADBEEF);
}

UINT windowsTimeout() {
    UINT seconds = 0;
    SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
    return seconds;
}

void setWindowsTimeout(UINT seconds) {
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, SPIF_SENDCHANGE);
}

LRESULT sendCommand(Ui& ui, int id, int code = BN_CLICKED) {
    return SendMessageW(ui.window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(ui.control(id)));
}

// Moves a track bar as the user would, and tells the page as the bar itself does.
void drag(Ui& ui, int id, int position) {
    HWND bar = ui.control(id);
    SendMessageW(bar, TBM_SETPOS, TRUE, position);
    SendMessageW(ui.window, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(bar));
}

void choose(Ui& ui, int id, int index) {
    SendMessageW(ui.control(id), CB_SETCURSEL, index, 0);
    sendCommand(ui, id, CBN_SELCHANGE);
}

// Gives a control the keyboard focus, as a click or Tab does.
bool focus(Ui& ui, int id) {
    ShowWindow(ui.window, SW_SHOW);
    SetForegroundWindow(ui.window);
    SetFocus(ui.control(id));
    pumpMessages();
    return GetFocus() == ui.control(id);
}

int focused() {
    return GetDlgCtrlID(GetFocus());
}

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        prepareUi();
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
        timeout_ = windowsTimeout();
        settings = Settings{};
        settings.language = 1;
        settings.density = 100;
        settings.speed = 3;
        settings.color = RGB(1, 2, 3);
        settings.displays = 2;
        settings.save();
    }
    void TearDown() override {
        setWindowsTimeout(timeout_);
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
        settings = Settings{};
        snapshotPath.clear();
        dropQuit();
    }
    UINT timeout_ = 0;
    Owner owner_;
};

TEST_F(Commands, SaveRefusesAnIdleTimeOutsideOneTo240AndKeepsThePageOpen) {
    setWindowsTimeout(420);
    OpenPage customize(CustomizePage, owner_.window);
    drag(*customize, DensityBar, 500);
    ASSERT_EQ(settings.density, 500);
    for (const wchar_t* typed : {L"0", L"241", L""}) {
        SetDlgItemTextW(customize->window, MinutesEdit, typed);
        ASSERT_TRUE(customize->minutesEdited);
        BoxAnswerer box;
        sendCommand(*customize, SaveButton);
        const SeenBox seen = box.result();
        EXPECT_TRUE(seen.found) << narrow(typed);
        EXPECT_EQ(seen.text, L"Choose 1 to 240 minutes.");
        EXPECT_TRUE(seen.warningIcon);
        EXPECT_TRUE(IsWindow(customize->window)) << "the page stays open";
        EXPECT_EQ(GetFocus(), customize->control(MinutesEdit));
        EXPECT_EQ(customize->result, 0);
        EXPECT_EQ(stored(L"Density"), 100u) << "nothing stored";
        EXPECT_EQ(windowsTimeout(), 420u);
    }
    SetDlgItemTextW(customize->window, MinutesEdit, L"15");
    sendCommand(*customize, SaveButton);
    EXPECT_FALSE(IsWindow(customize->window));
    EXPECT_EQ(customize->result, 1);
    EXPECT_EQ(windowsTimeout(), 900u);
    EXPECT_EQ(stored(L"Density"), 500u);
    EXPECT_EQ(settings.density, 500) << "Save keeps the edits";
}

TEST_F(Commands, SaveWithAnUntouchedBoxNeverSetsTheWindowsTimeout) {
    setWindowsTimeout(20000);  // shown as 240, but not written back
    OpenPage customize(CustomizePage, owner_.window);
    EXPECT_EQ(customize->minutes, 240u);
    sendCommand(*customize, SaveButton);
    EXPECT_FALSE(IsWindow(customize->window));
    EXPECT_EQ(windowsTimeout(), 20000u);
}

TEST_F(Commands, TheIdleTimeShownIsTheWindowsTimeoutRoundedUpToWholeMinutes) {
    for (auto [seconds, minutes] : {std::pair{0u, 1u}, {30u, 1u}, {61u, 2u}, {600u, 10u}, {20000u, 240u}}) {
        setWindowsTimeout(seconds);
        if (windowsTimeout() != seconds) continue;  // a value this system refuses to keep
        OpenPage customize(CustomizePage, owner_.window);
        EXPECT_EQ(customize->minutes, minutes) << seconds;
        EXPECT_EQ(GetDlgItemInt(customize->window, MinutesEdit, nullptr, FALSE), minutes) << seconds;
    }
}

TEST_F(Commands, CancelAndCloseStoreTheSettingsFromBeforeThePageOpened) {
    for (int way = 0; way < 2; ++way) {
        OpenPage customize(CustomizePage, owner_.window);
        drag(*customize, DensityBar, 480);
        drag(*customize, SpeedBar, 11);
        EXPECT_EQ(settings.density, 480);
        EXPECT_EQ(settings.speed, 11);
        choose(*customize, DisplaysCombo, 1);
        EXPECT_EQ(settings.displays, 1u);
        ASSERT_TRUE(focus(*customize, ResetButton));
        sendCommand(*customize, ResetButton);
        EXPECT_EQ(focused(), ResetButton) << "the focus survives the rebuild";
        EXPECT_EQ(settings.density, 260);
        EXPECT_EQ(settings.speed, 5);
        EXPECT_EQ(settings.color, RGB(200, 228, 255));
        EXPECT_EQ(settings.displays, 1u) << "Reset leaves the display mode";
        EXPECT_EQ(SendMessageW(customize->control(DensityBar), TBM_GETPOS, 0, 0), 260) << "the bars were rebuilt";
        // Nothing reached the registry yet.
        EXPECT_EQ(stored(L"Density"), 100u);
        settings.save();  // something else storing the live values meanwhile must not survive the cancel either
        if (way == 0) {
            sendCommand(*customize, CancelButton);
        } else {
            SendMessageW(customize->window, WM_CLOSE, 0, 0);  // title-bar close box, Alt+F4
        }
        EXPECT_FALSE(IsWindow(customize->window));
        EXPECT_EQ(customize->result, 0);
        EXPECT_EQ(settings.density, 100);
        EXPECT_EQ(settings.speed, 3);
        EXPECT_EQ(settings.color, RGB(1, 2, 3));
        EXPECT_EQ(settings.displays, 2u);
        EXPECT_EQ(stored(L"Density"), 100u);
        EXPECT_EQ(stored(L"Speed"), 3u);
        EXPECT_EQ(stored(L"Color"), static_cast<DWORD>(RGB(1, 2, 3)));
        EXPECT_EQ(stored(L"Displays"), 2u);
    }
}

TEST_F(Commands, TheCustomizePageAsTopWindowEndsTheMessageLoopWhenClosed) {
    OpenPage customize(CustomizePage);
    drag(*customize, DensityBar, 480);
    sendCommand(*customize, CancelButton);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the top window posts quit";
    EXPECT_EQ(stored(L"Density"), 100u);
}

TEST_F(Commands, EnterAndEscapeCommandsAndUnknownIdentifiersAreIgnored) {
    OpenPage customize(CustomizePage, owner_.window);
    drag(*customize, DensityBar, 480);
    for (int id : {IDOK, IDCANCEL, 107, 122, 0})
        sendCommand(*customize, id);
    EXPECT_TRUE(IsWindow(customize->window)) << "Escape does not close a page";
    EXPECT_EQ(settings.density, 480);
    EXPECT_EQ(stored(L"Density"), 100u);
}

TEST_F(Commands, ArrowKeysInTheLanguageListRebuildThePageInEachLanguageAndKeepTheFocus) {
    OpenPage setup(SetupPage, owner_.window);
    HWND firstButton = setup->control(EnableButton);
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
    EXPECT_EQ(settings.language, 4u);
    EXPECT_EQ(stored(L"Language"), 4u);
    EXPECT_EQ(focused(), LanguageList);
    EXPECT_NE(setup->control(EnableButton), firstButton) << "rebuilt";
    EXPECT_EQ(setup->labels[3].caption, text("setup.subtitle"));
    wchar_t caption[128] = {};
    GetWindowTextW(setup->control(EnableButton), caption, 128);
    EXPECT_STREQ(caption, L"Activar Dormalis");
    RECT frame{}, client{};
    GetWindowRect(setup->window, &frame);
    GetClientRect(setup->window, &client);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(setup->window, MONITOR_DEFAULTTONEAREST), &monitor);
    const int chrome = (frame.bottom - frame.top) - client.bottom;
    EXPECT_EQ(frame.bottom - frame.top,
              std::min<int>(monitor.rcWork.bottom - monitor.rcWork.top - 30, chrome + setup->contentHeight + 8));
    // Other notifications of the list change nothing.
    sendCommand(*setup, LanguageList, CBN_DROPDOWN);
    EXPECT_EQ(settings.language, 4u);
}

TEST_F(Commands, OneWheelNotchScrolls60PixelsAndOneArrow32AtEveryScale) {
    for (int dpi : {96, 192}) {
        OpenPage setup(SetupPage, owner_.window);
        setGeometry(*setup, dpi, 800, 400);
        const Box enable = setup->rects[1];
        const auto wheel = [&](int delta) {
            SendMessageW(setup->window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)), 0);
        };
        for (int step = 0; step < 6; ++step)
            wheel(-40);  // a touchpad's thirds of a notch
        EXPECT_EQ(setup->scroll, 120) << dpi;
        for (int step = 0; step < 6; ++step)
            wheel(40);
        EXPECT_EQ(setup->scroll, 0) << dpi;
        wheel(-WHEEL_DELTA);
        EXPECT_EQ(setup->scroll, 60) << dpi;
        SendMessageW(setup->window, WM_VSCROLL, SB_LINEDOWN, 0);
        EXPECT_EQ(setup->scroll, 92) << dpi;
        SendMessageW(setup->window, WM_VSCROLL, SB_LINEUP, 0);
        EXPECT_EQ(setup->scroll, 60) << dpi;
        SendMessageW(setup->window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-2 * WHEEL_DELTA)), 0);
        EXPECT_EQ(setup->scroll, 180) << dpi;
        SendMessageW(setup->window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(WHEEL_DELTA / 2)), 0);
        EXPECT_EQ(setup->scroll, 180) << "half a notch is no notch";
        RECT placed{};
        GetWindowRect(setup->controls[1], &placed);
        MapWindowPoints(nullptr, setup->window, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.top, enable.y - 180) << dpi;
        SendMessageW(setup->window, WM_VSCROLL, SB_PAGEDOWN, 0);
        RECT client{};
        GetClientRect(setup->window, &client);
        const int pageDown = std::min<int>(180 + client.bottom, setup->contentHeight - client.bottom + 1);
        EXPECT_EQ(setup->scroll, pageDown) << dpi;
        for (int i = 0; i < 200; ++i)
            SendMessageW(setup->window, WM_VSCROLL, SB_LINEUP, 0);
        EXPECT_EQ(setup->scroll, 0) << "clamped at the top";
        // A rebuild keeps the position.
        SendMessageW(setup->window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
        setup->layout();
        EXPECT_EQ(setup->scroll, 60);
    }
}

TEST_F(Commands, AnExceptionInsideACommandIsShownAndTheWindowCarriesOn) {
    // A mode is configured but no service runs: the saver selection refuses with its own message.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    OpenPage setup(SetupPage, owner_.window);
    BoxAnswerer box;
    sendCommand(*setup, EnableButton);
    const SeenBox seen = box.result();
    EXPECT_TRUE(seen.found);
    EXPECT_TRUE(seen.errorIcon);
    EXPECT_FALSE(seen.text.empty());
    EXPECT_NE(seen.text.find(L"service"), std::wstring::npos) << narrow(seen.text);
    EXPECT_TRUE(IsWindow(setup->window));
    EXPECT_FALSE(isDormalisSelected());
    // Still answering: the language list works.
    choose(*setup, LanguageList, 4);
    EXPECT_EQ(settings.language, 4u);
}

TEST_F(Commands, EnableWithTheModePageCancelledChangesNothing) {
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 1);
    OpenPage setup(SetupPage, owner_.window);
    settings.firewall = false;  // a live change the reload must drop
    // The user picks adapters on the network mode page, then cancels it.
    std::thread cancel = commandToPage(setup->window, {AdaptersRadio, CancelButton});
    sendCommand(*setup, EnableButton);  // runs the network mode page modally until the cancel arrives
    cancel.join();
    EXPECT_TRUE(settings.firewall) << "reloaded from the machine's choice";
    EXPECT_FALSE(isDormalisSelected());
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 0), 0u);
    EXPECT_TRUE(IsWindowEnabled(setup->window)) << "the owner is enabled again";
    EXPECT_TRUE(IsWindow(setup->window));
}

TEST_F(Commands, ChangeModeCancelledReloadsAndRebuilds) {
    OpenPage setup(SetupPage, owner_.window);
    HWND before = setup->control(ModeButton);
    ASSERT_TRUE(focus(*setup, ModeButton));
    std::thread cancel = commandToPage(setup->window, {AdaptersRadio, CancelButton});
    sendCommand(*setup, ModeButton);
    cancel.join();
    EXPECT_NE(setup->control(ModeButton), before) << "the page was rebuilt";
    EXPECT_EQ(focused(), ModeButton) << "the focus is back where it was";
    EXPECT_TRUE(settings.firewall);
}

TEST_F(Commands, TheModePageWritesTheFlagAsItsRadiosAreClickedAndOnContinue) {
    OpenPage mode(ModePage, owner_.window);
    sendCommand(*mode, AdaptersRadio);
    EXPECT_FALSE(settings.firewall);
    sendCommand(*mode, FirewallRadio);
    EXPECT_TRUE(settings.firewall);
    SendMessageW(mode->control(FirewallRadio), BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(mode->control(AdaptersRadio), BM_SETCHECK, BST_CHECKED, 0);
    sendCommand(*mode, ContinueButton);
    EXPECT_FALSE(settings.firewall) << "Continue reads the radio";
    EXPECT_EQ(mode->result, 1);
    EXPECT_FALSE(IsWindow(mode->window));
}

TEST_F(Commands, DisableAndCheckConfigurationShowTheirMessages) {
    OpenPage setup(SetupPage, owner_.window);
    HWND before = setup->control(DisableButton);
    ASSERT_TRUE(focus(*setup, DisableButton));
    {
        BoxAnswerer box;
        sendCommand(*setup, DisableButton);
        const SeenBox seen = box.result();
        pumpMessages();
        EXPECT_EQ(focused(), DisableButton) << "the focus survives the rebuild and the message";
        EXPECT_TRUE(seen.informationIcon);
        EXPECT_EQ(seen.text,
                  L"Dormalis is no longer selected as the screen saver. The app remains installed. Close and reopen "
                  L"any open Windows screen saver settings to refresh the display.");
        EXPECT_NE(setup->control(DisableButton), before) << "rebuilt before the message";
    }
    {
        BoxAnswerer box;
        sendCommand(*setup, CheckButton);
        const SeenBox seen = box.result();
        EXPECT_TRUE(seen.informationIcon);
        EXPECT_EQ(seen.text, configurationReport());
    }
}

TEST_F(Commands, TheTimerWritesTheSnapshotOnlyWhenAPathIsSet) {
    OpenPage about(AboutPage, owner_.window);
    SendMessageW(about->window, WM_TIMER, 99, 0);
    EXPECT_TRUE(IsWindow(about->window)) << "no path: nothing happens";
    snapshotPath = tempFile(L"dormalis-timer.bmp");
    DeleteFileW(snapshotPath.c_str());
    SendMessageW(about->window, WM_TIMER, 99, 0);
    EXPECT_FALSE(IsWindow(about->window));
    EXPECT_TRUE(readBmp(snapshotPath).loaded);
}

TEST_F(Commands, DpiChangeRescalesFontsMovesTheWindowAndLimitsItsSize) {
    OpenPage about(AboutPage, owner_.window);
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
    RECT suggested{100, 80, 100 + 1200, 80 + 900};
    SendMessageW(about->window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RemoveWindowSubclass(about->window, countDeletedFonts, 2);
    EXPECT_EQ(deletedFonts, 0);
    EXPECT_FLOAT_EQ(about->scale, 1.5f);
    RECT frame{};
    GetWindowRect(about->window, &frame);
    EXPECT_TRUE(EqualRect(&frame, &suggested));
    LOGFONTW body{}, title{};
    GetObjectW(about->typefaces[0].get(), sizeof(body), &body);
    GetObjectW(about->typefaces[1].get(), sizeof(title), &title);
    EXPECT_EQ(body.lfHeight, -24);
    EXPECT_EQ(title.lfHeight, -45);
    EXPECT_EQ(title.lfWeight, FW_BOLD);
    EXPECT_STREQ(body.lfFaceName, L"Segoe UI");
    for (HWND control : about->controls)
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), about->typefaces[0].get());
    RECT client{};
    GetClientRect(about->window, &client);
    EXPECT_EQ(about->rects.back().width, static_cast<int>((static_cast<int>(client.right / 1.5f) - 56) * 1.5f))
        << "laid out again for the new size";
    MINMAXINFO limits{};
    SendMessageW(about->window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 675);
    EXPECT_EQ(limits.ptMinTrackSize.y, 525);
}

}  // namespace
}  // namespace dormalis
