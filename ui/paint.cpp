// Painting of the pages, the owner-drawn buttons and the language list. Brushes, pens and the icon live for one
// paint only.
#include "ui/ui.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <utility>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/text.h"

namespace dormalis {

namespace {

void fill(HDC dc, const RECT& area, COLORREF color) {
    UniqueBrush brush{CreateSolidBrush(color)};
    FillRect(dc, &area, brush.get());
}

void roundedBox(HDC dc, const RECT& area, COLORREF fillColor, COLORREF borderColor, int borderWidth, int corner) {
    UniqueBrush brush{CreateSolidBrush(fillColor)};
    UniquePen pen{CreatePen(PS_SOLID, borderWidth, borderColor)};
    SelectionGuard brushSelected(dc, brush.get());
    SelectionGuard penSelected(dc, pen.get());
    RoundRect(dc, area.left, area.top, area.right, area.bottom, corner, corner);
}

// A five-pointed star around (x, y) with one point towards `towards` radians (0: right, counter-clockwise with
// y growing downwards as on the screen).
void star(HDC dc, double x, double y, double radius, double towards, COLORREF color) {
    constexpr double Pi = 3.14159265358979323846;
    POINT points[10];
    for (int i = 0; i < 10; ++i) {
        const double reach = i % 2 == 0 ? radius : radius * 0.382;  // the inner corners of a regular star
        const double angle = towards + i * Pi / 5;
        points[i] = POINT{static_cast<LONG>(std::lround(x + reach * std::cos(angle))),
                          static_cast<LONG>(std::lround(y - reach * std::sin(angle)))};
    }
    UniqueBrush brush{CreateSolidBrush(color)};
    UniquePen pen{CreatePen(PS_SOLID, 1, color)};
    SelectionGuard brushSelected(dc, brush.get());
    SelectionGuard penSelected(dc, pen.get());
    Polygon(dc, points, 10);
}

// China's flag on a grid of 30 x 20: the large star at (5, 5), four small ones on an arc, each pointing at it.
void chineseFlag(HDC dc, const RECT& area) {
    constexpr double Pi = 3.14159265358979323846;
    fill(dc, area, RGB(225, 30, 40));
    const double unitX = (area.right - area.left) / 30.0, unitY = (area.bottom - area.top) / 20.0;
    const double unit = std::min(unitX, unitY);
    const COLORREF yellow = RGB(255, 230, 20);
    star(dc, area.left + 5 * unitX, area.top + 5 * unitY, 3 * unit, Pi / 2, yellow);
    for (const auto& [gridX, gridY] : {std::pair{10, 2}, {12, 4}, {12, 7}, {10, 9}}) {
        const double towards = std::atan2(-(5.0 - gridY) * unitY, (5.0 - gridX) * unitX);
        star(dc, area.left + gridX * unitX, area.top + gridY * unitY, std::max(unit, 1.5), towards, yellow);
    }
}

COLORREF darker(COLORREF color, int amount) {
    return RGB(std::max(GetRValue(color) - amount, 0), std::max(GetGValue(color) - amount, 0),
               std::max(GetBValue(color) - amount, 0));
}

RECT shifted(RECT area, int dy) {
    OffsetRect(&area, 0, dy);
    return area;
}

void drawIcon(Ui& ui, HDC dc) {
    const int size = ui.px(48);
    UniqueIcon icon{
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR))};
    if (icon) DrawIconEx(dc, ui.px(28), ui.px(28) - ui.scroll, icon.get(), size, size, 0, nullptr, DI_NORMAL);
}

