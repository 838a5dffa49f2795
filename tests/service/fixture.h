#pragma once

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "foundation/registry.h"
#include "service/loop.h"
#include "foundation/constants.h"
#include "service/network.h"
#include "testbed/testbed.h"
#include "tests/support/support.h"

namespace dormalis::testing {

inline constexpr const wchar_t* InstallFolder = L"C:\\DormalisServiceTest";
inline constexpr const wchar_t* MachineKey = L"SOFTWARE\\DormalisNative";
inline constexpr const wchar_t* RecoveryKey = L"SOFTWARE\\DormalisNative\\Recovery";

inline bool contains(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

inline std::wstring lastLog() {
    return readString(HKEY_LOCAL_MACHINE, MachineKey, L"LastDiagnostic");
}

inline std::vector<std::wstring> recoveryEntries() {
    return testbed::names(RecoveryKey, true);
}

// The scripted pipe client (pipe_client.cpp) installed as the saver, or copied to another path.
inline std::wstring installedSaver() {
    return std::wstring(InstallFolder) + L"\\Dormalis.scr";
}

inline void installSaverCopy(const std::wstring& path) {
    CreateDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((buildFolder() + L"\\service_client.exe").c_str(), path.c_str(), FALSE)) << GetLastError();
}

inline ProcessResult runClient(const std::wstring& script, DWORD timeoutMs = 20000, const std::wstring& saver = {}) {
    return runProcess(quoted(saver.empty() ? installedSaver() : saver) + L" " + script, timeoutMs);
}

inline UniqueHandle startClient(const std::wstring& script, const std::wstring& saver = {}) {
    return startProcess(quoted(saver.empty() ? installedSaver() : saver) + L" " + script);
}

// No traffic passes: one sublayer of the highest weight holds, at each of the four IP packet layers (the only
// ones the test bed takes), a filter that blocks without conditions, all of one live session.
inline bool firewallBlocked() {
    const std::vector<testbed::SubLayerRecord> layers = testbed::subLayers();
    if (layers.size() != 1 || layers[0].weight != 0xFFFF || layers[0].ownerPid == 0) return false;
    std::set<std::wstring> covered;
    for (const testbed::FilterRecord& filter : testbed::filters()) {
        if (filter.subLayer != layers[0].key || filter.action != 0x1001 /* FWP_ACTION_BLOCK */ ||
            filter.conditions != 0 || filter.ownerPid != layers[0].ownerPid)
            return false;
        covered.insert(filter.layer);
    }
    return covered.size() == 4;
}

// The network as a test sees it: no filtering object left, nothing on the recovery list, every adapter that was
// started when the test described it is started again, and NetworkState reads 0. The scripted client checks it
// too, between its sessions.
inline bool networkGivenBack() {
    if (!testbed::filters().empty() || !testbed::subLayers().empty() || !recoveryEntries().empty()) return false;
    for (const std::wstring& id : testbed::names(testbed::DevicesKey, true))
        if (testbed::getDword(testbed::Root, (L"Initial " + id).c_str(), 0) == testbed::DeviceStarted &&
            testbed::deviceState(id) != testbed::DeviceStarted)
            return false;
    return machineDword(L"NetworkState", 99) == 0;
}

// The network is given back, and no adapter was ever disabled unsafely (see testbed::unsafeDisables).
inline bool settled() {
    return networkGivenBack() && testbed::unsafeDisables() == 0;
}

// Adds an adapter ROOT\NET\DTnn with a matching interface, by default a started physical Ethernet one.
inline testbed::Adapter ethernet(int number, DWORD type = 6, bool hardware = true,
                                 DWORD state = testbed::DeviceStarted) {
    wchar_t id[32], guid[64];
    swprintf(id, 32, L"ROOT\\NET\\DT%02d", number);
    swprintf(guid, 64, L"{0000%04d-1111-2222-3333-444455556666}", number);
    const testbed::Adapter adapter{id, guid, type, hardware, state};
    testbed::addAdapter(adapter);
    return adapter;
}

// What the pipe's DACL grants interactive users (0 unless given as specific rights): read and write, never
// FILE_CREATE_PIPE_INSTANCE, with which any of them could serve an instance of the name to the saver.
inline DWORD interactiveRights(HANDLE pipe) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* sddl = nullptr;
    GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &descriptor);
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
                                                         nullptr);
    const UniqueLocal owned(descriptor), text(sddl);
    const std::wstring dacl = sddl ? sddl : L"", ace = dacl.substr(0, dacl.find(L";;;IU)"));
    return std::wcstoul(ace.substr(ace.rfind(L';') + 1).c_str(), nullptr, 16);
}

// Fresh machine state (test bed reset, product values removed, ModeConfigured = 1, the saver installed) and the
// service loop running on a thread of the test process, with the real pipe.
class LoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed::reset();
        deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
        setMachineDword(L"ModeConfigured", 1);
        installSaverCopy(installedSaver());
        installDirectoryOverride = InstallFolder;
        restoreRequested = false;
        stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        restore();  // as the service does before it creates the pipe
        pipe.reset(createControlPipe());
        ASSERT_TRUE(pipe.valid()) << GetLastError();
        UniqueHandle second(createControlPipe());  // a second server is refused, with the reason
        const DWORD error = GetLastError();
        EXPECT_TRUE(!second && (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)) << error;
        EXPECT_EQ(interactiveRights(pipe.get()),
                  FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA);
        loop = std::thread([this] { runLoop(pipe.get()); });
    }
    void TearDown() override {
        testbed::clearFaults();
        stopLoop();
        restore();  // whatever a test left pending on purpose, for the next one
        installDirectoryOverride.clear();
        testbed::reset();
    }
    void stopLoop() {
        if (!loop.joinable()) return;
        controlEx(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
        loop.join();
    }

    UniqueHandle pipe;
    std::thread loop;
};

}  // namespace dormalis::testing
