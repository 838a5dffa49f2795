#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "foundation/settings.h"
#include "saver/saver.h"
#include "saver/starfield.h"
#include "tests/saver/pipe_server.h"
#include "tests/saver/saver_test_support.h"

// Renderer, window rules, settings preview and pipe client against real GDI, windows and the stand-in service's pipe.
namespace dormalis {
namespace {

using namespace testing;

TEST(Starfield, FieldsDrawOnlyInsideThemselvesAndStarsKeepTheirRanges) {
    for (auto [field, density, speed] : {std::tuple{RECT{0, 0, 640, 400}, 600, 12},
                                         {RECT{100, 50, 420, 250}, 40, 1},
                                         {RECT{200, 100, 200, 50}, 260, 5}}) {
        settings = Settings{0, density, speed};
        Canvas canvas(640, 400, 0x010203);
        Saver saver;
        saver.addField(field);
        const auto first = saver.fields[0].stars;
        const int area = std::max(0L, field.right - field.left) * std::max(0L, field.bottom - field.top);
        int stars = 0;
        for (int frame = 0; frame < 60; ++frame) {
            saver.frame(canvas.dc.get());
            stars = std::max(stars, canvas.count(RECT{field.left, field.top, field.right, field.bottom - 60}));
            for (const Star& star : saver.fields[0].stars)
                ASSERT_TRUE(std::abs(star.x) <= 1 && std::abs(star.y) <= 1 && star.z >= 0.025f && star.z <= 1);
        }
        EXPECT_EQ(canvas.count(RECT{0, 0, 640, 400}, [](COLORREF c) { return c != RGB(1, 2, 3); }), area);
        EXPECT_EQ(stars > 0, area > 0) << "stars in a field with an area, none in one without";
        EXPECT_TRUE(area > 0 || saver.fields[0].stars[7].z == first[7].z) << "stars of an empty field stand still";
    }
}

bool takeQuitMessage() {  // the one a destroyed saver window posts, so one case does not end another's loop
    MSG quit;
    return PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

enum Kind { FullScreen, TimedTest, HostedPreview, SettingsPreview };

struct SaverWindow : ::testing::Test {
    Unique<HWND, &DestroyWindow> host;
    std::unique_ptr<Saver> own;  // the state of a run of one's own; a settings preview owns its state
    HWND window = nullptr;

    void SetUp() override { instance = GetModuleHandleW(nullptr), settings = Settings{}; }
    void TearDown() override { takeQuitMessage(); }
    Saver& state() { return *reinterpret_cast<Saver*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }
    // A saver window of the given kind whose run started `ageMs` ago.
    void open(Kind kind, std::uint64_t ageMs) {
        registerSaverClass(L"Dormalis.Test.SaverWindow");
        host.reset(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, instance, nullptr));
        own = std::make_unique<Saver>();
        own->parent = kind == HostedPreview ? host.get() : nullptr;
        own->testSeconds = kind == TimedTest ? 3 : 0;
        window = kind == SettingsPreview
                     ? createEmbeddedPreview(host.get(), 0, 0, 100, 50)
                     : CreateWindowExW(0, L"Dormalis.Test.SaverWindow", L"", own->parent ? WS_CHILD : WS_POPUP, 0, 0,
                                       200, 100, own->parent, nullptr, instance, own.get());
        state().startTick = GetTickCount64() - ageMs;
    }
};

TEST_F(SaverWindow, EachKindOfRunEndsExactlyOnItsOwnTriggers) {
    constexpr int HostGone = -1;
    const struct {
        std::uint64_t ageMs;
        UINT message;
        WPARAM wParam;
        int moved;           // mouse: pixels from the start point; HostGone: the host goes first
        const char* closes;  // '1' where it closes: full screen, timed test, hosted preview, settings preview
    } rows[] = {             // clang-format off
        {0, WM_KEYDOWN, VK_SPACE, 0, "1100"},   {0, WM_LBUTTONDOWN, 0, 0, "1100"},  {0, WM_RBUTTONDOWN, 0, 0, "1100"},
        {0, WM_SYSKEYDOWN, VK_MENU, 0, "1100"}, {0, WM_MBUTTONDOWN, 0, 0, "1100"},  {5000, WM_MOUSEMOVE, 0, 4, "0000"},
        {400, WM_MOUSEMOVE, 0, 5, "1000"},      {400, WM_MOUSEMOVE, 0, -5, "1000"}, {0, WM_MOUSEMOVE, 0, 5, "0000"},
        {600, WM_ACTIVATE, WA_INACTIVE, 0, "1000"}, {0, WM_DISPLAYCHANGE, 32, 0, "1110"}, {0, WM_CLOSE, 0, 0, "1111"},
        {0, WM_ACTIVATE, WA_INACTIVE, 0, "0000"}, {600, WM_ACTIVATE, WA_ACTIVE, 0, "0000"},
        {2900, WM_TIMER, FrameTimer, 0, "0000"},  {3100, WM_TIMER, FrameTimer, 0, "0100"},
        {0, WM_TIMER, FrameTimer, HostGone, "0011"}};
    // clang-format on
    for (const auto& row : rows) {
        for (Kind kind : {FullScreen, TimedTest, HostedPreview, SettingsPreview}) {
            open(kind, row.ageMs);
            // The remembered start point moves instead of the real cursor: the distance is what counts.
            GetCursorPos(&state().startCursor);
            state().startCursor.x -= row.moved;
            if (row.moved == HostGone) SetParent(window, nullptr), host.reset();  // the tick checks the handle
            SendMessageW(window, row.message, row.wParam, 0);
            EXPECT_EQ(!IsWindow(window), row.closes[kind] == '1')
                << "message " << row.message << " row " << &row - rows;
            DestroyWindow(window);
            EXPECT_EQ(takeQuitMessage(), kind != SettingsPreview) << "only a run of its own ends its loop";
        }
    }
}

TEST_F(SaverWindow, SettingsPreviewFollowsColourAndSizeAndGoesWithItsHost) {
    open(SettingsPreview, 0);
    MoveWindow(window, 0, 0, 200, 100, FALSE);
    settings.density = 600;
    SendMessageW(window, WM_TIMER, FrameTimer, 0);
    settings.color = RGB(0, 255, 0);
    Canvas canvas(300, 200, 0xFFFFFF);
    for (int i = 0; i < 5; ++i)
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()), 0);
    EXPECT_EQ(canvas.count(RECT{0, 0, 300, 200}, [](COLORREF c) { return c != 0xFFFFFF; }), 200 * 100) << "size";
    EXPECT_GT(canvas.count(RECT{0, 0, 200, 100}), 50);
    EXPECT_EQ(canvas.count(RECT{0, 0, 200, 100}, [](COLORREF c) { return GetRValue(c) || GetBValue(c); }), 0)
        << "no overlay text, no old colour";
    host.reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(takeQuitMessage()) << "the host's loop must go on";
}

