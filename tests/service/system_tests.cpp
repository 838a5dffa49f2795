// What only the real processes show: Dormalis.exe in Wine's service manager, the test bed in the system folder.
#include <windows.h>

#include "foundation/constants.h"
#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

// The installed saver is accepted, and the service is the pipe's server the saver trusts. A killed service takes its
// filters along at once (a dynamic session) and its next start puts NetworkState right; a stop gives the network back
// before "stopped".
TEST(ServiceSystemTest, TheRealSaverIsBlockedUntilTheServiceEnds) {
    const std::wstring folder = L"C:\\DormalisServiceSystemTest";
    testbed::reset();
    deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
    setMachineDword(L"ModeConfigured", 1);
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* file : {L"Dormalis.exe", L"Dormalis.scr"})
        ASSERT_TRUE(CopyFileW((buildFolder() + L"\\Dormalis.exe").c_str(), (folder + L"\\" + file).c_str(), FALSE));
    writeString(HKEY_LOCAL_MACHINE, MachineKey, L"InstallPath", folder);

    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    removeService();  // left by a run that did not finish
    const std::wstring command = quoted(folder + L"\\Dormalis.exe") + L" --service";
    UniqueService service(CreateServiceW(manager.get(), ServiceName, L"Dormalis test service", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service.valid()) << GetLastError();
    const ScopeExit removed([&] {
        removeService();
        testbed::reset();
    });
    // The service starts and gives the network back, then the real saver's network test cuts it. The first time
    // another program holds the pipe's name: the service runs all the same, says who holds it, and takes the name
    // once it is free.
    UniqueHandle squatter(CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 0, 0, 0, nullptr));
    const std::wstring holder = L"Control pipe name held by process " + std::to_wstring(GetCurrentProcessId());
    const auto startBoth = [&] {
        EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        EXPECT_TRUE(waitForServiceState(SERVICE_RUNNING, 10000));
        EXPECT_TRUE(waitUntil(settled, 3000));
        EXPECT_TRUE(!squatter || waitUntil([&] { return lastLog().rfind(holder, 0) == 0; }, 5000)) << narrow(lastLog());
        squatter.reset();
        EXPECT_TRUE(waitUntil([] { return WaitNamedPipeW(PipeName, 1) != FALSE; }, 5000));
        UniqueHandle saver = startProcess(quoted(folder + L"\\Dormalis.scr") + L" --network-test");
        EXPECT_TRUE(waitUntil(firewallBlocked, 8000));
        return saver;
    };

    UniqueHandle saver = startBoth();
    EXPECT_EQ(serviceStatus().dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT |
                                 SERVICE_ACCEPT_SESSIONCHANGE));
    EXPECT_EQ(testbed::subLayers().at(0).ownerPid, serviceStatus().dwProcessId);
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, serviceStatus().dwProcessId));
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    EXPECT_TRUE(testbed::filters().empty() && testbed::subLayers().empty());
    EXPECT_EQ(machineDword(L"NetworkState"), static_cast<DWORD>(NetworkBlocked));
    TerminateProcess(saver.get(), 0);

    saver = startBoth();
    SERVICE_STATUS ignored{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored)) << GetLastError();
    ASSERT_TRUE(waitForServiceState(SERVICE_STOPPED, 10000));
    EXPECT_TRUE(settled());
    EXPECT_EQ(serviceStatus().dwWin32ExitCode, 0u);
    TerminateProcess(saver.get(), 0);
}

}  // namespace
}  // namespace dormalis::testing
