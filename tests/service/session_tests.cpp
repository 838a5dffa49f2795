// The service loop with the real pipe and registry against the scripted client installed as the saver. However
// a session goes, the network is given back and the next saver is served.
#include <windows.h>

#include <cfgmgr32.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <random>
#include <tuple>

#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

// Each script ends its session one way or another; the network is back at once and the pipe listens again.
TEST_F(LoopTest, EverySessionEndGivesTheNetworkBack) {
    // Each script with the client's output, up to a last line "silent:..."; each "OK" is one pause.
    const std::pair<const wchar_t*, const char*> scripts[] = {
        {L"open w:START read:3000 w:STOP given:1000 broken:3000", "reply:OK\ngiven\nbroken\n"},
        {L"open w:START read:3000 w:START read:3000", "reply:OK\nbroken\n"},
        {L"open w:start read:3000", "broken\n"},
        {L"open \"w:START \" read:3000", "broken\n"},
        {L"open w:START:27 read:3000", "broken\n"},  // 32 bytes: one more than a message holds
        {L"open w:START:26 read:3000 w:STOP broken:3000", "reply:OK\nbroken\n"},
        {L"open w:ALIVE read:300 w:START read:3000 w:STOP", "noreply\nreply:OK\n"},
        {L"open w: read:300 w:START read:3000 w:STOP", "noreply\nreply:OK\n"},
        {L"open w:START close open close", ""},
        {L"open w:START read:3000 close given:1000", "reply:OK\ngiven\n"},
        {L"open w:START read:3000 die", "reply:OK\n"},
        // Heartbeats hold the session past the silence limit; silence then ends it 4 s after the last one.
        {L"open w:START read:3000 alive:4600 given:0 broken:6000", "reply:OK\nheld\nbroken\n"},
    };
    for (const auto& [script, expected] : scripts) {
        SCOPED_TRACE(narrow(script));
        testbed::clearCalls();
        const std::string output = runClient(script).output;
        const size_t silent = output.find("silent:");  // the last line, when there is one
        EXPECT_EQ(output.substr(0, silent), expected);
        EXPECT_TRUE(waitUntil(settled, 1000));  // far below the silence limit
        // Gone at once (no expected output): served or not, the pipe must not stay busy for the next row.
        EXPECT_TRUE(!*expected || testbed::calls(L"FwpmEngineOpen0") == (contains(expected, "OK") ? 1u : 0u));
        // The service may read our last word a moment before we note the time.
        const unsigned long ms = silent == std::string::npos ? 0 : std::strtoul(&output[silent + 7], nullptr, 10);
        EXPECT_TRUE(!contains(expected, "held") || (ms >= 3950 && ms <= 4600)) << ms;
    }
    // With no recorded folder and no Program Files folder, naming the saver throws in the middle of a pass: the
    // session ends, the failure is logged, and the loop goes on.
    const wchar_t* versionKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring programFiles = readString(HKEY_LOCAL_MACHINE, versionKey, L"ProgramFilesDir");
    writeString(HKEY_LOCAL_MACHINE, versionKey, L"ProgramFilesDir", L"C:\\NoProgramFilesHere");
    installDirectoryOverride.clear();
    EXPECT_EQ(runClient(L"open w:START read:1500").output, "broken\n");
    writeString(HKEY_LOCAL_MACHINE, versionKey, L"ProgramFilesDir", programFiles);
    installDirectoryOverride = InstallFolder;
    EXPECT_EQ(lastLog(), L"Service loop failure: Folder unavailable");
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
    EXPECT_TRUE(waitUntil(settled, 3000));
}

