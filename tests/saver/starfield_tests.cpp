#include <gtest/gtest.h>

#include <cmath>

#include "foundation/text.h"
#include "tests/saver/saver_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

constexpr COLORREF Black = RGB(0, 0, 0);

class Starfield : public ::testing::Test {
  protected:
    void SetUp() override { useDefaultSettings(); }
};

// The stars area of a field: above the overlay band.
RECT skyOf(RECT field) {
    return RECT{field.left, field.top, field.right, field.bottom - 60};
}

TEST_F(Starfield, FieldsDrawOnlyInsideThemselvesAndStarsKeepTheirRanges) {
    struct Case {
        RECT field;
        int density;
        int speed;
    };
    const COLORREF outside = RGB(1, 2, 3);
    for (const Case& c : {Case{{0, 0, 640, 400}, 600, 12}, Case{{100, 50, 420, 250}, 40, 1},
                          Case{{200, 100, 200, 300}, 260, 5}, Case{{0, 300, 640, 299}, 260, 5}}) {
        settings.density = c.density;
        settings.speed = c.speed;
        Canvas canvas(640, 400, outside);
        Saver saver;
        saver.addField(c.field);
        const auto first = saver.fields[0].stars;
        const int area = std::max(0L, c.field.right - c.field.left) * std::max(0L, c.field.bottom - c.field.top);
        int lit = 0;
        for (int frame = 0; frame < 60; ++frame) {
            saver.frame(canvas.dc.get());
            lit = std::max(lit, canvas.countOther(skyOf(c.field), Black));
            for (const Star& star : saver.fields[0].stars) {
                ASSERT_LE(std::abs(star.x), 1.0f);
                ASSERT_LE(std::abs(star.y), 1.0f);
                ASSERT_GE(star.z, 0.025f);
                ASSERT_LE(star.z, 1.0f);
            }
        }
        EXPECT_EQ(canvas.countOther(RECT{0, 0, 640, 400}, outside), area) << "drawn beside its field";
        EXPECT_EQ(lit > 0, area > 0) << "stars in a field with an area, none in one without";
        EXPECT_TRUE(area > 0 || saver.fields[0].stars[7].z == first[7].z) << "stars of an empty field stand still";
    }
}

TEST_F(Starfield, AStarTooNearOrOutsideIsRebornFarAwayInANewDirectionAndNotDrawn) {
    for (const Star& start : {Star{0.01f, 0.01f, 0.03f}, Star{0.9f, 0.0f, 0.3f}}) {
        Canvas canvas(640, 480);
        Saver saver;
        saver.fields.push_back(StarField{RECT{0, 0, 640, 480}, {start}});
        saver.frame(canvas.dc.get());
        const Star& star = saver.fields[0].stars[0];
        EXPECT_EQ(star.z, 1.0f);
        EXPECT_NE(star.x, start.x);
        EXPECT_EQ(canvas.countOther(skyOf(RECT{0, 0, 640, 480}), Black), 0);
    }
}

TEST_F(Starfield, AFasterSettingBringsStarsNearerInProportion) {
    auto stepAt = [](int speed) {
        settings.speed = speed;
        Canvas canvas(100, 100);
        Saver saver;
        saver.fields.push_back(StarField{RECT{0, 0, 100, 100}, {Star{0, 0, 0.9f}}});
        saver.frame(canvas.dc.get());
        return 0.9f - saver.fields[0].stars[0].z;
    };
    EXPECT_GT(stepAt(1), 0.0f);
    EXPECT_NEAR(stepAt(12) / stepAt(1), 12.0f, 0.01f);
}

