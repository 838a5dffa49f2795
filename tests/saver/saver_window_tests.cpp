#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <thread>

#include "saver/saver.h"
#include "tests/saver/saver_test_support.h"

// Counts how often a watched address is handed back to the allocator, to prove that a preview's state is
// freed exactly once.
namespace {
const void* watchedAddress = nullptr;
int watchedFrees = 0;
void noteFree(void* p) {
    if (p && p == watchedAddress) ++watchedFrees;
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    noteFree(p);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    noteFree(p);
    std::free(p);
}

namespace dormalis {
namespace {

using namespace testing;

constexpr const wchar_t* TestClass = L"Dormalis.Test.SaverWindow";

class SaverWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        useDefaultSettings();
        registerSaverClass(TestClass);
        host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, instance, nullptr);
    }
    void TearDown() override {
        if (IsWindow(host)) DestroyWindow(host);
        takeQuitMessage();
    }

    // A saver window driven by hand: full screen unless a parent is given; the run started `ageMs` ago.
    HWND open(Saver& saver, HWND parent, int testSeconds, std::uint64_t ageMs) {
        saver.parent = parent;
        saver.preview = true;
        saver.testSeconds = testSeconds;
        saver.startTick = GetTickCount64() - ageMs;
        GetCursorPos(&saver.startCursor);
        const DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_POPUP;
        return CreateWindowExW(0, TestClass, L"saver", style, 0, 0, 200, 100, parent, nullptr, instance, &saver);
    }

    // Whether `send` closes a freshly opened saver window of the given kind.
    template <typename Send>
    bool closes(HWND parent, int testSeconds, std::uint64_t ageMs, Send send) {
        Saver saver;
        HWND hwnd = open(saver, parent, testSeconds, ageMs);
        EXPECT_TRUE(hwnd);
        send(hwnd, saver);
        const bool closed = !IsWindow(hwnd);
        if (!closed) DestroyWindow(hwnd);
        takeQuitMessage();
        return closed;
    }

    HWND host = nullptr;
};

void sendMessage(HWND hwnd, UINT message, WPARAM wParam = 0) {
    SendMessageW(hwnd, message, wParam, 0);
}

// Moves the remembered start point instead of the real cursor: the distance is what counts.
void mouseMovedBy(HWND hwnd, Saver& saver, int dx, int dy) {
    POINT cursor{};
    GetCursorPos(&cursor);
    saver.startCursor = POINT{cursor.x - dx, cursor.y - dy};
    sendMessage(hwnd, WM_MOUSEMOVE);
}