// Control code << 16 | event type, the session it names, and whether it ends the pause. A lock of the saver's own
// session (a secure saver's grace period ending) is no return of the user while that saver runs; the saver's
// death still ends the pause.
TEST_F(LoopTest, RestoreRequestsEndThePauseAndOtherEventsDoNot) {
    constexpr DWORD S = SERVICE_CONTROL_SESSIONCHANGE << 16, P = SERVICE_CONTROL_POWEREVENT << 16;
    DWORD saver = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &saver));  // the test's children share its session
    // clang-format off
    const std::tuple<DWORD, DWORD, bool> requests[] = {{128 << 16, 0, true}, {S | WTS_SESSION_LOCK, saver, false},
        {S | WTS_SESSION_LOCK, saver + 1, true}, {S | WTS_SESSION_LOGOFF, saver, true},
        {S | WTS_CONSOLE_DISCONNECT, saver, true}, {S | WTS_REMOTE_DISCONNECT, saver, true},
        {P | PBT_APMSUSPEND, 0, true}, {P | PBT_APMRESUMESUSPEND, 0, true}, {P | PBT_APMRESUMEAUTOMATIC, 0, true},
        {S | WTS_SESSION_UNLOCK, saver, false}, {P | PBT_APMPOWERSTATUSCHANGE, 0, false},
        {SERVICE_CONTROL_INTERROGATE << 16, 0, false}};
    // clang-format on
    for (const auto& [request, session, ends] : requests) {
        SCOPED_TRACE(::testing::Message() << std::hex << request << " session " << session);
        UniqueHandle client = startClient(L"open w:START read:3000 alive:20000");
        ASSERT_TRUE(waitUntil(firewallBlocked, 5000));
        WTSSESSION_NOTIFICATION notification{sizeof notification, session};
        EXPECT_EQ(controlEx(request >> 16, request & 0xFFFF, &notification, nullptr), static_cast<DWORD>(NO_ERROR));
        // Held: six loop passes go by with the pause in place.
        EXPECT_EQ(waitUntil([] { return !firewallBlocked(); }, ends ? 1000 : 300), ends);
        TerminateProcess(client.get(), 0);
        EXPECT_TRUE(waitUntil(settled, 1000));
    }
}

// The machine's adapters, ROOT\NET\DT01 on; only the first two, started physical Ethernet and Wi-Fi, are for
// the adapter pause: a virtual one, loopback, tunnel, mobile broadband, one the user disabled, a stopped one.
constexpr DWORD On = testbed::DeviceStarted, Off = testbed::DeviceDisabled;
constexpr std::tuple<DWORD, bool, DWORD> Kinds[] = {
    {6, true, On},   {71, true, On},  {6, false, On}, {24, true, On},
    {131, true, On}, {243, true, On}, {6, true, Off}, {71, true, testbed::DeviceStopped}};

// How a row's machine differs from one in firewall mode, by default, with its saver in an active session.
// Stranger: the installation folder holds another copy of the saver; InactiveSession: the saver's session is
// disconnected; Firewall: by default (no Firewall value), the installation folder named in other letter case;
// EngineRestart: the filtering engine restarts during the pause (and, when a close fails, once more after it);
// SlowAdapters: a third adapter, and each disable takes 5 s; ListReadOnly: the recovery list cannot be written.
// clang-format off
enum class Machine { Unconfigured, Stranger, InactiveSession, Firewall, EngineRestart, Adapters, SlowAdapters,
    NoPhysicalAdapter, ListReadOnly };
// clang-format on

void describe(Machine machine) {
    deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
    testbed::reset();
    setMachineDword(L"NetworkState", 0);  // as the service's start leaves it
    writeString(HKEY_LOCAL_MACHINE, MachineKey, L"LastFailedPause", L"2001-02-03T04:05:06Z|none|earlier");
    if (machine != Machine::Unconfigured) setMachineDword(L"ModeConfigured", 1);
    if (machine >= Machine::Adapters) setMachineDword(L"Firewall", 0);
    installDirectoryOverride = machine == Machine::Stranger   ? L"C:\\DormalisElsewhere"
                               : machine == Machine::Firewall ? L"c:\\DORMALISSERVICETEST"
                                                              : InstallFolder;
    if (machine == Machine::Stranger) installSaverCopy(L"C:\\DormalisElsewhere\\Dormalis.scr");
    testbed::setSessionState(1, machine == Machine::InactiveSession ? WTSDisconnected : WTSActive);
    for (int i = machine == Machine::NoPhysicalAdapter ? 2 : 0; i < 8; ++i)
        ethernet(i + 1, std::get<0>(Kinds[i]), std::get<1>(Kinds[i]), std::get<2>(Kinds[i]));
    testbed::addInterface(L"{99999999-1111-2222-3333-444455556666}", 6, true);  // no device behind it
    if (machine == Machine::SlowAdapters) {
        ethernet(0);
        testbed::delayDisables(5000);
    }
    if (machine != Machine::ListReadOnly) return;
    // Readable and deletable (for the next row), not writable.
    UniqueKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecoveryKey, 0, nullptr, 0, WRITE_DAC, nullptr, key.put(), nullptr);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KRSD;;;WD)", SDDL_REVISION_1, &readOnly, nullptr);
    UniqueLocal owned(readOnly);
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
}

