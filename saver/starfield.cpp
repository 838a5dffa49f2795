#include "saver/starfield.h"

#include <algorithm>

#include "foundation/settings.h"
#include "foundation/text.h"
#include "foundation/unique.h"

namespace dormalis {

namespace {

constexpr float DepthStepPerSpeed = -0.0013f;
constexpr float MinimumDepth = 0.025f;
constexpr float ProjectionScale = 0.65f;
constexpr float BrightnessBase = 1.3f;
constexpr float BrightnessFloor = 0.15f;
constexpr float BrightnessCeiling = 1.0f;
constexpr float ThickPenDepth = 0.25f;
constexpr float RebornDepth = 1.0f;
constexpr COLORREF OverlayColor = 0x00C3AA96;

float uniform(std::mt19937& random) {
    return static_cast<float>(random()) * 0x1p-32f;
}

// A star in a random direction at the far end of the flight.
Star farStar(std::mt19937& random) {
    return Star{2 * uniform(random) - 1, 2 * uniform(random) - 1, RebornDepth};
}

COLORREF scaled(COLORREF color, float brightness) {
    auto channel = [brightness](BYTE value) { return static_cast<BYTE>(static_cast<float>(value) * brightness); };
    return RGB(channel(GetRValue(color)), channel(GetGValue(color)), channel(GetBValue(color)));
}

struct Projection {
    float scale;
    float centreX;
    float centreY;
};

void drawStreak(HDC dc, const Star& star, float previousDepth, const Projection& view, float px, float py) {
    const float brightness = std::clamp(BrightnessBase - star.z, BrightnessFloor, BrightnessCeiling);
    const COLORREF color = scaled(settings.color, brightness);
    UniquePen pen{CreatePen(PS_SOLID, star.z < ThickPenDepth ? 2 : 1, color)};
    SelectionGuard selected{dc, pen.get()};
    const float qx = star.x * view.scale / previousDepth + view.centreX;
    const float qy = star.y * view.scale / previousDepth + view.centreY;
    MoveToEx(dc, static_cast<int>(qx), static_cast<int>(qy), nullptr);
    LineTo(dc, static_cast<int>(px), static_cast<int>(py));
    SetPixel(dc, static_cast<int>(px), static_cast<int>(py), color);
}

void advanceStars(HDC dc, StarField& field, int width, int height, std::mt19937& random) {
    const Projection view{ProjectionScale * static_cast<float>(std::min(width, height)), static_cast<float>(width / 2),
                          static_cast<float>(height / 2)};
    const float step = static_cast<float>(settings.speed) * DepthStepPerSpeed;
    for (Star& star : field.stars) {
        const float previousDepth = star.z;
        star.z = previousDepth + step;
        if (star.z < MinimumDepth) {
            star = farStar(random);
            continue;
        }
        const float px = star.x * view.scale / star.z + view.centreX;
        const float py = star.y * view.scale / star.z + view.centreY;
        if (px < 0 || py < 0 || px > static_cast<float>(width) || py > static_cast<float>(height)) {
            star = farStar(random);
            continue;
        }
        drawStreak(dc, star, previousDepth, view, px, py);
    }
}

void drawOverlay(HDC dc, const std::wstring& line, int width, int height) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, OverlayColor);
    RECT area{24, height - 60, width - 24, height - 12};
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &area, DT_CENTER | DT_WORDBREAK);
}

}  // namespace

std::wstring overlayLine(const Saver& saver) {
    std::wstring line = L"Dormalis Native  |  Esc";
    if (saver.preview) {
        line += L"  |  " + text("dialog.journey");
    } else if (!saver.suspended) {
        line += L"  |  " + text("saver.networkNotSuspended");
    }
    return line;
}

Star Saver::makeStar() {
    Star star = farStar(random);
    // A new field starts spread through its depth rather than all at the far end.
    star.z = 0.05f + 0.95f * uniform(random);
    return star;
}

void Saver::addField(RECT rect) {
    StarField field{rect, {}};
    field.stars.reserve(static_cast<size_t>(std::max(settings.density, 0)));
    for (int i = 0; i < settings.density; ++i)
        field.stars.push_back(makeStar());
    fields.push_back(std::move(field));
}

void Saver::frame(HDC dc) {
    for (StarField& field : fields) {
        // A preview follows its window's size, so the host may resize it freely.
        if (parent && hwnd) GetClientRect(hwnd, &field.rect);
        const int width = field.rect.right - field.rect.left;
        const int height = field.rect.bottom - field.rect.top;
        if (width <= 0 || height <= 0) continue;

        // Each field is drawn off screen and copied in one transfer, so the unerased window never flickers.
        UniqueDc memory{CreateCompatibleDC(dc)};
        UniqueBitmap bitmap{CreateCompatibleBitmap(dc, width, height)};
        if (!memory || !bitmap) continue;
        SelectionGuard selected{memory.get(), bitmap.get()};
        RECT whole{0, 0, width, height};
        FillRect(memory.get(), &whole, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        if (!field.stars.empty()) advanceStars(memory.get(), field, width, height, random);
        if (!parent) drawOverlay(memory.get(), overlayLine(*this), width, height);
        BitBlt(dc, field.rect.left, field.rect.top, width, height, memory.get(), 0, 0, SRCCOPY);
    }
}

}  // namespace dormalis