TEST_F(SaverWindow, KeysAndButtonsCloseAFullScreenRunAtAnyTimeButNotAHostedOne) {
    for (UINT message : {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
        auto press = [message](HWND hwnd, Saver&) { sendMessage(hwnd, message, VK_SPACE); };
        EXPECT_TRUE(closes(nullptr, 0, 0, press)) << message;
        EXPECT_TRUE(closes(nullptr, 3, 0, press)) << message;
        EXPECT_FALSE(closes(host, 0, 5000, press)) << message;
    }
}

TEST_F(SaverWindow, MouseJitterOfFourPixelsNeverClosesFiveClosesOnlyAfterThreeHundredMs) {
    for (auto [dx, dy] : {std::pair{4, 0}, {0, 4}, {-4, -4}, {4, -4}}) {
        EXPECT_FALSE(closes(nullptr, 0, 5000, [=](HWND h, Saver& s) { mouseMovedBy(h, s, dx, dy); }));
    }
    for (auto [dx, dy] : {std::pair{5, 0}, {0, 5}, {-5, 0}, {0, -5}}) {
        EXPECT_TRUE(closes(nullptr, 0, 400, [=](HWND h, Saver& s) { mouseMovedBy(h, s, dx, dy); }));
        EXPECT_FALSE(closes(nullptr, 0, 0, [=](HWND h, Saver& s) { mouseMovedBy(h, s, dx, dy); }));
    }
    // Timed tests and hosted previews ignore the mouse altogether.
    EXPECT_FALSE(closes(nullptr, 3, 5000, [](HWND h, Saver& s) { mouseMovedBy(h, s, 200, 200); }));
    EXPECT_FALSE(closes(host, 0, 5000, [](HWND h, Saver& s) { mouseMovedBy(h, s, 200, 200); }));
}

TEST_F(SaverWindow, DeactivationClosesOnlyAnUntimedFullScreenRunAfterFiveHundredMs) {
    auto deactivate = [](HWND hwnd, Saver&) { sendMessage(hwnd, WM_ACTIVATE, WA_INACTIVE); };
    auto activate = [](HWND hwnd, Saver&) { sendMessage(hwnd, WM_ACTIVATE, WA_ACTIVE); };
    EXPECT_TRUE(closes(nullptr, 0, 600, deactivate));
    EXPECT_FALSE(closes(nullptr, 0, 0, deactivate));
    EXPECT_FALSE(closes(nullptr, 0, 600, activate));
    EXPECT_FALSE(closes(nullptr, 3, 5000, deactivate));
    EXPECT_FALSE(closes(host, 0, 5000, deactivate));
}

TEST_F(SaverWindow, DisplayChangeClosesEveryRunButTheEmbeddedPreview) {
    auto displayChange = [](HWND hwnd, Saver&) { sendMessage(hwnd, WM_DISPLAYCHANGE, 32); };
    EXPECT_TRUE(closes(nullptr, 0, 0, displayChange));
    EXPECT_TRUE(closes(nullptr, 3, 0, displayChange));
    EXPECT_TRUE(closes(host, 0, 0, displayChange));

    HWND preview = createEmbeddedPreview(host, 0, 0, 100, 50);
    ASSERT_TRUE(preview);
    sendMessage(preview, WM_DISPLAYCHANGE, 32);
    EXPECT_TRUE(IsWindow(preview));
}

TEST_F(SaverWindow, TheTickEndsTimedRunsAndRunsWhoseHostVanished) {
    auto tick = [](HWND hwnd, Saver&) { sendMessage(hwnd, WM_TIMER, FrameTimer); };
    EXPECT_TRUE(closes(nullptr, 1, 1100, tick));
    EXPECT_FALSE(closes(nullptr, 1, 900, tick));
    EXPECT_FALSE(closes(nullptr, 0, 100000, tick));

    Saver saver;
    HWND child = open(saver, host, 0, 0);
    ASSERT_TRUE(child);
    // The host goes but the saver window lives on elsewhere: what the tick checks is the host handle.
    SetParent(child, nullptr);
    DestroyWindow(host);
    sendMessage(child, WM_TIMER, FrameTimer);
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(SaverWindow, ClosingPostsTheQuitMessageExceptForTheEmbeddedPreview) {
    Saver saver;
    HWND hwnd = open(saver, nullptr, 0, 0);
    takeQuitMessage();
    sendMessage(hwnd, WM_CLOSE);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(takeQuitMessage());

    HWND preview = createEmbeddedPreview(host, 0, 0, 100, 50);
    ASSERT_TRUE(preview);
    for (UINT message : {WM_KEYDOWN, WM_LBUTTONDOWN, WM_MOUSEMOVE})
        sendMessage(preview, message);
    sendMessage(preview, WM_ACTIVATE, WA_INACTIVE);
    EXPECT_TRUE(IsWindow(preview)) << "input inside the preview must not close it";
    DestroyWindow(preview);
    EXPECT_FALSE(takeQuitMessage());
}

TEST_F(SaverWindow, WatchdogClosesOnInputAfterFiveHundredMsOnTestTimeAndOnAVanishedHost) {
    struct Case {
        const char* name;
        int testSeconds;
        bool hosted;
        bool inputChanged;
        DWORD earliestMs;
    };
    for (const Case& c : {Case{"input", 0, false, true, 450}, Case{"test time", 1, false, false, 950},
                          Case{"host gone", 0, true, false, 0}}) {
        Saver saver;
        HWND hwnd = open(saver, nullptr, 0, 0);
        UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
        DestroyWindow(gone);
        LASTINPUTINFO input{sizeof(input), 0};
        GetLastInputInfo(&input);
        const ULONGLONG start = GetTickCount64();
        std::thread watcher(watchdog, WatchdogStart{done.get(), c.testSeconds, start, c.hosted ? gone : nullptr,
                                                    input.dwTime + (c.inputChanged ? 1 : 0), hwnd});
        const bool closed = pumpUntil(6000, [&] { return !IsWindow(hwnd); });
        const ULONGLONG took = GetTickCount64() - start;
        SetEvent(done.get());
        watcher.join();
        EXPECT_TRUE(closed) << c.name;
        EXPECT_GE(took, c.earliestMs) << c.name;
        takeQuitMessage();
    }

    // No input and the host still there: no close.
    for (HWND parent : {HWND{}, host}) {
        Saver saver;
        HWND hwnd = open(saver, nullptr, 0, 0);
        UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        LASTINPUTINFO input{sizeof(input), 0};
        GetLastInputInfo(&input);
        std::thread watcher(watchdog, WatchdogStart{done.get(), 0, GetTickCount64(), parent, input.dwTime, hwnd});
        EXPECT_FALSE(pumpUntil(1200, [&] { return !IsWindow(hwnd); }));
        SetEvent(done.get());
        watcher.join();
        DestroyWindow(hwnd);
        takeQuitMessage();
    }
}

TEST_F(SaverWindow, EmbeddedPreviewFollowsTheDensityAtEveryTick) {
    settings.density = 260;
    HWND preview = createEmbeddedPreview(host, 10, 10, 120, 80);
    ASSERT_TRUE(preview);
    auto* saver = reinterpret_cast<Saver*>(GetWindowLongPtrW(preview, GWLP_USERDATA));
    ASSERT_TRUE(saver);
    EXPECT_TRUE(saver->embedded && saver->preview && saver->parent == host);
    ASSERT_EQ(saver->fields.size(), 1u);
    ASSERT_EQ(saver->fields[0].stars.size(), 260u);
    const auto original = saver->fields[0].stars;

    settings.density = 600;
    EXPECT_EQ(saver->fields[0].stars.size(), 260u) << "only the tick resizes";
    sendMessage(preview, WM_TIMER, FrameTimer);
    ASSERT_EQ(saver->fields[0].stars.size(), 600u);
    for (size_t i = 0; i < original.size(); ++i)
        EXPECT_EQ(saver->fields[0].stars[i].x, original[i].x);

    settings.density = 40;
    sendMessage(preview, WM_TIMER, FrameTimer);
    ASSERT_EQ(saver->fields[0].stars.size(), 40u);
    for (size_t i = 0; i < 40; ++i)
        EXPECT_EQ(saver->fields[0].stars[i].x, original[i].x);
    DestroyWindow(preview);
}

TEST_F(SaverWindow, EmbeddedPreviewDrawsWithTheCurrentColourAndFollowsItsWindowSize) {
    settings.density = 600;
    HWND preview = createEmbeddedPreview(host, 0, 0, 0, 80);
    ASSERT_TRUE(preview) << "a collapsed preview still exists";
    Canvas canvas(300, 200, RGB(255, 255, 255));
    sendMessage(preview, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()));
    EXPECT_EQ(canvas.countOther(RECT{0, 0, 300, 200}, RGB(255, 255, 255)), 0) << "nothing drawn at width 0";

    MoveWindow(preview, 0, 0, 200, 100, FALSE);
    settings.color = RGB(0, 255, 0);
    for (int i = 0; i < 5; ++i)
        sendMessage(preview, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()));
    EXPECT_EQ(canvas.at(250, 150), RGB(255, 255, 255)) << "drawn outside its window";
    int green = 0, other = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            const COLORREF c = canvas.at(x, y);
            if (c == RGB(0, 0, 0)) continue;
            (GetRValue(c) == 0 && GetBValue(c) == 0 ? green : other)++;
        }
    }
    EXPECT_GT(green, 50);
    EXPECT_EQ(other, 0) << "no overlay text, no old colour";
    DestroyWindow(preview);
}

TEST_F(SaverWindow, DestroyingTheHostFreesThePreviewOnceAndKeepsTheLoopRunning) {
    HWND preview = createEmbeddedPreview(host, 0, 0, 100, 50);
    ASSERT_TRUE(preview);
    watchedAddress = reinterpret_cast<void*>(GetWindowLongPtrW(preview, GWLP_USERDATA));
    watchedFrees = 0;
    DestroyWindow(host);
    EXPECT_FALSE(IsWindow(preview));
    EXPECT_EQ(watchedFrees, 1);
    EXPECT_FALSE(takeQuitMessage()) << "the host's loop must go on";
    watchedAddress = nullptr;

    EXPECT_EQ(createEmbeddedPreview(host, 0, 0, 100, 50), nullptr) << "no host, no preview";
}

TEST_F(SaverWindow, ATimedFullScreenRunEndsByItselfAndLeavesTheLoopClean) {
    settings.displays = 1;
    const ULONGLONG start = GetTickCount64();
    runSaver(nullptr, true, 1);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 6000u);
    EXPECT_EQ(FindWindowW(L"Dormalis.Native.Saver", nullptr), nullptr);
}

}  // namespace
}  // namespace dormalis
