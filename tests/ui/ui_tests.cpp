// The settings window in this process (real page windows, real messages, real snapshots) and, as
// ui_system_tests, the real program's own. Layout is checked by invariants (nothing overlaps, everything stays
// inside the page, every text fits its control) in every language, on both sides of the wide/narrow boundary
// and at three scales.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "foundation/constants.h"
#include "foundation/contract.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "install/front_end.h"
#include "registration/saver_selection.h"
#include "setup/setup.h"
#include "setup/setup_controls.h"
#include "status/status_report.h"
#include "tests/support/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"
#include "uninstall/uninstall_window.h"
#include "ui/ui.h"

namespace dormalis {
namespace {

using namespace testing;

// A captured picture; loaded only when it is a 32-bit top-down BMP whose headers agree with its size.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    bool loaded = false;
    COLORREF at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
        const std::uint32_t value = pixels[static_cast<size_t>(y) * width + x];
        return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
    }
    int count(const RECT& area, COLORREF color) const {
        int found = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                found += at(x, y) == color ? 1 : 0;
        return found;
    }
};

Image readBmp(const std::wstring& path) {
    Image image;
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    BITMAPFILEHEADER head{};
    BITMAPINFOHEADER info{};
    file.read(reinterpret_cast<char*>(&head), sizeof head).read(reinterpret_cast<char*>(&info), sizeof info);
    image.width = info.biWidth;
    image.height = -info.biHeight;  // top-down: a negative height
    const size_t size = 54 + 4ull * std::max(image.width, 0) * std::max(image.height, 0);
    std::error_code error;
    if (head.bfType != 0x4D42 || head.bfSize != size || std::filesystem::file_size(path, error) != size ||
        head.bfOffBits != 54 || info.biBitCount != 32 || image.height <= 0)
        return image;
    image.pixels.resize(size / 4 - 13);
    image.loaded = file.read(reinterpret_cast<char*>(image.pixels.data()), size - 54).good();
    return image;
}

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
    Ui ui;
    HWND owner;
    explicit OpenPage(int page, bool topWindow = false) : ui(page) {
        owner = topWindow
                    ? nullptr
                    : CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
        createUi(ui, owner);
        pumpMessages();
    }
    ~OpenPage() {
        if (IsWindow(ui.window)) DestroyWindow(ui.window);
        if (owner) DestroyWindow(owner);
        pumpMessages();
    }
    Ui* operator->() { return &ui; }
    Ui& operator*() { return ui; }
};

