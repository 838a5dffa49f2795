#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/constants.h"
#include "tests/saver/pipe_server.h"
#include "tests/saver/saver_test_support.h"

namespace dormalis {
namespace {

using namespace testing;

using Words = std::vector<std::string>;

class PipeClient : public ::testing::Test {
  protected:
    void SetUp() override { useDefaultSettings(); }

    // A full-screen run that is not a preview, started at `start`.
    static void prepare(Saver& saver, std::uint64_t start) {
        saver.preview = false;
        saver.startTick = start;
    }
};

TEST_F(PipeClient, StartOnceThenAliveAndStopWithOkSettingSuspended) {
    PipeServer server;
    ASSERT_TRUE(server.pipe);
    Saver saver;
    const std::uint64_t t = 100000;
    prepare(saver, t);
    pipeStep(saver, t);
    ASSERT_TRUE(saver.pipe);
    EXPECT_TRUE(server.clientConnected());
    EXPECT_EQ(server.readAll(), Words{"START"});
    EXPECT_FALSE(saver.suspended);

    pipeStep(saver, t + 500);
    EXPECT_EQ(server.readAll(), Words{"ALIVE"});
    EXPECT_FALSE(saver.suspended) << "no reply yet";

    server.reply("OK");
    pipeStep(saver, t + 1000);
    EXPECT_TRUE(saver.suspended);
    pipeStep(saver, t + 1500);
    pipeStep(saver, t + 9000);
    EXPECT_TRUE(saver.suspended) << "no further reply changes nothing";
    EXPECT_EQ(server.readAll(), (Words{"ALIVE", "ALIVE", "ALIVE"}));

    saver.release();
    EXPECT_FALSE(saver.pipe);
    EXPECT_FALSE(saver.suspended);
    EXPECT_EQ(server.readAll(), (Words{"STOP", "<broken>"}));
}

TEST_F(PipeClient, AnyReplyButExactlyOkLeavesTheRunNotSuspended) {
    for (const std::string& reply :
         std::vector<std::string>{"ERROR", "ok", "OK\n", "OKAY", std::string("OK\0", 3), "OK-but-longer-than-15"}) {
        PipeServer server;
        Saver saver;
        prepare(saver, 100000);
        saver.suspended = true;  // as if an earlier reply had said OK
        pipeStep(saver, 100000);
        server.reply(reply);
        pipeStep(saver, 100500);
        EXPECT_FALSE(saver.suspended) << reply;
        // An oversized reply is one reply: its tail is not read as another one.
        server.reply("OK");
        pipeStep(saver, 101000);
        EXPECT_TRUE(saver.suspended) << reply;
        EXPECT_TRUE(saver.pipe) << reply;
    }
}

TEST_F(PipeClient, AServerThatGoesIsReleasedAndOnlyReconnectedInsideTheFirstSecondAndAHalf) {
    const std::uint64_t t = 100000;
    Saver saver;
    prepare(saver, t);
    {
        PipeServer server;
        pipeStep(saver, t);
        server.reply("OK");
        pipeStep(saver, t + 400);
        ASSERT_TRUE(saver.suspended);
        server.hangUp();
    }
    pipeStep(saver, t + 800);
    EXPECT_FALSE(saver.pipe);
    EXPECT_FALSE(saver.suspended);

    // Inside the window: a new connection with a new START.
    {
        PipeServer server;
        pipeStep(saver, t + 1499);
        ASSERT_TRUE(saver.pipe);
        EXPECT_EQ(server.readAll(), Words{"START"});
        server.hangUp();
    }
    pipeStep(saver, t + 1600);
    EXPECT_FALSE(saver.pipe);

    // After it: never again, even with a server waiting.
    PipeServer server;
    pipeStep(saver, t + 1500);
    pipeStep(saver, t + 5000);
    EXPECT_FALSE(saver.pipe);
    EXPECT_FALSE(server.clientConnected());
}

TEST_F(PipeClient, AnImpostorHearsNothingAndTheWarningStays) {
    runningService();
    PipeServer impostor(true);
    ASSERT_TRUE(impostor.pipe);
    Saver saver;
    prepare(saver, 100000);
    for (std::uint64_t at : {100000u, 100500u, 101000u})
        pipeStep(saver, at);
    EXPECT_FALSE(saver.pipe);
    EXPECT_EQ(impostor.readAll(), Words{"<broken>"});
    EXPECT_NE(overlayLine(saver).find(L"not suspended"), std::wstring::npos);
}

// Hiding an active window while destroying it deactivates it; that must not start a second destruction, or
// the run never reaches "STOP" and the service only notices when the watchdog kills the process.
TEST_F(PipeClient, AKeyOnAnActiveConnectedRunClosesOnceAndSaysStop) {
    registerSaverClass(L"Dormalis.Test.PipeSaver");
    PipeServer server;
    Saver saver;
    saver.preview = false;
    saver.startTick = GetTickCount64() - 5000;
    GetCursorPos(&saver.startCursor);
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, L"Dormalis.Test.PipeSaver", L"saver", WS_POPUP | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, instance, &saver);
    ASSERT_TRUE(hwnd);
    SetForegroundWindow(hwnd);
    SetActiveWindow(hwnd);
    ASSERT_EQ(GetActiveWindow(), hwnd);
    pipeStep(saver, saver.startTick + 100);
    ASSERT_TRUE(server.clientConnected());

    SendMessageW(hwnd, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(server.readAll(), (Words{"START", "STOP", "<broken>"}));
    takeQuitMessage();
}

}  // namespace
}  // namespace dormalis
