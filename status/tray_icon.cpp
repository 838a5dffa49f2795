#include <windows.h>

#include <vector>

#include "foundation/text.h"
#include "foundation/unique.h"
#include "status/tray.h"

namespace dormalis {

namespace {

constexpr int IconSize = 32;
constexpr COLORREF SelectedFill = RGB(44, 173, 92);
constexpr COLORREF UnselectedFill = RGB(140, 148, 158);
constexpr COLORREF Outline = RGB(245, 248, 255);
constexpr POINT ShieldPoints[] = {{16, 2}, {28, 7}, {26, 21}, {16, 30}, {6, 21}, {4, 7}};

UniqueBitmap colourSection(HDC dc, DWORD*& pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = IconSize;
    info.bmiHeader.biHeight = -IconSize;  // top-down: row 0 is the top of the shield
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap section{CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    pixels = static_cast<DWORD*>(bits);
    return section;
}

void drawPolygon(HDC dc, HBITMAP target, bool selected) {
    UniqueBrush fill{CreateSolidBrush(selected ? SelectedFill : UnselectedFill)};
    UniquePen outline{CreatePen(PS_SOLID, 2, Outline)};
    SelectionGuard bitmapSelected{dc, target};
    SelectionGuard brushSelected{dc, fill.get()};
    SelectionGuard penSelected{dc, outline.get()};
    Polygon(dc, ShieldPoints, static_cast<int>(std::size(ShieldPoints)));
    GdiFlush();
}

// GDI leaves alpha at zero; every drawn (non-black) pixel becomes opaque and the rest stays see-through.
void makeDrawnPixelsOpaque(DWORD* pixels) {
    for (int i = 0; i < IconSize * IconSize; ++i) {
        if (pixels[i] & 0x00FFFFFF) pixels[i] |= 0xFF000000;
    }
}

}  // namespace

HICON drawShield(bool selected) {
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    if (!dc) return nullptr;
    DWORD* pixels = nullptr;
    UniqueBitmap colour = colourSection(dc.get(), pixels);
    if (!colour || !pixels) return nullptr;
    ZeroMemory(pixels, IconSize * IconSize * sizeof(DWORD));
    drawPolygon(dc.get(), colour.get(), selected);
    makeDrawnPixelsOpaque(pixels);

    // CreateBitmap leaves the bits undefined without data; the mask must be all zero so alpha alone decides.
    std::vector<BYTE> zeros(IconSize * IconSize / 8, 0);
    UniqueBitmap mask{CreateBitmap(IconSize, IconSize, 1, 1, zeros.data())};
    if (!mask) return nullptr;
    ICONINFO parts{TRUE, 0, 0, mask.get(), colour.get()};
    return CreateIconIndirect(&parts);
}

std::wstring trayTooltip(bool selected) {
    if (selected) {
        return tr(L"Dormalis — écran de veille sélectionné", L"Dormalis — selected screen saver",
                  L"Dormalis — ausgewählter Bildschirmschoner", L"Dormalis — 已选为屏幕保护程序",
                  L"Dormalis — protector de pantalla seleccionado", L"Dormalis — salvaschermo selezionato");
    }
    return tr(L"Dormalis — écran de veille non sélectionné", L"Dormalis — screen saver not selected",
              L"Dormalis — Bildschirmschoner nicht ausgewählt", L"Dormalis — 未选为屏幕保护程序",
              L"Dormalis — protector de pantalla no seleccionado", L"Dormalis — salvaschermo non selezionato");
}

}  // namespace dormalis
