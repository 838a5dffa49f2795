#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <thread>

#include "foundation/constants.h"
#include "foundation/failure.h"
#include "foundation/registry.h"
#include "install/front_end.h"
#include "install/mode_change.h"
#include "tests/install/install_fixture.h"
#include "tests/support/support.h"

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

constexpr const char* NotInstalled = "Service is not installed. Run Dormalis Setup.";
constexpr const char* RestoreFirst = "Restore the network before changing the interruption mode.";

std::wstring dormalis(const std::wstring& arguments) {
    return quoted(buildFolder() + L"\\Dormalis.exe") + L" " + arguments;
}

DWORD machineDword(const wchar_t* name, DWORD fallback = 0xDEAD) {
    return readDword(HKEY_LOCAL_MACHINE, RegistryPath, name, fallback);
}

TEST(ModeChange, IsRefusedWithoutAServiceOrWhileTheNetworkIsNotReady) {
    CleanMachine clean;
    BoxedRun run = runAnsweringBox(dormalis(L"--mode-adapters"), L"Dormalis");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.box, NotInstalled);
    EXPECT_EQ(machineDword(L"Firewall"), 0xDEADu) << "nothing is written";

    registerStandInService(L"\"C:\\Program Files\\DormalisNative\\Dormalis.exe\" --service");
    run = runAnsweringBox(dormalis(L"--mode-adapters"), L"Dormalis");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.box, RestoreFirst) << "a service that never wrote NetworkState";

    for (DWORD state : {1u, 2u, 3u}) {
        writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", state);
        run = runAnsweringBox(dormalis(L"--mode-firewall"), L"Dormalis");
        EXPECT_EQ(run.exitCode, 1u) << state;
        EXPECT_EQ(run.box, RestoreFirst) << state;
    }
    writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", L"0");
    run = runAnsweringBox(dormalis(L"--mode-firewall"), L"Dormalis");
    EXPECT_EQ(run.box, RestoreFirst) << "a NetworkState of another type cannot vouch for a ready network";
    EXPECT_EQ(machineDword(L"Firewall"), 0xDEADu);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 0xDEADu);
}

TEST(ModeChange, WritesBothValuesWhenTheNetworkIsReady) {
    CleanMachine clean;
    registerStandInService(L"\"C:\\Program Files\\DormalisNative\\Dormalis.exe\" --service");
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 0);
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 0);

    BoxedRun run = runAnsweringBox(dormalis(L"--mode-adapters"), L"Dormalis", 20000);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.box, "");
    EXPECT_EQ(machineDword(L"Firewall"), 0u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);

    run = runAnsweringBox(dormalis(L"--mode-firewall"), L"Dormalis", 20000);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(machineDword(L"Firewall"), 1u);

    // The mode already recorded is written again and confirmed.
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"ModeConfigured", 0);
    run = runAnsweringBox(dormalis(L"--mode-firewall"), L"Dormalis", 20000);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(machineDword(L"Firewall"), 1u);
    EXPECT_EQ(machineDword(L"ModeConfigured"), 1u);
}

TEST(ModeChange, AnOrdinaryUserIsRefused) {
    CleanMachine clean;
    registerStandInService(L"\"C:\\Program Files\\DormalisNative\\Dormalis.exe\" --service");
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, L"NetworkState", 0);
    UniqueHandle process = startAsOrdinaryUser(dormalis(L"--mode-firewall"));
    EXPECT_EQ(answerBox(L"Dormalis"), "Administrator rights required.");
    EXPECT_EQ(finishProcess(process.get(), 15000), 1u);
    EXPECT_EQ(machineDword(L"Firewall"), 0xDEADu);
}

// An owner window that counts the timer messages it receives while elevateAndWait waits.
struct Owner {
    HWND hwnd = nullptr;
    int ticks = 0;
    int ticksWhileEnabled = 0;
};
Owner* currentOwner = nullptr;

LRESULT CALLBACK ownerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && currentOwner) {
        ++currentOwner->ticks;
        if (IsWindowEnabled(hwnd)) ++currentOwner->ticksWhileEnabled;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

struct OwnerWindow {
    Owner owner;
    OwnerWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ownerProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Dormalis.Test.ElevationOwner";
        RegisterClassW(&windowClass);
        owner.hwnd = CreateWindowExW(0, windowClass.lpszClassName, L"Elevation owner", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                     100, nullptr, nullptr, windowClass.hInstance, nullptr);
        currentOwner = &owner;
    }
    ~OwnerWindow() {
        currentOwner = nullptr;
        DestroyWindow(owner.hwnd);
    }
};

TEST(Elevation, ReportsTheElevatedCopysExitCodeAndKeepsTheOwnerPaintingButDisabled) {
    OwnerWindow window;
    ASSERT_NE(window.owner.hwnd, nullptr);
    SetTimer(window.owner.hwnd, 1, 50, nullptr);
    EXPECT_TRUE(elevateAndWait(window.owner.hwnd, L"--exit-with 0"));
    EXPECT_GT(window.owner.ticks, 2) << "messages must flow while the copy runs";
    EXPECT_EQ(window.owner.ticksWhileEnabled, 0) << "the owner is disabled during the wait";
    EXPECT_TRUE(IsWindowEnabled(window.owner.hwnd));

    EXPECT_FALSE(elevateAndWait(window.owner.hwnd, L"--exit-with 1"));
    EXPECT_FALSE(elevateAndWait(window.owner.hwnd, L"--exit-with 3"));
    EXPECT_EQ(runElevated(L"--exit-with 1603", true), ExitFailed) << "the front ends pass the copy's code on";
    EXPECT_TRUE(IsWindowEnabled(window.owner.hwnd)) << "enabled again after a failed copy";
    KillTimer(window.owner.hwnd, 1);
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
    OwnerWindow window;
    void* real = replaceImport("shell32.dll", "ShellExecuteExW", reinterpret_cast<void*>(&declinedPrompt));
    ASSERT_NE(real, nullptr) << "ShellExecuteExW is not imported by name";
    std::string box;
    std::thread reader([&] { box = answerBox(L"Dormalis"); });
    const bool result = elevateAndWait(window.owner.hwnd, L"--exit-with 0");
    reader.join();
    const int frontEnd = runElevated(L"--exit-with 0", true);
    replaceImport("shell32.dll", "ShellExecuteExW", real);
    EXPECT_FALSE(result);
    EXPECT_EQ(box, narrow(errorText(ERROR_CANCELLED)));
    EXPECT_NE(box.find("(1223)"), std::string::npos);
    EXPECT_TRUE(IsWindowEnabled(window.owner.hwnd)) << "the owner was never disabled";
    EXPECT_EQ(frontEnd, ExitCancelled);
}

}  // namespace
}  // namespace dormalis
