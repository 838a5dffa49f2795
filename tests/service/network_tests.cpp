// The adapter pause, restore() and the recovery list, and a failure injected at every platform call of the
// pauses and of restore(): afterwards the network is blocked with a record, fully back, or recovery is pending.
#include <windows.h>

#include <cfgmgr32.h>
#include <sddl.h>

#include "foundation/failure.h"
#include "foundation/registry.h"
#include "service/loop.h"
#include "service/network.h"
#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

bool contains(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

class AdapterTest : public LoopTest {
  protected:
    void SetUp() override {
        LoopTest::SetUp();
        setMachineDword(L"Firewall", 0);
    }
};

TEST_F(AdapterTest, OnlyStartedPhysicalEthernetAndWifiArePaused) {
    const testbed::Adapter wired = ethernet(1);
    const testbed::Adapter wifi = ethernet(2, 71);
    const testbed::Adapter virtualNic = ethernet(3, 6, false);
    const testbed::Adapter loopback = ethernet(4, 24);
    const testbed::Adapter tunnel = ethernet(5, 131);
    const testbed::Adapter broadband = ethernet(6, 243);
    const testbed::Adapter alreadyOff = ethernet(7, 6, true, testbed::DeviceDisabled);
    const testbed::Adapter stopped = ethernet(8, 71, true, testbed::DeviceStopped);
    testbed::addInterface(L"{99999999-1111-2222-3333-444455556666}", 6, true);  // no device behind it

    const std::vector<Device> chosen = adapters();
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].id, wired.id);
    EXPECT_EQ(chosen[1].id, wifi.id);

    UniqueHandle client = startClient(L"open w:START read:3000 alive:1500 w:STOP");
    ASSERT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == 1; }, 5000));
    EXPECT_EQ(testbed::deviceState(wifi.id), static_cast<long>(testbed::DeviceDisabled));
    EXPECT_EQ(testbed::deviceState(wired.id), static_cast<long>(testbed::DeviceDisabled));
    EXPECT_EQ(recoveryEntries(), (std::vector<std::wstring>{wired.id, wifi.id}));
    EXPECT_EQ(savedDevices(), (std::vector<std::wstring>{wired.id, wifi.id}));
    EXPECT_EQ(machineDword(L"NetworkState"), 1u);
    EXPECT_EQ(lastLog(), L"Physical Ethernet/Wi-Fi adapters paused.");
    for (const testbed::Adapter& untouched : {virtualNic, loopback, tunnel, broadband})
        EXPECT_EQ(testbed::deviceState(untouched.id), static_cast<long>(testbed::DeviceStarted));
    finishProcess(client.get(), 10000);

    ASSERT_TRUE(waitUntil(networkGivenBack, 3000));
    // What the user had turned off stays off.
    EXPECT_EQ(testbed::deviceState(alreadyOff.id), static_cast<long>(testbed::DeviceDisabled));
    EXPECT_EQ(testbed::deviceState(stopped.id), static_cast<long>(testbed::DeviceStopped));
    EXPECT_EQ(testbed::calls(L"CM_Disable_DevNode"), 2u);
    EXPECT_EQ(testbed::calls(L"CM_Enable_DevNode"), 2u);
}

