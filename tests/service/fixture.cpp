#include "tests/service/fixture.h"

#include "foundation/registry.h"
#include "service/loop.h"
#include "service/network.h"

namespace dormalis::testing {

std::wstring lastLog() {
    return readString(HKEY_LOCAL_MACHINE, MachineKey, L"LastDiagnostic");
}

std::vector<std::wstring> recoveryEntries() {
    std::vector<std::wstring> names;
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecoveryKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD length = 512;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::wstring installedSaver() {
    return std::wstring(InstallFolder) + L"\\Dormalis.scr";
}

void installSaverCopy(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((buildFolder() + L"\\service_client.exe").c_str(), path.c_str(), FALSE)) << GetLastError();
}

ProcessResult runClient(const std::wstring& script, DWORD timeoutMs, const std::wstring& saver) {
    return runProcess(quoted(saver.empty() ? installedSaver() : saver) + L" " + script, timeoutMs);
}

UniqueHandle startClient(const std::wstring& script, const std::wstring& saver) {
    return startProcess(quoted(saver.empty() ? installedSaver() : saver) + L" " + script);
}

bool firewallBlocked() {
    return testbed::filters().size() == 4 && testbed::subLayers().size() == 1;
}

testbed::Adapter ethernet(int number, DWORD type, bool hardware, DWORD state) {
    wchar_t id[32], guid[64];
    swprintf(id, 32, L"ROOT\\NET\\DT%02d", number);
    swprintf(guid, 64, L"{0000%04d-1111-2222-3333-444455556666}", number);
    testbed::Adapter adapter{id, guid, type, hardware, state};
    testbed::addAdapter(adapter);
    // Remembered so that networkGivenBack() knows which adapters must end up started.
    if (state == testbed::DeviceStarted)
        testbed::setString(testbed::Root, (L"Initial " + adapter.id).c_str(), L"started");
    return adapter;
}

void ServiceTest::SetUp() {
    testbed::reset();
    deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
    setMachineDword(L"ModeConfigured", 1);
    installSaverCopy(installedSaver());
    installDirectoryOverride = InstallFolder;
}

void ServiceTest::TearDown() {
    installDirectoryOverride.clear();
    testbed::reset();
}

void LoopTest::SetUp() {
    ServiceTest::SetUp();
    restoreRequested = false;
    stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    restore();  // as the service does before it creates the pipe
    pipe = createControlPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
    loop = std::thread([this] { runLoop(pipe); });
}

void LoopTest::stopLoop() {
    if (!loop.joinable()) return;
    controlEx(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    loop.join();
}

void LoopTest::TearDown() {
    testbed::clearFaults();
    stopLoop();
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    stopEvent.reset();
    // Whatever a test left paused (a recovery it kept pending on purpose) is given back for the next one.
    restore();
    EXPECT_EQ(engine, nullptr);
    ServiceTest::TearDown();
}

}  // namespace dormalis::testing