// A control's rectangle in the page's client area, as it is now (scrolled).
RECT placeOf(Ui& ui, HWND control) {
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, ui.window, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

// Brings the page to `dpi` and its window to a client area `widthDips` wide before any scroll bar (and `heightPx`
// high, when given), through the messages a DPI change and a user's resize send.
void setGeometry(Ui& ui, int dpi, int widthDips, int heightPx = 0, int extraPx = 0) {
    RECT frame{};
    GetWindowRect(ui.window, &frame);
    if (ui.px(96) != dpi)
        SendMessageW(ui.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    GetWindowRect(ui.window, &frame);
    RECT wanted{0, 0, static_cast<int>(std::ceil(widthDips * ui.scale)) + extraPx, heightPx};
    AdjustWindowRectEx(&wanted, GetWindowLongW(ui.window, GWL_STYLE), FALSE, GetWindowLongW(ui.window, GWL_EXSTYLE));
    const int height = heightPx > 0 ? wanted.bottom - wanted.top : frame.bottom - frame.top;
    SetWindowPos(ui.window, nullptr, 0, 0, wanted.right - wanted.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
    pumpMessages();
}

const std::wstring Picture =  // one a process: ui_tests and ui_system_tests may run at once
    std::filesystem::temp_directory_path() / (L"dormalis-" + std::to_wstring(GetCurrentProcessId()) + L".bmp");

Image snapshot(Ui& ui) {
    DeleteFileW(Picture.c_str());
    ShowWindow(ui.window, SW_SHOWNOACTIVATE);  // as the program shows its pages
    pumpMessages();
    capture(ui.window, Picture);
    return readBmp(Picture);
}

SIZE textSize(Ui& ui, const std::wstring& text, int width, UINT format, int font = 0) {
    WindowDc dc(ui.window);
    SelectionGuard selected(dc.get(), ui.typefaces[font].get());
    RECT area{0, 0, width, 0};
    DrawTextW(dc.get(), text.c_str(), -1, &area, DT_CALCRECT | DT_NOPREFIX | format);
    return SIZE{area.right, area.bottom};
}

// WCAG's contrast ratio of two colours, 1 to 21.
double contrast(COLORREF a, COLORREF b) {
    const auto light = [](COLORREF c) {
        const auto linear = [](int v) { return v <= 10 ? v / 3294.6 : std::pow((v / 255.0 + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(GetRValue(c)) + 0.7152 * linear(GetGValue(c)) + 0.0722 * linear(GetBValue(c)) + 0.05;
    };
    return std::max(light(a), light(b)) / std::min(light(a), light(b));
}

std::wstring classOf(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return CharLowerW(name);
}

// What the page shows, unscrolled: each child window where it really is, and the ink of each painted text (which
// stands for the Static holding it).
std::vector<std::pair<std::string, RECT>> itemsOf(Ui& ui) {
    std::vector<std::pair<std::string, RECT>> items;
    for (HWND child = GetWindow(ui.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (classOf(child) == L"static") continue;
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

// The name Windows gives a control: a button its own text; an edit, combo box or track bar the text of the Static
// just before it in z-order. Every painted text is held by a Static at its place, and names only what it captions.
void expectNamed(Ui& ui, const std::string& where) {
    std::multiset<std::wstring> painted, held;
    for (const Label& label : ui.labels)
        painted.insert(label.caption + L"@" + std::to_wstring(label.rect.top * 10000 + label.rect.left));
    for (HWND child = GetWindow(ui.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring kind = classOf(child);
        const bool ownText = kind == L"button" || kind == L"static" || kind.find(L"preview") != std::wstring::npos;
        HWND caption = ownText ? child : GetWindow(child, GW_HWNDPREV);
        wchar_t text[1024] = {};
        if (ownText || classOf(caption) == L"static") GetWindowTextW(caption, text, 1024);
        const RECT area = placeOf(ui, child), above = placeOf(ui, caption);
        if (kind == L"static") held.insert(text + (L"@" + std::to_wstring((area.top + ui.scroll) * 10000 + area.left)));
        EXPECT_TRUE(text[0] && (ownText || (above.left == area.left && above.bottom <= area.top &&
                                            area.top - above.bottom < ui.px(12))))
            << where << ": control " << GetDlgCtrlID(child) << " is not named by its caption";
    }
    EXPECT_EQ(held, painted) << where;
}

// The text of each of `parent`'s buttons (and statics, when asked) fits it, in the control's own font: a static's
// its rectangle, a radio button's the space beside its mark, an owner-drawn button's its text area. An edit box's
// and a combo box's line is as high as they show it.
void expectTextsFit(HWND parent, float scale, const std::string& where, bool statics) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t caption[512] = {};
        GetWindowTextW(child, caption, 512);
        const std::wstring kind = classOf(child);
        RECT room{};
        GetClientRect(child, &room);
        const bool ownerDrawn = (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
        const bool button = kind == L"button", line = kind == L"edit" || kind == L"combobox";
        if (!button && !line && (!statics || kind != L"static")) continue;
        if (button && ownerDrawn) room = buttonTextArea(scale, room);
        if (button && !ownerDrawn) room.left += GetSystemMetrics(SM_CXMENUCHECK) + static_cast<int>(4 * scale);
        if (kind == L"edit") SendMessageW(child, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
        if (kind == L"combobox") room.bottom = static_cast<LONG>(SendMessageW(child, CB_GETITEMHEIGHT, -1, 0));
        WindowDc dc(child);
        SelectionGuard font(dc.get(), reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
        RECT ink{0, 0, room.right - room.left, 0};
        DrawTextW(dc.get(), caption[0] ? caption : L"0", -1, &ink,
                  DT_CALCRECT | (line ? DT_SINGLELINE : DT_WORDBREAK) | (ownerDrawn ? DT_CENTER : 0));
        EXPECT_TRUE((line || ink.right <= room.right - room.left) && ink.bottom <= room.bottom - room.top)
            << where << ": \"" << narrow(caption) << "\" needs " << ink.right << "x" << ink.bottom << ", has "
            << room.right - room.left << "x" << room.bottom - room.top;
    }
}

void expectSoundLayout(Ui& ui, const std::string& where) {
    expectNamed(ui, where);
    RECT client{};
    GetClientRect(ui.window, &client);
    const RECT page{0, 0, client.right, std::max<LONG>(ui.contentHeight, client.bottom)};
    const auto items = itemsOf(ui);
    for (size_t i = 0; i < items.size(); ++i) {
        RECT common{};
        IntersectRect(&common, &items[i].second, &page);
        EXPECT_TRUE(EqualRect(&common, &items[i].second)) << where << ": " << items[i].first << " leaves the page";
        for (size_t j = i + 1; j < items.size(); ++j)
            EXPECT_FALSE(IntersectRect(&common, &items[i].second, &items[j].second))
                << where << ": " << items[i].first << " overlaps " << items[j].first;
    }
    expectTextsFit(ui.window, ui.scale, where, false);
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
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor");
        SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout_, 0);
        settings = Settings{1, 100, 3, 2, RGB(1, 2, 3)};  // English, and values no default has
        settings.save();
    }
    void TearDown() override {
        SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, timeout_, nullptr, SPIF_SENDCHANGE);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor");
        deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
        deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    }
    UINT timeout_ = 0;
};

// Whether a page shows its two-column arrangement: setup buttons beside each other, the preview beside the controls.
bool twoColumns(Ui& ui, int page) {
    if (page == SetupPage)
        return placeOf(ui, ui.control(CustomizeButton)).left != placeOf(ui, ui.control(EnableButton)).left;
    const RECT color = placeOf(ui, ui.control(ColorButton));
    const RECT preview = placeOf(ui, FindWindowExW(ui.window, nullptr, L"Dormalis.Native.EmbeddedPreview", nullptr));
    return color.left != preview.left;
}

// The width in DIPs the page may use: its client area, less the scroll bar when one is shown.
int roomOf(Ui& ui) {
    RECT client{};
    GetClientRect(ui.window, &client);
    return static_cast<int>(client.right / ui.scale);
}

// Gives the page exactly `widthDips` to use: low, so that it needs a scroll bar in either arrangement, and wider by
// what the scroll bar takes.
void setRoom(Ui& ui, int dpi, int widthDips) {
    const int low = ui.px(400);
    setGeometry(ui, dpi, widthDips, low);
    RECT client{};
    GetClientRect(ui.window, &client);
    const int taken = static_cast<int>(std::ceil(widthDips * ui.scale)) - client.right;
    if (taken > 0) setGeometry(ui, dpi, widthDips, low, taken);
}

// Windows' text size, as Settings stores and announces it.
void setTextSize(HWND window, DWORD percent) {
    writeDword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor", percent);
    SendMessageW(window, WM_SETTINGCHANGE, 0, 0);
}

TEST_F(UiTest, NothingOverlapsOrLeavesThePageAndEveryTextFitsInEveryLanguageWidthTextSizeAndScale) {
    constexpr std::pair<int, int> DpiAndTextSize[] = {{96, 100}, {144, 100}, {192, 100},
                                                      {96, 150}, {144, 150}, {96, 225}};
    for (int page = SetupPage; page <= AboutPage; ++page) {
        for (unsigned language = 0; language < 6; ++language) {
            settings.language = language;
            OpenPage open(page);
            for (const auto& [dpi, textSize] : DpiAndTextSize) {
                setTextSize(open->window, textSize);
                // The narrowest page and two columns from 796 DIPs at 100 % text, wider in proportion to larger
                // text; the switch is checked either side.
                const int narrowest = (NarrowestPage * textSize + 99) / 100, wideFrom = (796 * textSize + 99) / 100;
                for (int width : {narrowest, wideFrom - 1, wideFrom, 1000}) {
                    const bool switches = page == SetupPage || page == CustomizePage;
                    const bool boundary = width == wideFrom - 1 || width == wideFrom;
                    // Not wider than the display, nor narrower than a page may be.
                    if (dpi * width > 96 * 1920 || width < narrowest || (boundary && !switches)) continue;
                    boundary ? setRoom(*open, dpi, width) : setGeometry(*open, dpi, width);
                    const std::string where = "page " + std::to_string(page) + " language " + std::to_string(language) +
                                              " dpi " + std::to_string(dpi) + " text " + std::to_string(textSize) +
                                              "% width " + std::to_string(width);
                    LOGFONTW body{};
                    GetObjectW(open->typefaces[0].get(), sizeof(body), &body);
                    EXPECT_EQ(-body.lfHeight, 16 * dpi * textSize / 9600) << where;
                    expectSoundLayout(*open, where);
                    if (!switches) continue;
                    if (boundary) {
                        EXPECT_EQ(roomOf(*open), width) << where;
                    }
                    EXPECT_EQ(twoColumns(*open, page), width >= wideFrom) << where;
                }
            }
        }
    }
}

// Until the resize lays the page out again, its controls still use the old fonts: those must still exist.
// A page minimised on its own would leave its owner disabled with nothing on the taskbar to bring it back.
TEST_F(UiTest, AMinimisedPageGoesDownWithItsOwner) {
    OpenPage page(ModePage);
    ShowWindow(page.owner, SW_SHOWNOACTIVATE);
    ShowWindow(page->window, SW_SHOWNOACTIVATE);
    SendMessageW(page->window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    pumpMessages();
    EXPECT_TRUE(IsIconic(page.owner));
    EXPECT_FALSE(IsIconic(page->window));
}

// China's flag: one large and four small stars, all in the quarter by the staff, the large one much the largest.
TEST(Flags, TheChineseFlagHasOneLargeAndFourSmallStarsByTheStaff) {
    constexpr int W = 300, H = 200;
    const COLORREF yellow = RGB(255, 230, 20);
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    UniqueBitmap bitmap{CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    ASSERT_TRUE(bits);
    SelectionGuard selected(dc.get(), bitmap.get());
    flag(dc.get(), RECT{0, 0, W, H}, 3);
    GdiFlush();
    const auto* first = static_cast<const std::uint32_t*>(bits);
    const Image image{W, H, std::vector<std::uint32_t>(first, first + W * H), true};
    // Each star is one yellow area, grown from its first pixel across its neighbours.
    std::vector<bool> seen(W * H);
    std::vector<std::pair<int, RECT>> stars;  // pixels and bounds
    for (int seed = 0; seed < W * H; ++seed) {
        if (seen[seed] || image.at(seed % W, seed / W) != yellow) continue;
        std::vector<int> open{seed};
        seen[seed] = true;
        auto& [pixels, box] = stars.emplace_back(0, RECT{W, H, 0, 0});
        while (!open.empty()) {
            const int x = open.back() % W, y = open.back() / W;
            open.pop_back();
            ++pixels;
            box = RECT{std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x + 1),
                       std::max<LONG>(box.bottom, y + 1)};
            for (const auto& [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}}) {
                if (image.at(nx, ny) != yellow || seen[ny * W + nx]) continue;
                seen[ny * W + nx] = true;
                open.push_back(ny * W + nx);
            }
        }
    }
    ASSERT_EQ(stars.size(), 5u);
    std::sort(stars.begin(), stars.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [pixels, box] : stars)
        EXPECT_TRUE(box.right <= W / 2 + 1 && box.bottom <= H / 2 + 1) << pixels;
    EXPECT_GT(stars[0].first, 4 * stars[1].first) << "one large star";
    const RECT large = stars[0].second;
    EXPECT_NEAR((large.left + large.right) / 2, W / 6, 6);
    EXPECT_NEAR((large.top + large.bottom) / 2, H / 4, 8);
}

TEST_F(UiTest, ADpiChangeTakesTheSuggestedRectangleAndRescalesFontsAndLayout) {
    OpenPage about(AboutPage);
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
    for (HWND control : about->controls) {
        const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        EXPECT_TRUE(font == about->typefaces[0].get() || font == about->typefaces[1].get());
    }
    expectSoundLayout(*about, "after the DPI change");
}

RECT placeIn(HWND parent, HWND control) {
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

// The setup's or the uninstaller's window runs its own message loop, here on a thread of its own.
struct OpenFrontEnd {
    HWND window = nullptr;
    std::thread loop;
    explicit OpenFrontEnd(
        const wchar_t* className = L"Dormalis.Native.Setup",
        std::function<void()> run = [] { runSetupWindow(SetupOptions{}); })
        : loop(std::move(run)) {
        waitUntil(
            [&] {
                pumpMessages();
                return IsWindowVisible(window = FindWindowW(className, nullptr));
            },
            10000);
    }
    ~OpenFrontEnd() {
        PostMessageW(window, WM_CLOSE, 0, 0);
        loop.join();
    }
};

// A 1366 × 768 laptop at 125 % and a 1920 × 1080 screen at 150 %, each less a 40-pixel taskbar, and the laptop at
// 100 % with the largest text: the window opens inside the work area, takes the DPI Windows announces and the text
// size, keeps Install and Cancel in view under content that scrolls when it must, and every text fits, in every
// language. The uninstaller's window, ending on its longest text, fits as well.
TEST_F(UiTest, TheSetupAndUninstallWindowsFitTheWorkAreaAtEveryScaleTextSizeAndInEveryLanguage) {
    RECT screen{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue,
                L"File is in use. Close screen saver previews and retry uninstall.");
    for (const auto& [width, height, dpi, textSize] :
         {std::tuple{1366, 768, 120, 100}, std::tuple{1920, 1080, 144, 150}, std::tuple{1366, 768, 96, 225}}) {
        RECT work{0, 0, width, height - 40};
        ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, SPIF_SENDCHANGE));
        for (unsigned language = 0; language < 6; ++language) {
            settings.language = language;
            OpenFrontEnd setup;
            ASSERT_TRUE(setup.window);
            setTextSize(setup.window, textSize);
            RECT frame{};
            GetWindowRect(setup.window, &frame);
            OffsetRect(&frame, 40, 30);  // the suggestion keeps the corner; a larger window must still fit
            SendMessageW(setup.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
            const std::string where = std::to_string(width) + " dpi " + std::to_string(dpi) + " text " +
                                      std::to_string(textSize) + "% language " + std::to_string(language);
            LOGFONTW body{};
            GetObjectW(reinterpret_cast<HFONT>(
                           SendMessageW(GetDlgItem(setup.window, setup_controls::Install), WM_GETFONT, 0, 0)),
                       sizeof(body), &body);
            EXPECT_EQ(-body.lfHeight, 16 * dpi * textSize / 9600) << where;
            const float scale = dpi / 96.0f;
            RECT common{}, client{};
            GetWindowRect(setup.window, &frame);
            EXPECT_TRUE(IntersectRect(&common, &frame, &work) && EqualRect(&common, &frame))
                << where << ": " << frame.left << "," << frame.top << " - " << frame.right << "," << frame.bottom;
            GetClientRect(setup.window, &client);
            HWND content = GetDlgItem(setup.window, setup_controls::Content);
            const RECT panel = placeIn(setup.window, content);
            for (int id : {setup_controls::Install, setup_controls::Cancel}) {
                const RECT button = placeIn(setup.window, GetDlgItem(setup.window, id));
                EXPECT_TRUE(IntersectRect(&common, &button, &client) && EqualRect(&common, &button)) << where << id;
                EXPECT_GE(button.top, panel.bottom) << where;
            }
            expectTextsFit(setup.window, scale, where, true);
            expectTextsFit(content, scale, where, true);
            SCROLLINFO bar{sizeof(bar), SIF_ALL, 0, 0, 0, 0, 0};
            GetScrollInfo(content, SB_VERT, &bar);
            const bool scrolls = bar.nMax >= static_cast<int>(bar.nPage);
            EXPECT_TRUE(!scrolls || frame.bottom - frame.top == work.bottom) << where << ": scrolls in a short window";
            // Unscrolled, no two controls overlap and all lie within the content's height and the panel's width.
            std::vector<RECT> places;
            for (HWND child = GetWindow(content, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                RECT place = placeIn(content, child);
                OffsetRect(&place, 0, bar.nPos);
                EXPECT_TRUE(place.left >= 0 && place.right <= panel.right - panel.left && place.top >= 0 &&
                            place.bottom <= (scrolls ? bar.nMax + 1 : panel.bottom - panel.top))
                    << where << ": control " << GetDlgCtrlID(child) << " out of reach";
                for (const RECT& other : places)
                    EXPECT_FALSE(IntersectRect(&common, &place, &other)) << where << ": " << GetDlgCtrlID(child);
                places.push_back(place);
            }
            // The wheel reaches the end, and a control the keyboard moves to comes back into view.
            SendMessageW(GetDlgItem(content, setup_controls::Progress), WM_MOUSEWHEEL,
                         MAKEWPARAM(0, static_cast<WORD>(-120 * 30)), 0);
            const RECT progress = placeIn(content, GetDlgItem(content, setup_controls::Progress));
            EXPECT_LE(progress.bottom, panel.bottom - panel.top) << where;
            const DWORD thread = GetWindowThreadProcessId(setup.window, nullptr);
            AttachThreadInput(GetCurrentThreadId(), thread, TRUE);  // the focus is set on the window's own thread
            SetFocus(GetDlgItem(content, setup_controls::Folder));
            AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
            EXPECT_GE(placeIn(content, GetDlgItem(content, setup_controls::Folder)).top, 0) << where;

            OpenFrontEnd uninstall(L"Dormalis.Native.Uninstall", [] { runUninstallWindow([] { return ExitFailed; }); });
            ASSERT_TRUE(uninstall.window);
            GetWindowRect(uninstall.window, &frame);
            SendMessageW(uninstall.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
            ASSERT_TRUE(
                waitUntil([&] { return IsWindowEnabled(GetDlgItem(uninstall.window, UninstallClose)); }, 10000));
            GetWindowRect(uninstall.window, &frame);
            EXPECT_TRUE(IntersectRect(&common, &frame, &work) && EqualRect(&common, &frame)) << where << " uninstaller";
            expectTextsFit(uninstall.window, scale, where + " uninstaller", true);
        }
    }
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &screen, SPIF_SENDCHANGE);
}

HWND focusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// A key pressed where the setup window's focus is; true once the focus has moved (or the window is gone).
bool press(HWND window, WPARAM key) {
    HWND before = focusOf(window);
    PostMessageW(before ? before : window, WM_KEYDOWN, key, 0);
    return waitUntil([&] { return !IsWindow(window) || focusOf(window) != before; }, 5000);
}

// Tab reaches every control of the setup window and the chosen mode, the arrow keys the other mode, and Escape
// cancels the setup as its Cancel button does.
TEST_F(UiTest, TheKeyboardReachesEverySetupControlAndBothModesAndEscapeCancels) {
    using namespace setup_controls;
    OpenFrontEnd setup;
    ASSERT_TRUE(setup.window);
    HWND content = GetDlgItem(setup.window, Content);
    ASSERT_TRUE(waitUntil([&] { return focusOf(setup.window) != nullptr; }, 5000)) << "the window is active";
    std::set<int> reached;
    for (int step = 0; step < 8; ++step) {
        ASSERT_TRUE(press(setup.window, VK_TAB)) << "Tab moves on";
        reached.insert(GetDlgCtrlID(focusOf(setup.window)));
    }
    EXPECT_EQ(reached, (std::set<int>{Folder, Browse, Firewall, Cancel, Install}));
    while (GetDlgCtrlID(focusOf(setup.window)) != Firewall)
        ASSERT_TRUE(press(setup.window, VK_TAB));
    ASSERT_TRUE(press(setup.window, VK_DOWN));
    EXPECT_EQ(GetDlgCtrlID(focusOf(setup.window)), Adapters);
    EXPECT_EQ(IsDlgButtonChecked(content, Adapters), static_cast<UINT>(BST_CHECKED)) << "the arrow chooses it";
    ASSERT_TRUE(press(setup.window, VK_ESCAPE));
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(setup.window); }, 5000));
}

TEST_F(UiTest, HeaderCardButtonsAndFlagTakeTheirColoursAndTheCardFollowsTheService) {
    const COLORREF flags[6] = {RGB(0, 70, 170),   RGB(20, 50, 130), RGB(20, 20, 20),  // a colour only that flag has
                               RGB(255, 230, 20), RGB(185, 25, 40), RGB(0, 140, 75)};
    for (unsigned language = 0; language < 6; ++language) {
        settings.language = language;
        // Installed with its service running, the protection works, unless a pause failed (language 5).
        const bool installed = language % 2 == 1, green = installed && language != 5;
        std::optional<TestService> service;
        if (installed) service.emplace().start();
        if (language == 5)
            writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"LastFailedPause", L"2026-12-07T07:06:43Z|none|z");
        OpenPage setup(SetupPage);
        setGeometry(*setup, 96, 1000, 850);
        ShowWindow(setup->window, SW_SHOW);
        SetFocus(setup->control(EnableButton));
        SetPropW(setup->control(CustomizeButton), L"Hover", reinterpret_cast<HANDLE>(1));
        const Image image = snapshot(*setup);
        service.reset();
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, L"LastFailedPause");
        ASSERT_TRUE(image.loaded);
        EXPECT_EQ(setup->installed, green);
        const auto shows = [&](const std::wstring& line) {
            return std::any_of(setup->labels.begin(), setup->labels.end(),
                               [&](const Label& label) { return label.caption.find(line) != std::wstring::npos; });
        };
        EXPECT_EQ(shows(L" — z"), language == 5);  // the record, in the card
        EXPECT_EQ(image.at(image.width - 3, 0), AccentColor);
        EXPECT_EQ(image.at(image.width - 3, setup->headerBottom - 1), HeaderColor);
        EXPECT_EQ(image.at(image.width - 3, setup->headerBottom), BackgroundColor);
        const int middle = (setup->card.top + setup->card.bottom) / 2;
        EXPECT_EQ(image.at(setup->card.left + 8, middle), green ? CardInstalledFill : CardMissingFill);
        EXPECT_EQ(image.at(setup->card.left, middle), green ? CardInstalledBorder : CardMissingBorder);
        for (int id : {EnableButton, CustomizeButton, DisableButton, WindowsSettingsButton, ModeButton, CheckButton}) {
            const RECT box = placeOf(*setup, setup->control(id));
            const int y = (box.top + box.bottom) / 2;  // the middle row: one pixel of border, then the fill
            // The focus ring (Enable) is not the hovered border (Customize) and stands out 3:1 from page and fill.
            const bool focused = id == EnableButton, hovered = id == CustomizeButton;
            EXPECT_EQ(image.count(RECT{box.left, y, box.left + 10, y + 1},
                                  focused ? FocusRingColor : buttonColors(id).border),
                      focused   ? 2
                      : hovered ? 3
                                : 1)
                << id;
            EXPECT_TRUE(hovered || image.at(box.left + 9, y) == buttonColors(id).fill) << id;
            EXPECT_TRUE(!focused || std::min(contrast(FocusRingColor, image.at(box.left, y)),
                                             contrast(FocusRingColor, image.at(box.left + 9, y))) >= 3.0);
        }
        for (unsigned other = 0; other < 6; ++other) {
            EXPECT_EQ(image.count(placeOf(*setup, setup->control(LanguageList)), flags[other]) > 4, other == language)
                << "the closed list of language " << language << " and the flag of " << other;
        }
    }
}

// Under a black and a white high-contrast scheme (Wine keeps only the stored flag), turned on while the pages are
// open, every page draws again in the system's colours and every text stands out 4.5:1 from its own background.
TEST_F(UiTest, UnderHighContrastEveryTextStandsOutFromItsOwnBackground) {
    const int roles[7] = {COLOR_WINDOW,    COLOR_WINDOWTEXT,    COLOR_BTNFACE, COLOR_BTNTEXT,
                          COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT};
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    COLORREF schemes[3][7] = {{black, white, black, white, RGB(26, 235, 255), black, RGB(63, 242, 63)},
                              {white, black, white, black, RGB(55, 0, 110), white, RGB(96, 0, 0)}};
    std::transform(roles, roles + 7, schemes[2], GetSysColor);  // the colours to restore
    const wchar_t* key = L"Control Panel\\Accessibility\\HighContrast";
    for (int scheme = 0, page = SetupPage; scheme < 2; page = page == AboutPage ? (++scheme, SetupPage) : page + 1) {
        OpenPage open(page);
        ShowWindow(open->window, SW_SHOWNOACTIVATE);
        SetSysColors(7, roles, schemes[scheme]);
        writeString(HKEY_CURRENT_USER, key, L"Flags", L"127");
        RedrawWindow(open->window, nullptr, nullptr, RDW_VALIDATE | RDW_ALLCHILDREN);
        SendMessageW(open->window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        EXPECT_TRUE(GetUpdateRect(open->controls.back(), nullptr, FALSE)) << "drawn again";
        const Image image = snapshot(*open);
        for (HWND child = GetWindow(open->window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            const std::wstring kind = classOf(child);
            const bool ownerDrawn =
                kind == L"button" && (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
            RECT area = ownerDrawn ? buttonTextArea(open->scale, placeOf(*open, child)) : placeOf(*open, child);
            if (GetDlgCtrlID(child) == LanguageList)  // between the flag and the arrow
                area = RECT{area.left + open->px(50), area.top + 4, area.right - open->px(40), area.bottom - 4};
            std::map<COLORREF, int> seen;  // inside the control's edges
            for (int y = area.top + 2; y < area.bottom - 2; ++y)
                for (int x = area.left + 2; x < area.right - 2; ++x)
                    ++seen[image.at(x, y)];
            const COLORREF background =
                std::max_element(seen.begin(), seen.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
            double best = 1;
            for (const auto& [color, pixels] : seen)
                best = std::max(best, contrast(color, background));
            const bool text = kind.find(L"track") == std::wstring::npos && kind.find(L"preview") == std::wstring::npos;
            EXPECT_TRUE(!text || (best >= 4.5 && std::count(schemes[scheme], schemes[scheme] + 7, background)))
                << "page " << page << " " << narrow(kind) << ": " << best << " on a background of its own";
        }
    }
    SetSysColors(7, roles, schemes[2]);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Flags");
}

// ---- Commands, through real messages ---------------------------------------------------------------------------

DWORD stored(const wchar_t* name) {
    return readDword(HKEY_CURRENT_USER, RegistryPath, name, 0xDEADBEEF);
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

// Sends a command and answers what it opens: a message box of this process is read and OKed; another page (the
// network mode page) reads as "page", and the user picks adapters on it, then cancels it.
std::pair<std::wstring, HICON> boxAfter(Ui& ui, int id) {
    std::pair<std::wstring, HICON> seen;
    std::thread reader([&] {
        HWND box = nullptr, page = nullptr;
        waitUntil(
            [&] {
                return ((box = FindWindowW(L"#32770", L"Dormalis")) && IsWindowVisible(box)) ||
                       ((page = FindWindowW(UiClass, nullptr)) && page != ui.window);
            },
            10000);
        if (!box) {
            PostMessageW(page, WM_COMMAND, AdaptersRadio, 0);
            PostMessageW(page, WM_COMMAND, CancelButton, 0);
            seen.first = L"page";
            return;
        }
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

TEST_F(UiTest, TheIdleTimeIsTheWindowsTimeoutInMinutesAndSaveRefusesOneOutsideOneTo240) {
    for (auto [seconds, minutes] : {std::pair{0u, 1u}, {30u, 1u}, {61u, 2u}, {600u, 10u}, {20000u, 240u}}) {
        SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, SPIF_SENDCHANGE);
        if (saverTimeout() != seconds) continue;  // a value this system refuses to keep
        OpenPage customize(CustomizePage);
        EXPECT_EQ(GetDlgItemInt(customize->window, MinutesEdit, nullptr, FALSE), minutes) << seconds;
        send(*customize, SaveButton);
        EXPECT_EQ(saverTimeout(), seconds) << "an untouched box is not written back";
    }
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
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), MinutesEdit) << "the box to correct has the focus";
        EXPECT_EQ(stored(L"Density"), 100u) << "nothing stored";
        EXPECT_EQ(saverTimeout(), 420u);
    }
    SetDlgItemTextW(customize->window, MinutesEdit, L"15");
    send(*customize, SaveButton);
    EXPECT_FALSE(IsWindow(customize->window));
    EXPECT_EQ(customize->result, 1);
    EXPECT_EQ(std::tuple(saverTimeout(), stored(L"Density"), settings.density), std::tuple(900u, 500u, 500))
        << "Save keeps the edits";
}

// Tab walks every control of a page, and each one it reaches is scrolled into view, in a window 500 pixels high.
TEST_F(UiTest, TabReachesEveryControlAndBringsItIntoView) {
    for (int page = SetupPage; page <= AboutPage; ++page) {
        OpenPage open(page);
        setGeometry(*open, 96, 796, 500);
        ASSERT_TRUE(focus(*open, GetDlgCtrlID(GetNextDlgTabItem(open->window, nullptr, FALSE))));
        std::set<int> stops, reached;  // identifiers: a rebuild of the page gives its controls new handles
        for (HWND child = GetWindow(open->window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) && IsWindowEnabled(child))
                stops.insert(GetDlgCtrlID(child));
        for (size_t step = 0; step <= stops.size(); ++step) {
            RECT area = placeOf(*open, GetFocus()), client{};
            GetClientRect(open->window, &client);
            EXPECT_TRUE(area.top >= 0 && area.bottom <= client.bottom) << page << ": " << GetDlgCtrlID(GetFocus());
            reached.insert(GetDlgCtrlID(GetFocus()));
            MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
            EXPECT_TRUE(dialogMessage(open->window, tab));
        }
        EXPECT_EQ(reached, stops) << page;
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
        // Enter on the focused button, through the dialog manager as the window's message loop hands it over.
        MSG enter{GetFocus(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
        EXPECT_TRUE(IsDialogMessageW(customize->window, &enter));
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), ResetButton) << "the focus survives the rebuild";
        EXPECT_EQ(std::tuple(settings.density, settings.speed, settings.color, settings.displays),
                  std::tuple(260, 5, RGB(200, 228, 255), 1u))
            << "Reset leaves the display mode";
        EXPECT_EQ(SendMessageW(customize->control(DensityBar), TBM_GETPOS, 0, 0), 260) << "the bars were rebuilt";
        settings.save();  // something else storing the live values meanwhile must not survive the cancel either
        for (int id : {IDOK, IDCANCEL, 107, 122, 0})  // Enter, Escape and unknown identifiers do nothing
            send(*customize, id);
        ASSERT_TRUE(IsWindow(customize->window));
        SendMessageW(customize->window, way == 1 ? WM_CLOSE : WM_COMMAND, way == 1 ? 0 : CancelButton, 0);
        EXPECT_FALSE(IsWindow(customize->window));
        EXPECT_EQ(customize->result, 0);
        EXPECT_EQ(std::tuple(settings.color, stored(L"Density"), stored(L"Speed"), stored(L"Displays")),
                  std::tuple(RGB(1, 2, 3), 100u, 3u, 2u));
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
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), LanguageList);
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
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), LanguageList);
    wchar_t caption[128] = {};
    GetWindowTextW(setup->control(EnableButton), caption, 128);
    EXPECT_STREQ(caption, L"Activar Dormalis");
    RECT client{};
    GetClientRect(setup->window, &client);
    EXPECT_GE(client.bottom, setup->contentHeight) << "the window was fitted to the new content";
}

// With a mode configured but no service running, Enable fails with its own message; without a mode, Enable and
// Change mode open the network mode page, which the user cancels: nothing changes. The window carries on.
TEST_F(UiTest, EachSetupCommandShowsItsMessageOrCancelledPageChangesNothingAndKeepsTheFocus) {
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"Firewall", 1);
    OpenPage setup(SetupPage);
    HWND before = setup->control(DisableButton);
    const std::tuple<int, DWORD, std::wstring, LPCWSTR> cases[] = {
        {DisableButton, 1,
         L"Dormalis is no longer selected as the screen saver. The app remains installed. Close and "
         L"reopen any open Windows screen saver settings to refresh the display.",
         IDI_INFORMATION},
        {CheckButton, 1, L"", IDI_INFORMATION},
        {EnableButton, 1, L"The Dormalis service is unavailable. Reinstall with the setup program.", IDI_ERROR},
        {EnableButton, 0, L"page", nullptr},
        {ModeButton, 0, L"page", nullptr}};
    for (const auto& [id, configured, expected, icon] : cases) {
        writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", configured);
        ASSERT_TRUE(focus(*setup, id));
        settings.firewall = false;  // a live change the reload after a cancelled page must drop
        const auto [message, shown] = boxAfter(*setup, id);
        EXPECT_EQ(message, id == CheckButton ? configurationReport() : expected) << id;
        EXPECT_EQ(shown, icon ? LoadIconW(nullptr, icon) : nullptr) << id;
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), id) << "the focus is back where it was, after the rebuild and the message";
        EXPECT_TRUE(icon || settings.firewall) << "reloaded from the machine's choice after the page";
        EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 0), configured);
        EXPECT_TRUE(IsWindowEnabled(setup->window)) << "the owner is enabled again";
        EXPECT_FALSE(isDormalisSelected());
    }
    EXPECT_NE(setup->control(DisableButton), before) << "Disable rebuilt the page";
    // Under a policy that turns savers off, the card says so and Enable fails before it asks for a mode.
    writeString(HKEY_CURRENT_USER, PolicyKey, L"ScreenSaveActive", L"0");
    setup->layout();
    EXPECT_EQ(
        std::count_if(setup->labels.begin(), setup->labels.end(),
                      [](const Label& label) { return label.caption.find(managedSaverLine()) != std::wstring::npos; }),
        1);
    EXPECT_EQ(boxAfter(*setup, EnableButton).first,
              L"Your organization manages the screen saver: its policy turns screen savers off.");
    deleteKeyTree(HKEY_CURRENT_USER, PolicyKey);
    SendMessageW(setup->control(LanguageList), CB_SETCURSEL, 4, 0);
    send(*setup, LanguageList, CBN_SELCHANGE);
    EXPECT_EQ(settings.language, 4u) << "still answering";
}

