#include <gtest/gtest.h>

#include <cmath>

#include "foundation/text.h"
#include "tests/saver/saver_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr COLORREF OverlayColor = RGB(150, 170, 195);
constexpr RECT FullHd{0, 0, 1920, 1080};

class Starfield : public ::testing::Test {
  protected:
    void SetUp() override { useDefaultSettings(); }
};

float uniformOf(std::uint32_t r) {
    return static_cast<float>(r) * 0x1p-32f;
}

// A depth from which one frame at `speed` lands exactly on `target`, so the expected figures are exact.
float depthBefore(float target, int speed) {
    const float step = static_cast<float>(speed) * -0.0013f;
    float z = target - step;
    while (z + step > target)
        z = std::nextafter(z, 0.0f);
    while (z + step < target)
        z = std::nextafter(z, 2.0f);
    return z;
}

Saver& oneStar(Saver& saver, RECT rect, Star star) {
    saver.fields.push_back(StarField{rect, {star}});
    return saver;
}

RECT overlayArea(int width, int height) {
    return RECT{24, height - 60, width - 24, height - 12};
}

TEST_F(Starfield, AddFieldMakesDensityStarsFromThreeDrawsEach) {
    settings.density = 300;
    Saver saver;
    saver.random.seed(1234);
    std::mt19937 expected(1234);
    saver.addField(RECT{10, 20, 110, 220});
    ASSERT_EQ(saver.fields.size(), 1u);
    EXPECT_EQ(saver.fields[0].rect.left, 10);
    EXPECT_EQ(saver.fields[0].rect.bottom, 220);
    ASSERT_EQ(saver.fields[0].stars.size(), 300u);
    for (const Star& star : saver.fields[0].stars) {
        EXPECT_EQ(star.x, 2 * uniformOf(expected()) - 1);
        EXPECT_EQ(star.y, 2 * uniformOf(expected()) - 1);
        EXPECT_EQ(star.z, 0.05f + 0.95f * uniformOf(expected()));
        EXPECT_GE(star.z, 0.05f);
        EXPECT_LE(star.z, 1.0f);
    }
}

TEST_F(Starfield, DepthDropsBySpeedTimesStepAndARebornStarLivesOneHundredFiftyFrames) {
    Canvas canvas(640, 480);
    for (int speed : {1, 5, 12}) {
        settings.speed = speed;
        Saver saver;
        oneStar(saver, RECT{0, 0, 640, 480}, Star{0, 0, 0.9f});
        saver.frame(canvas.dc.get());
        EXPECT_FLOAT_EQ(saver.fields[0].stars[0].z, 0.9f - 0.0013f * static_cast<float>(speed)) << speed;
    }

    // A star flying straight at the centre never leaves the field: only depth ends its life.
    settings.speed = 5;
    Saver saver;
    oneStar(saver, RECT{0, 0, 640, 480}, Star{0, 0, 1.0f});
    int frames = 0;
    do {
        saver.fields[0].stars[0].x = saver.fields[0].stars[0].y = 0;
        saver.frame(canvas.dc.get());
        ++frames;
    } while (saver.fields[0].stars[0].z < 1.0f && frames < 1000);
    EXPECT_EQ(frames, 150);
}

TEST_F(Starfield, AStarBelowTheMinimumDepthIsRebornFarAwayInANewDirectionAndNotDrawn) {
    Canvas canvas(640, 480);
    Saver saver;
    saver.preview = true;
    saver.random.seed(99);
    std::mt19937 expected(99);
    oneStar(saver, RECT{0, 0, 640, 480}, Star{0.01f, 0.01f, 0.03f});
    saver.frame(canvas.dc.get());
    const Star& star = saver.fields[0].stars[0];
    EXPECT_EQ(star.z, 1.0f);
    EXPECT_EQ(star.x, 2 * uniformOf(expected()) - 1);
    EXPECT_EQ(star.y, 2 * uniformOf(expected()) - 1);
    EXPECT_EQ(canvas.countOther(RECT{0, 0, 640, 480 - 60}, RGB(0, 0, 0)), 0);

    // Leaving the field is a rebirth too, in the same frame.
    Saver leaving;
    oneStar(leaving, RECT{0, 0, 640, 480}, Star{0.9f, 0.0f, 0.3f});
    canvas.fill(RGB(0, 0, 0));
    leaving.frame(canvas.dc.get());
    EXPECT_EQ(leaving.fields[0].stars[0].z, 1.0f);
    EXPECT_NE(leaving.fields[0].stars[0].x, 0.9f);
    EXPECT_EQ(canvas.countOther(RECT{0, 0, 640, 480 - 60}, RGB(0, 0, 0)), 0);
}

