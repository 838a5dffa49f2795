// Geometry of the four pages under Wine: every element where the tables put it, from the measured label heights,
// at three scales and on both sides of the wide/narrow boundary.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "foundation/text.h"
#include "tests/ui/ui_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

// The layout the tables describe, computed here from the label captions the page holds.
struct Expected {
    Ui& ui;
    std::vector<RECT> labels;
    std::vector<std::pair<int, Box>> controls;
    RECT card{};
    int bottom = 0;
    int headerBottom = 0;

    int px(double v) const { return static_cast<int>(v * ui.scale); }
    int label(int x, int y, int width, bool title = false) {
        const size_t index = labels.size();
        const int h = index < ui.labels.size() ? measured(ui, ui.labels[index].caption, width, title) : 0;
        labels.push_back(RECT{px(x), px(y), px(x + width), px(y + h)});
        return h;
    }
    void control(int id, int x, int y, int width, int height) {
        controls.push_back({id, Box{px(x), px(y), px(width), px(height)}});
    }
};

int clientWidthDips(Ui& ui) {
    RECT client{};
    GetClientRect(ui.window, &client);
    return static_cast<int>(client.right / ui.scale);
}

// Header on every page; returns H.
int header(Expected& e, int W) {
    const int ht = e.label(88, 24, W - 116, true);
    const int hv = e.label(88, ht + 28, W - 116);
    e.headerBottom = e.px(ht + 28 + hv + 20);
    return ht + 28 + hv;
}

Expected setupPage(Ui& ui) {
    Expected e{ui, {}, {}};
    const int W = clientWidthDips(ui);
    const bool wide = W >= 796;
    const int H = header(e, W), T = H + 44;
    const int lx = wide ? W - 268 : 28, ly = wide ? 24 : T;
    e.label(lx, ly, 240);
    e.control(LanguageList, lx, ly + 30, std::min(W - 56, 240), 230);
    const int y3 = wide ? T : H + 128;
    const int h3 = e.label(28, y3, W - 56);
    const int y4 = y3 + h3 + 14;
    const int B = y4 + e.label(28, y4, W - 56);
    const int h5 = e.label(46, B + 33, W - 92);
    e.card = RECT{e.px(28), e.px(B + 18), e.px(W - 28), e.px(B + 48 + h5)};
    const int R = B + h5 + 70, half = (W - 70) / 2, bw = wide ? half : W - 56, cx = wide ? half + 42 : 28;
    e.control(EnableButton, 28, R, bw, 52);
    e.control(CustomizeButton, cx, wide ? R : R + 64, bw, 52);
    e.control(DisableButton, 28, wide ? R + 64 : R + 128, bw, 52);
    e.control(WindowsSettingsButton, cx, wide ? R + 64 : R + 192, bw, 52);
    e.control(ModeButton, 28, wide ? R + 128 : R + 256, bw, 52);
    e.control(CheckButton, cx, wide ? R + 128 : R + 320, bw, 52);
    const int S = wide ? R + 200 : R + 392;
    e.control(RestoreButton, 28, S, W - 56, 44);
    const int h14 = e.label(28, S + 56, W - 56);
    const int aw = std::min(W - 56, 370);
    e.control(AboutButton, 28 + (W - 56 - aw) / 2, S + h14 + 74, aw, 48);
    e.bottom = e.px(S + h14 + 142);
    return e;
}

Expected customizePage(Ui& ui, bool withPreview) {
    Expected e{ui, {}, {}};
    const int W = clientWidthDips(ui);
    const bool wide = W >= 796;
    const int T = header(e, W) + 44;
    const int half1 = (W - 80) / 2, cw = wide ? half1 : W - 56, px = wide ? W - half1 - 28 : 28;
    const int lw = wide ? W - 56 - (half1 + 24) : W - 56, half2 = (W - 68) / 2;
    const int P = T + e.label(28, T, W - 56) + 16;
    const int h2 = e.label(px, P, cw);
    if (withPreview) e.control(0, px, P + h2 + 8, cw, wide ? 300 : 190);
    const int C = wide ? P : P + h2 + 218;
    e.control(ColorButton, 28, C, lw, 46);
    const int D = C + 64 + e.label(28, C + 64, lw);
    e.control(DensityBar, 28, D, lw, 40);
    const int E = D + 58 + e.label(28, D + 58, lw);
    e.control(SpeedBar, 28, E, lw, 40);
    e.control(ResetButton, 28, E + 60, lw, 46);
    const int I = wide ? std::max(P + h2 + 328, E + 122) : E + 122;
    const int h10 = e.label(28, I, W - 56);
    e.control(MinutesEdit, 28, I + h10, 110, 34);
    const int M = I + h10 + 50 + e.label(28, I + h10 + 50, W - 56);
    e.control(DisplaysCombo, 28, M, W - 56, 180);
    const int V = M + e.label(28, M + 52, W - 56) + 68;
    e.control(SaveButton, 28, V, half2, 46);
    e.control(CancelButton, half2 + 40, V, half2, 46);
    e.bottom = e.px(V + 66);
    return e;
}

