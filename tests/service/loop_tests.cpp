// The service loop with the real pipe and registry, against the scripted client installed as the saver.
#include <windows.h>

#include <wtsapi32.h>

#include "foundation/registry.h"
#include "service/loop.h"
#include "service/network.h"
#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

using Output = std::string;

// The lines of "expected" (separated by line feeds) appear in the output in this order.
bool inOrder(const Output& output, const std::string& expected) {
    if (expected.empty()) return true;
    size_t at = 0, from = 0;
    while (from <= expected.size()) {
        size_t end = expected.find('\n', from);
        if (end == std::string::npos) end = expected.size();
        const std::string line = expected.substr(from, end - from) + "\n";
        at = output.find(line, at);
        if (at == std::string::npos) return false;
        at += line.size();
        from = end + 1;
    }
    return true;
}

TEST_F(LoopTest, CallerChecks) {
    // A copy of the saver outside the installation folder: refused, and its network never touched.
    const std::wstring stranger = L"C:\\DormalisElsewhere\\Dormalis.scr";
    installSaverCopy(stranger);
    ProcessResult refused = runClient(L"open w:START read:1500", 20000, stranger);
    EXPECT_TRUE(contains(refused.output, "broken")) << refused.output;
    EXPECT_EQ(lastLog(), L"Rejected client executable path.");
    EXPECT_EQ(testbed::calls(L"FwpmEngineOpen0"), 0u);

    // An inactive session is refused and named.
    testbed::setSessionState(1, WTSDisconnected);
    ProcessResult inactive = runClient(L"open w:START read:1500");
    EXPECT_TRUE(contains(inactive.output, "broken")) << inactive.output;
    EXPECT_EQ(lastLog(), L"Rejected inactive client session: 1");
    EXPECT_EQ(testbed::calls(L"FwpmEngineOpen0"), 0u);
    testbed::setSessionState(1, WTSActive);

    // The installation folder differing only in letter case is the same folder.
    installDirectoryOverride = L"c:\\DORMALISSERVICETEST";
    ProcessResult accepted = runClient(L"open w:START read:3000 w:STOP");
    EXPECT_TRUE(contains(accepted.output, "reply:OK")) << accepted.output;
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

TEST_F(LoopTest, StartBlocksUntilStop) {
    UniqueHandle client = startClient(L"open w:START read:3000 alive:1500 w:STOP");
    ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
    EXPECT_EQ(machineDword(L"NetworkState"), 1u);
    EXPECT_EQ(lastLog(), L"IPv4/IPv6 Internet and LAN blocked (dynamic WFP filters).");
    const std::vector<testbed::SessionRecord> sessions = testbed::engineSessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].name, L"Dormalis");
    EXPECT_EQ(sessions[0].flags, 1u);  // FWPM_SESSION_FLAG_DYNAMIC alone
    const std::vector<testbed::SubLayerRecord> layers = testbed::subLayers();
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].key, L"{89F541C1-5A12-4F2A-B5EF-738A38A78091}");
    EXPECT_EQ(layers[0].name, L"Dormalis");
    EXPECT_EQ(layers[0].weight, 0xFFFFu);
    EXPECT_EQ(layers[0].flags, 0u);
    EXPECT_EQ(layers[0].ownerPid, GetCurrentProcessId());
    const wchar_t* layersInOrder[] = {
        L"{C86FD1BF-21CD-497E-A0BB-17425C885C58}", L"{1E5C9FAE-8A84-4135-A331-950B54229ECD}",
        L"{F52032CB-991C-46E7-971D-2601459A91CA}", L"{A3B3AB6B-3564-488C-9117-F34E82142763}"};
    const std::vector<testbed::FilterRecord> filters = testbed::filters();
    ASSERT_EQ(filters.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(filters[i].layer, layersInOrder[i]);
        EXPECT_EQ(filters[i].subLayer, layers[0].key);
        EXPECT_EQ(filters[i].name, L"Dormalis temporary network pause");
        EXPECT_EQ(filters[i].weightType, 1u);  // FWP_UINT8
        EXPECT_EQ(filters[i].weight, 15u);
        EXPECT_EQ(filters[i].action, 0x1001u);  // FWP_ACTION_BLOCK
        EXPECT_EQ(filters[i].conditions, 0u);
        EXPECT_EQ(filters[i].flags, 0u);
    }
    EXPECT_EQ(finishProcess(client.get(), 10000), 0u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
    EXPECT_EQ(lastLog(), L"Firewall filters released.");
    EXPECT_TRUE(testbed::engineSessions().empty());
}

