#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <new>
#include <thread>

#include "saver/saver.h"
#include "tests/saver/saver_test_support.h"

// Counts how often a watched address is handed back to the allocator, to prove that a preview's state is
// freed exactly once.
namespace {
const void* watchedAddress = nullptr;
int watchedFrees = 0;
}  // namespace
void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    watchedFrees += p && p == watchedAddress;
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    watchedFrees += p && p == watchedAddress;
    std::free(p);
}

namespace dormalis {
namespace {

using namespace testing;

enum Kind { FullScreen, TimedTest, HostedPreview, SettingsPreview };
constexpr const char* KindNames[] = {"full screen", "timed test", "hosted preview", "settings preview"};

class SaverWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        useDefaultSettings();
        registerSaverClass(L"Dormalis.Test.SaverWindow");
        host.reset(
            CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, instance, nullptr));
    }
    void TearDown() override { takeQuitMessage(); }

    // A saver window of the given kind whose run started `ageMs` ago; `own` holds the state unless the
    // settings preview owns it.
    HWND open(Kind kind, Saver& own, std::uint64_t ageMs) {
        HWND hwnd = nullptr;
        if (kind == SettingsPreview) {
            hwnd = createEmbeddedPreview(host.get(), 0, 0, 100, 50);
        } else {
            own.parent = kind == HostedPreview ? host.get() : nullptr;
            own.testSeconds = kind == TimedTest ? 3 : 0;
            GetCursorPos(&own.startCursor);
            hwnd = CreateWindowExW(0, L"Dormalis.Test.SaverWindow", L"saver", own.parent ? WS_CHILD : WS_POPUP, 0, 0,
                                   200, 100, own.parent, nullptr, instance, &own);
        }
        reinterpret_cast<Saver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))->startTick = GetTickCount64() - ageMs;
        return hwnd;
    }

    UniqueWindow host;
};

HWND underTest = nullptr;
void send(UINT message, WPARAM wParam = 0) {
    SendMessageW(underTest, message, wParam, 0);
}

// Moves the remembered start point instead of the real cursor: the distance is what counts.
void mouseMovedBy(Saver& saver, int distance) {
    POINT cursor{};
    GetCursorPos(&cursor);
    saver.startCursor = POINT{cursor.x - distance, cursor.y + distance / 2};
    send(WM_MOUSEMOVE);
}

TEST_F(SaverWindow, EachKindOfRunEndsExactlyOnItsOwnTriggers) {
    struct Row {
        const char* trigger;
        std::uint64_t ageMs;
        std::function<void(Saver&)> act;
        std::array<bool, 4> closes;  // full screen, timed test, hosted preview, settings preview
    };
    const Row rows[] = {
        {"key", 0, [](Saver&) { send(WM_KEYDOWN, VK_SPACE); }, {1, 1, 0, 0}},
        {"system key", 0, [](Saver&) { send(WM_SYSKEYDOWN, VK_MENU); }, {1, 1, 0, 0}},
        {"left button", 0, [](Saver&) { send(WM_LBUTTONDOWN); }, {1, 1, 0, 0}},
        {"right button", 0, [](Saver&) { send(WM_RBUTTONDOWN); }, {1, 1, 0, 0}},
        {"middle button", 0, [](Saver&) { send(WM_MBUTTONDOWN); }, {1, 1, 0, 0}},
        {"mouse jitter of 4 px", 5000, [](Saver& s) { mouseMovedBy(s, 4); }, {0, 0, 0, 0}},
        {"mouse moved 5 px", 400, [](Saver& s) { mouseMovedBy(s, 5); }, {1, 0, 0, 0}},
        {"mouse moved 5 px at once", 0, [](Saver& s) { mouseMovedBy(s, 5); }, {0, 0, 0, 0}},
        {"mouse moved 5 px backwards", 400, [](Saver& s) { mouseMovedBy(s, -5); }, {1, 0, 0, 0}},
        {"deactivated", 600, [](Saver&) { send(WM_ACTIVATE, WA_INACTIVE); }, {1, 0, 0, 0}},
        {"deactivated at once", 0, [](Saver&) { send(WM_ACTIVATE, WA_INACTIVE); }, {0, 0, 0, 0}},
        {"activated", 600, [](Saver&) { send(WM_ACTIVATE, WA_ACTIVE); }, {0, 0, 0, 0}},
        {"display change", 0, [](Saver&) { send(WM_DISPLAYCHANGE, 32); }, {1, 1, 1, 0}},
        {"tick before the test time", 2900, [](Saver&) { send(WM_TIMER, FrameTimer); }, {0, 0, 0, 0}},
        {"tick after the test time", 3100, [](Saver&) { send(WM_TIMER, FrameTimer); }, {0, 1, 0, 0}},
        {"tick with the host gone",
         0,
         [](Saver& s) {
             // The saver window lives on elsewhere: what the tick checks is the host handle.
             if (s.parent) SetParent(underTest, nullptr), DestroyWindow(s.parent);
             send(WM_TIMER, FrameTimer);
         },
         {0, 0, 1, 1}},
        {"close", 0, [](Saver&) { send(WM_CLOSE); }, {1, 1, 1, 1}},
    };
    for (const Row& row : rows) {
        for (Kind kind : {FullScreen, TimedTest, HostedPreview, SettingsPreview}) {
            SetUp();
            Saver own;
            underTest = open(kind, own, row.ageMs);
            ASSERT_TRUE(underTest);
            row.act(*reinterpret_cast<Saver*>(GetWindowLongPtrW(underTest, GWLP_USERDATA)));
            const bool closed = !IsWindow(underTest);
            EXPECT_EQ(closed, row.closes[kind]) << row.trigger << ", " << KindNames[kind];
            if (!closed) DestroyWindow(underTest);
            EXPECT_EQ(takeQuitMessage(), kind != SettingsPreview) << "only a run of its own ends its loop";
        }
    }
}