// The adapters no longer in the state they were described with.
std::set<std::wstring> changed() {
    std::set<std::wstring> ids;
    for (const std::wstring& id : testbed::names(testbed::DevicesKey, true))
        if (static_cast<DWORD>(testbed::deviceState(id)) !=
            testbed::getDword(testbed::Root, (L"Initial " + id).c_str(), 9))
            ids.insert(id);
    return ids;
}

// The saver's pause holds: the firewall blocks, or this many of the first two adapters (and DT00) are off.
bool paused(int adapters) {
    if (machineDword(L"NetworkState") != NetworkBlocked) return false;
    const std::set<std::wstring> off = changed();
    if (adapters == 0) return firewallBlocked() && off.empty();
    return testbed::filters().empty() && static_cast<int>(off.size()) == adapters &&
           *off.rbegin() <= L"ROOT\\NET\\DT02";
}

TEST_F(LoopTest, EachPauseHoldsOrIsRefusedAndTheNetworkComesBack) {
    const struct {
        Machine machine;
        const wchar_t* function;  // the platform call that fails once, or null
        DWORD call, code;
        int pause;           // -1: refused (no "OK"); 0: the firewall pause; n: n adapters paused
        const wchar_t* log;  // how LastDiagnostic begins once the session is over, or null
    } rows[] = {
        {Machine::Unconfigured, nullptr, 0, 0, -1, nullptr},
        {Machine::Stranger, nullptr, 0, 0, -1, L"Rejected client executable path."},
        {Machine::InactiveSession, nullptr, 0, 0, -1, L"Rejected inactive client session: 1"},
        {Machine::Firewall, nullptr, 0, 0, 0, L"Firewall filters released."},
        {Machine::Adapters, nullptr, 0, 0, 2, L"Physical Ethernet/Wi-Fi adapters paused."},
        {Machine::SlowAdapters, nullptr, 0, 0, 3, L"Physical Ethernet/Wi-Fi adapters paused."},
        {Machine::EngineRestart, nullptr, 0, 0, 0, L"Firewall filters released."},
        {Machine::EngineRestart, L"FwpmEngineOpen0", 3, 0x12345678, 0, L"WFP engine open failed: Windows error (3"},
        {Machine::EngineRestart, L"FwpmEngineClose0", 3, ERROR_ACCESS_DENIED, 0, L"Firewall filters released."},
        {Machine::NoPhysicalAdapter, nullptr, 0, 0, -1, nullptr},
        {Machine::ListReadOnly, nullptr, 0, 0, -1, nullptr},
        {Machine::Adapters, L"CM_Locate_DevNodeW", 1, CR_FAILURE, 2, L"Adapter restoration pending: "},
        {Machine::Firewall, L"FwpmEngineOpen0", 1, 0x12345678, -1, L"WFP engine open failed: Windows error (3"},
        {Machine::Adapters, L"CM_Get_DevNode_Status", 5, CR_FAILURE, 2, nullptr},  // the first at restore
        {Machine::Firewall, L"FwpmSubLayerAdd0", 1, 0x12345678, -1, L"WFP failure: "},
        {Machine::Firewall, L"FwpmFilterAdd0", 4, 0x12345678, -1, L"WFP failure: Windows error (305419896)"},
        {Machine::Firewall, L"FwpmTransactionCommit0", 1, 0x12345678, -1, L"Firewall filters released."},
        {Machine::Adapters, L"CM_Enable_DevNode", 2, CR_FAILURE, 2, nullptr},
        {Machine::Adapters, L"GetIfTable2", 1, ERROR_NOT_ENOUGH_MEMORY, -1, nullptr},
        {Machine::Adapters, L"CM_Get_DevNode_Status", 1, CR_FAILURE, 1, nullptr},  // that adapter is skipped
        {Machine::Firewall, L"FwpmEngineClose0", 1, ERROR_ACCESS_DENIED, 0, L"Firewall filters released."},
        {Machine::Adapters, L"CM_Get_Device_IDW", 2, CR_FAILURE, 1, nullptr},  // that adapter is skipped
        {Machine::Adapters, L"CM_Disable_DevNode", 1, CR_FAILURE, -1, nullptr},
        {Machine::Adapters, L"CM_Disable_DevNode", 2, CR_REMOVE_VETOED, -1, nullptr},  // the first comes back
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
        describe(row.machine);
        if (row.function) testbed::failCall(row.function, row.call, row.code);
        const bool restart = row.machine == Machine::EngineRestart;
        const auto fails = [&](const wchar_t* function) { return row.function && !wcscmp(row.function, function); };
        if (row.pause < 0) {
            const ProcessResult refused = runClient(L"open w:START read:3000 broken:3000");
            EXPECT_FALSE(contains(refused.output, "reply:OK")) << refused.output;
        } else {
            // Heartbeats from the start: during a slow pause they wait in the pipe, and none may be refused.
            UniqueHandle client = startClient(L"open w:START alive:30000");
            EXPECT_TRUE(waitUntil([&] { return paused(row.pause); }, 20000));
            // The words queued meanwhile are read one per pass; the session outlives them.
            const bool slow = row.machine == Machine::SlowAdapters;
            EXPECT_FALSE(slow && waitUntil([&] { return !paused(row.pause); }, 2500));
            // Within 2 s the block is back while the saver is connected, or the session ended as a failed pause.
            if (restart) testbed::restartEngine();
            EXPECT_TRUE(!restart || waitUntil([&] { return fails(L"FwpmEngineOpen0") ? settled() : paused(0); }, 2000));
            TerminateProcess(client.get(), 0);
            // The saver's end finds the close failing; then the engine restarts before the retry.
            if (restart && fails(L"FwpmEngineClose0")) {
                EXPECT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == NetworkError; }, 2000));
                testbed::restartEngine();
            }
        }
        // A single failure of a restoring call leaves recovery pending; the retry within 2000 ms finishes it.
        EXPECT_TRUE(waitUntil(settled, 5000)) << "state " << machineDword(L"NetworkState");
        EXPECT_TRUE(changed().empty());
        EXPECT_EQ(engine, nullptr);
        // A caller refused before any pause touched nothing of the network.
        EXPECT_TRUE(row.machine > Machine::InactiveSession ||
                    testbed::calls(L"FwpmEngineOpen0") + testbed::calls(L"GetIfTable2") == 0);
        EXPECT_TRUE(!row.log || lastLog().rfind(row.log, 0) == 0) << narrow(lastLog());
        // A pause that held removes the record of the last that failed; one that failed, at once or when the
        // block could not be put back, leaves its own; a refused caller leaves the record alone.
        const FailedPause failed = lastFailedPause();
        const bool held = row.pause >= 0 && !(restart && fails(L"FwpmEngineOpen0"));
        const std::wstring mode = row.machine == Machine::Unconfigured ? L"none"
                                  : row.machine >= Machine::Adapters   ? L"adapters"
                                                                       : L"firewall";
        if (held) {
            EXPECT_EQ(failed.time, L"");
        } else if (row.machine == Machine::Stranger || row.machine == Machine::InactiveSession) {
            EXPECT_EQ(failed.reason, L"earlier");
        } else {
            EXPECT_TRUE(failed.mode == mode && failed.time.size() == 20 && failed.reason != L"earlier")
                << narrow(failed.mode + L"|" + failed.reason);
        }
    }
    // A stranger that keeps connecting is dropped each time and logged once a minute, not at every attempt.
    describe(Machine::Stranger);
    writeString(HKEY_LOCAL_MACHINE, MachineKey, L"LastDiagnostic", L"quiet");
    const ProcessResult loop = runClient(L"open broken:3000 open broken:3000 open broken:3000");
    EXPECT_EQ(loop.output.find("connected"), std::string::npos) << loop.output;
    EXPECT_EQ(lastLog(), L"quiet");
}

