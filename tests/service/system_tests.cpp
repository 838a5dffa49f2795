// The real Dormalis.exe registered in Wine's service manager, with the test bed beside it in the installation
// folder and the scripted client installed there as Dormalis.scr.
#include <windows.h>

#include "foundation/constants.h"
#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

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
             {L"Dormalis.exe", L"fwpuclnt.dll", L"cfgmgr32.dll", L"wtsapi32.dll", L"iphlpapi.dll"}) {
            const std::wstring from = buildFolder() + L"\\" + file, to = std::wstring(SystemFolder) + L"\\" + file;
            // The previous test's service process may still be on its way out.
            ASSERT_TRUE(waitUntil([&] { return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE; }, 5000))
                << narrow(file);
        }
        installSaverCopy(systemSaver());
        manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager.valid());
        service.reset(OpenServiceW(manager.get(), ServiceName, SERVICE_ALL_ACCESS));
        if (service) {
            control(SERVICE_CONTROL_STOP);
            DeleteService(service.get());
        }
        const std::wstring command = quoted(std::wstring(SystemFolder) + L"\\Dormalis.exe") + L" --service";
        service.reset(CreateServiceW(manager.get(), ServiceName, L"Dormalis test service", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service.valid()) << GetLastError();
    }

    void TearDown() override {
        if (service) {
            control(SERVICE_CONTROL_STOP);
            waitForServiceState(SERVICE_STOPPED, 10000);
            DeleteService(service.get());
        }
        testbed::reset();
    }

    SERVICE_STATUS_PROCESS status() {
        SERVICE_STATUS_PROCESS result{};
        DWORD needed = 0;
        QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&result), sizeof result,
                             &needed);
        return result;
    }

    bool control(DWORD code) {
        SERVICE_STATUS ignored{};
        return ControlService(service.get(), code, &ignored);
    }

    DWORD start() {
        EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000));
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
// The restore control gives the network back and the service runs on; a stop gives it back before "stopped".
TEST_F(ServiceSystemTest, TheRealSaverBlocksUntilARestoreOrTheStop) {
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
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    EXPECT_EQ(testbed::subLayers().at(0).ownerPid, pid);
    ASSERT_TRUE(control(128)) << GetLastError();
    EXPECT_TRUE(waitUntil(settled, 3000));
    EXPECT_EQ(serviceState(), static_cast<DWORD>(SERVICE_RUNNING));
    TerminateProcess(saver.get(), 0);

    saver = startProcess(quoted(systemSaver()) + L" --network-test");
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    ASSERT_TRUE(control(SERVICE_CONTROL_STOP)) << GetLastError();
    ASSERT_TRUE(waitForServiceState(SERVICE_STOPPED, 10000));
    EXPECT_TRUE(settled());
    EXPECT_EQ(status().dwWin32ExitCode, 0u);
    TerminateProcess(saver.get(), 0);
}

// A killed service takes its filters along at once (a dynamic session); the adapters it paused stay off, named
// on the recovery list, until the next start gives them back before any saver can connect.
TEST_F(ServiceSystemTest, AKilledServiceLeavesNothingBlockedForGood) {
    DWORD pid = start();
    UniqueHandle client = startClient(L"open w:START read:3000 hang", systemSaver());
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    kill(pid);
    TerminateProcess(client.get(), 0);
    EXPECT_TRUE(testbed::filters().empty() && testbed::subLayers().empty());

    setMachineDword(L"Firewall", 0);
    const testbed::Adapter wired = ethernet(1);
    const testbed::Adapter wifi = ethernet(2, 71);
    pid = start();
    client = startClient(L"open w:START read:3000 hang", systemSaver());
    ASSERT_TRUE(waitUntil([&] { return testbed::deviceState(wifi.id) == testbed::DeviceDisabled; }, 8000));
    kill(pid);
    TerminateProcess(client.get(), 0);
    EXPECT_EQ(testbed::deviceState(wired.id), static_cast<long>(testbed::DeviceDisabled));
    EXPECT_EQ(recoveryEntries(), (std::vector<std::wstring>{wired.id, wifi.id}));

    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    // The moment the pipe can be opened, both adapters are already back.
    UniqueHandle pipe;
    ASSERT_TRUE(waitUntil(
        [&] {
            pipe.reset(CreateFileW(PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            return pipe.valid() || GetLastError() == ERROR_PIPE_BUSY;
        },
        10000));
    EXPECT_EQ(testbed::deviceState(wired.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_EQ(testbed::deviceState(wifi.id), static_cast<long>(testbed::DeviceStarted));
    EXPECT_TRUE(recoveryEntries().empty());
    pipe.reset();
    EXPECT_TRUE(waitUntil(settled, 3000));
}

}  // namespace
}  // namespace dormalis::testing