void drawLanguageItem(Ui& ui, const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    fill(dc, item.rcItem, selected ? shown(ListSelected, COLOR_HIGHLIGHT) : shown(ListPlain, COLOR_WINDOW));
    const int index =
        static_cast<int>(item.itemID) < 0 ? static_cast<int>(settings.language) : static_cast<int>(item.itemID);
    if (index > 5) return;
    // 30 x 16 at 100 %, scaled whole so the flag keeps its shape at every DPI, centred in the item's height.
    const RECT& r = item.rcItem;
    const int top = r.top + (r.bottom - r.top - ui.px(16)) / 2;
    flag(dc, RECT{r.left + ui.px(8), top, r.left + ui.px(38), top + ui.px(16)}, index);
    RECT name = r;
    name.left += ui.px(50);
    SetTextColor(dc, shown(ListText, selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DrawTextW(dc, languageNames[index], -1, &name, DT_SINGLELINE | DT_VCENTER);
}

// A text's Static shows the page as the page paints it there.
void drawText(Ui& ui, const DRAWITEMSTRUCT& item) {
    POINT origin{};
    MapWindowPoints(item.hwndItem, ui.window, &origin, 1);
    POINT before{};
    OffsetViewportOrgEx(item.hDC, -origin.x, -origin.y, &before);
    eraseBackground(ui, item.hDC);
    paintPage(ui, item.hDC);
    SetViewportOrgEx(item.hDC, before.x, before.y, nullptr);
}

int lineHeight(HDC dc, HFONT font) {
    SelectionGuard selected(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    return metrics.tmHeight;
}

// The title and version lines of a front end's header, each as high as its font needs, and the header's bottom.
struct HeaderPlaces {
    RECT title;
    RECT version;
    int bottom;
};

HeaderPlaces headerPlaces(HWND window, HDC dc, float scale, HFONT title, HFONT body, int leastHeight) {
    const auto px = [scale](double dips) { return static_cast<int>(dips * scale); };
    RECT client{};
    GetClientRect(window, &client);
    const int titleBottom = std::max(px(60), px(18) + lineHeight(dc, title));
    const int versionTop = titleBottom + px(2);
    const int bottom = std::max(px(leastHeight), versionTop + lineHeight(dc, body) + px(14));
    return {RECT{px(88), px(18), client.right - px(20), titleBottom},
            RECT{px(88), versionTop, client.right - px(20), bottom}, bottom};
}

}  // namespace

void drawRoundedButton(const DRAWITEMSTRUCT& item, ButtonColors colors, float scale) {
    const auto px = [scale](double dips) { return static_cast<int>(dips * scale); };
    HDC dc = item.hDC;
    const bool hovered = GetPropW(item.hwndItem, L"Hover") != nullptr;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const int darkening = pressed ? 18 : hovered ? 7 : 0;
    // The focus ring is dark against the page and every fill, so that it is never taken for the pointer's
    // lighter, thicker border.
    const int border = px(focused ? 2 : hovered ? 3 : 1);
    RECT box = item.rcItem;
    InflateRect(&box, -px(2), -px(2));
    COLORREF fillColor = disabled ? BackgroundColor : darker(colors.fill, darkening);
    COLORREF edge = focused ? FocusRingColor : colors.border;
    if (highContrast()) {
        fillColor = GetSysColor(COLOR_BTNFACE);
        edge = GetSysColor(hovered && !focused ? COLOR_HIGHLIGHT : COLOR_BTNTEXT);
    }
    roundedBox(dc, box, fillColor, edge, border, px(18));

    wchar_t caption[512] = {};
    GetWindowTextW(item.hwndItem, caption, 512);
    SetTextColor(dc, disabled ? shown(NoteColor, COLOR_GRAYTEXT) : shown(ButtonText, COLOR_BTNTEXT));
    RECT textArea = buttonTextArea(scale, item.rcItem);
    RECT measured = textArea;
    DrawTextW(dc, caption, -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    const int room = (textArea.bottom - textArea.top) - (measured.bottom - measured.top);
    textArea.top += std::max(room / 2, 0);
    DrawTextW(dc, caption, -1, &textArea, DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
}

bool highContrast() {
    HIGHCONTRASTW state{};
    state.cbSize = sizeof(state);
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(state), &state, 0) && (state.dwFlags & HCF_HIGHCONTRASTON))
        return true;
    // Wine keeps no high-contrast state and always answers "off"; the user's stored setting says it as well.
    const std::wstring stored = readString(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags");
    return (std::wcstoul(stored.c_str(), nullptr, 10) & HCF_HIGHCONTRASTON) != 0;
}

COLORREF shown(COLORREF own, int element) {
    return highContrast() ? GetSysColor(element) : own;
}

RECT buttonTextArea(float scale, RECT item) {
    const auto px = [scale](double dips) { return static_cast<int>(dips * scale); };
    InflateRect(&item, -px(2) - px(12), -px(2) - px(5));
    return item;
}

ButtonColors buttonColors(int id) {
    switch (id) {
        case EnableButton:
            return {RGB(215, 232, 254), RGB(132, 172, 220)};
        case CustomizeButton:
        case SaveButton:
        case ContinueButton:
            return {RGB(219, 241, 232), RGB(129, 180, 159)};
        case DisableButton:
            return {RGB(253, 232, 232), RGB(213, 157, 165)};
        case AboutButton:
            return {RGB(240, 234, 250), RGB(191, 175, 216)};
        case CancelButton:
        case ResetButton:
            return {RGB(241, 243, 247), RGB(198, 205, 215)};
        default:
            return {RGB(235, 241, 250), RGB(175, 193, 218)};
    }
}

int frontEndHeaderBottom(HWND window, float scale, HFONT title, HFONT body, int leastHeight) {
    WindowDc dc(window);
    return headerPlaces(window, dc.get(), scale, title, body, leastHeight).bottom;
}

void paintFrontEndHeader(HWND window, HDC dc, float scale, HFONT title, HFONT body, int leastHeight) {
    const auto px = [scale](double dips) { return static_cast<int>(dips * scale); };
    const HeaderPlaces places = headerPlaces(window, dc, scale, title, body, leastHeight);
    RECT client{};
    GetClientRect(window, &client);
    fill(dc, RECT{0, 0, client.right, places.bottom}, shown(HeaderColor, COLOR_WINDOW));
    fill(dc, RECT{0, 0, client.right, px(4)}, shown(AccentColor, COLOR_HIGHLIGHT));
    const int size = px(48);
    UniqueIcon icon{
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR))};
    if (icon) DrawIconEx(dc, px(24), px(26), icon.get(), size, size, 0, nullptr, DI_NORMAL);
    SetBkMode(dc, TRANSPARENT);
    SelectionGuard titleFont(dc, title);
    SetTextColor(dc, shown(LabelColor, COLOR_WINDOWTEXT));
    RECT titleArea = places.title;
    DrawTextW(dc, Product, -1, &titleArea, DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, body);
    SetTextColor(dc, shown(VersionColor, COLOR_WINDOWTEXT));
    const std::wstring version = std::wstring(L"v") + Version + L"  \u00B7  Windows x64";
    RECT versionArea = places.version;
    DrawTextW(dc, version.c_str(), -1, &versionArea, DT_SINGLELINE | DT_NOPREFIX);
}

LRESULT eraseBackground(Ui& ui, HDC dc) {
    RECT client{};
    GetClientRect(ui.window, &client);
    fill(dc, client, shown(BackgroundColor, COLOR_WINDOW));
    return 1;
}

void paintPage(Ui& ui, HDC dc) {
    RECT client{};
    GetClientRect(ui.window, &client);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ remembered = GetCurrentObject(dc, OBJ_FONT);
    const bool contrast = highContrast();
    fill(dc, RECT{0, -ui.scroll, client.right, ui.headerBottom - ui.scroll}, shown(HeaderColor, COLOR_WINDOW));
    fill(dc, RECT{0, -ui.scroll, client.right, ui.px(4) - ui.scroll}, shown(AccentColor, COLOR_HIGHLIGHT));
    if (ui.card.top < ui.card.bottom) {
        roundedBox(dc, shifted(ui.card, -ui.scroll),
                   shown(ui.installed ? CardInstalledFill : CardMissingFill, COLOR_WINDOW),
                   shown(ui.installed ? CardInstalledBorder : CardMissingBorder, COLOR_WINDOWTEXT), 1, ui.px(18));
    }
    for (const Label& label : ui.labels) {
        SelectObject(dc, ui.typefaces[label.font].get());
        SetTextColor(dc, contrast ? GetSysColor(COLOR_WINDOWTEXT) : label.color);
        RECT area = shifted(label.rect, -ui.scroll);
        DrawTextW(dc, label.caption.c_str(), static_cast<int>(label.caption.size()), &area, DT_WORDBREAK | DT_NOPREFIX);
    }
    drawIcon(ui, dc);
    SelectObject(dc, remembered);
}

LRESULT controlColors(HDC dc) {
    SetBkColor(dc, shown(BackgroundColor, COLOR_WINDOW));
    SetDCBrushColor(dc, shown(BackgroundColor, COLOR_WINDOW));
    SetTextColor(dc, shown(SystemControlText, COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

void measureItem(Ui& ui, MEASUREITEMSTRUCT& item) {
    item.itemHeight = static_cast<UINT>(ui.px(ui.tx(32)));
}

void drawItem(Ui& ui, const DRAWITEMSTRUCT& item) {
    if (item.CtlType == ODT_STATIC) return drawText(ui, item);
    SetBkMode(item.hDC, TRANSPARENT);
    SelectionGuard font(item.hDC, ui.typefaces[0].get());
    if (item.CtlID == LanguageList) {
        drawLanguageItem(ui, item);
    } else {
        drawRoundedButton(item, buttonColors(static_cast<int>(item.CtlID)), ui.scale);
    }
}

void flag(HDC dc, RECT area, int language) {
    const int w = area.right - area.left;
    const int h = area.bottom - area.top;
    const LONG left = area.left, top = area.top, right = area.right, bottom = area.bottom;
    switch (language) {
        case 0:
        case 5:
            fill(dc, area, RGB(255, 255, 255));
            fill(dc, RECT{left, top, left + w / 3, bottom}, language == 0 ? RGB(0, 70, 170) : RGB(0, 140, 75));
            fill(dc, RECT{right - w / 3, top, right, bottom}, RGB(235, 35, 45));
            break;
        case 1: {
            fill(dc, area, RGB(20, 50, 130));
            {
                UniquePen pen{CreatePen(PS_SOLID, std::max(h / 5, 2), RGB(255, 255, 255))};
                SelectionGuard selected(dc, pen.get());
                MoveToEx(dc, left, top, nullptr);
                LineTo(dc, right, bottom);
                MoveToEx(dc, right, top, nullptr);
                LineTo(dc, left, bottom);
            }
            fill(dc, RECT{left + 2 * w / 5, top, right - 2 * w / 5, bottom}, RGB(230, 35, 45));
            fill(dc, RECT{left, top + 2 * h / 5, right, bottom - 2 * h / 5}, RGB(230, 35, 45));
            break;
        }
        case 2:
            fill(dc, area, RGB(220, 35, 45));
            fill(dc, RECT{left, top, right, top + h / 3}, RGB(20, 20, 20));
            fill(dc, RECT{left, bottom - h / 3, right, bottom}, RGB(250, 195, 20));
            break;
        case 3:
            chineseFlag(dc, area);
            break;
        case 4:
            fill(dc, area, RGB(255, 205, 30));
            fill(dc, RECT{left, top, right, top + h / 3}, RGB(185, 25, 40));
            fill(dc, RECT{left, bottom - h / 3, right, bottom}, RGB(185, 25, 40));
            break;
        default:
            break;
    }
}

}  // namespace dormalis