// The caller's image path is decided by its text: the prefix maps \\host\share and the WebDAV share onto the
// installation folder, and the link C:\dormalis-links\linked onto C:\windows, so each refused road but the
// removable drive's leads to the installed saver and would pass a comparison of file identity.
TEST(CallerImage, OnlyTheInstalledSaversOwnSpellingsAreOpened) {
    const std::wstring linked = L"C:\\windows\\DormalisLinkTest", saver = installedSaver(), unc = L"\\\\host\\share";
    for (const std::wstring& folder : {std::wstring(InstallFolder), linked, std::wstring(L"R:\\Tools")})
        installSaverCopy(folder + L"\\Dormalis.scr");
    wchar_t shortSaver[MAX_PATH] = {};
    GetShortPathNameW(saver.c_str(), shortSaver, MAX_PATH);
    const std::wstring shortFolder = std::wstring(shortSaver).substr(0, std::wstring(shortSaver).rfind(L'\\'));
    const std::tuple<std::wstring, std::wstring, bool> rows[] = {
        {InstallFolder, saver, true},
        {InstallFolder, L"c:\\dormalisservicetest\\DORMALIS.SCR", true},
        {InstallFolder, shortSaver, true},
        {shortFolder, saver, true},  // InstallPath recorded in 8.3 form
        {InstallFolder, unc + L"\\Dormalis.scr", false},
        {InstallFolder, L"\\\\?\\UNC" + unc.substr(1) + L"\\Dormalis.scr", false},
        {InstallFolder, L"\\\\localhost@8080\\DavWWWRoot\\Dormalis.scr", false},
        {InstallFolder, L"\\\\?\\" + saver, false},
        {linked, L"C:\\dormalis-links\\linked\\DormalisLinkTest\\Dormalis.scr", false},
        {L"R:\\Tools", L"R:\\Tools\\Dormalis.scr", false}};  // spelled right, on a removable drive
    for (const auto& [folder, image, accepted] : rows) {
        installDirectoryOverride = folder;
        EXPECT_EQ(installedSaverImage(image), accepted) << narrow(image);
    }
    installDirectoryOverride.clear();
}