TEST_F(AdapterTest, NoAdapterAnswersError) {
    ethernet(1, 6, false);
    ProcessResult result = runClient(L"open w:START read:3000");
    EXPECT_TRUE(contains(result.output, "reply:ERROR") || contains(result.output, "broken")) << result.output;
    EXPECT_EQ(testbed::calls(L"CM_Disable_DevNode"), 0u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

TEST_F(AdapterTest, SecondAdapterRefusingGivesTheFirstBack) {
    const testbed::Adapter first = ethernet(1);
    ethernet(2);
    testbed::failCall(L"CM_Disable_DevNode", 2, CR_FAILURE);
    ProcessResult result = runClient(L"open w:START read:3000");
    EXPECT_FALSE(contains(result.output, "reply:OK")) << result.output;
    ASSERT_TRUE(waitUntil(networkGivenBack, 3000));
    EXPECT_EQ(testbed::calls(L"CM_Enable_DevNode"), 1u);
    EXPECT_EQ(testbed::deviceState(first.id), static_cast<long>(testbed::DeviceStarted));
}

TEST_F(AdapterTest, PendingRecoveryRefusesSaversAndRetries) {
    const testbed::Adapter adapter = ethernet(1);
    testbed::failCall(L"CM_Enable_DevNode", 1, CR_FAILURE, 0);
    ProcessResult paused = runClient(L"open w:START read:3000 w:STOP broken:3000");
    EXPECT_TRUE(contains(paused.output, "reply:OK")) << paused.output;
    ASSERT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == 3; }, 3000));
    EXPECT_EQ(lastLog(), L"Adapter restoration pending: " + adapter.id);
    EXPECT_EQ(recoveryEntries(), std::vector<std::wstring>{adapter.id});

    // No saver gets in while the adapter is held, and attempts come about every 2000 ms.
    const DWORD before = testbed::calls(L"CM_Enable_DevNode");
    ProcessResult refused = runClient(L"open w:START read:1000");
    EXPECT_TRUE(contains(refused.output, "noopen") || contains(refused.output, "broken")) << refused.output;
    Sleep(5000);
    const DWORD attempts = testbed::calls(L"CM_Enable_DevNode") - before;
    EXPECT_GE(attempts, 3u);
    EXPECT_LE(attempts, 6u);
    EXPECT_EQ(testbed::calls(L"CM_Disable_DevNode"), 1u);

    // The first attempt that succeeds lets the next saver in.
    testbed::clearFaults();
    ASSERT_TRUE(waitUntil(networkGivenBack, 4000));
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

// restore() by itself, on the recovery list as a crash or power loss leaves it.
class RecoveryTest : public ServiceTest {};

TEST_F(RecoveryTest, NothingPaused) {
    writeString(HKEY_LOCAL_MACHINE, MachineKey, L"LastDiagnostic", L"earlier line");
    EXPECT_TRUE(restore());
    EXPECT_EQ(machineDword(L"NetworkState"), 0u);
    EXPECT_EQ(lastLog(), L"earlier line");
}

