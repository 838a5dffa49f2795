#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "foundation/constants.h"
#include "foundation/failure.h"
#include "foundation/registry.h"
#include "install/front_end.h"
#include "install/mode_change.h"
#include "tests/install/install_fixture.h"

namespace dormalis {
namespace {

using namespace testing;

// This test program stands in for the elevated copy that elevateAndWait starts: "--exit-with N" ends it with N
// after a short while, before any test runs.
struct ElevatedCopyStandIn {
    ElevatedCopyStandIn() {
        const std::wstring line = GetCommandLineW();
        const size_t at = line.find(L"--exit-with ");
        if (at == std::wstring::npos) return;
        Sleep(400);
        ExitProcess(static_cast<UINT>(std::stoul(line.substr(at + 12))));
    }
} elevatedCopyStandIn;

// Answers the box titled Dormalis that this process shows, giving its text; "" when `over` holds first.
std::string answerOwnBox(const std::function<bool()>& over) {
    std::string text;
    waitUntil(
        [&] {
            HWND box = FindWindowW(L"#32770", L"Dormalis");
            if (!box) return over();
            wchar_t buffer[512] = {};
            GetWindowTextW(GetDlgItem(box, 0xFFFF), buffer, 512);
            text = narrow(buffer);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return true;
        },
        10000);
    return text;
}

// The elevated copy's work, on a thread of its own as `token` when given: its exit code and the box it showed.
std::pair<int, std::string> changeMode(bool firewall, HANDLE token = nullptr) {
    std::atomic<bool> done{false};
    int result = -1;
    std::thread worker([&] {
        if (token) SetThreadToken(nullptr, token);
        result = changeNetworkMode(firewall);
        RevertToSelf();
        done = true;
    });
    std::string box = answerOwnBox([&] { return done.load(); });
    worker.join();
    return {result, box};
}

TEST(ModeChange, IsRecordedOnlyByAnAdministratorWithTheServiceInstalledAndTheNetworkReady) {
    CleanMachine clean;
    const std::string notInstalled = "Service is not installed. Run Dormalis Setup.";
    const std::string restoreFirst = "Restore the network before changing the interruption mode.";
    EXPECT_EQ(changeMode(false), std::pair(1, notInstalled));
    registerStandInService(L"\"" + DefaultFolder + L"\\Dormalis.exe\" --service");
    EXPECT_EQ(changeMode(false), std::pair(1, restoreFirst)) << "a service that never wrote NetworkState";
    for (DWORD state : {1u, 2u, 3u}) {
        setMachineDword(L"NetworkState", state);
        EXPECT_EQ(changeMode(true), std::pair(1, restoreFirst)) << state;
    }
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", L"0");
    EXPECT_EQ(changeMode(true), std::pair(1, restoreFirst)) << "another type cannot vouch for a ready network";
    setMachineDword(L"NetworkState", 0);
    UniqueHandle ordinary = ordinaryUserToken(), view;
    ASSERT_TRUE(DuplicateToken(ordinary.get(), SecurityImpersonation, view.put()));
    EXPECT_EQ(changeMode(true, view.get()), std::pair(1, std::string("Administrator rights required.")));
    EXPECT_EQ(machineDword(L"Firewall"), 0xDEADu) << "nothing is written on a refusal";
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0xDEADu);

    for (bool firewall : {false, true, true}) {  // the mode already recorded is written again and confirmed
        setMachineDword(L"ModeConfigured", 0);
        EXPECT_EQ(changeMode(firewall), std::pair(0, std::string()));
        EXPECT_EQ(machineDword(L"Firewall"), firewall ? 1u : 0u);
        EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);
    }
}

// An owner window that counts the timer messages it receives while elevateAndWait waits.
int ticks = 0, ticksWhileEnabled = 0;
LRESULT CALLBACK ownerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER) return DefWindowProcW(hwnd, message, wParam, lParam);
    ++ticks;
    if (IsWindowEnabled(hwnd)) ++ticksWhileEnabled;
    return 0;
}

struct OwnerWindow {
    HWND hwnd = nullptr;
    OwnerWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ownerProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Dormalis.Test.ElevationOwner";
        RegisterClassW(&windowClass);
        hwnd = CreateWindowExW(0, windowClass.lpszClassName, L"Elevation owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ~OwnerWindow() { DestroyWindow(hwnd); }
};

TEST(Elevation, ReportsTheElevatedCopysExitCodeAndKeepsTheOwnerPaintingButDisabled) {
    OwnerWindow owner;
    ASSERT_NE(owner.hwnd, nullptr);
    SetTimer(owner.hwnd, 1, 50, nullptr);
    EXPECT_TRUE(elevateAndWait(owner.hwnd, L"--exit-with 0"));
    EXPECT_GT(ticks, 2) << "messages must flow while the copy runs";
    EXPECT_EQ(ticksWhileEnabled, 0) << "the owner is disabled during the wait";
    EXPECT_FALSE(elevateAndWait(owner.hwnd, L"--exit-with 3"));
    EXPECT_EQ(runElevated(L"--exit-with 1603", true), ExitFailed) << "the front ends pass the copy's code on";
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd)) << "enabled again after a failed copy";
    KillTimer(owner.hwnd, 1);
}

// Wine never shows an elevation prompt, so the user's refusal is played by replacing this program's import of
// ShellExecuteExW with one that fails the way a declined prompt does.
BOOL WINAPI declinedPrompt(SHELLEXECUTEINFOW*) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

void* replaceImport(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

TEST(Elevation, ADeclinedPromptShowsTheErrorTextInABoxTitledDormalis) {
    OwnerWindow owner;
    void* real = replaceImport("shell32.dll", "ShellExecuteExW", reinterpret_cast<void*>(&declinedPrompt));
    ASSERT_NE(real, nullptr) << "ShellExecuteExW is not imported by name";
    std::string box;
    std::thread reader([&] { box = answerOwnBox([] { return false; }); });
    const bool result = elevateAndWait(owner.hwnd, L"--exit-with 0");
    reader.join();
    const int frontEnd = runElevated(L"--exit-with 0", true);
    replaceImport("shell32.dll", "ShellExecuteExW", real);
    EXPECT_FALSE(result);
    EXPECT_EQ(box, narrow(errorText(ERROR_CANCELLED)));
    EXPECT_NE(box.find("(1223)"), std::string::npos);
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd)) << "the owner was never disabled";
    EXPECT_EQ(frontEnd, ExitCancelled);
}

}  // namespace
}  // namespace dormalis