TEST_F(Starfield, NearerStarsAreBrighterUpToTheFullColourAndNeverBeyondIt) {
    settings.speed = 1;
    for (COLORREF color : {RGB(200, 228, 255), RGB(255, 0, 0), RGB(10, 200, 30)}) {
        settings.color = color;
        int previous = -1;
        for (float depth : {1.0f, 0.7f, 0.45f, 0.29f, 0.1f}) {
            Canvas canvas(400, 400);
            Saver saver;
            saver.fields.push_back(StarField{RECT{0, 0, 400, 400}, {Star{0, 0, depth}}});
            saver.frame(canvas.dc.get());
            const COLORREF drawn = canvas.at(200, 200);  // a star flying straight ahead stays at the centre
            EXPECT_LE(GetRValue(drawn), GetRValue(color));
            EXPECT_LE(GetGValue(drawn), GetGValue(color));
            EXPECT_LE(GetBValue(drawn), GetBValue(color));
            const int brightest = std::max({GetRValue(drawn), GetGValue(drawn), GetBValue(drawn)});
            EXPECT_GE(brightest, previous) << depth;
            previous = brightest;
            EXPECT_TRUE(depth < 1.0f || (brightest > 0 && brightest < 128)) << "the farthest stars: dim but visible";
            EXPECT_TRUE(depth > 0.3f || drawn == color) << "near stars in the full colour";
        }
    }
}

TEST_F(Starfield, OnlyNearStarsDrawTwoPixelWideStreaks) {
    settings.speed = 12;
    for (auto [depth, width] : {std::pair{0.2f, 2}, {0.4f, 1}}) {
        Canvas canvas(1000, 1000);
        Saver saver;
        saver.fields.push_back(StarField{RECT{0, 0, 1000, 1000}, {Star{0.1f, 0.0f, depth}}});
        saver.frame(canvas.dc.get());
        int widest = 0;
        for (int x = 0; x < 1000; ++x)
            widest = std::max(widest, canvas.countOther(RECT{x, 0, x + 1, 900}, Black));
        EXPECT_EQ(widest, width) << depth;
    }
}

TEST_F(Starfield, EveryFieldFliesFromItsOwnCentreAndCarriesItsOwnLine) {
    const RECT left{0, 0, 800, 480}, right{800, 0, 1600, 480};
    Canvas canvas(1600, 480);
    Saver saver;
    saver.preview = false;
    saver.fields.push_back(StarField{left, {Star{0.2f, -0.2f, 0.5f}}});   // up and right
    saver.fields.push_back(StarField{right, {Star{-0.2f, 0.2f, 0.5f}}});  // down and left
    saver.frame(canvas.dc.get());
    for (auto [sky, quarter] : {std::pair{RECT{0, 0, 800, 420}, RECT{400, 0, 800, 240}},
                                {RECT{800, 0, 1600, 420}, RECT{800, 240, 1200, 420}}}) {
        EXPECT_GT(canvas.countOther(quarter, Black), 0);
        EXPECT_EQ(canvas.countOther(sky, Black), canvas.countOther(quarter, Black));
    }
    for (RECT field : {left, right}) {
        const auto span = canvas.span(overlayBand(field), OverlayColor);
        ASSERT_GE(span.first, 0);
        EXPECT_NEAR((span.first + span.second) / 2.0, (field.left + field.right) / 2.0, 12);
        EXPECT_NEAR(span.second - span.first + 1, textWidth(overlayLine(saver)), 24);
    }
}

TEST_F(Starfield, TheLineWarnsExactlyWhileTheNetworkIsNotCutAndIsNeverDrawnInAHost) {
    struct Case {
        bool preview, suspended, hosted, warning;
    };
    const std::wstring warningText = text("saver.networkNotSuspended");
    const RECT whole{0, 0, 800, 300};
    UniqueWindow host{
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 300, nullptr, nullptr, instance, nullptr)};
    for (const Case& c : {Case{false, false, false, true}, Case{false, true, false, false},
                          Case{true, false, false, false}, Case{true, false, true, false}}) {
        Saver saver;
        saver.preview = c.preview;
        saver.suspended = c.suspended;
        if (c.hosted) saver.hwnd = host.get(), saver.parent = GetDesktopWindow();
        saver.fields.push_back(StarField{whole, {}});
        Canvas canvas(800, 300);
        saver.frame(canvas.dc.get());
        EXPECT_EQ(overlayLine(saver).find(warningText) != std::wstring::npos, c.warning);
        const auto span = canvas.span(overlayBand(whole), OverlayColor);
        if (c.hosted) {
            EXPECT_EQ(canvas.countOther(whole, Black), 0) << "no text in a host";
        } else {
            EXPECT_NEAR(span.second - span.first + 1, textWidth(overlayLine(saver)), 24);
        }
    }
}

}  // namespace
}  // namespace dormalis
