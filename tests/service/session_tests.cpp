// The service loop with the real pipe and registry, against the scripted client installed as the saver: who is
// served, how sessions end, the two pauses with a failure injected at each platform call, and the recovery
// list. However a session goes, the network is given back afterwards and the next saver is served.
#include <windows.h>

#include <cfgmgr32.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <algorithm>

#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

// The lines of "expected" (separated by line feeds) appear in the output in this order.
bool inOrder(const std::string& output, const std::string& expected) {
    size_t at = 0;
    for (size_t from = 0, end = 0; from < expected.size(); from = end + 1) {
        end = std::min(expected.find('\n', from), expected.size());
        const std::string line = expected.substr(from, end - from) + "\n";
        if ((at = output.find(line, at)) == std::string::npos) return false;
        at += line.size();
    }
    return true;
}

TEST_F(LoopTest, OnlyTheInstalledSaverInAnActiveSessionIsServed) {
    const std::wstring stranger = L"C:\\DormalisElsewhere\\Dormalis.scr";
    installSaverCopy(stranger);
    struct Caller {
        std::wstring saver;
        DWORD connectState;
        const wchar_t* folder;   // the installation folder the service knows
        const wchar_t* refusal;  // the log line of the refusal, or null: served
    } const callers[] = {
        {stranger, WTSActive, InstallFolder, L"Rejected client executable path."},
        {installedSaver(), WTSDisconnected, InstallFolder, L"Rejected inactive client session: 1"},
        {installedSaver(), WTSActive, L"c:\\DORMALISSERVICETEST", nullptr},  // letter case does not matter
    };
    for (const Caller& c : callers) {
        SCOPED_TRACE(narrow(c.saver + L" " + c.folder));
        testbed::clearCalls();
        testbed::setSessionState(1, c.connectState);
        installDirectoryOverride = c.folder;
        const ProcessResult result = runClient(L"open w:START read:3000 w:STOP", 20000, c.saver);
        EXPECT_EQ(contains(result.output, "reply:OK"), c.refusal == nullptr) << result.output;
        EXPECT_EQ(testbed::calls(L"FwpmEngineOpen0"), c.refusal ? 0u : 1u);
        EXPECT_TRUE(!c.refusal || lastLog() == c.refusal) << narrow(lastLog());
        EXPECT_TRUE(waitUntil(settled, 3000));
    }
}

// Each script ends its session one way or another; the network is back at once and the pipe listens again.
TEST_F(LoopTest, EverySessionEndGivesTheNetworkBack) {
    constexpr DWORD AnyPauses = 99;
    const struct {
        const wchar_t* script;
        const char* expected;  // lines of the client's output, in order
        DWORD pauses;          // filtering sessions opened
    } scripts[] = {
        {L"open w:START read:3000 w:STOP given:1000 broken:3000", "reply:OK\ngiven\nbroken", 1},
        {L"open w:START read:3000 w:START read:3000", "reply:OK\nbroken", 1},
        {L"open w:start read:3000", "broken", 0},
        {L"open w:START\\s read:3000", "broken", 0},
        {L"open w:START\\n read:3000", "broken", 0},
        {L"open w:STOP read:3000", "broken", 0},
        {L"open raw:32 read:3000", "broken", 0},
        {L"open raw:31 read:3000", "broken", 0},
        {L"open w:START:3 read:3000 w:STOP broken:3000", "reply:OK\nbroken", 1},
        {L"open w:ALIVE read:300 w:START read:3000 w:STOP", "noreply\nreply:OK", 1},
        {L"open raw:0 read:300 w:START read:3000 w:STOP", "noreply\nreply:OK", 1},
        // Gone before the service looked: whether it was served or not, the pipe must not stay busy.
        {L"open w:START close", "", AnyPauses},
        {L"open w:START read:3000 close given:1000", "reply:OK\ngiven", 1},
        {L"open w:START read:3000 die", "reply:OK", 1},
        // Heartbeats hold the session past the silence limit; silence then ends it 4 s after the last one.
        {L"open w:START read:3000 alive:4600 given:0 broken:6000", "reply:OK\nheld\nbroken", 1},
    };
    for (const auto& s : scripts) {
        SCOPED_TRACE(narrow(s.script));
        testbed::clearCalls();
        const ProcessResult result = runClient(s.script);
        EXPECT_TRUE(inOrder(result.output, s.expected)) << result.output;
        EXPECT_TRUE(waitUntil(settled, 1000));  // far below the silence limit
        EXPECT_TRUE(s.pauses == AnyPauses || testbed::calls(L"FwpmEngineOpen0") == s.pauses);
        if (contains(s.expected, "held")) {
            const size_t silent = result.output.find("silent:");
            ASSERT_NE(silent, std::string::npos);
            const unsigned long ms = std::strtoul(result.output.c_str() + silent + 7, nullptr, 10);
            EXPECT_GE(ms, 3950u);  // the service may read our last word a moment before we note the time
            EXPECT_LE(ms, 4600u);
        }
    }
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
}