TEST_F(Starfield, ProjectionOfAFullHdFieldPutsTheStarAtItsPixelInItsColour) {
    settings.speed = 5;
    Canvas canvas(1920, 1080);
    Saver saver;
    oneStar(saver, FullHd, Star{0.5f, 0.0f, depthBefore(0.5f, 5)});
    saver.frame(canvas.dc.get());
    ASSERT_EQ(saver.fields[0].stars[0].z, 0.5f);
    // Scale 702, centre (960, 540): 0.5 × 702 / 0.5 + 960 = 1662. Brightness 1.3 − 0.5 is just under 0.8 in
    // 32-bit floats, so 0x00FFE4C8 truncates to 159, 182, 203.
    const COLORREF expected = RGB(159, 182, 203);
    EXPECT_EQ(canvas.at(1662, 540), expected);
    EXPECT_EQ(canvas.at(1655, 540), expected) << "the streak from the previous position";
    EXPECT_EQ(canvas.at(1670, 540), RGB(0, 0, 0));
    EXPECT_EQ(canvas.at(1662, 545), RGB(0, 0, 0));
}

TEST_F(Starfield, BrightnessAndColourAreTruncatedTowardsZero) {
    Canvas canvas(400, 400);
    {
        // Brightness exactly 0.5 of the default colour: 127.5 becomes 127.
        settings.speed = 5;
        Saver saver;
        oneStar(saver, RECT{0, 0, 400, 400}, Star{0, 0, depthBefore(1.3f - 0.5f, 5)});
        saver.frame(canvas.dc.get());
        EXPECT_EQ(canvas.at(200, 200), RGB(100, 114, 127));
    }
    {
        // The farthest stars: pure red at speed 1, just reborn, is drawn at red 76.
        settings.speed = 1;
        settings.color = 0x000000FF;
        Saver saver;
        oneStar(saver, RECT{0, 0, 400, 400}, Star{0, 0, 1.0f});
        saver.frame(canvas.dc.get());
        EXPECT_EQ(canvas.at(200, 200), RGB(76, 0, 0));
    }
    {
        // Nearer than 0.3 the colour is full.
        settings.color = RGB(10, 200, 30);
        Saver saver;
        oneStar(saver, RECT{0, 0, 400, 400}, Star{0, 0, 0.2f});
        saver.frame(canvas.dc.get());
        EXPECT_EQ(canvas.at(200, 200), RGB(10, 200, 30));
    }
}

TEST_F(Starfield, StreaksAreTwoPixelsWideOnlyBelowAQuarterDepth) {
    settings.speed = 12;
    auto rowsCrossed = [](float depth) {
        Canvas canvas(1000, 1000);
        Saver saver;
        oneStar(saver, RECT{0, 0, 1000, 1000}, Star{0.1f, 0.0f, depth});
        saver.frame(canvas.dc.get());
        const float z1 = depth - 12 * 0.0013f;
        const int middle = static_cast<int>((0.1f * 650 / z1 + 0.1f * 650 / depth) / 2) + 500;
        return canvas.countOther(RECT{middle, 490, middle + 1, 510}, RGB(0, 0, 0));
    };
    EXPECT_EQ(rowsCrossed(0.24f), 2);
    EXPECT_EQ(rowsCrossed(0.30f), 1);
}

