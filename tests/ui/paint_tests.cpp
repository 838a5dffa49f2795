// Painting, checked on the pixels of real snapshots written by capture().
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "foundation/constants.h"
#include "tests/ui/ui_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

COLORREF minus(COLORREF color, int amount) {
    return RGB(GetRValue(color) - amount, GetGValue(color) - amount, GetBValue(color) - amount);
}

Box boxOf(Ui& ui, int id) {
    for (size_t i = 0; i < ui.controls.size(); ++i) {
        if (GetDlgCtrlID(ui.controls[i]) == id) return ui.rects[i];
    }
    return Box{};
}

// Pixels of the border colour on the button's middle row, near its left edge.
int borderWidth(const Image& image, Ui& ui, int id, COLORREF border) {
    const Box box = boxOf(ui, id);
    const int y = box.y - ui.scroll + box.height / 2;
    return image.count(RECT{box.x, y, box.x + ui.px(2) + ui.px(8), y + 1}, border);
}

COLORREF fillOf(const Image& image, Ui& ui, int id) {
    const Box box = boxOf(ui, id);
    return image.at(box.x + ui.px(2) + ui.px(7), box.y - ui.scroll + box.height / 2);
}

using Painting = EnglishUiTest;

TEST_F(Painting, TheSnapshotIsATopDown32BitBmpOfTheClientArea) {
    OpenPage setup(SetupPage);
    setGeometry(*setup, 96, 1000, 850);
    RECT client{};
    GetClientRect(setup->window, &client);
    ASSERT_EQ(client.bottom, 850);
    const int width = client.right;
    const std::wstring path = tempFile(L"dormalis-layout.bmp");
    capture(setup->window, path);
    std::ifstream file(std::filesystem::path(path), std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long long>(file.tellg()), 54 + 4LL * width * 850);
    const Image image = readBmp(path);
    ASSERT_TRUE(image.loaded);
    EXPECT_EQ(image.fileSize, 54u + 4u * width * 850);
    EXPECT_EQ(image.pixelOffset, 54u);
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.heightField, -850);
    EXPECT_EQ(image.bitsPerPixel, 32);
    // An unwritable place is silently skipped.
    capture(setup->window, L"Q:\\no\\such\\folder\\x.bmp");
}

TEST_F(Painting, BackgroundHeaderBandAccentStripAndIcon) {
    OpenPage setup(SetupPage);
    setGeometry(*setup, 96, 1000, 850);
    const Image image = snapshot(*setup);
    ASSERT_TRUE(image.loaded);
    const int right = image.width - 3;
    EXPECT_EQ(image.at(right, 0), AccentColor);
    EXPECT_EQ(image.at(right, 3), AccentColor);
    EXPECT_EQ(image.at(right, 4), HeaderColor);
    EXPECT_EQ(image.at(right, setup->headerBottom - 1), HeaderColor);
    EXPECT_EQ(image.at(right, setup->headerBottom), BackgroundColor);
    EXPECT_EQ(image.at(10, setup->headerBottom + 5), BackgroundColor);
    // The icon covers some of its 48 x 48 square at (28, 28) with something other than the header band.
    const int covered = 48 * 48 - image.count(RECT{28, 28, 76, 76}, HeaderColor);
    EXPECT_GT(covered, 48 * 48 / 4);
    EXPECT_EQ(image.count(RECT{24, 28, 28, 76}, HeaderColor), 4 * 48) << "nothing drawn left of the icon";
}

