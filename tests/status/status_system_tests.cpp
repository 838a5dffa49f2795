// The real program's --restore-network, --diagnostics and --tray, watched through the test driver.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "status/status_report.h"
#include "tests/support/desktop_state.h"
#include "tests/support/fake_shell.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
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
    const std::string shown = answerBox(L"Dormalis", 10000);
    EXPECT_EQ(finishProcess(process.get(), 10000), 0u);
    EXPECT_EQ(widen(shown), configurationReport());
    EXPECT_NE(shown.find("Blocked\n\nScreen saver file: present\nWindows service: running"), std::string::npos);
}

// --restore-network's exit code tells whether the service got the request; the tray leaves at once without the
// service, waits for an installed one to start, stays alone and follows its stop.
TEST(StatusSystem, RestoreNetworkAndTheTrayFollowTheService) {
    FakeShell shell;  // answers at once, where Wine's own notification area takes 2 s to remove an icon
    { TestService removed; }
    EXPECT_EQ(runProcess(dormalis(L"--restore-network"), 15000).exitCode, 1u) << "no service";
    const ProcessResult alone = runProcess(dormalis(L"--tray"), 10000);
    EXPECT_TRUE(alone.finished && alone.exitCode == 0u) << "no service: nothing to watch";
    TestService service;  // installed and not yet running, as at logon
    UniqueHandle tray = startProcess(dormalis(L"--tray"));
    EXPECT_EQ(WaitForSingleObject(tray.get(), 1500), static_cast<DWORD>(WAIT_TIMEOUT)) << "the tray must wait";
    service.start();
    EXPECT_EQ(runProcess(dormalis(L"--restore-network"), 15000).exitCode, 0u) << "running service";
    EXPECT_TRUE(waitUntil([] { return recordedControls() == L"128"; }, 5000)) << narrow(recordedControls());
    ASSERT_EQ(driver(L"find Dormalis.Native.Tray - 10000").exitCode, 0u) << "the tray window did not appear";
    const ProcessResult second = runProcess(dormalis(L"--tray"), 10000);
    EXPECT_TRUE(second.finished && second.exitCode == 0u) << "a second tray must leave quietly";
    EXPECT_EQ(WaitForSingleObject(tray.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first tray must stay";
    service.stop();
    EXPECT_EQ(finishProcess(tray.get(), 5000), 0u) << "the tray polls the service once a second";
    EXPECT_EQ(shell.calls().back().message, static_cast<DWORD>(NIM_DELETE)) << "and takes its icon along";
}

}  // namespace
}  // namespace dormalis