Expected modePage(Ui& ui) {
    Expected e{ui, {}, {}};
    const int W = clientWidthDips(ui);
    const int T = header(e, W) + 44, half2 = (W - 68) / 2;
    const int R1 = T + e.label(28, T, W - 56) + 18;
    e.control(FirewallRadio, 28, R1, W - 56, 42);
    const int R2 = R1 + e.label(48, R1 + 50, W - 76) + 74;
    e.control(AdaptersRadio, 28, R2, W - 56, 42);
    const int Q = R2 + e.label(48, R2 + 50, W - 76) + 78;
    e.control(ContinueButton, 28, Q, half2, 46);
    e.control(CancelButton, half2 + 40, Q, half2, 46);
    e.bottom = e.px(Q + 66);
    return e;
}

Expected aboutPage(Ui& ui) {
    Expected e{ui, {}, {}};
    const int W = clientWidthDips(ui);
    const int T = header(e, W) + 44;
    const int y2 = T + e.label(28, T, W - 56) + 24;
    const int y3 = y2 + e.label(28, y2, W - 56) + 18;
    const int A = y3 + e.label(28, y3, W - 56);
    e.control(AboutButton, 28, A + 24, W - 56, 46);
    e.control(CancelButton, 28, A + 90, W - 56, 46);
    e.bottom = e.px(A + 156);
    return e;
}

std::string describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

void expectLayout(Ui& ui, const Expected& e, const std::string& where) {
    ASSERT_EQ(ui.labels.size(), e.labels.size()) << where;
    for (size_t i = 0; i < e.labels.size(); ++i) {
        EXPECT_TRUE(EqualRect(&ui.labels[i].rect, &e.labels[i]))
            << where << " label " << i << ": " << describe(ui.labels[i].rect) << " expected " << describe(e.labels[i]);
    }
    ASSERT_EQ(ui.controls.size(), e.controls.size()) << where;
    for (size_t i = 0; i < e.controls.size(); ++i) {
        const int id = e.controls[i].first;
        if (id != 0) {
            EXPECT_EQ(GetDlgCtrlID(ui.controls[i]), id) << where << " control " << i;
        }
        const Box& want = e.controls[i].second;
        const Box& got = ui.rects[i];
        EXPECT_TRUE(got.x == want.x && got.y == want.y && got.width == want.width && got.height == want.height)
            << where << " control " << id << ": " << got.x << "," << got.y << " " << got.width << "x" << got.height
            << " expected " << want.x << "," << want.y << " " << want.width << "x" << want.height;
        // Placed on screen at the scrolled position.
        RECT placed{};
        GetWindowRect(ui.controls[i], &placed);
        MapWindowPoints(nullptr, ui.window, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, want.x) << where << " control " << id;
        EXPECT_EQ(placed.top, want.y - ui.scroll) << where << " control " << id;
    }
    EXPECT_TRUE(EqualRect(&ui.card, &e.card)) << where << " card " << describe(ui.card);
    EXPECT_EQ(ui.contentHeight, e.bottom) << where;
    EXPECT_EQ(ui.headerBottom, e.headerBottom) << where;
}

using Layout = EnglishUiTest;

TEST_F(Layout, EveryPageFollowsItsTableAtThreeScalesWideAndNarrow) {
    for (int page = SetupPage; page <= AboutPage; ++page) {
        for (int dpi : {96, 144, 192}) {
            for (int width : {795, 796, 1000}) {
                if (dpi == 192 && width == 1000) continue;  // wider than the test display
                OpenPage open(page);
                ASSERT_TRUE(open->window);
                setGeometry(*open, dpi, width);
                ASSERT_EQ(clientWidthDips(*open), width);
                const std::string where =
                    "page " + std::to_string(page) + " dpi " + std::to_string(dpi) + " width " + std::to_string(width);
                switch (page) {
                    case SetupPage:
                        expectLayout(*open, setupPage(*open), where);
                        break;
                    case CustomizePage: {
                        const bool preview = !open->controls.empty() && GetDlgCtrlID(open->controls[0]) != ColorButton;
                        expectLayout(*open, customizePage(*open, preview), where);
                        break;
                    }
                    case ModePage:
                        expectLayout(*open, modePage(*open), where);
                        break;
                    default:
                        expectLayout(*open, aboutPage(*open), where);
                        break;
                }
            }
        }
    }
}

