// The product as a user meets it on a fresh machine: the real installed programs under Wine's service manager,
// with the test bed standing in for the network stack. The steps run in order and share one machine; a step
// that fails stops the road, since every later step stands on it.
#include <gtest/gtest.h>
#include <windows.h>

#include <fwptypes.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "tests/e2e/debug_output.h"
#include "tests/e2e/road.h"
#include "tests/install/install_fixture.h"
#include "tests/service/fixture.h"
#include "tests/support/fake_shell.h"
#include "tests/support/support.h"
#include "ui/ui.h"

namespace dormalis::testing {
namespace {

constexpr const wchar_t* TrayClass = L"Dormalis.Native.Tray";
constexpr const wchar_t* SaverClass = L"Dormalis.Native.Saver";
constexpr const wchar_t* DesktopKey = L"Control Panel\\Desktop";
constexpr const wchar_t* RunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* ShortcutPath = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk";
constexpr const wchar_t* StrangerFolder = L"C:\\DormalisElsewhere";
constexpr DWORD CrFailure = 0x13;
const wchar_t* const TestbedDlls[] = {L"fwpuclnt.dll", L"cfgmgr32.dll", L"wtsapi32.dll", L"iphlpapi.dll"};

// What the steps share: the machine's listeners, its adapters, the saver that one step starts and the next ends.
struct RoadWorld {
    DebugOutput log;
    FakeShell shell;
    std::vector<testbed::Adapter> physical;
    std::vector<testbed::Adapter> all;
    UniqueHandle saver;
    size_t saverRunLine = 0;  // first log line of the current saver run
    std::vector<std::pair<std::string, double>> durations;
    ULONGLONG start = GetTickCount64();
    bool broken = false;
};
RoadWorld* world = nullptr;

class RoadEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { world = new RoadWorld; }
    void TearDown() override {
        say("=== the road took %.1f s", (GetTickCount64() - world->start) / 1000.0);
        for (const auto& [name, seconds] : world->durations)
            std::printf("    %-60s %6.1f s\n", name.c_str(), seconds);
        std::fflush(stdout);
        if (world->saver) TerminateProcess(world->saver.get(), 0);
        delete world;
        world = nullptr;
    }
};
[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new RoadEnvironment);

std::string network() {
    return networkDescription(world->all);
}

DWORD networkState() {
    return machineDword(L"NetworkState", 99);
}

std::wstring machineString(const wchar_t* name) {
    return readString(HKEY_LOCAL_MACHINE, RegistryPath, name, L"<absent>");
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A button of another process's window, pressed: its owner receives the WM_COMMAND a click sends. Posted,
// because the settings window may answer with a modal page.
void click(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    ASSERT_TRUE(button) << "no control " << id;
    ASSERT_TRUE(PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)));
}

