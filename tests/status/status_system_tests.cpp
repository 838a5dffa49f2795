#include <gtest/gtest.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "status/status_report.h"
#include "tests/registration/desktop_state.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

std::wstring controlsAfter(const std::wstring& expected) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (recordedControls() != expected && GetTickCount64() < deadline)
        Sleep(20);
    return recordedControls();
}

TEST(StatusSystem, RestoreNetworkExitCodeTellsWhetherTheServiceGotTheRequest) {
    { TestService removed; }
    EXPECT_EQ(runProcess(dormalis(L"--restore-network"), 15000).exitCode, 1u) << "no service";
    TestService service;
    EXPECT_EQ(runProcess(dormalis(L"--restore-network"), 15000).exitCode, 1u) << "stopped service";
    service.start();
    EXPECT_EQ(runProcess(dormalis(L"--restore-network"), 15000).exitCode, 0u) << "running service";
    EXPECT_EQ(controlsAfter(L"128"), L"128");
}

TEST(StatusSystem, DiagnosticsShowsTheReportInTheProductBox) {
    DesktopState state;
    writeDword(HKEY_CURRENT_USER, RegistryPath, L"Language", 1);
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"InstallPath", state.scratch().wstring());
    state.createFile(L"Dormalis.scr");
    TestService service;
    service.start();
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 1);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 1);

    UniqueHandle process = startProcess(dormalis(L"--diagnostics"));
    ProcessResult box = driver(L"message-box \"Dormalis\" 10000");
    driver(L"press \"Dormalis\" 1");
    EXPECT_EQ(finishProcess(process.get(), 10000), 0u);
    ASSERT_EQ(box.exitCode, 0u) << "no report box";
    const std::wstring expected = configurationReport();
    EXPECT_EQ(widen(box.output), expected);
    EXPECT_NE(expected.find(L"Blocked\n\nScreen saver file: present\nWindows service: running"), std::wstring::npos);
}

TEST(StatusSystem, TrayLeavesAtOnceWithoutTheServiceAndFollowsItsStop) {
    { TestService removed; }
    ProcessResult alone = runProcess(dormalis(L"--tray"), 10000);
    EXPECT_TRUE(alone.finished);
    EXPECT_EQ(alone.exitCode, 0u);

    TestService service;
    service.start();
    UniqueHandle tray = startProcess(dormalis(L"--tray"));
    ProcessResult window = driver(L"find Dormalis.Native.Tray - 10000");
    ASSERT_EQ(window.exitCode, 0u) << "the tray window did not appear";

    ProcessResult second = runProcess(dormalis(L"--tray"), 10000);
    EXPECT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0u) << "a second tray must leave quietly";
    EXPECT_EQ(WaitForSingleObject(tray.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first tray must stay";

    service.stop();
    // One poll second plus Wine's slow removal of the notification icon (about 2 s).
    EXPECT_EQ(finishProcess(tray.get(), 8000), 0u);
}

}  // namespace
}  // namespace dormalis
