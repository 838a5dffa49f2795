// The product as a user meets it on a fresh machine: the real installed programs under Wine's service manager,
// with the test bed standing in for the network stack. The steps run in order and share one machine; a step
// that fails stops the road, since every later step stands on it.
#include <gtest/gtest.h>
#include <windows.h>

#include <fwptypes.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/constants.h"
#include "foundation/contract.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "saver/starfield.h"
#include "setup/setup_controls.h"
#include "tests/saver/saver_test_support.h"
#include "tests/service/fixture.h"
#include "tests/support/fake_shell.h"
#include "tests/support/support.h"
#include "ui/ui.h"

namespace dormalis::testing {
namespace {

// The Windows screen-saver timeout the road sets, and the idle time after which "/s" cuts the network.
constexpr UINT SaverTimeoutSeconds = 3;
constexpr DWORD IdleThresholdMs = 10000;

// What the full-screen saver's overlay line says, read from the X screen.
enum class Overlay { None, Warning, NoWarning };

constexpr COLORREF OverlayColor = RGB(150, 170, 195);
const ULONGLONG RoadStart = GetTickCount64();

int textWidth(const std::wstring& line) {
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), line.c_str(), static_cast<int>(line.size()), &size);
    return size.cx;
}

const std::wstring InstalledProgram = DefaultFolder + L"\\" + ProgramFileName;
const std::wstring InstalledSaver = DefaultFolder + L"\\" + SaverFileName;

void say(const char* format, ...) {
    std::printf("[%7.1f s] ", static_cast<double>(GetTickCount64() - RoadStart) / 1000.0);
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::printf("\n");
    std::fflush(stdout);
}

void killProcess(DWORD pid) {
    UniqueHandle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)};
    if (process) finishProcess(process.get(), 0);
}

std::string networkDescription(const std::vector<testbed::Adapter>& adapters) {
    std::string text = "NetworkState " + std::to_string(machineDword(NetworkStateValue, 99)) + ", " +
                       std::to_string(testbed::filters().size()) + " filter(s), adapters";
    for (const testbed::Adapter& adapter : adapters)
        text += testbed::deviceState(adapter.id) == testbed::DeviceStarted ? " started" : " DISABLED";
    return text + ", " + std::to_string(recoveryEntries().size()) + " listed for recovery";
}

bool adaptersIn(const std::vector<testbed::Adapter>& adapters, DWORD state) {
    for (const testbed::Adapter& adapter : adapters)
        if (testbed::deviceState(adapter.id) != static_cast<long>(state)) return false;
    return true;
}

// The four IP packet layers, inbound and outbound, IPv4 and IPv6: every packet passes one of them.
const std::set<std::wstring> PacketLayers = {
    L"{C86FD1BF-21CD-497E-A0BB-17425C885C58}", L"{1E5C9FAE-8A84-4135-A331-950B54229ECD}",
    L"{F52032CB-991C-46E7-971D-2601459A91CA}", L"{A3B3AB6B-3564-488C-9117-F34E82142763}"};

void waitForIdleDesktop() {
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, SaverTimeoutSeconds, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
    // Wine counts no input before the first real one; after it, the clock runs from that input.
    LASTINPUTINFO input{sizeof(input), 0};
    GetLastInputInfo(&input);
    if (input.dwTime == 0) return;
    const DWORD idle = GetTickCount() - input.dwTime;
    const DWORD needed = IdleThresholdMs + 700;
    if (idle < needed) {
        say("waiting %.1f s until the desktop has been idle past the screen-saver threshold", (needed - idle) / 1000.0);
        Sleep(needed - idle);
    }
}

Overlay readOverlay() {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    Canvas screen(width, height);
    screen.captureScreen();
    GdiFlush();
    std::pair<int, int> span{width, -1};  // the first and last column the line's colour appears in
    for (int y = height - 60; y < height - 12; ++y)
        for (int x = 24; x < width - 24; ++x)
            if (screen.at(x, y) == OverlayColor) span = {std::min(span.first, x), std::max(span.second, x)};
    if (span.second < 0) return Overlay::None;
    // The line is centred; its width tells which of the two texts it is.
    Saver suspended;
    suspended.preview = false;
    suspended.suspended = true;
    Saver unprotected;
    unprotected.preview = false;
    const int shown = span.second - span.first + 1;
    const int quiet = textWidth(overlayLine(suspended));
    const int warning = textWidth(overlayLine(unprotected));
    if (std::abs(shown - warning) <= 24) return Overlay::Warning;
    if (std::abs(shown - quiet) <= 24) return Overlay::NoWarning;
    return Overlay::None;
}