// While an adapter cannot be enabled no saver gets in, and attempts come every 2000 ms until one succeeds. Then
// the list as a crash or power loss leaves it: unplugged, or an ID no device can have, is nothing to enable, and
// kept it would refuse every saver for good; enabled but needing a restart of Windows, the restart starts it.
TEST_F(LoopTest, TheRecoveryListIsWorkedOff) {
    setMachineDword(L"Firewall", 0);
    const testbed::Adapter adapter = ethernet(1);
    testbed::failCall(L"CM_Enable_DevNode", 1, CR_FAILURE, 0);
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP broken:3000").output, "reply:OK"));
    ASSERT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == NetworkError; }, 3000));
    EXPECT_EQ(lastLog(), L"Adapter restoration pending: " + adapter.id);
    EXPECT_EQ(recoveryEntries(), std::vector<std::wstring>{adapter.id});
    EXPECT_EQ(runClient(L"open:500 w:START read:500").output, "noopen\n");
    const DWORD failed = testbed::calls(L"CM_Enable_DevNode");
    ASSERT_TRUE(waitUntil([&] { return testbed::calls(L"CM_Enable_DevNode") > failed; }, 3000));
    testbed::clearFaults();  // the next attempt succeeds
    const ULONGLONG at = GetTickCount64();
    ASSERT_TRUE(waitUntil(settled, 3000));
    EXPECT_NEAR(static_cast<double>(GetTickCount64() - at), 2250, 350);

    stopLoop();  // restore() by itself
    const testbed::Adapter off = ethernet(2, 6, true, testbed::DeviceDisabled);
    const testbed::Adapter byHand = ethernet(3);  // enabled by the user while paused
    const testbed::Adapter restart = ethernet(4, 71, true, testbed::DeviceDisabled);
    testbed::needRestartOnEnable(restart.id);
    testbed::clearCalls();
    for (const std::wstring& id : {off.id, byHand.id, restart.id, std::wstring(L"ROOT\\NET\\UNPLUGGED"),
                                   std::wstring(L"NOT A DEVICE"), std::wstring(L"ROOT\\\\0000")})
        writeString(HKEY_LOCAL_MACHINE, RecoveryKey, id.c_str(), id);
    EXPECT_TRUE(restore());
    EXPECT_EQ(testbed::deviceState(off.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(testbed::deviceState(restart.id), static_cast<long>(testbed::DeviceNeedsRestart));
    EXPECT_EQ(testbed::calls(L"CM_Enable_DevNode"), 2u);  // only those that were off
    EXPECT_TRUE(recoveryEntries().empty());
}

// Random sessions in both modes: words, lengths, NUL bytes, pauses, silence and client deaths. DORMALIS_SEED
// replays a run (the seed is printed), DORMALIS_SESSIONS runs more than the modest default.
TEST_F(LoopTest, RandomSessionsGiveTheNetworkBack) {
    const char *seedText = std::getenv("DORMALIS_SEED"), *sessionsText = std::getenv("DORMALIS_SESSIONS");
    const unsigned seed = seedText ? std::strtoul(seedText, nullptr, 10) : std::random_device{}();
    const unsigned sessions = sessionsText ? std::strtoul(sessionsText, nullptr, 10) : 30;
    SCOPED_TRACE(::testing::Message() << "DORMALIS_SEED=" << seed);
    std::printf("seed %u, %u sessions\n", seed, sessions);
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const auto number = [&](int low, int high) { return std::to_wstring(pick(low, high)); };
    ethernet(1);
    ethernet(2, 71);
    for (unsigned done = 0, client = 0; done < sessions; ++client) {
        setMachineDword(L"Firewall", client % 2);
        // One client runs sessions until it dies or has run its share. A session's end is only certain once the
        // pipe opens again (the service restores before it listens again), so the network is checked right
        // after each open, and once more after a last open.
        std::wstring script;
        bool dies = false;
        for (int checks = 0; !dies && checks < 20 && done < sessions; ++done, ++checks) {
            script += L" open given:1000";
            for (int steps = pick(0, 4); steps > 0; --steps) {
                // clang-format off
                const std::wstring choices[] = {L"w:START", L"w:START", L"w:ALIVE", L"w:START:" + number(1, 30),
                    L"w:start", L"\"w:START \"", L"w:ALIVE:" + number(0, 40), L"read:" + number(0, 200),
                    L"sleep:" + number(0, 300), L"w:STOP", L"alive:" + number(0, 1200),
                    pick(0, 99) ? L"w:ALIVE" : L"sleep:4300"};
                // clang-format on
                script += L" " + choices[pick(0, 11)];
            }
            const int end = pick(0, 99);
            dies = end < 5;
            script += dies ? L" die" : end < 55 ? L" w:STOP close" : L" close";
        }
        if (!dies) script += L" open given:1000 close";
        const std::string output = runClient(script, 60000).output;
        // Each open was followed by "given".
        EXPECT_FALSE(contains(output, "held") || contains(output, "noopen")) << narrow(script) << "\n" << output;
        EXPECT_TRUE(waitUntil(settled, 6000)) << narrow(script) << "\nNetworkState " << machineDword(L"NetworkState")
                                              << ", last log: " << narrow(lastLog());
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace dormalis::testing