TEST_F(SaverWindow, WatchdogClosesOnInputAfterTheGraceOnTestTimeAndOnAVanishedHost) {
    UniqueWindow gone{CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr)};
    HWND goneHost = gone.get();
    gone.reset();
    struct Row {
        const char* name;
        int testSeconds;
        HWND parent;
        bool input;
        ULONGLONG earliest, latest;  // 0: never closes
    } rows[] = {{"input", 0, nullptr, true, 500, 900},
                {"test time", 1, nullptr, false, 1000, 1400},
                {"host gone", 0, goneHost, false, 100, 400},
                {"no input", 0, nullptr, false, 0, 0},
                {"host still there", 0, host.get(), false, 0, 0}};
    // Each run's loop ends as its window goes, and then tells its watchdog, as a real run does.
    Saver savers[5];
    HWND windows[5];
    UniqueHandle done[5];
    ULONGLONG closedAt[5] = {};
    std::vector<std::thread> watchers;
    LASTINPUTINFO input{sizeof(input), 0};
    GetLastInputInfo(&input);
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 5; ++i) {
        windows[i] = open(FullScreen, savers[i], 0);
        done[i].reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        watchers.emplace_back(watchdog, WatchdogStart{done[i].get(), rows[i].testSeconds, start, rows[i].parent,
                                                      input.dwTime - rows[i].input, windows[i]});
    }
    pumpUntil(1600, [&] {
        for (int i = 0; i < 5; ++i)
            if (!closedAt[i] && !IsWindow(windows[i])) closedAt[i] = GetTickCount64() - start, SetEvent(done[i].get());
        return false;
    });
    for (int i = 0; i < 5; ++i) {
        SetEvent(done[i].get());
        watchers[i].join();
        EXPECT_GE(closedAt[i], rows[i].earliest) << rows[i].name;
        EXPECT_LE(closedAt[i], rows[i].latest) << rows[i].name;
        if (IsWindow(windows[i])) DestroyWindow(windows[i]);
    }
}

TEST_F(SaverWindow, SettingsPreviewFollowsDensityColourAndSizeAndIsFreedOnceWithItsHost) {
    settings.density = 260;
    HWND preview = createEmbeddedPreview(host.get(), 0, 0, 0, 80);
    ASSERT_TRUE(preview) << "a collapsed preview still exists";
    auto& stars = reinterpret_cast<Saver*>(GetWindowLongPtrW(preview, GWLP_USERDATA))->fields.at(0).stars;
    const auto original = stars;
    for (int density : {600, 40}) {
        settings.density = density;
        SendMessageW(preview, WM_TIMER, FrameTimer, 0);
        ASSERT_EQ(stars.size(), static_cast<size_t>(density)) << "the next tick resizes";
        for (size_t i = 0; i < std::min<size_t>(density, 260); ++i)
            EXPECT_EQ(stars[i].x, original[i].x) << "the stars it had stay";
    }

    Canvas canvas(300, 200, RGB(255, 255, 255));
    SendMessageW(preview, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()), 0);
    EXPECT_EQ(canvas.countOther(RECT{0, 0, 300, 200}, RGB(255, 255, 255)), 0) << "nothing drawn at width 0";
    MoveWindow(preview, 0, 0, 200, 100, FALSE);
    settings.density = 600;
    settings.color = RGB(0, 255, 0);
    for (int i = 0; i < 5; ++i)
        SendMessageW(preview, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()), 0);
    EXPECT_EQ(canvas.countOther(RECT{0, 0, 300, 200}, RGB(255, 255, 255)), 200 * 100) << "drawn to its new size";
    EXPECT_GT(canvas.countOther(RECT{0, 0, 200, 100}, RGB(0, 0, 0)), 50);
    EXPECT_EQ(canvas.count(RECT{0, 0, 200, 100}, [](COLORREF c) { return GetRValue(c) || GetBValue(c); }), 0)
        << "no overlay text, no old colour";

    watchedAddress = reinterpret_cast<void*>(GetWindowLongPtrW(preview, GWLP_USERDATA));
    watchedFrees = 0;
    host.reset();
    EXPECT_FALSE(IsWindow(preview));
    EXPECT_EQ(watchedFrees, 1);
    EXPECT_FALSE(takeQuitMessage()) << "the host's loop must go on";
    watchedAddress = nullptr;
    EXPECT_EQ(createEmbeddedPreview(nullptr, 0, 0, 100, 50), nullptr) << "no host, no preview";
}

}  // namespace
}  // namespace dormalis