Overlay waitForOverlay(Overlay wanted, DWORD timeoutMs) {
    settings.load();  // the saver's language decides the texts
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const Overlay seen = readOverlay();
        if (seen == wanted || GetTickCount64() > deadline) return seen;
        Sleep(100);
    }
}

// The visible window of the settings class that `owner` owns: the settings window itself (no owner) or its page.
HWND settingsWindowOwnedBy(HWND owner) {
    for (HWND found = nullptr; (found = FindWindowExW(nullptr, found, UiClass, nullptr)) != nullptr;)
        if (IsWindowVisible(found) && GetWindow(found, GW_OWNER) == owner) return found;
    return nullptr;
}

constexpr const wchar_t* TrayClass = L"Dormalis.Native.Tray";
constexpr const wchar_t* SaverClass = L"Dormalis.Native.Saver";
constexpr const wchar_t* DesktopKey = L"Control Panel\\Desktop";
<<<<<<< HEAD
=======
const std::wstring PreviousSaver = L"C:\\windows\\system32\\Previous.scr";
const wchar_t* const TestbedDlls[] = {L"fwpuclnt.dll", L"cfgmgr32.dll", L"wtsapi32.dll", L"iphlpapi.dll"};
>>>>>>> i24

// What the steps share: the machine's listeners, its adapters, the saver that one step starts and the next ends.
struct RoadWorld {
    FakeShell shell;
    std::vector<testbed::Adapter> physical;
    std::vector<testbed::Adapter> all;
    UniqueHandle saver;
    ULONGLONG start = GetTickCount64();
    bool broken = false;
};
RoadWorld* world = nullptr;

class RoadEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { world = new RoadWorld; }
    void TearDown() override {
        say("=== the road took %.1f s", (GetTickCount64() - world->start) / 1000.0);
        if (world->saver) TerminateProcess(world->saver.get(), 0);
        delete world;
        world = nullptr;
    }
};
[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new RoadEnvironment);