TEST_F(Layout, WideAndNarrowSwitchBetween795And796Dips) {
    OpenPage setup(SetupPage);
    setGeometry(*setup, 96, 795);
    RECT enable{}, customize{};
    auto boxOf = [&](int id) {
        for (size_t i = 0; i < setup->controls.size(); ++i) {
            if (GetDlgCtrlID(setup->controls[i]) == id) return setup->rects[i];
        }
        return Box{};
    };
    EXPECT_EQ(boxOf(CustomizeButton).x, boxOf(EnableButton).x) << "narrow: one column";
    EXPECT_EQ(boxOf(LanguageList).x, 28);
    setGeometry(*setup, 96, 796);
    EXPECT_GT(boxOf(CustomizeButton).x, boxOf(EnableButton).x) << "wide: two columns";
    EXPECT_EQ(boxOf(CustomizeButton).y, boxOf(EnableButton).y);
    EXPECT_EQ(boxOf(LanguageList).x, 796 - 268);
    EXPECT_EQ(boxOf(LanguageList).y, 24 + 30);
    (void)enable;
    (void)customize;
}

TEST_F(Layout, ScaleMultipliesDipsAndTheBodyFontFollows) {
    OpenPage setup(SetupPage);
    setGeometry(*setup, 144, 900);
    LOGFONTW body{}, title{};
    GetObjectW(setup->typefaces[0].get(), sizeof(body), &body);
    GetObjectW(setup->typefaces[1].get(), sizeof(title), &title);
    EXPECT_EQ(body.lfHeight, -24);
    EXPECT_EQ(title.lfHeight, -45);
    EXPECT_EQ(title.lfWeight, FW_BOLD);
    EXPECT_STREQ(body.lfFaceName, L"Segoe UI");
    // The language caption is 240 DIPs wide: 360 pixels at 150 %.
    EXPECT_EQ(setup->labels[2].rect.right - setup->labels[2].rect.left, 360);
}

TEST_F(Layout, ALongerTextPushesEverythingBelowItDown) {
    // The same page at a narrower width wraps the description onto more lines; what follows moves by exactly
    // the extra height, and the status card grows with nothing.
    OpenPage wide(SetupPage), narrow(SetupPage);
    setGeometry(*wide, 96, 795);
    setGeometry(*narrow, 96, 460);
    const int extraSubtitle = (narrow->labels[3].rect.bottom - narrow->labels[3].rect.top) -
                              (wide->labels[3].rect.bottom - wide->labels[3].rect.top);
    const int extraDescription = (narrow->labels[4].rect.bottom - narrow->labels[4].rect.top) -
                                 (wide->labels[4].rect.bottom - wide->labels[4].rect.top);
    const int extraStatus = (narrow->labels[5].rect.bottom - narrow->labels[5].rect.top) -
                            (wide->labels[5].rect.bottom - wide->labels[5].rect.top);
    ASSERT_GT(extraDescription, 0) << "the description should wrap more at 460 DIPs";
    EXPECT_EQ(narrow->labels[5].rect.top - wide->labels[5].rect.top, extraSubtitle + extraDescription);
    EXPECT_EQ((narrow->card.bottom - narrow->card.top) - (wide->card.bottom - wide->card.top), extraStatus);
    EXPECT_EQ(narrow->rects[1].y - wide->rects[1].y, extraSubtitle + extraDescription + extraStatus);
}

TEST_F(Layout, TheStatusTextAlwaysHasThreeLinesAndShowsAMissingService) {
    for (unsigned language = 0; language < 6; ++language) {
        settings.language = language;
        OpenPage setup(SetupPage);
        const Label& status = setup->labels[5];
        EXPECT_EQ(std::count(status.caption.begin(), status.caption.end(), L'\n'), 2) << language;
        if (!setup->installed) {
            EXPECT_EQ(status.caption.substr(0, status.caption.find(L'\n')), text("setup.notInstalled"));
            EXPECT_EQ(status.color, StatusMissingColor);
        } else {
            EXPECT_EQ(status.color, StatusInstalledColor);
        }
    }
}