TEST_F(Painting, TheStatusCardTakesTheColoursOfTheServiceState) {
    const auto cardColors = [](OpenPage& page) {
        const Image image = snapshot(*page);
        const RECT& card = page->card;
        const int middle = (card.top + card.bottom) / 2;
        return std::pair<COLORREF, COLORREF>{image.at(card.left + 8, middle), image.at(card.left, middle)};
    };
    {
        OpenPage setup(SetupPage);
        setGeometry(*setup, 96, 1000, 850);
        ASSERT_FALSE(setup->installed);
        const auto [fill, border] = cardColors(setup);
        EXPECT_EQ(fill, CardMissingFill);
        EXPECT_EQ(border, CardMissingBorder);
    }
    // A registered service (never started) is what makes the page say "installed".
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_TRUE(manager);
    SC_HANDLE service = CreateServiceW(manager, ServiceName, ServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, L"C:\\windows\\system32\\cmd.exe",
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(service);
    {
        OpenPage setup(SetupPage);
        setGeometry(*setup, 96, 1000, 850);
        EXPECT_TRUE(setup->installed);
        const auto [fill, border] = cardColors(setup);
        EXPECT_EQ(fill, CardInstalledFill);
        EXPECT_EQ(border, CardInstalledBorder);
        EXPECT_EQ(setup->labels[5].color, StatusInstalledColor);
    }
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(Painting, ButtonsAreFilledAndOutlinedByIdentifier) {
    OpenPage setup(SetupPage);
    setGeometry(*setup, 96, 1000, 850);
    const Image image = snapshot(*setup);
    for (int id : {EnableButton, CustomizeButton, DisableButton, WindowsSettingsButton, ModeButton, CheckButton,
                   RestoreButton, AboutButton}) {
        const ButtonColors colors = buttonColors(id);
        EXPECT_EQ(fillOf(image, *setup, id), colors.fill) << id;
        EXPECT_EQ(borderWidth(image, *setup, id, colors.border), 1) << id;
    }
    EXPECT_EQ(buttonColors(EnableButton).fill, RGB(215, 232, 254));
    EXPECT_EQ(buttonColors(DisableButton).border, RGB(213, 157, 165));
    OpenPage customize(CustomizePage);
    const Image second = snapshot(*customize);
    for (int id : {SaveButton, CancelButton, ResetButton, ColorButton}) {
        EXPECT_EQ(fillOf(second, *customize, id), buttonColors(id).fill) << id;
    }
    EXPECT_EQ(buttonColors(SaveButton).fill, RGB(219, 241, 232));
    EXPECT_EQ(buttonColors(ResetButton).fill, RGB(241, 243, 247));
    EXPECT_EQ(buttonColors(ColorButton).fill, RGB(235, 241, 250));
}

TEST_F(Painting, HoverPressAndFocusDarkenAndThickenAsSpecified) {
    for (int dpi : {96, 192}) {
        OpenPage setup(SetupPage);
        setGeometry(*setup, dpi, 760, 900);
        scrollTo(*setup, boxOf(*setup, EnableButton).y - 20);
        const int thick = dpi == 96 ? 3 : 6;
        const ButtonColors colors = buttonColors(EnableButton);
        Image image = snapshot(*setup);  // shown from here on; showing lays the page out again
        HWND enable = setup->control(EnableButton);
        // The move the pointer makes over the button; the queue is not pumped, or Wine's leave notice (the real
        // pointer is elsewhere) would end the hover before the picture is taken.
        SendMessageW(enable, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        ASSERT_TRUE(GetPropW(enable, L"Hover")) << "the subclass marks the hovered button";
        image = snapshot(*setup);
        EXPECT_EQ(fillOf(image, *setup, EnableButton), minus(colors.fill, 7)) << dpi;
        EXPECT_EQ(borderWidth(image, *setup, EnableButton, colors.border), thick) << dpi;
        SendMessageW(enable, BM_SETSTATE, TRUE, 0);
        image = snapshot(*setup);
        EXPECT_EQ(fillOf(image, *setup, EnableButton), minus(colors.fill, 18)) << dpi;
        SendMessageW(enable, BM_SETSTATE, FALSE, 0);
        SendMessageW(enable, WM_MOUSELEAVE, 0, 0);  // as the system reports the pointer leaving
        EXPECT_FALSE(GetPropW(enable, L"Hover"));
        image = snapshot(*setup);
        EXPECT_EQ(fillOf(image, *setup, EnableButton), colors.fill) << dpi;
        EXPECT_EQ(borderWidth(image, *setup, EnableButton, colors.border), dpi == 96 ? 1 : 2) << dpi;
        // Focus without hover: the thick border around the normal fill.
        HWND disable = setup->control(DisableButton);
        SetForegroundWindow(setup->window);
        SetFocus(disable);
        pumpMessages();
        if (GetFocus() == disable) {
            image = snapshot(*setup);
            EXPECT_EQ(fillOf(image, *setup, DisableButton), buttonColors(DisableButton).fill);
            EXPECT_EQ(borderWidth(image, *setup, DisableButton, buttonColors(DisableButton).border), thick);
        } else {
            ADD_FAILURE() << "the button could not take the focus";
        }
    }
}

TEST_F(Painting, ScrollingMovesHeaderCardLabelsAndControlsTogether) {
    OpenPage setup(SetupPage);
    setGeometry(*setup, 96, 1000, 420);
    const Box before = boxOf(*setup, EnableButton);
    SendMessageW(setup->window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
    ASSERT_EQ(setup->scroll, 60);
    const Image image = snapshot(*setup);
    const int right = image.width - 3;
    EXPECT_EQ(image.at(right, 0), HeaderColor) << "the accent strip scrolled away";
    EXPECT_EQ(image.at(right, setup->headerBottom - 61), HeaderColor);
    EXPECT_EQ(image.at(right, setup->headerBottom - 60), BackgroundColor);
    const RECT& card = setup->card;
    EXPECT_EQ(image.at(card.left, (card.top + card.bottom) / 2 - 60), CardMissingBorder);
    RECT placed{};
    GetWindowRect(setup->control(EnableButton), &placed);
    MapWindowPoints(nullptr, setup->window, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.top, before.y - 60);
    EXPECT_EQ(fillOf(image, *setup, EnableButton), buttonColors(EnableButton).fill);
}

TEST_F(Painting, TheClosedLanguageListShowsTheFlagOfTheCurrentLanguage) {
    struct Expect {
        std::vector<COLORREF> present;
    };
    const Expect flags[6] = {
        {{RGB(0, 70, 170), RGB(255, 255, 255), RGB(235, 35, 45)}},
        {{RGB(20, 50, 130), RGB(255, 255, 255), RGB(230, 35, 45)}},
        {{RGB(20, 20, 20), RGB(220, 35, 45), RGB(250, 195, 20)}},
        {{RGB(225, 30, 40), RGB(255, 230, 20)}},
        {{RGB(255, 205, 30), RGB(185, 25, 40)}},
        {{RGB(0, 140, 75), RGB(255, 255, 255), RGB(235, 35, 45)}},
    };
    for (unsigned language = 0; language < 6; ++language) {
        settings.language = language;
        OpenPage setup(SetupPage);
        setGeometry(*setup, 96, 1000, 850);
        const Image image = snapshot(*setup);
        const Box list = boxOf(*setup, LanguageList);
        const RECT area{list.x, list.y, list.x + list.width, list.y + setup->px(40)};
        for (COLORREF color : flags[language].present) {
            EXPECT_GT(image.count(area, color), 4) << "language " << language << " colour " << std::hex << color;
        }
        for (unsigned other = 0; other < 6; ++other) {
            if (other == language) continue;
            // Each flag has one colour no other flag uses.
            const COLORREF own = flags[other].present[other == 1 || other == 5 ? 0 : other == 3 ? 1 : 0];
            if (own == RGB(255, 255, 255)) continue;
            EXPECT_EQ(image.count(area, own), 0) << "language " << language << " shows a flag colour of " << other;
        }
    }
}

TEST_F(Painting, TheFlagInTheLanguageListGrowsWithTheScaleAndKeepsItsShape) {
    settings.language = 0;
    SIZE band[2] = {};  // the French flag's blue third
    for (int dpi : {96, 192}) {
        OpenPage setup(SetupPage);
        setGeometry(*setup, dpi, 800);
        const Image image = snapshot(*setup);
        RECT list{};
        GetWindowRect(setup->control(LanguageList), &list);
        MapWindowPoints(nullptr, setup->window, reinterpret_cast<POINT*>(&list), 2);
        RECT blue{list.right, list.bottom, list.left, list.top};
        for (int y = list.top; y < list.bottom; ++y) {
            for (int x = list.left; x < list.right; ++x) {
                if (image.at(x, y) != RGB(0, 70, 170)) continue;
                blue = RECT{std::min<LONG>(blue.left, x), std::min<LONG>(blue.top, y),
                            std::max<LONG>(blue.right, x + 1), std::max<LONG>(blue.bottom, y + 1)};
            }
        }
        band[dpi / 192] = SIZE{blue.right - blue.left, blue.bottom - blue.top};
    }
    ASSERT_GT(band[0].cx, 0);
    EXPECT_NEAR(band[1].cx, 2 * band[0].cx, 1);
    EXPECT_NEAR(band[1].cy, 2 * band[0].cy, 1);
}

TEST_F(Painting, FlagsFollowTheirTablesInAnyRectangle) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 60, 40);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const RECT area{10, 10, 40, 26};  // 30 x 16, as in the list
    flag(memory, area, 0);
    EXPECT_EQ(GetPixel(memory, 10, 18), RGB(0, 70, 170));
    EXPECT_EQ(GetPixel(memory, 19, 18), RGB(0, 70, 170));
    EXPECT_EQ(GetPixel(memory, 20, 18), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(memory, 29, 18), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(memory, 30, 18), RGB(235, 35, 45));
    EXPECT_EQ(GetPixel(memory, 39, 18), RGB(235, 35, 45));
    flag(memory, area, 2);
    EXPECT_EQ(GetPixel(memory, 25, 10), RGB(20, 20, 20));
    EXPECT_EQ(GetPixel(memory, 25, 14), RGB(20, 20, 20));
    EXPECT_EQ(GetPixel(memory, 25, 15), RGB(220, 35, 45));
    EXPECT_EQ(GetPixel(memory, 25, 21), RGB(250, 195, 20));
    flag(memory, area, 4);
    EXPECT_EQ(GetPixel(memory, 25, 12), RGB(185, 25, 40));
    EXPECT_EQ(GetPixel(memory, 25, 18), RGB(255, 205, 30));
    EXPECT_EQ(GetPixel(memory, 25, 25), RGB(185, 25, 40));
    flag(memory, area, 1);
    EXPECT_EQ(GetPixel(memory, 25, 18), RGB(230, 35, 45)) << "the cross";
    EXPECT_EQ(GetPixel(memory, 11, 11), RGB(255, 255, 255)) << "a diagonal";
    EXPECT_EQ(GetPixel(memory, 17, 11), RGB(20, 50, 130)) << "the field";
    SetPixel(memory, 5, 5, RGB(1, 2, 3));
    flag(memory, area, 6);  // no such language: nothing drawn
    EXPECT_EQ(GetPixel(memory, 5, 5), RGB(1, 2, 3));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

TEST_F(Painting, SystemDrawnControlsSitOnThePageBackground) {
    OpenPage mode(ModePage);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    const LRESULT brush = SendMessageW(mode->window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory),
                                       reinterpret_cast<LPARAM>(mode->control(FirewallRadio)));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH)));
    EXPECT_EQ(GetBkColor(memory), BackgroundColor);
    EXPECT_EQ(GetDCBrushColor(memory), BackgroundColor);
    EXPECT_EQ(GetTextColor(memory), RGB(34, 48, 70));
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const Image image = snapshot(*mode);
    const Box radio = boxOf(*mode, FirewallRadio);
    EXPECT_GT(image.count(RECT{radio.x, radio.y, radio.x + radio.width, radio.y + radio.height}, BackgroundColor),
              radio.width * radio.height / 2);
}

TEST_F(Painting, ChineseTextRendersAsGlyphsNotBoxes) {
    settings.language = 3;
    OpenPage about(AboutPage);
    const auto ink = [&](const wchar_t* text) {
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 40, 40);
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        HGDIOBJ oldFont = SelectObject(memory, about->typefaces[0].get());
        RECT all{0, 0, 40, 40};
        FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        TextOutW(memory, 4, 4, text, 1);
        std::vector<COLORREF> pixels;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 40; ++x)
                pixels.push_back(GetPixel(memory, x, y));
        }
        SelectObject(memory, oldFont);
        SelectObject(memory, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return pixels;
    };
    const auto zhong = ink(L"\u4E2D"), wen = ink(L"\u6587"), missing = ink(L"\uE000");
    const auto inked = [](const std::vector<COLORREF>& pixels) {
        return std::count_if(pixels.begin(), pixels.end(), [](COLORREF c) { return c != RGB(255, 255, 255); });
    };
    EXPECT_GT(inked(zhong), 10);
    EXPECT_NE(zhong, wen) << "two different characters drawn alike are boxes";
    EXPECT_NE(zhong, missing);
}

}  // namespace
}  // namespace dormalis