TEST_F(LoopTest, RestoreRequestsKeepTheServiceRunning) {
    const struct {
        DWORD control, eventType;
        bool restores;
    } requests[] = {
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
    for (const auto& r : requests) {
        SCOPED_TRACE(::testing::Message() << r.control << "/" << r.eventType);
        UniqueHandle client = startClient(L"open w:START read:3000 alive:20000");
        ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
        EXPECT_EQ(controlEx(r.control, r.eventType, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
        if (r.restores) {
            EXPECT_TRUE(waitUntil(networkGivenBack, 1000));
        } else {
            EXPECT_FALSE(waitUntil([] { return !firewallBlocked(); }, 300));  // six loop passes
        }
        TerminateProcess(client.get(), 0);
        EXPECT_TRUE(waitUntil(settled, 1000));
    }
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
    EXPECT_TRUE(waitUntil(settled, 3000));
}

// Sets the recovery key's DACL (SDDL); the key is created when missing.
void protectRecoveryKey(const wchar_t* sddl) {
    UniqueKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecoveryKey, 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    UniqueLocal owned(descriptor);
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
}

constexpr const wchar_t* ReadOnly = L"D:P(A;;KR;;;WD)(A;;WD;;;WD)";
constexpr const wchar_t* Open = L"D:P(A;;KA;;;WD)";

// The machine's adapters, ROOT\NET\DT01 on; only the first two, started physical Ethernet and Wi-Fi, are for
// the adapter pause: a virtual one, loopback, tunnel, mobile broadband, one the user disabled, a stopped one.
constexpr struct {
    DWORD type;
    bool hardware;
    DWORD state;
} Kinds[] = {{6, true, testbed::DeviceStarted},   {71, true, testbed::DeviceStarted},
             {6, false, testbed::DeviceStarted},  {24, true, testbed::DeviceStarted},
             {131, true, testbed::DeviceStarted}, {243, true, testbed::DeviceStarted},
             {6, true, testbed::DeviceDisabled},  {71, true, testbed::DeviceStopped}};

enum class Machine { Unconfigured, FirewallByDefault, Firewall, Adapters, NoPhysicalAdapter, ListReadOnly };

void describe(Machine machine) {
    protectRecoveryKey(Open);
    deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
    testbed::reset();
    if (machine != Machine::Unconfigured) setMachineDword(L"ModeConfigured", 1);
    if (machine >= Machine::Firewall) setMachineDword(L"Firewall", machine == Machine::Firewall);
    for (int i = machine == Machine::NoPhysicalAdapter ? 2 : 0; i < 8; ++i)
        ethernet(i + 1, Kinds[i].type, Kinds[i].hardware, Kinds[i].state);
    testbed::addInterface(L"{99999999-1111-2222-3333-444455556666}", 6, true);  // no device behind it
    if (machine == Machine::ListReadOnly) protectRecoveryKey(ReadOnly);
}

// The adapters no longer in the state they were described with.
std::vector<int> changed() {
    std::vector<int> numbers;
    for (int i = 0; i < 8; ++i) {
        const long state = testbed::deviceState(L"ROOT\\NET\\DT0" + std::to_wstring(i + 1));
        if (state != -1 && state != static_cast<long>(Kinds[i].state)) numbers.push_back(i + 1);
    }
    return numbers;
}

// The saver's pause holds: the firewall blocks, or this many of the first two adapters are off.
bool paused(int adapters) {
    if (machineDword(L"NetworkState") != NetworkBlocked) return false;
    const std::vector<int> off = changed();
    if (adapters == 0) return firewallBlocked() && off.empty();
    return testbed::filters().empty() && static_cast<int>(off.size()) == adapters && off.back() <= 2;
}

constexpr DWORD WfpError = 0x80320001;  // FWP_E_CALLOUT_NOT_FOUND, any engine error will do

TEST_F(LoopTest, EachPauseHoldsOrIsRefusedAndTheNetworkComesBack) {
    const struct {
        Machine machine;
        const wchar_t* function;  // the platform call that fails once, or null
        DWORD call, code;
        int pause;           // -1: refused (no "OK"); 0: the firewall pause; n: n adapters paused
        const wchar_t* log;  // how LastDiagnostic begins once the session is over, or null
    } rows[] = {
        {Machine::Unconfigured, nullptr, 0, 0, -1, nullptr},
        {Machine::FirewallByDefault, nullptr, 0, 0, 0, L"Firewall filters released."},
        {Machine::Adapters, nullptr, 0, 0, 2, L"Physical Ethernet/Wi-Fi adapters paused."},
        {Machine::NoPhysicalAdapter, nullptr, 0, 0, -1, nullptr},
        {Machine::ListReadOnly, nullptr, 0, 0, -1, nullptr},
        {Machine::Firewall, L"FwpmEngineOpen0", 1, ERROR_ACCESS_DENIED, -1, L"WFP engine open failed: "},
        {Machine::Adapters, L"CM_Locate_DevNodeW", 1, CR_FAILURE, 2, L"Adapter restoration pending: "},
        {Machine::Firewall, L"FwpmEngineOpen0", 1, 0x12345678, -1, L"WFP engine open failed: Windows error (3"},
        {Machine::Firewall, L"FwpmTransactionBegin0", 1, WfpError, -1, L"Firewall filters released."},
        {Machine::Adapters, L"CM_Get_DevNode_Status", 5, CR_FAILURE, 2, nullptr},  // the first at restore
        {Machine::Firewall, L"FwpmSubLayerAdd0", 1, WfpError, -1, L"WFP failure: "},
        {Machine::Firewall, L"FwpmFilterAdd0", 1, WfpError, -1, L"WFP failure: "},
        {Machine::Adapters, L"CM_Enable_DevNode", 1, CR_FAILURE, 2, nullptr},
        {Machine::Firewall, L"FwpmFilterAdd0", 4, 0x12345678, -1, L"WFP failure: Windows error (305419896)"},
        {Machine::Firewall, L"FwpmTransactionCommit0", 1, WfpError, -1, L"Firewall filters released."},
        {Machine::Adapters, L"CM_Enable_DevNode", 2, CR_FAILURE, 2, nullptr},
        {Machine::Adapters, L"GetIfTable2", 1, ERROR_NOT_ENOUGH_MEMORY, -1, nullptr},
        {Machine::Adapters, L"CM_Get_DevNode_Status", 1, CR_FAILURE, 1, nullptr},  // that adapter is skipped
        {Machine::Firewall, L"FwpmEngineClose0", 1, ERROR_ACCESS_DENIED, 0, L"Firewall filters released."},
        {Machine::Adapters, L"CM_Get_Device_IDW", 2, CR_FAILURE, 1, nullptr},  // that adapter is skipped
        {Machine::Adapters, L"CM_Disable_DevNode", 1, CR_FAILURE, -1, nullptr},
        {Machine::Adapters, L"CM_Disable_DevNode", 2, CR_REMOVE_VETOED, -1, nullptr},  // the first comes back
    };
    // Warm-up sessions in both modes, so that handles the system keeps for good are already open.
    for (Machine machine : {Machine::Firewall, Machine::Adapters}) {
        describe(machine);
        EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP broken:3000").output, "reply:OK"));
        ASSERT_TRUE(waitUntil(settled, 3000));
    }
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << int(row.machine) << " " << narrow(row.function ? row.function : L"") << " " << row.call);
        describe(row.machine);
        if (row.function) testbed::failCall(row.function, row.call, row.code);
        if (row.pause < 0) {
            const ProcessResult refused = runClient(L"open w:START read:3000 broken:3000");
            EXPECT_FALSE(contains(refused.output, "reply:OK")) << refused.output;
        } else {
            UniqueHandle client = startClient(L"open w:START read:3000 alive:20000");
            EXPECT_TRUE(waitUntil([&] { return paused(row.pause); }, 5000));
            TerminateProcess(client.get(), 0);
        }
        // A single failure of a restoring call leaves recovery pending; the retry within 2000 ms finishes it.
        EXPECT_TRUE(waitUntil(settled, 5000)) << "state " << machineDword(L"NetworkState");
        EXPECT_TRUE(changed().empty());
        EXPECT_EQ(engine, nullptr);
        EXPECT_TRUE(row.machine != Machine::Unconfigured ||
                    testbed::calls(L"FwpmEngineOpen0") + testbed::calls(L"GetIfTable2") == 0);
        GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
        EXPECT_EQ(handlesAfter, handlesBefore);
        EXPECT_TRUE(!row.log || lastLog().rfind(row.log, 0) == 0) << narrow(lastLog());
    }
    protectRecoveryKey(Open);
}

// While an adapter cannot be enabled no saver gets in, and attempts come every 2000 ms until one succeeds.
TEST_F(LoopTest, PendingRecoveryRefusesSaversAndRetries) {
    setMachineDword(L"Firewall", 0);
    const testbed::Adapter adapter = ethernet(1);
    testbed::failCall(L"CM_Enable_DevNode", 1, CR_FAILURE, 0);
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP broken:3000").output, "reply:OK"));
    ASSERT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == NetworkError; }, 3000));
    EXPECT_EQ(lastLog(), L"Adapter restoration pending: " + adapter.id);
    EXPECT_EQ(recoveryEntries(), std::vector<std::wstring>{adapter.id});
    const ProcessResult refused = runClient(L"open:500 w:START read:500");
    EXPECT_FALSE(contains(refused.output, "reply:")) << refused.output;
    const auto attempts = [] { return testbed::calls(L"CM_Enable_DevNode"); };
    const DWORD first = attempts();
    ASSERT_TRUE(waitUntil([&] { return attempts() > first; }, 3000));
    const ULONGLONG at = GetTickCount64();
    ASSERT_TRUE(waitUntil([&] { return attempts() > first + 1; }, 3000));
    EXPECT_GE(GetTickCount64() - at, 1900u);
    EXPECT_LE(GetTickCount64() - at, 2600u);
    EXPECT_EQ(testbed::calls(L"CM_Disable_DevNode"), 1u);
    testbed::clearFaults();
    ASSERT_TRUE(waitUntil(settled, 3000));
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
}