// ---- The real program (run as ui_system_tests) ---------------------------------------------------------------

const std::wstring Program = quoted(buildFolder() + L"\\Dormalis.exe");

TEST(UiSystem, TheRealProgramSnapshotsEachPageInItsOwnWidth) {
    const int widths[4] = {1000, 1000, 780, 780}, buttons[4] = {EnableButton, SaveButton, ContinueButton, AboutButton};
    const wchar_t* languageAndPage[4] = {L" 1 0 ", L" 3 1 ", L" 5 2 ", L" 1 3 "};
    for (int page = 0; page < 4; ++page) {
        DeleteFileW(Picture.c_str());
        EXPECT_EQ(runProcess(Program + L" --ui-test" + languageAndPage[page] + quoted(Picture), 30000).exitCode, 0u)
            << page;
        const Image image = readBmp(Picture);
        ASSERT_TRUE(image.loaded) << page;
        // The client area of a page window of its width (less the frame and perhaps the scroll bar).
        EXPECT_TRUE(image.width <= widths[page] && image.width >= widths[page] - 60) << page << ": " << image.width;
        EXPECT_GT(48 * 48 - image.count(RECT{28, 28, 76, 76}, HeaderColor), 48 * 48 / 4) << "the program's icon";
        EXPECT_GT(image.count(RECT{0, 0, image.width, image.height}, buttonColors(buttons[page]).fill), 1000) << page;
    }
}