// Each script ends its session one way or another; afterwards the network is back and the pipe listens again.
struct WordCase {
    const wchar_t* name;
    const wchar_t* script;
    const char* expected;  // in the client's output
    DWORD pauses;          // filtering sessions opened
};

constexpr DWORD AnyPauses = 99;

TEST_F(LoopTest, WordsEndingTheSession) {
    const WordCase cases[] = {
        {L"start then stop", L"open w:START read:3000 w:STOP broken:3000", "reply:OK\nbroken", 1},
        {L"start twice", L"open w:START read:3000 w:START read:3000", "reply:OK\nbroken", 1},
        {L"lower case", L"open w:start read:3000", "broken", 0},
        {L"trailing space", L"open w:START\\s read:3000", "broken", 0},
        {L"trailing line feed", L"open w:START\\n read:3000", "broken", 0},
        {L"stop without start", L"open w:STOP read:3000", "broken", 0},
        {L"32 bytes", L"open raw:32 read:3000", "broken", 0},
        {L"31 bytes", L"open raw:31 read:3000", "broken", 0},
        {L"start with NULs", L"open w:START:3 read:3000 w:STOP broken:3000", "reply:OK\nbroken", 1},
        {L"alive before start", L"open w:ALIVE read:300 w:START read:3000 w:STOP", "noreply\nreply:OK", 1},
        {L"empty message", L"open raw:0 read:1000 w:START read:3000 w:STOP", "noreply\nreply:OK", 1},
        // Gone before the service looked: whether it was served or not, the pipe must not stay busy.
        {L"gone at once", L"open w:START close", "", AnyPauses},
    };
    for (const WordCase& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        testbed::clearCalls();
        ProcessResult result = runClient(c.script);
        EXPECT_TRUE(inOrder(result.output, c.expected)) << result.output;
        EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
        if (c.pauses != AnyPauses) {
            EXPECT_EQ(testbed::calls(L"FwpmEngineOpen0"), c.pauses);
        }
        // Listening again: the next saver gets through.
        EXPECT_TRUE(contains(runClient(L"open w:ALIVE w:STOP broken:3000").output, "broken"));
    }
}

TEST_F(LoopTest, SilenceAndHeartbeats) {
    // A silent client is dropped after more than 4000 ms, not before.
    const ULONGLONG start = GetTickCount64();
    ProcessResult silent = runClient(L"open w:START read:3000 broken:12000");
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_TRUE(inOrder(silent.output, "reply:OK\nbroken")) << silent.output;
    EXPECT_GE(elapsed, 4000u);
    EXPECT_LT(elapsed, 9000u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));

    // Heartbeats every 500 ms hold the session well past the silence limit.
    UniqueHandle held = startClient(L"open w:START read:3000 alive:9000 w:STOP");
    ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
    Sleep(8000);
    EXPECT_TRUE(firewallBlocked());
    EXPECT_EQ(finishProcess(held.get(), 10000), 0u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));

    // A gap of more than 4000 ms ends it even though the next ALIVE arrives.
    ProcessResult gap = runClient(L"open w:START read:3000 sleep:4600 w:ALIVE broken:3000");
    EXPECT_TRUE(inOrder(gap.output, "reply:OK\nbroken")) << gap.output;
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

