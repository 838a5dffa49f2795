// The real Dormalis.exe registered in Wine's service manager, with the test bed beside it in the installation
// folder and the scripted client installed there as Dormalis.scr.
#include <windows.h>

#include "foundation/constants.h"
#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

constexpr const wchar_t* SystemFolder = L"C:\\DormalisServiceSystemTest";
const std::wstring SystemSaver = std::wstring(SystemFolder) + L"\\Dormalis.scr";

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
            ASSERT_TRUE(waitUntil([&] { return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE; }, 5000));
        }
        installSaverCopy(SystemSaver);
        UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        service.reset(OpenServiceW(manager.get(), ServiceName, SERVICE_ALL_ACCESS));
        if (service) DeleteService(service.get());  // left by a run that did not finish
        const std::wstring command = quoted(std::wstring(SystemFolder) + L"\\Dormalis.exe") + L" --service";
        service.reset(CreateServiceW(manager.get(), ServiceName, L"Dormalis test service", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service.valid()) << GetLastError();
    }
    void TearDown() override {
        control(SERVICE_CONTROL_STOP);
        waitForServiceState(SERVICE_STOPPED, 10000);
        DeleteService(service.get());
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
    void start() {
        EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000));
    }

    UniqueService service;
};

// The real saver's network test against the real service, with InstallPath in 8.3 form as Windows may record
// it: the installed saver is still the installed saver, and the service is the pipe's server the saver trusts.
// A stop gives the network back before the service reports "stopped".
TEST_F(ServiceSystemTest, TheRealSaverBlocksUntilTheStop) {
    ASSERT_TRUE(CopyFileW((buildFolder() + L"\\Dormalis.exe").c_str(), SystemSaver.c_str(), FALSE));
    wchar_t shortForm[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(SystemFolder, shortForm, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortForm), SystemFolder);
    writeString(HKEY_LOCAL_MACHINE, MachineKey, L"InstallPath", shortForm);
    start();
    EXPECT_EQ(status().dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT |
                                 SERVICE_ACCEPT_SESSIONCHANGE));
    UniqueHandle saver = startProcess(quoted(SystemSaver) + L" --network-test");
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    EXPECT_EQ(testbed::subLayers().at(0).ownerPid, status().dwProcessId);
    ASSERT_TRUE(control(SERVICE_CONTROL_STOP)) << GetLastError();
    ASSERT_TRUE(waitForServiceState(SERVICE_STOPPED, 10000));
    EXPECT_TRUE(settled());
    EXPECT_EQ(status().dwWin32ExitCode, 0u);
    TerminateProcess(saver.get(), 0);
}

// A killed service takes its filters along at once (a dynamic session); only NetworkState still says blocked,
// and the next start puts it right. (The adapters of a killed service: the end-to-end road.)
TEST_F(ServiceSystemTest, AKilledServiceLeavesNothingBlocked) {
    start();
    UniqueHandle client = startClient(L"open w:START read:3000 broken:20000", SystemSaver);
    ASSERT_TRUE(waitUntil(firewallBlocked, 8000));
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status().dwProcessId));
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    EXPECT_TRUE(testbed::filters().empty() && testbed::subLayers().empty());
    EXPECT_EQ(machineDword(L"NetworkState"), static_cast<DWORD>(NetworkBlocked));
    start();
    EXPECT_TRUE(waitUntil(settled, 3000));
}

}  // namespace
}  // namespace dormalis::testing