std::string network() {
    return networkDescription(world->all);
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

bool checked(HWND window, int id) {
    return SendMessageW(GetDlgItem(window, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void endSaver() {
    if (!world->saver) return;
    TerminateProcess(world->saver.get(), 0);
    WaitForSingleObject(world->saver.get(), 5000);
    world->saver.reset();
}

template <COLORREF Fill>
bool filled(COLORREF color) {
    return color == Fill;
}

// Pixels of the settings window on the screen in one of the status card's fill colours.
int cardPixels(HWND window, COLORREF fill) {
    Canvas screen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    screen.captureScreen();
    RECT shown{}, onScreen{0, 0, screen.width, screen.height};
    GetWindowRect(window, &shown);
    IntersectRect(&shown, &shown, &onScreen);
    return screen.count(shown, fill == CardInstalledFill ? &filled<CardInstalledFill> : &filled<CardMissingFill>);
}

class Road : public ::testing::Test {
  protected:
    void SetUp() override {
        if (world->broken) GTEST_SKIP() << "an earlier step of the road failed";
        started_ = GetTickCount64();
        say("=== %s", title());
    }

    void TearDown() override {
        if (IsSkipped()) return;
        say("network: %s; step done in %.1f s", network().c_str(), (GetTickCount64() - started_) / 1000.0);
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
            world->saver = startProcess(quoted(path) + L" /s");  // as Windows starts a saver
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
        startStayingSaver(InstalledSaver);
        ASSERT_TRUE(waitUntil([] { return machineDword(NetworkStateValue) == NetworkBlocked; }, 10000))
            << "the network was not cut; " << network();
        say("network cut: %s", network().c_str());
    }

    // The key press of a returning user ends the saver and the network comes back.
    void userReturns() {
        ASSERT_TRUE(world->saver);
        ASSERT_EQ(WaitForSingleObject(world->saver.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the saver ended before the user came back";
        const ULONGLONG pressed = GetTickCount64();
        ASSERT_EQ(driver(L"key 0x20").exitCode, 0u);
        const bool givenBack = waitUntil(networkGivenBack, 10000);
        const ULONGLONG took = GetTickCount64() - pressed;
        say("the user pressed the space bar; the network was back %llu ms later", took);
        EXPECT_EQ(finishProcess(world->saver.get(), 1000), 0u) << "the saver did not end on the key press";
        world->saver.reset();
        ASSERT_TRUE(givenBack) << network();
    }

    // Opens the installed settings window as the Start-menu shortcut does.
    HWND openSettingsWindow() {
        settingsProcess_ = startProcess(quoted(InstalledProgram));
        HWND window = nullptr;
        waitUntil([&] { return (window = settingsWindowOwnedBy(nullptr)) != nullptr; }, 20000);
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
    void chooseMode(HWND window, int radio) {
        HWND page = nullptr;
        waitUntil([&] { return (page = settingsWindowOwnedBy(window)) != nullptr; }, 10000);
        ASSERT_TRUE(page) << "the network mode page did not appear";
        // Clicked as a user clicks it. The page may lay its controls out again as it is fitted, and a click on a
        // control that is gone by then is lost: clicked again until the choice shows.
        ASSERT_TRUE(waitUntil(
            [&] { return checked(page, radio) || (PostMessageW(GetDlgItem(page, radio), BM_CLICK, 0, 0), false); },
            5000));
        click(page, ContinueButton);
        ASSERT_TRUE(waitUntil([&] { return !settingsWindowOwnedBy(window); }, 10000)) << "the page stayed open";
    }

    ULONGLONG started_ = 0;
    UniqueHandle settingsProcess_;
};

TEST_F(Road, Step1_QuietSetupInstallsAndTheServiceRuns) {
    ASSERT_TRUE(world->shell.ready()) << "no stand-in notification area";

    // The machine: a wired and a wireless adapter, a tunnel that is no physical link, the user's active session.
    testbed::reset();
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    testbed::setSessionState(session, WTSActive);
    world->physical = {ethernet(1, 6), ethernet(2, 71)};
    world->all = world->physical;
    world->all.push_back(ethernet(3, 131, false));

    // This build's setup, or the one road.sh was given (a release's).
    wchar_t given[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ROAD_SETUP", given, MAX_PATH);
    const std::wstring setupProgram = length && length < MAX_PATH ? given : buildFolder() + L"\\Dormalis Setup.exe";
    // Its window, as a user installs: Install with the mode it proposes, then Close.
    UniqueHandle setup = startProcess(quoted(setupProgram));
    HWND window = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return IsWindowVisible(window = FindWindowW(L"Dormalis.Native.Setup", nullptr)); }, 20000));
    ASSERT_NO_FATAL_FAILURE(click(window, setup_controls::Install));
    // Close is refused while the installation runs; the window's exit code tells the outcome.
    waitUntil(
        [&] {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(setup_controls::Cancel, BN_CLICKED), 0);
            return WaitForSingleObject(setup.get(), 500) == WAIT_OBJECT_0;
        },
        90000);
    ASSERT_EQ(finishProcess(setup.get(), 1000), 0u) << narrow(machineString(LastInstallErrorValue));
    ASSERT_TRUE(waitForServiceState(SERVICE_RUNNING, 15000)) << "the installed service does not run";
    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured", 0), 1u) << "the window's mode is the administrator's choice";
    EXPECT_TRUE(exists(InstalledSaver));
    EXPECT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
    // No DLL beside the program is loaded: the test bed's own lies in the system folder, and this fwpuclnt.dll,
    // with nothing of the filtering engine in it, would be held by the service from its next start (step 6b) and
    // keep the folder from being removed (step 7).
    ASSERT_TRUE(
        CopyFileW((buildFolder() + L"\\wtsapi32.dll").c_str(), (DefaultFolder + L"\\fwpuclnt.dll").c_str(), FALSE));
}

TEST_F(Road, Step2_EnableInTheSettingsWindow) {
    // The user's own screen saver before Dormalis, which the uninstallation gives back.
    std::ofstream(std::filesystem::path(PreviousSaver)) << "scr";
    writeString(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE", PreviousSaver);
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, 420, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);

    // The Windows screen-saver dialog asks for the saver's settings: the customize page is that dialog's own.
    std::atomic<HWND> host{nullptr};
    std::thread dialog([&] {
        HWND made = CreateWindowExW(0, L"STATIC", L"Screen saver", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                    nullptr, nullptr, nullptr, nullptr);
        host = made;
        for (MSG message; IsWindow(made) && GetMessageW(&message, nullptr, 0, 0) > 0;)
            DispatchMessageW(&message);
    });
    ASSERT_TRUE(waitUntil([&] { return host.load() != nullptr; }, 5000));
    UniqueHandle configure = startProcess(quoted(InstalledSaver) + L" /c:" + std::to_wstring(uintptr_t(host.load())));
    HWND page = nullptr;
    EXPECT_TRUE(waitUntil([&] { return (page = settingsWindowOwnedBy(host)) && GetDlgItem(page, SaveButton); }, 20000));
    EXPECT_FALSE(IsWindowEnabled(host)) << "the dialog waits for its page";
    PostMessageW(page, WM_CLOSE, 0, 0);
    EXPECT_EQ(finishProcess(configure.get(), 10000), 0u);
    EXPECT_TRUE(IsWindowEnabled(host));
    PostMessageW(host, WM_CLOSE, 0, 0);
    dialog.join();

    HWND window = openSettingsWindow();
    ASSERT_TRUE(window);
    // A second start opens no second window: it brings this one forward with the page it asked for.
    EXPECT_EQ(runProcess(quoted(InstalledProgram) + L" /c", 20000).exitCode, 0u);
    EXPECT_TRUE(
        waitUntil([&] { return (page = settingsWindowOwnedBy(window)) && GetDlgItem(page, SaveButton); }, 10000));
    PostMessageW(page, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(window); }, 10000)) << "the page stayed open";
    click(window, EnableButton);

    // Windows starts the saver from this value without quotes: it holds the 8.3 form, which has no space.
    wchar_t shortForm[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(InstalledSaver.c_str(), shortForm, MAX_PATH), 0u);
    EXPECT_TRUE(
        waitUntil([&] { return readString(HKEY_CURRENT_USER, DesktopKey, L"SCRNSAVE.EXE") == shortForm; }, 10000))
        << "the installed saver is not Windows' screen saver";

    EXPECT_FALSE(settingsWindowOwnedBy(window)) << "the setup's mode stands: no mode page, no second prompt";
    EXPECT_TRUE(waitUntil([] { return FindWindowW(TrayClass, nullptr) != nullptr; }, 15000)) << "no tray";
    EXPECT_TRUE(waitUntil([] { return !world->shell.calls().empty(); }, 10000))
        << "the tray showed no icon in the notification area";
    closeSettingsWindow(window);
}

TEST_F(Road, Step3_TheSaverCutsTheNetwork) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    const DWORD servicePid = serviceStatus().dwProcessId;
    const std::vector<testbed::SubLayerRecord> subLayers = testbed::subLayers();
    const std::vector<testbed::FilterRecord> filters = testbed::filters();
    ASSERT_EQ(subLayers.size(), 1u);
    EXPECT_EQ(filters.size(), 4u);
    std::set<std::wstring> layers;
    for (const testbed::FilterRecord& filter : filters) {
        layers.insert(filter.layer);
        EXPECT_EQ(filter.subLayer, subLayers[0].key);
        EXPECT_EQ(filter.ownerPid, servicePid);
        EXPECT_EQ(filter.action, static_cast<DWORD>(FWP_ACTION_BLOCK));
    }
    EXPECT_EQ(layers, PacketLayers) << "every IPv4 and IPv6 packet, both ways";
    EXPECT_TRUE(adaptersIn(world->all, testbed::DeviceStarted)) << "firewall mode leaves the adapters alone";
    EXPECT_EQ(waitForOverlay(Overlay::NoWarning, 5000), Overlay::NoWarning);
    EXPECT_EQ(WaitForSingleObject(world->saver.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Road, Step4_TheUserReturnsAndTheNetworkIsBack) {
    ASSERT_NO_FATAL_FAILURE(userReturns());
}

TEST_F(Road, Step5_AdapterModeThroughTheSettingsWindow) {
    HWND window = openSettingsWindow();
    ASSERT_TRUE(window);
    click(window, ModeButton);
    ASSERT_NO_FATAL_FAILURE(chooseMode(window, AdaptersRadio));
    EXPECT_TRUE(waitUntil([] { return machineDword(L"Firewall") == 0; }, 20000)) << "the mode did not change";
    EXPECT_EQ(machineDword(L"ModeConfigured", 0), 1u);
    // The status card follows the service while the window stays open (and its mode command has ended).
    ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(window); }, 20000));
    EXPECT_GT(cardPixels(window, CardInstalledFill), 1000);
    stopService();
    EXPECT_TRUE(waitUntil([&] { return cardPixels(window, CardMissingFill) > 1000; }, 8000)) << "stale status card";
    ASSERT_TRUE(startService());
    EXPECT_TRUE(waitUntil([&] { return cardPixels(window, CardInstalledFill) > 1000; }, 8000)) << "stale status card";
    closeSettingsWindow(window);

    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    EXPECT_TRUE(adaptersIn(world->physical, testbed::DeviceDisabled));
    EXPECT_EQ(testbed::deviceState(world->all.back().id), static_cast<long>(testbed::DeviceStarted))
        << "a tunnel is no physical link";
    EXPECT_EQ(recoveryEntries(), (std::vector<std::wstring>{world->physical[0].id, world->physical[1].id}));
    EXPECT_TRUE(testbed::filters().empty());
    EXPECT_EQ(waitForOverlay(Overlay::NoWarning, 5000), Overlay::NoWarning);
    ASSERT_NO_FATAL_FAILURE(userReturns());
    EXPECT_TRUE(recoveryEntries().empty());
}