TEST_F(LoopTest, KilledClientGivesTheNetworkBackAtOnce) {
    UniqueHandle client = startClient(L"open w:START read:3000 hang");
    ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
    TerminateProcess(client.get(), 9);
    const ULONGLONG killed = GetTickCount64();
    ASSERT_TRUE(waitUntil(networkGivenBack, 3000));
    // Far below the 4000 ms silence limit: the dead process itself ended the session.
    EXPECT_LT(GetTickCount64() - killed, 1500u);
}

TEST_F(LoopTest, ModeChoice) {
    deleteMachineValue(L"ModeConfigured");
    ProcessResult unconfigured = runClient(L"open w:START read:3000");
    EXPECT_TRUE(contains(unconfigured.output, "reply:ERROR") || contains(unconfigured.output, "broken"))
        << unconfigured.output;
    EXPECT_EQ(testbed::calls(L"FwpmEngineOpen0"), 0u);
    EXPECT_EQ(testbed::calls(L"GetIfTable2"), 0u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));

    // ModeConfigured 1 without Firewall: the firewall pause.
    setMachineDword(L"ModeConfigured", 1);
    UniqueHandle client = startClient(L"open w:START read:3000 alive:1000 w:STOP");
    EXPECT_TRUE(waitUntil(firewallBlocked, 5000));
    finishProcess(client.get(), 10000);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
    EXPECT_EQ(testbed::calls(L"GetIfTable2"), 0u);
}

TEST_F(LoopTest, RestoreRequestsKeepTheServiceRunning) {
    struct Request {
        DWORD control, eventType;
        bool restores;
    };
    const Request requests[] = {
        {128, 0, true},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOCK, true},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_DISCONNECT, true},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_REMOTE_DISCONNECT, true},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, true},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, true},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND, true},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, true},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, false},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMPOWERSTATUSCHANGE, false},
        {SERVICE_CONTROL_INTERROGATE, 0, false},
    };
    for (const Request& r : requests) {
        SCOPED_TRACE(::testing::Message() << r.control << "/" << r.eventType);
        UniqueHandle client = startClient(L"open w:START read:3000 alive:2500 w:STOP");
        ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
        EXPECT_EQ(controlEx(r.control, r.eventType, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
        if (r.restores) {
            EXPECT_TRUE(waitUntil(networkGivenBack, 1000));
        } else {
            Sleep(300);
            EXPECT_TRUE(firewallBlocked());
        }
        finishProcess(client.get(), 10000);
        EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
    }
    // Still serving.
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
}

TEST_F(LoopTest, StopRestoresBeforeReturning) {
    UniqueHandle client = startClient(L"open w:START read:3000 hang");
    ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
    stopLoop();
    // The loop has returned: by then everything is given back, with the client still alive.
    EXPECT_TRUE(networkGivenBack());
    EXPECT_EQ(WaitForSingleObject(client.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(client.get(), 0);
}

TEST_F(LoopTest, SecondPipeServerIsRefusedWithItsError) {
    UniqueHandle second(createControlPipe());
    EXPECT_FALSE(second.valid());
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) << error;
}

// With no recorded folder and no Program Files folder, naming the saver throws in the middle of a pass.
TEST_F(LoopTest, AFailingPassIsLoggedAndTheLoopGoesOn) {
    const wchar_t* versionKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring programFiles = readString(HKEY_LOCAL_MACHINE, versionKey, L"ProgramFilesDir");
    writeString(HKEY_LOCAL_MACHINE, versionKey, L"ProgramFilesDir", L"C:\\NoProgramFilesHere");
    installDirectoryOverride.clear();
    const ProcessResult failed = runClient(L"open w:START read:1500");
    writeString(HKEY_LOCAL_MACHINE, versionKey, L"ProgramFilesDir", programFiles);
    installDirectoryOverride = InstallFolder;
    EXPECT_TRUE(contains(failed.output, "broken")) << failed.output;
    EXPECT_EQ(lastLog(), L"Service loop failure: Folder unavailable");
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

}  // namespace
}  // namespace dormalis::testing