TEST_F(RecoveryTest, ListedAdaptersAfterACrash) {
    const testbed::Adapter off = ethernet(1, 6, true, testbed::DeviceDisabled);
    const testbed::Adapter byHand = ethernet(2);  // enabled by the user while paused
    writeString(HKEY_LOCAL_MACHINE, RecoveryKey, off.id.c_str(), off.id);
    writeString(HKEY_LOCAL_MACHINE, RecoveryKey, byHand.id.c_str(), byHand.id);
    writeString(HKEY_LOCAL_MACHINE, RecoveryKey, L"ROOT\\NET\\UNPLUGGED", L"ROOT\\NET\\UNPLUGGED");
    EXPECT_TRUE(restore());
    EXPECT_EQ(testbed::deviceState(off.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(testbed::calls(L"CM_Enable_DevNode"), 1u);  // only the one that was off
    EXPECT_TRUE(recoveryEntries().empty());
    EXPECT_EQ(machineDword(L"NetworkState"), 0u);
}

TEST_F(RecoveryTest, MalformedEntriesAreIgnoredAndKept) {
    UniqueKey key;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecoveryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
        ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExW(key.get(), L"dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegSetValueExW(key.get(), L"empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2);
    RegSetValueExW(key.get(), L"none", 0, REG_SZ, nullptr, 0);
    EXPECT_TRUE(savedDevices().empty());
    EXPECT_TRUE(restore());
    EXPECT_EQ(recoveryEntries().size(), 3u);
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

TEST_F(AdapterTest, RecoveryListThatCannotBeWrittenDisablesNothing) {
    const testbed::Adapter adapter = ethernet(1);
    protectRecoveryKey(ReadOnly);
    ProcessResult result = runClient(L"open w:START read:3000");
    protectRecoveryKey(Open);
    EXPECT_FALSE(contains(result.output, "reply:OK")) << result.output;
    EXPECT_EQ(testbed::calls(L"CM_Disable_DevNode"), 0u);
    EXPECT_EQ(testbed::deviceState(adapter.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
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

TEST_F(RecoveryTest, ErrorTexts) {
    const std::wstring denied = errorText(5);
    EXPECT_GT(denied.size(), 4u);
    EXPECT_EQ(denied.substr(denied.size() - 4), L" (5)");
    EXPECT_EQ(errorText(0x12345678), L"Windows error (305419896)");
    EXPECT_EQ(errorText(0xFFFFFFF0), L"Windows error (4294967280)");
}

// One failure at one platform call, in firewall or adapter mode.
struct Fault {
    const wchar_t* function;
    DWORD call;
    DWORD code;
    bool adapters;
    bool answeredOk;         // the pause still succeeds (a per-device skip, or a failure after the answer)
    const wchar_t* logLine;  // what LastDiagnostic reads once the session is over, or null
};

class FaultTest : public LoopTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultTest, NetworkBlockedOrGivenBackOrPending) {
    const Fault fault = GetParam();
    if (fault.adapters) {
        setMachineDword(L"Firewall", 0);
        ethernet(1);
        ethernet(2, 71);
    }
    // One warm-up session, so that handles the system keeps for good (registry roots, caches) are already open.
    runClient(L"open w:ALIVE w:STOP broken:3000");
    ASSERT_TRUE(waitUntil(networkGivenBack, 3000));
    DWORD handlesBefore = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);

    testbed::failCall(fault.function, fault.call, fault.code);
    ProcessResult result = runClient(L"open w:START read:3000 w:STOP broken:3000");
    EXPECT_EQ(contains(result.output, "reply:OK"), fault.answeredOk) << result.output;
    // A single failure of a restoring call leaves recovery pending; the retry 2000 ms later finishes it.
    ASSERT_TRUE(waitUntil(networkGivenBack, 6000)) << "state " << machineDword(L"NetworkState");
    EXPECT_EQ(testbed::engineSessions(), 0u);
    EXPECT_EQ(engine, nullptr);
    DWORD handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(handlesAfter, handlesBefore);
    if (fault.logLine) {
        const std::wstring expected = fault.logLine;
        EXPECT_EQ(lastLog().substr(0, expected.size()), expected);
    }
    // And the service serves again.
    testbed::clearFaults();
    EXPECT_TRUE(contains(runClient(L"open w:START read:3000 w:STOP").output, "reply:OK"));
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

constexpr DWORD WfpError = 0x80320001;  // FWP_E_CALLOUT_NOT_FOUND, any engine error will do

INSTANTIATE_TEST_SUITE_P(
    Firewall, FaultTest,
    ::testing::Values(Fault{L"FwpmEngineOpen0", 1, ERROR_ACCESS_DENIED, false, false, L"WFP engine open failed: "},
                      Fault{L"FwpmEngineOpen0", 1, 0x12345678, false, false,
                            L"WFP engine open failed: Windows error (305419896)"},
                      Fault{L"FwpmTransactionBegin0", 1, WfpError, false, false, L"Firewall filters released."},
                      Fault{L"FwpmSubLayerAdd0", 1, WfpError, false, false, L"WFP failure: "},
                      Fault{L"FwpmFilterAdd0", 1, WfpError, false, false, L"WFP failure: "},
                      Fault{L"FwpmFilterAdd0", 2, WfpError, false, false, L"WFP failure: "},
                      Fault{L"FwpmFilterAdd0", 3, WfpError, false, false, L"WFP failure: "},
                      Fault{L"FwpmFilterAdd0", 4, 0x12345678, false, false, L"WFP failure: Windows error (305419896)"},
                      Fault{L"FwpmTransactionCommit0", 1, WfpError, false, false, L"Firewall filters released."},
                      Fault{L"FwpmEngineClose0", 1, ERROR_ACCESS_DENIED, false, true, L"Firewall filters released."}));

INSTANTIATE_TEST_SUITE_P(
    Adapters, FaultTest,
    ::testing::Values(Fault{L"GetIfTable2", 1, ERROR_NOT_ENOUGH_MEMORY, true, false, nullptr},
                      Fault{L"CM_Get_DevNode_Status", 1, CR_FAILURE, true, true, nullptr},  // first adapter skipped
                      Fault{L"CM_Get_Device_IDW", 2, CR_FAILURE, true, true, nullptr},      // second adapter skipped
                      Fault{L"CM_Disable_DevNode", 1, CR_FAILURE, true, false, nullptr},
                      Fault{L"CM_Disable_DevNode", 2, CR_FAILURE, true, false, nullptr},
                      Fault{L"CM_Locate_DevNodeW", 1, CR_FAILURE, true, true, L"Adapter restoration pending: "},
                      Fault{L"CM_Get_DevNode_Status", 3, CR_FAILURE, true, true, nullptr},  // status at restore: enable
                      Fault{L"CM_Enable_DevNode", 1, CR_FAILURE, true, true, nullptr},
                      Fault{L"CM_Enable_DevNode", 2, CR_FAILURE, true, true, nullptr}));

}  // namespace
}  // namespace dormalis::testing