TEST_F(Road, Step6b_AKilledServiceGivesTheAdaptersBackAtItsNextStart) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    ASSERT_TRUE(adaptersIn(world->physical, testbed::DeviceDisabled));
    killProcess(serviceStatus().dwProcessId);
    endSaver();
    EXPECT_TRUE(adaptersIn(world->physical, testbed::DeviceDisabled));
    EXPECT_EQ(recoveryEntries().size(), 2u) << "the list on disk names the paused adapters";

    ASSERT_TRUE(StartServiceW(openService(SERVICE_START).get(), 0, nullptr)) << GetLastError();
    // The moment a saver could reach the service, the adapters are already back.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(waitUntil(
        [&] {
            pipe = CreateFileW(PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            return pipe != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY;
        },
        15000));
    UniqueHandle answered{pipe};
    EXPECT_TRUE(adaptersIn(world->physical, testbed::DeviceStarted)) << network();
    EXPECT_TRUE(recoveryEntries().empty());
    EXPECT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
}

TEST_F(Road, Step6c_RestoreNetworkWhilePaused) {
    ASSERT_NO_FATAL_FAILURE(startCuttingSaver());
    const ProcessResult restore = runProcess(quoted(InstalledProgram) + L" --restore-network", 30000);
    EXPECT_TRUE(restore.finished);
    EXPECT_EQ(restore.exitCode, 0u);
    EXPECT_TRUE(waitUntil(networkGivenBack, 5000)) << network();
    EXPECT_EQ(WaitForSingleObject(world->saver.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(waitForOverlay(Overlay::Warning, 3000), Overlay::Warning) << "the saver says it no longer protects";
    endSaver();
    EXPECT_TRUE(waitUntil(networkGivenBack, 3000));
}

// Started by its 8.3 path, with InstallPath recorded in that form (Wine reports a program's long path), the
// installed uninstaller still knows itself and moves out of the folder it removes.
TEST_F(Road, Step7_UninstallLeavesNothingBehind) {
    DeleteFileW((DefaultFolder + L"\\fwpuclnt.dll").c_str());
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW((DefaultFolder + L"\\Uninstall.exe").c_str(), shortPath, MAX_PATH), 0u);
    const std::wstring shortForm = shortPath;
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, InstallPathValue, shortForm.substr(0, shortForm.rfind(L'\\')));
    const ProcessResult uninstaller = runProcess(shortForm + L" --uninstall --quiet", 60000);
    EXPECT_TRUE(uninstaller.finished);
    EXPECT_EQ(uninstaller.exitCode, 0u) << "the installed uninstaller returns once everything is removed";
    EXPECT_EQ(serviceState(), 0u) << "the service is still registered";
    for (const wchar_t* name : {ProgramFileName, SaverFileName, UninstallerFileName})
        EXPECT_FALSE(exists(DefaultFolder + L"\\" + name)) << narrow(name);
    EXPECT_EQ(machineDword(NetworkStateValue), 0xDEADu) << "the machine key is still there";
    EXPECT_TRUE(adaptersIn(world->all, testbed::DeviceStarted)) << network();
<<<<<<< HEAD
    EXPECT_FALSE(exists(DefaultFolder));
=======
    // Read in the registry: Wine keeps this process's own copy of the saver parameters.
    for (const auto& [name, before] : {std::pair{L"SCRNSAVE.EXE", PreviousSaver}, {L"ScreenSaveTimeOut", L"420"}})
        EXPECT_EQ(readString(HKEY_CURRENT_USER, DesktopKey, name), before) << "the previous screen saver is back";
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(DefaultFolder), ignored);
>>>>>>> i24
}

}  // namespace
}  // namespace dormalis::testing