// Runs the program, waits for its page window and posts the commands to it.
UniqueHandle runPage(const std::wstring& arguments, std::initializer_list<std::pair<unsigned, unsigned>> messages) {
    UniqueHandle process = startProcess(Program + L" " + arguments);
    const ProcessResult page = driver(L"find Dormalis.Native.Ui - 15000");
    EXPECT_EQ(page.exitCode, 0u) << "no page window";
    for (const auto& [message, wParam] : messages)
        driver(L"post " + widen(page.output) + L" " + std::to_wstring(message) + L" " + std::to_wstring(wParam) +
               L" 0");
    return process;
}

TEST(UiSystem, ScreenSaverConfigurationOpensTheCustomizePageAndSaveStoresItsSettings) {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 123);
    UniqueHandle process = runPage(L"/c", {{WM_COMMAND, ResetButton}, {WM_COMMAND, SaveButton}});
    EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, RegistryPath, L"Density", 0), 260u);
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
}

// An ordinary user's Restore reaches the service without an elevated copy (the job would count one); without the
// service it warns.
TEST(UiSystem, WithoutArgumentsTheSetupPageOpensAndRestoreNeedsNoAdministrator) {
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    TestService service;
    for (const bool running : {false, true}) {
        if (running) service.start();
        UniqueHandle job{CreateJobObjectW(nullptr, nullptr)}, process = startAsOrdinaryUser(Program, job.get());
        const std::wstring page = widen(driver(L"find Dormalis.Native.Ui - 15000").output);
        driver(L"post " + page + L" " + std::to_wstring(WM_COMMAND) + L" " + std::to_wstring(RestoreButton) + L" 0");
        EXPECT_EQ(driver(L"message-box Dormalis 20000").output,
                  running ? "Recovery requested. Check configuration for status; reconnection can take a few seconds."
                          : "Recovery request failed. Retry with administrator rights or restart Windows.");
        driver(L"press Dormalis 1");
        driver(L"post " + page + L" 16 0 0");  // WM_CLOSE
        EXPECT_EQ(finishProcess(process.get(), 15000), 0u);
        EXPECT_EQ(processesOf(job.get()), 1u) << "no elevated copy";
    }
    EXPECT_EQ(recordedControls(), L"128");
    deleteKeyTree(HKEY_CURRENT_USER, RegistryPath);
}

}  // namespace
}  // namespace dormalis