TEST(PipeClient, AnyReplyButExactlyOkLeavesTheRunNotSuspended) {
    for (const std::string& reply : std::initializer_list<std::string>{
             "ERROR", "ok", "OK\n", "OKAY", std::string("OK\0", 3), "OK-but-longer-than-15"}) {
        PipeServer server;
        Saver saver;  // a full-screen run that is no preview, as if an earlier reply had said OK
        saver.preview = false;
        saver.suspended = true;
        pipeStep(saver, saver.startTick);
        server.send(reply);
        pipeStep(saver, saver.startTick + 500);
        EXPECT_FALSE(saver.suspended) << reply;
        // An oversized reply is one reply: its tail is not read as another one.
        server.send("OK");
        pipeStep(saver, saver.startTick + 1000);
        EXPECT_TRUE(saver.suspended && saver.pipe) << reply;
    }
}

// Hiding an active window while destroying it deactivates it; that must not start a second destruction, or
// the run never reaches "STOP" and the service only notices when the watchdog kills the process.
TEST_F(SaverWindow, AKeyOnAnActiveConnectedRunClosesOnceAndSaysStop) {
    PipeServer server;
    open(FullScreen, 5000);
    state().preview = false;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    ASSERT_EQ(GetActiveWindow(), window);
    pipeStep(state(), state().startTick + 100);
    SendMessageW(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_FALSE(IsWindow(window));
    server.serve();
    EXPECT_EQ(server.heard, "START STOP | ");
}

}  // namespace
}  // namespace dormalis