// restore() by itself, on the recovery list as a crash or power loss leaves it.
class RecoveryTest : public ServiceTest {};

// Unplugged, or an ID no device can have: nothing to enable, and kept it would refuse every saver for good.
// Enabled but needing a restart of Windows: nothing more the service can do, the restart starts it. Entries
// no pause writes (not a string, or empty) name nothing: they are left alone.
TEST_F(RecoveryTest, ListedAdaptersAfterACrash) {
    const testbed::Adapter off = ethernet(1, 6, true, testbed::DeviceDisabled);
    const testbed::Adapter byHand = ethernet(2);  // enabled by the user while paused
    const testbed::Adapter restart = ethernet(3, 71, true, testbed::DeviceDisabled);
    testbed::needRestartOnEnable(restart.id);
    for (const std::wstring& id : {off.id, byHand.id, restart.id, std::wstring(L"ROOT\\NET\\UNPLUGGED"),
                                   std::wstring(L"NOT A DEVICE"), std::wstring(L"ROOT\\\\0000")})
        writeString(HKEY_LOCAL_MACHINE, RecoveryKey, id.c_str(), id);
    writeDword(HKEY_LOCAL_MACHINE, RecoveryKey, L"number", 7);
    writeString(HKEY_LOCAL_MACHINE, RecoveryKey, L"empty", L"");
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, RecoveryKey, L"none", REG_SZ, nullptr, 0);
    EXPECT_TRUE(restore());
    EXPECT_EQ(testbed::deviceState(off.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(testbed::deviceState(restart.id), static_cast<long>(testbed::DeviceNeedsRestart));
    EXPECT_EQ(testbed::calls(L"CM_Enable_DevNode"), 2u);  // only those that were off
    std::vector<std::wstring> left = recoveryEntries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{L"empty", L"none", L"number"}));
    EXPECT_FALSE(recoveryPending());
    EXPECT_EQ(machineDword(L"NetworkState"), 0u);
}

TEST_F(RecoveryTest, EntryThatCannotBeClearedStaysForTheNextAttempt) {
    const testbed::Adapter adapter = ethernet(1, 6, true, testbed::DeviceDisabled);
    writeString(HKEY_LOCAL_MACHINE, RecoveryKey, adapter.id.c_str(), adapter.id);
    protectRecoveryKey(ReadOnly);
    // The adapter is back, so nothing is pending for the user, but the record stays until it can be removed.
    EXPECT_TRUE(restore());
    EXPECT_EQ(testbed::deviceState(adapter.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(recoveryEntries(), std::vector<std::wstring>{adapter.id});
    EXPECT_TRUE(recoveryPending());
    protectRecoveryKey(Open);
    EXPECT_TRUE(restore());
    EXPECT_TRUE(recoveryEntries().empty());
    EXPECT_EQ(testbed::calls(L"CM_Enable_DevNode"), 1u);  // the second attempt found it started
}

}  // namespace
}  // namespace dormalis::testing
