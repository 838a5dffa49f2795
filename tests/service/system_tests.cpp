// The real Dormalis.exe registered in Wine's service manager, with the test bed beside it in the installation
// folder and the scripted client installed there as Dormalis.scr.
#include <windows.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

using UniqueService = Unique<SC_HANDLE, &CloseServiceHandle>;

constexpr const wchar_t* SystemFolder = L"C:\\DormalisServiceSystemTest";

std::wstring systemSaver() {
    return std::wstring(SystemFolder) + L"\\Dormalis.scr";
}

class ServiceSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed::reset();
        deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
        setMachineDword(L"ModeConfigured", 1);
        writeString(HKEY_LOCAL_MACHINE, MachineKey, L"InstallPath", SystemFolder);
        CreateDirectoryW(SystemFolder, nullptr);
        for (const wchar_t* file :
             {L"Dormalis.exe", L"fwpuclnt.dll", L"cfgmgr32.dll", L"wtsapi32.dll", L"iphlpapi.dll"})
            // The previous test's service process may still be on its way out.
            ASSERT_TRUE(waitUntil(
                [&] {
                    return CopyFileW((buildFolder() + L"\\" + file).c_str(),
                                     (std::wstring(SystemFolder) + L"\\" + file).c_str(), FALSE);
                },
                5000))
                << narrow(file);
        installSaverCopy(systemSaver());
        manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager.valid());
        removeService();
        const std::wstring command = quoted(std::wstring(SystemFolder) + L"\\Dormalis.exe") + L" --service";
        service.reset(CreateServiceW(manager.get(), ServiceName, L"Dormalis test service", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service.valid()) << GetLastError();
    }

    void TearDown() override {
        if (service) {
            SERVICE_STATUS status{};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            waitForState(SERVICE_STOPPED, 10000);
            DeleteService(service.get());
            service.reset();
        }
        testbed::reset();
    }

    void removeService() {
        UniqueService old(OpenServiceW(manager.get(), ServiceName, SERVICE_ALL_ACCESS));
        if (!old) return;
        SERVICE_STATUS status{};
        ControlService(old.get(), SERVICE_CONTROL_STOP, &status);
        DeleteService(old.get());
    }

    SERVICE_STATUS_PROCESS status() {
        SERVICE_STATUS_PROCESS result{};
        DWORD needed = 0;
        QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&result), sizeof result,
                             &needed);
        return result;
    }

    bool waitForState(DWORD state, DWORD timeoutMs) {
        return waitUntil([&] { return status().dwCurrentState == state; }, timeoutMs);
    }

    DWORD start() {
        EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        EXPECT_TRUE(waitForState(SERVICE_RUNNING, 10000));
        return status().dwProcessId;
    }

    void kill(DWORD pid) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        ASSERT_TRUE(process.valid());
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }

    UniqueService manager;
    UniqueService service;
};

// The real saver's network test against the real service, with InstallPath in 8.3 form as Windows may record
// it: the installed saver is still the installed saver, and the service is the pipe's server the saver trusts.
TEST_F(ServiceSystemTest, SaverBlocksAndStopGivesBack) {
    ASSERT_TRUE(CopyFileW((buildFolder() + L"\\Dormalis.exe").c_str(), systemSaver().c_str(), FALSE));
    wchar_t shortForm[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(SystemFolder, shortForm, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortForm), SystemFolder);
    writeString(HKEY_LOCAL_MACHINE, MachineKey, L"InstallPath", shortForm);
    const DWORD pid = start();
    EXPECT_EQ(status().dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT |
                                 SERVICE_ACCEPT_SESSIONCHANGE));
    UniqueHandle saver = startProcess(quoted(systemSaver()) + L" --network-test");
    ASSERT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == 1; }, 8000));
    EXPECT_TRUE(firewallBlocked());
    for (const testbed::FilterRecord& filter : testbed::filters())
        EXPECT_EQ(filter.ownerPid, pid);
    EXPECT_EQ(lastLog(), L"IPv4/IPv6 Internet and LAN blocked (dynamic WFP filters).");
    EXPECT_EQ(finishProcess(saver.get(), 15000), 0u);  // after its 6 s, with "STOP"
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
    EXPECT_EQ(lastLog(), L"Firewall filters released.");
}

TEST_F(ServiceSystemTest, RestoreControlAndServiceStop) {
    start();
    UniqueHandle client = startClient(L"open w:START read:3000 hang", systemSaver());
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    SERVICE_STATUS ignored{};
    ASSERT_TRUE(ControlService(service.get(), 128, &ignored)) << GetLastError();
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
    EXPECT_EQ(status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    TerminateProcess(client.get(), 0);

    // Block again, then stop the service: given back by the time it reports stopped.
    client = startClient(L"open w:START read:3000 hang", systemSaver());
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored)) << GetLastError();
    ASSERT_TRUE(waitForState(SERVICE_STOPPED, 10000));
    EXPECT_TRUE(networkGivenBack());
    EXPECT_EQ(status().dwWin32ExitCode, 0u);
    TerminateProcess(client.get(), 0);
}

TEST_F(ServiceSystemTest, FirewallPauseDiesWithTheService) {
    const DWORD pid = start();
    UniqueHandle client = startClient(L"open w:START read:3000 hang", systemSaver());
    ASSERT_TRUE(waitUntil([] { return machineDword(L"NetworkState") == 1; }, 8000));
    kill(pid);
    EXPECT_TRUE(testbed::filters().empty());
    EXPECT_TRUE(testbed::subLayers().empty());
    TerminateProcess(client.get(), 0);
    // Only the state value still says blocked; the next start puts it right.
    EXPECT_EQ(machineDword(L"NetworkState"), 1u);
    start();
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

TEST_F(ServiceSystemTest, AdaptersComeBackAtTheNextStartBeforeThePipe) {
    setMachineDword(L"Firewall", 0);
    const testbed::Adapter wired = ethernet(1);
    const testbed::Adapter wifi = ethernet(2, 71);
    const DWORD pid = start();
    UniqueHandle client = startClient(L"open w:START read:3000 hang", systemSaver());
    ASSERT_TRUE(waitUntil([&] { return machineDword(L"NetworkState") == 1; }, 8000));
    kill(pid);
    TerminateProcess(client.get(), 0);
    // The service is gone; the adapters stay off and the list on disk names them.
    EXPECT_EQ(testbed::deviceState(wired.id), static_cast<long>(testbed::DeviceDisabled));
    EXPECT_EQ(recoveryEntries(), (std::vector<std::wstring>{wired.id, wifi.id}));

    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    // The moment the pipe can be opened, both adapters are already back.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(waitUntil(
        [&] {
            pipe = CreateFileW(PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            return pipe != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY;
        },
        10000));
    EXPECT_EQ(testbed::deviceState(wired.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(testbed::deviceState(wifi.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_TRUE(recoveryEntries().empty());
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

}  // namespace
}  // namespace dormalis::testing