// A radio button of the pair, chosen as a click chooses it: it is checked, its partner unchecked, the owner told.
void choose(HWND window, int id, int partner) {
    SendMessageW(GetDlgItem(window, partner), BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(GetDlgItem(window, id), BM_SETCHECK, BST_CHECKED, 0);
    click(window, id);
}

bool checked(HWND window, int id) {
    return SendMessageW(GetDlgItem(window, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void endSaver() {
    if (!world->saver) return;
    TerminateProcess(world->saver.get(), 0);
    WaitForSingleObject(world->saver.get(), 5000);
    world->saver.reset();
}

BOOL CALLBACK describeWindow(HWND window, LPARAM) {
    wchar_t name[128] = {}, title[256] = {};
    GetClassNameW(window, name, 128);
    GetWindowTextW(window, title, 256);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId())
        say("  window %p of process %lu: class %s, title \"%s\", %s, owner %p", static_cast<void*>(window), pid,
            narrow(name).c_str(), narrow(title).c_str(), IsWindowVisible(window) ? "visible" : "hidden",
            static_cast<void*>(GetWindow(window, GW_OWNER)));
    return TRUE;
}

// What is on the screen, when a step waited in vain for a window.
void describeWindows() {
    say("top-level windows of other processes:");
    EnumWindows(describeWindow, 0);
}

// The balloons the tray asked the notification area to show from call `first` on.
std::vector<NotifyCall> balloonsSince(size_t first) {
    std::vector<NotifyCall> found;
    const std::vector<NotifyCall> calls = world->shell.calls();
    for (size_t i = first; i < calls.size(); ++i)
        if ((calls[i].flags & NIF_INFO) && !calls[i].info.empty()) found.push_back(calls[i]);
    return found;
}

class Road : public ::testing::Test {
  protected:
    void SetUp() override {
        if (world->broken) GTEST_SKIP() << "an earlier step of the road failed";
        started_ = GetTickCount64();
        firstLine_ = world->log.count();
        say("=== %s", title());
    }

    void TearDown() override {
        if (IsSkipped()) return;
        const double seconds = (GetTickCount64() - started_) / 1000.0;
        world->durations.emplace_back(title(), seconds);
        say("service log lines of this step:");
        sayLines(world->log.serviceLines(firstLine_), "    Dormalis: ");
        say("network: %s", network().c_str());
        say("step done in %.1f s", seconds);
        // A fatal failure leaves the machine in no state to go on; a failed check does not.
        if (HasFatalFailure()) world->broken = true;
    }

    static const char* title() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

    // Starts a saver program as Windows does once the idle time has passed, and returns once its window has
    // stood past the saver's input grace. Wine now and then turns the pointer entering the new full-screen window
    // into input, and the saver rightly ends at once; such a run is started again after a new idle period.
    void startStayingSaver(const std::wstring& path) {
        for (int attempt = 1;; ++attempt) {
            waitForIdleDesktop();
            world->saverRunLine = world->log.count();
            world->saver = startSaverAsWindows(path);
            ASSERT_TRUE(world->saver.valid());
            say("started %s /s", narrow(path).c_str());
            HWND window = nullptr;
            ASSERT_TRUE(waitUntil([&] { return (window = FindWindowW(SaverClass, nullptr)) != nullptr; }, 10000))
                << "no saver window";
            Sleep(1200);
            if (IsWindow(window) && WaitForSingleObject(world->saver.get(), 0) == WAIT_TIMEOUT) return;
            say("Wine reported input as the saver's window appeared and the saver ended by itself; once more");
            finishProcess(world->saver.get(), 5000);
            world->saver.reset();
            ASSERT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
            ASSERT_LT(attempt, 4) << "the saver never stayed";
        }
    }

    // The installed saver, started as Windows starts it; the service accepts it and cuts the network.
    void startCuttingSaver() {
        startStayingSaver(installedScreenSaver());
        ASSERT_TRUE(waitUntil([] { return networkState() == 1; }, 10000)) << "the network was not cut; " << network();
        say("network cut: %s", network().c_str());
    }

    // The key press of a returning user ends the saver and the network comes back. The moments the saver's
    // window went, the network came back and the saver's process ended are printed: back before the process
    // ended means the service heard the saver's "STOP"; back only when it ended means it saw the saver die.
    void userReturns() {
        ASSERT_TRUE(world->saver);
        ASSERT_EQ(WaitForSingleObject(world->saver.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the saver ended before the user came back";
        HWND window = FindWindowW(SaverClass, nullptr);
        const ULONGLONG pressed = GetTickCount64();
        ASSERT_EQ(driver(L"key 0x20").exitCode, 0u);
        say("the user pressed the space bar");
        ULONGLONG windowGone = 0, givenBack = 0, ended = 0;
        waitUntil(
            [&] {
                const ULONGLONG now = GetTickCount64() - pressed;
                if (!windowGone && !IsWindow(window)) windowGone = now;
                if (!givenBack && networkGivenBack()) givenBack = now;
                if (!ended && WaitForSingleObject(world->saver.get(), 0) == WAIT_OBJECT_0) ended = now;
                return windowGone && givenBack && ended;
            },
            10000);
        say("after the key press: the saver's window gone at %llu ms, the network given back at %llu ms, the "
            "saver's process ended at %llu ms (%s)",
            windowGone, givenBack, ended,
            givenBack && givenBack < ended ? "the service heard STOP" : "the service saw the saver end");
        EXPECT_EQ(finishProcess(world->saver.get(), 1000), 0u) << "the saver did not end on the key press";
        world->saver.reset();
        ASSERT_TRUE(givenBack) << network();
        // Whichever way the service learnt it, well inside the 4000 ms it allows a silent saver.
        EXPECT_LT(givenBack, 3000u);
    }

    std::vector<std::string> saverRunLines() const { return world->log.serviceLines(world->saverRunLine); }

    // Opens the installed settings window as the Start-menu shortcut does.
    HWND openSettingsWindow() {
        settingsProcess_ = startProcess(quoted(installedProgram()));
        HWND window = waitForWindow(UiClass, false, 20000);
        EXPECT_TRUE(window) << "the settings window did not open";
        EXPECT_TRUE(waitUntil([&] { return GetDlgItem(window, EnableButton) != nullptr; }, 5000));
        return window;
    }

    void closeSettingsWindow(HWND window) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(finishProcess(settingsProcess_.get(), 10000), 0u);
        settingsProcess_.reset();
    }

    // The network mode page: chooses a mode with its radio button and continues.
    void chooseMode(int radio) {
        HWND page = waitForWindow(UiClass, true, 10000);
        if (!page) describeWindows();
        ASSERT_TRUE(page) << "the network mode page did not appear";
        // The page lays its controls out once it has a size, and again as it is fitted: wait until the radio
        // buttons show the current mode and the layout has settled.
        ASSERT_TRUE(waitUntil([&] { return checked(page, FirewallRadio) || checked(page, AdaptersRadio); }, 5000));
        Sleep(500);
        say("the network mode page is open (firewall %s, adapters %s)", checked(page, FirewallRadio) ? "checked" : "-",
            checked(page, AdaptersRadio) ? "checked" : "-");
        choose(page, radio, radio == FirewallRadio ? AdaptersRadio : FirewallRadio);
        click(page, ContinueButton);
        ASSERT_TRUE(waitUntil([] { return findWindow(UiClass, true) == nullptr; }, 10000)) << "the page stayed open";
    }

    ULONGLONG started_ = 0;
    size_t firstLine_ = 0;
    UniqueHandle settingsProcess_;
};

TEST_F(Road, Step1_QuietSetupInstallsAndTheServiceRuns) {
    ASSERT_TRUE(world->log.listening()) << "no debugger-output listener";
    ASSERT_TRUE(world->shell.ready()) << "no stand-in notification area";

    // The machine: a wired and a wireless adapter, a tunnel that is no physical link, the user's active session.
    testbed::reset();
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    testbed::setSessionState(session, WTSActive);
    world->physical = {ethernet(1, 6), ethernet(2, 71)};
    world->all = world->physical;
    world->all.push_back(ethernet(3, 131, false));
    say("machine: session %lu active; %s", session, network().c_str());

    // This build's setup, or the one road.sh was given (a release's).
    wchar_t given[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ROAD_SETUP", given, MAX_PATH);
    const std::wstring setupProgram = length && length < MAX_PATH ? given : buildFolder() + L"\\Dormalis Setup.exe";
    say("installing with %s", narrow(setupProgram).c_str());
    const ProcessResult setup = runProcess(quoted(setupProgram) + L" --quiet", 120000);
    ASSERT_TRUE(setup.finished);
    ASSERT_EQ(setup.exitCode, 0u) << narrow(machineString(L"LastInstallError"));
    ASSERT_TRUE(waitForService(SERVICE_RUNNING, 15000)) << "the installed service does not run";
    say("installed in %s; the service runs as process %lu", narrow(DefaultFolder).c_str(), serviceStatus().dwProcessId);
    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured", 0), 0u) << "a quiet installation only proposes a mode";
    EXPECT_TRUE(exists(installedScreenSaver()));

    // Wine has no filtering engine and cannot disable devices: the test bed's stand-ins go beside the installed
    // service (the prefix prefers them for Dormalis.exe) and the service starts again to load them.
    stopService();
    for (const wchar_t* dll : TestbedDlls)
        ASSERT_TRUE(CopyFileW((buildFolder() + L"\\" + dll).c_str(), (DefaultFolder + L"\\" + dll).c_str(), FALSE))
            << narrow(dll);
    const DWORD pid = startService();
    ASSERT_NE(pid, 0u) << "the service did not start again";
    say("the service runs again as process %lu, with the test bed beside it", pid);
    EXPECT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
}

TEST_F(Road, Step2_EnableInTheSettingsWindow) {
    HWND window = openSettingsWindow();
    ASSERT_TRUE(window);
    say("the settings window is open; pressing Enable");
    click(window, EnableButton);
    // No mode was confirmed yet: the page asks for one, and an elevated copy records it.
    ASSERT_NO_FATAL_FAILURE(chooseMode(FirewallRadio));
    say("firewall mode chosen; waiting for the elevated mode change");
    EXPECT_TRUE(waitUntil([] { return machineDword(L"ModeConfigured", 0) == 1; }, 20000));
    EXPECT_EQ(machineDword(L"Firewall"), 1u);

    const std::wstring selected = L"SCRNSAVE.EXE";
    EXPECT_TRUE(waitUntil([&] { return !readString(HKEY_CURRENT_USER, DesktopKey, selected.c_str()).empty(); }, 10000));
    const std::wstring saver = readString(HKEY_CURRENT_USER, DesktopKey, selected.c_str());
    say("Windows' screen saver: %s", narrow(saver).c_str());
    EXPECT_EQ(CompareStringOrdinal(saver.c_str(), -1, installedScreenSaver().c_str(), -1, TRUE), CSTR_EQUAL);

    HWND tray = nullptr;
    EXPECT_TRUE(waitUntil([&] { return (tray = FindWindowW(TrayClass, nullptr)) != nullptr; }, 15000))
        << "the tray did not start";
    EXPECT_TRUE(waitUntil([] { return !world->shell.calls().empty(); }, 10000))
        << "the tray showed no icon in the notification area";
    if (!world->shell.calls().empty()) say("tray icon tip: %s", narrow(world->shell.calls().back().tip).c_str());
    closeSettingsWindow(window);
}

TEST_F(Road, Step3_TheSaverCutsTheNetwork) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    const DWORD servicePid = serviceStatus().dwProcessId;
    const std::vector<testbed::SubLayerRecord> subLayers = testbed::subLayers();
    const std::vector<testbed::FilterRecord> filters = testbed::filters();
    ASSERT_EQ(subLayers.size(), 1u);
    EXPECT_EQ(filters.size(), 4u);
    say("sublayer \"%s\" of process %lu", narrow(subLayers[0].name).c_str(), subLayers[0].ownerPid);
    std::set<std::string> layers;
    for (const testbed::FilterRecord& filter : filters) {
        const char* layer = packetLayerName(filter.layer);
        say("  filter \"%s\": %s, action 0x%lx", narrow(filter.name).c_str(),
            layer ? layer : narrow(filter.layer).c_str(), filter.action);
        if (layer) layers.insert(layer);
        EXPECT_EQ(filter.subLayer, subLayers[0].key);
        EXPECT_EQ(filter.ownerPid, servicePid);
        EXPECT_EQ(filter.action, static_cast<DWORD>(FWP_ACTION_BLOCK));
    }
    EXPECT_EQ(layers.size(), 4u) << "every IPv4 and IPv6 packet, both ways";
    EXPECT_TRUE(adaptersIn(world->all, testbed::DeviceStarted)) << "firewall mode leaves the adapters alone";
    const Overlay overlay = waitForOverlay(Overlay::NoWarning, 5000);
    say("the saver's overlay shows %s", overlayName(overlay));
    EXPECT_EQ(overlay, Overlay::NoWarning);
    EXPECT_EQ(WaitForSingleObject(world->saver.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Road, Step4_TheUserReturnsAndTheNetworkIsBack) {
    ASSERT_NO_FATAL_FAILURE(userReturns());
    const std::vector<std::string> lines = saverRunLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("Accepted saver process: ", 0), 0u);
    EXPECT_EQ(lines[1], "IPv4/IPv6 Internet and LAN blocked (dynamic WFP filters).");
    EXPECT_EQ(lines[2], "Firewall filters released.");
}

TEST_F(Road, Step5_AdapterModeThroughTheSettingsWindow) {
    HWND window = openSettingsWindow();
    ASSERT_TRUE(window);
    say("pressing the network mode button");
    click(window, ModeButton);
    ASSERT_NO_FATAL_FAILURE(chooseMode(AdaptersRadio));
    EXPECT_TRUE(waitUntil([] { return machineDword(L"Firewall") == 0; }, 20000)) << "the mode did not change";
    EXPECT_EQ(machineDword(L"ModeConfigured", 0), 1u);
    closeSettingsWindow(window);

    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    EXPECT_TRUE(adaptersIn(world->physical, testbed::DeviceDisabled));
    EXPECT_EQ(testbed::deviceState(world->all.back().id), static_cast<long>(testbed::DeviceStarted))
        << "a tunnel is no physical link";
    EXPECT_EQ(recoveryEntries(), (std::vector<std::wstring>{world->physical[0].id, world->physical[1].id}));
    EXPECT_TRUE(testbed::filters().empty());
    const Overlay overlay = waitForOverlay(Overlay::NoWarning, 5000);
    say("the saver's overlay shows %s", overlayName(overlay));
    EXPECT_EQ(overlay, Overlay::NoWarning);
    ASSERT_NO_FATAL_FAILURE(userReturns());
    EXPECT_TRUE(recoveryEntries().empty());
    const std::vector<std::string> lines = saverRunLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Accepted saver process: ", 0), 0u);
    EXPECT_EQ(lines[1], "Physical Ethernet/Wi-Fi adapters paused.");
}

TEST_F(Road, Step6a_AKilledSaverGetsTheNetworkBackAtOnce) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    const ULONGLONG killed = GetTickCount64();
    endSaver();
    ASSERT_TRUE(waitUntil(networkGivenBack, 3900)) << network();
    const ULONGLONG took = GetTickCount64() - killed;
    say("network given back %llu ms after the saver was killed (the silence limit is 4000 ms)", took);
    EXPECT_LT(took, 2000u);
}

TEST_F(Road, Step6b_AKilledServiceGivesTheAdaptersBackAtItsNextStart) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    ASSERT_TRUE(adaptersIn(world->physical, testbed::DeviceDisabled));
    const DWORD pid = serviceStatus().dwProcessId;
    killProcess(pid);
    endSaver();
    say("killed the service (process %lu) and the saver: %s", pid, network().c_str());
    EXPECT_TRUE(adaptersIn(world->physical, testbed::DeviceDisabled));
    EXPECT_EQ(recoveryEntries().size(), 2u) << "the list on disk names the paused adapters";

    UniqueService service{OpenServiceW(UniqueService{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)}.get(),
                                       ServiceName, SERVICE_START)};
    ASSERT_TRUE(service.valid());
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    // The moment a saver could reach the service, the adapters are already back.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(waitUntil(
        [&] {
            pipe = CreateFileW(PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            return pipe != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY;
        },
        15000));
    const std::string atPipe = network();
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    say("when the pipe first answered: %s", atPipe.c_str());
    EXPECT_TRUE(adaptersIn(world->physical, testbed::DeviceStarted));
    EXPECT_TRUE(recoveryEntries().empty());
    EXPECT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
    say("the service runs again as process %lu", serviceStatus().dwProcessId);
}

TEST_F(Road, Step6c_RestoreNetworkWhilePaused) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    const ProcessResult restore = runProcess(quoted(installedProgram()) + L" --restore-network", 30000);
    EXPECT_TRUE(restore.finished);
    EXPECT_EQ(restore.exitCode, 0u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
    say("--restore-network gave the network back while the saver still runs: %s", network().c_str());
    EXPECT_EQ(WaitForSingleObject(world->saver.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    say("the saver's overlay now shows %s", overlayName(waitForOverlay(Overlay::Warning, 3000)));
    endSaver();
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

TEST_F(Road, Step6d_ACopyOutsideTheInstallationIsRefused) {
    const std::wstring stranger = std::wstring(StrangerFolder) + L"\\Dormalis.scr";
    CreateDirectoryW(StrangerFolder, nullptr);
    ASSERT_TRUE(CopyFileW(installedProgram().c_str(), stranger.c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(startStayingSaver(stranger));
    EXPECT_TRUE(world->log.waitForServiceLine(world->saverRunLine, "Rejected client executable path.", 10000));
    const Overlay overlay = waitForOverlay(Overlay::Warning, 5000);
    say("the copy's overlay shows %s; %s", overlayName(overlay), network().c_str());
    EXPECT_EQ(overlay, Overlay::Warning);
    EXPECT_TRUE(networkGivenBack()) << "the network was touched";
    EXPECT_TRUE(adaptersIn(world->all, testbed::DeviceStarted));
    endSaver();
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(StrangerFolder), ignored);
}

TEST_F(Road, Step6e_TheTrayWarnsWhenTheAdaptersDoNotComeBack) {
    // The tray ends when it finds the service stopped; killing the service in step 6b may have ended it, and a
    // user would get it back at the next logon.
    if (!FindWindowW(TrayClass, nullptr)) {
        say("the tray ended with the killed service; starting it again as at logon");
        UniqueHandle tray = startProcess(quoted(installedProgram()) + L" --tray");
        ASSERT_TRUE(waitUntil([] { return FindWindowW(TrayClass, nullptr) != nullptr; }, 15000));
    }
    const size_t firstCall = world->shell.calls().size();
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    // The adapters refuse to come back: the service keeps them on its list and says so in NetworkState 3.
    testbed::failCall(L"CM_Enable_DevNode", testbed::calls(L"CM_Enable_DevNode") + 1, CrFailure, 0);
    endSaver();
    ASSERT_TRUE(waitUntil([] { return networkState() == 3; }, 5000)) << network();
    say("the adapters do not come back: %s", network().c_str());
    EXPECT_TRUE(waitUntil([&] { return !balloonsSince(firstCall).empty(); }, 6000)) << "no balloon";
    const std::vector<NotifyCall> balloons = balloonsSince(firstCall);
    if (!balloons.empty()) {
        say("the tray's balloon: \"%s\" — \"%s\"", narrow(balloons[0].infoTitle).c_str(),
            narrow(balloons[0].info).c_str());
        EXPECT_EQ(balloons[0].infoTitle, L"Dormalis");
        EXPECT_EQ(balloons[0].infoFlags & NIIF_ICON_MASK, static_cast<DWORD>(NIIF_WARNING));
    }
    EXPECT_EQ(recoveryEntries().size(), 2u);
    // Once the devices answer again, the service's next attempt brings them back.
    testbed::clearFaults();
    EXPECT_TRUE(waitUntil(networkGivenBack, 8000)) << network();
    say("the service's retry brought them back: %s", network().c_str());
}

TEST_F(Road, Step7_UninstallLeavesNothingBehind) {
    const ProcessResult uninstaller =
        runProcess(quoted(DefaultFolder + L"\\Uninstall.exe") + L" --uninstall --quiet", 60000);
    EXPECT_TRUE(uninstaller.finished);
    EXPECT_EQ(uninstaller.exitCode, 0u) << "the installed uninstaller returns once everything is removed";
    say("uninstalled");
    EXPECT_FALSE(serviceExists());
    for (const wchar_t* name : {L"Dormalis.exe", L"Dormalis.scr", L"Uninstall.exe"})
        EXPECT_FALSE(exists(DefaultFolder + L"\\" + name)) << narrow(name);
    EXPECT_FALSE(exists(ShortcutPath));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, RegistryPath, 0, KEY_READ, &key), ERROR_SUCCESS)
        << "the machine key is still there";
    if (key) RegCloseKey(key);
    key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS)
        << "the uninstall entry is still there";
    if (key) RegCloseKey(key);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, RunKey, ServiceName, L"<absent>"), L"<absent>");

    // All that may stay in the folder is what the road itself put there: the test bed's stand-ins.
    std::vector<std::wstring> left;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(DefaultFolder), error))
        left.push_back(entry.path().filename().wstring());
    for (const std::wstring& name : left) {
        bool ours = false;
        for (const wchar_t* dll : TestbedDlls)
            ours = ours || CompareStringOrdinal(name.c_str(), -1, dll, -1, TRUE) == CSTR_EQUAL;
        EXPECT_TRUE(ours) << "left behind: " << narrow(name);
    }
    say("left in %s: %zu file(s), all the test bed's own", narrow(DefaultFolder).c_str(), left.size());
    std::filesystem::remove_all(std::filesystem::path(DefaultFolder), error);
    say("Windows' screen saver now: \"%s\"",
        narrow(readString(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE", L"<absent>")).c_str());
}

}  // namespace
}  // namespace dormalis::testing