TEST_F(Starfield, OverlayLineHasThreeFormsAndIsNeverDrawnInPreviewWindows) {
    Saver saver;
    saver.preview = true;
    EXPECT_EQ(overlayLine(saver), L"Dormalis Native  |  Esc  |  Journey through space");
    saver.preview = false;
    EXPECT_EQ(overlayLine(saver), L"Dormalis Native  |  Esc  |  " + text("saver.networkNotSuspended"));
    saver.suspended = true;
    EXPECT_EQ(overlayLine(saver), L"Dormalis Native  |  Esc");

    // Drawn: the warning makes the line wider than the bare one, centred in the same field.
    auto drawnSpan = [](bool suspended) {
        Canvas canvas(1920, 1080);
        Saver full;
        full.preview = false;
        full.suspended = suspended;
        full.fields.push_back(StarField{FullHd, {}});
        full.frame(canvas.dc.get());
        return canvas.span(overlayArea(1920, 1080), OverlayColor);
    };
    const auto warning = drawnSpan(false);
    const auto bare = drawnSpan(true);
    ASSERT_GE(bare.first, 0) << "no overlay text drawn";
    EXPECT_LT(warning.first, bare.first - 100);
    EXPECT_GT(warning.second, bare.second + 100);
    EXPECT_NEAR((warning.first + warning.second) / 2.0, 960, 12);

    // A preview inside a host window draws stars but no text.
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1920, 1080, nullptr, nullptr, instance, nullptr);
    ASSERT_TRUE(window);
    Canvas canvas(1920, 1080);
    Saver hosted;
    hosted.hwnd = window;
    hosted.parent = GetDesktopWindow();
    hosted.fields.push_back(StarField{FullHd, {}});
    hosted.frame(canvas.dc.get());
    EXPECT_EQ(canvas.countOther(FullHd, RGB(0, 0, 0)), 0);
    DestroyWindow(window);
}

TEST_F(Starfield, EveryFieldHasItsOwnCentreAndOverlayAtItsOwnPlace) {
    Canvas canvas(1280, 480);
    Saver saver;
    saver.preview = false;
    saver.fields.push_back(StarField{RECT{0, 0, 640, 480}, {Star{0, 0, 0.5f}}});
    saver.fields.push_back(StarField{RECT{640, 0, 1280, 480}, {Star{0, 0, 0.5f}}});
    saver.frame(canvas.dc.get());
    EXPECT_NE(canvas.at(320, 240), RGB(0, 0, 0));
    EXPECT_NE(canvas.at(960, 240), RGB(0, 0, 0));
    const auto left = canvas.span(RECT{0, 420, 640, 468}, OverlayColor);
    const auto right = canvas.span(RECT{640, 420, 1280, 468}, OverlayColor);
    ASSERT_GE(left.first, 0);
    ASSERT_GE(right.first, 0);
    EXPECT_EQ(right.first - left.first, 640);
}

TEST_F(Starfield, AFieldWithoutWidthOrHeightDrawsNothingAndKeepsItsStars) {
    Canvas canvas(200, 200, RGB(255, 255, 255));
    Saver saver;
    saver.preview = false;
    saver.random.seed(5);
    saver.addField(RECT{0, 0, 0, 200});
    saver.addField(RECT{0, 0, 200, -1});
    const auto before = saver.fields[0].stars;
    saver.frame(canvas.dc.get());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(saver.fields[0].stars[i].z, before[i].z);
    EXPECT_EQ(canvas.countOther(RECT{0, 0, 200, 200}, RGB(255, 255, 255)), 0);
}

TEST_F(Starfield, TheSameSeedGivesTheSameFrames) {
    settings.density = 600;
    auto render = [](std::uint32_t seed) {
        Saver saver;
        saver.preview = true;
        saver.random.seed(seed);
        saver.addField(RECT{0, 0, 320, 200});
        Canvas canvas(320, 200);
        std::vector<std::uint32_t> pixels;
        for (int frame = 0; frame < 40; ++frame)
            saver.frame(canvas.dc.get());
        GdiFlush();
        pixels.assign(canvas.bits, canvas.bits + 320 * 200);
        return pixels;
    };
    const auto first = render(7);
    EXPECT_EQ(first, render(7));
    EXPECT_NE(first, render(8));
}

}  // namespace
}  // namespace dormalis
