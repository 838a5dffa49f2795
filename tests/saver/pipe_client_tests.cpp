#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/saver/pipe_server.h"
#include "tests/saver/saver_test_support.h"

namespace dormalis {
namespace {

using namespace testing;
using Words = std::vector<std::string>;
constexpr std::uint64_t T = 100000;

// A full-screen run that is not a preview, started at T.
struct NetworkRun : Saver {
    NetworkRun() {
        useDefaultSettings();
        preview = false;
        startTick = T;
    }
};

TEST(PipeClient, OnlyAnOkAnswerSuspendsAndEveryConversationEndsWithStop) {
    struct Case {
        const char* answer;
        bool suspended;
        Words heard;
    };
    // After "ERROR" the service hangs up: the run lets go and, inside its first 1.5 s, asks once more.
    for (const Case& c : {Case{"OK", true, {"START", "ALIVE", "ALIVE", "ALIVE", "STOP", "|"}},
                          Case{"ERROR", false, {"START", "|", "START", "|"}}}) {
        PipeServer server(c.answer);
        NetworkRun saver;
        for (std::uint64_t at : {T, T + 500, T + 1000, T + 1500}) {
            pipeStep(saver, at);
            server.serve();
            EXPECT_TRUE(at != T || !saver.suspended) << "the answer is read at the next step";
        }
        EXPECT_EQ(saver.suspended, c.suspended) << c.answer;
        saver.release();
        server.serve();
        EXPECT_FALSE(saver.suspended);
        EXPECT_EQ(server.heard, c.heard) << c.answer;
    }
}

TEST(PipeClient, AnyReplyButExactlyOkLeavesTheRunNotSuspended) {
    for (const std::string& reply :
         Words{"ERROR", "ok", "OK\n", "OKAY", std::string("OK\0", 3), "OK-but-longer-than-15"}) {
        PipeServer server;
        NetworkRun saver;
        saver.suspended = true;  // as if an earlier reply had said OK
        pipeStep(saver, T);
        server.send(reply);
        pipeStep(saver, T + 500);
        EXPECT_FALSE(saver.suspended) << reply;
        // An oversized reply is one reply: its tail is not read as another one.
        server.send("OK");
        pipeStep(saver, T + 1000);
        EXPECT_TRUE(saver.suspended) << reply;
        EXPECT_TRUE(saver.pipe) << reply;
    }
}

TEST(PipeClient, ARunThatLostTheServiceReconnectsOnlyInsideItsFirstSecondAndAHalf) {
    PipeServer server;
    NetworkRun saver;
    pipeStep(saver, T);
    server.serve();
    pipeStep(saver, T + 400);
    server.serve();
    ASSERT_TRUE(saver.suspended);
    server.endSession();
    pipeStep(saver, T + 800);
    EXPECT_FALSE(saver.pipe);
    EXPECT_FALSE(saver.suspended);

    pipeStep(saver, T + 1499);
    server.serve();
    ASSERT_TRUE(saver.pipe) << "inside the window: a new connection";
    server.endSession();
    for (std::uint64_t at : {T + 1600, T + 2000, T + 5000}) {
        pipeStep(saver, at);
        server.serve();
    }
    EXPECT_FALSE(saver.pipe) << "after the window: never again";
    EXPECT_EQ(server.heard, (Words{"START", "ALIVE", "|", "START", "|"}));
}

TEST(PipeClient, AnImpostorHearsNothingAndTheWarningStays) {
    runningService();
    PipeServer impostor("OK", true);
    ASSERT_TRUE(impostor.pipe);
    NetworkRun saver;
    for (std::uint64_t at : {T, T + 500, T + 1000}) {
        pipeStep(saver, at);
        impostor.serve();
    }
    EXPECT_FALSE(saver.pipe);
    EXPECT_FALSE(saver.suspended);
    EXPECT_EQ(impostor.heard, (Words{"|", "|", "|"})) << "three visits without a word";
}

// Hiding an active window while destroying it deactivates it; that must not start a second destruction, or
// the run never reaches "STOP" and the service only notices when the watchdog kills the process.
TEST(PipeClient, AKeyOnAnActiveConnectedRunClosesOnceAndSaysStop) {
    PipeServer server;
    NetworkRun saver;
    registerSaverClass(L"Dormalis.Test.PipeSaver");
    saver.startTick = GetTickCount64() - 5000;
    GetCursorPos(&saver.startCursor);
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, L"Dormalis.Test.PipeSaver", L"saver", WS_POPUP | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, instance, &saver);
    ASSERT_TRUE(hwnd);
    SetForegroundWindow(hwnd);
    SetActiveWindow(hwnd);
    ASSERT_EQ(GetActiveWindow(), hwnd);
    pipeStep(saver, saver.startTick + 100);

    SendMessageW(hwnd, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    server.serve();
    EXPECT_EQ(server.heard, (Words{"START", "STOP", "|"}));
    takeQuitMessage();
}

}  // namespace
}  // namespace dormalis