TEST_F(Layout, HeaderAndControlsCarryTheirTextsAndState) {
    settings.density = 333;
    settings.speed = 7;
    settings.displays = 2;
    settings.firewall = false;
    OpenPage customize(CustomizePage);
    EXPECT_EQ(customize->labels[0].caption, L"Dormalis");
    EXPECT_EQ(customize->labels[0].font, 1);
    EXPECT_EQ(customize->labels[1].caption, L"v1.0.0  \u00B7  Windows x64");
    EXPECT_EQ(customize->labels[1].color, VersionColor);
    EXPECT_EQ(SendMessageW(customize->control(DensityBar), TBM_GETPOS, 0, 0), 333);
    EXPECT_EQ(SendMessageW(customize->control(DensityBar), TBM_GETRANGEMAX, 0, 0), 600);
    EXPECT_EQ(SendMessageW(customize->control(SpeedBar), TBM_GETPOS, 0, 0), 7);
    EXPECT_EQ(SendMessageW(customize->control(DisplaysCombo), CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(GetDlgItemInt(customize->window, MinutesEdit, nullptr, FALSE), customize->minutes);
    EXPECT_FALSE(customize->minutesEdited) << "filling the box during layout is not an edit";
    OpenPage mode(ModePage);
    EXPECT_EQ(SendMessageW(mode->control(AdaptersRadio), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(mode->control(FirewallRadio), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    OpenPage setup(SetupPage);
    HWND list = setup->control(LanguageList);
    EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 6);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0), 32);
}

TEST_F(Layout, ALayoutStartedDuringALayoutDoesNothing) {
    OpenPage setup(SetupPage);
    const size_t controls = setup->controls.size();
    HWND first = setup->controls[0];
    setup->layingOut = true;
    setup->layout();
    setup->layingOut = false;
    EXPECT_EQ(setup->controls.size(), controls);
    EXPECT_EQ(setup->controls[0], first) << "nothing was rebuilt";
    setup->layout();
    EXPECT_NE(setup->controls[0], first) << "a normal layout rebuilds every control";
    EXPECT_FALSE(IsWindow(first));
}

TEST_F(Layout, ThePageWindowStaysInsideASmallWorkAreaAndScrolls) {
    RECT original{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &original, 0);
    RECT small{100, 50, 700, 550};
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &small, 0));
    RECT applied{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &applied, 0);
    OpenPage setup(SetupPage);
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &original, 0);
    ASSERT_TRUE(EqualRect(&applied, &small));
    RECT frame{};
    GetWindowRect(setup->window, &frame);
    EXPECT_EQ(frame.right - frame.left, 600 - 30) << "created 30 pixels narrower than the work area";
    EXPECT_EQ(frame.left, 100 + 15);
    // Fitting reads the monitor's work area, which Wine does not shrink with SPI_SETWORKAREA: at 200 % the content
    // is taller than any work area here, so the window stops 30 pixels short of it and the content scrolls.
    setGeometry(*setup, 192, 560);
    setup->fitHeight();
    pumpMessages();
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(setup->window, MONITOR_DEFAULTTONEAREST), &monitor);
    GetWindowRect(setup->window, &frame);
    EXPECT_EQ(frame.bottom - frame.top, monitor.rcWork.bottom - monitor.rcWork.top - 30);
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(setup->window, SB_VERT, &info);
    EXPECT_EQ(info.nMax, setup->contentHeight);
    EXPECT_LT(static_cast<int>(info.nPage), setup->contentHeight) << "content taller than the window scrolls";
}

TEST_F(Layout, FittingSetsTheHeightFromTheContent) {
    OpenPage about(AboutPage);
    RECT frame{}, client{};
    GetWindowRect(about->window, &frame);
    GetClientRect(about->window, &client);
    const int chrome = (frame.bottom - frame.top) - client.bottom;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(about->window, MONITOR_DEFAULTTONEAREST), &monitor);
    const int work = monitor.rcWork.bottom - monitor.rcWork.top;
    EXPECT_EQ(frame.bottom - frame.top, std::min(work - 30, chrome + about->contentHeight + 8));
    EXPECT_EQ(frame.top, monitor.rcWork.top + (work - (frame.bottom - frame.top)) / 2);
}

}  // namespace
}  // namespace dormalis
