#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "foundation/unique.h"
#include "testbed/testbed.h"
#include "tests/service/given_back.h"
#include "tests/support/support.h"

namespace dormalis::testing {

inline constexpr const wchar_t* InstallFolder = L"C:\\DormalisServiceTest";
inline constexpr const wchar_t* MachineKey = L"SOFTWARE\\DormalisNative";
inline constexpr const wchar_t* RecoveryKey = L"SOFTWARE\\DormalisNative\\Recovery";

inline bool contains(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

std::wstring lastLog();
std::vector<std::wstring> recoveryEntries();

// The scripted pipe client installed as the saver (see pipe_client.cpp), or copied to another path.
std::wstring installedSaver();
void installSaverCopy(const std::wstring& path);
ProcessResult runClient(const std::wstring& script, DWORD timeoutMs = 20000, const std::wstring& saver = {});
UniqueHandle startClient(const std::wstring& script, const std::wstring& saver = {});

// Four block filters of our sublayer are in force.
bool firewallBlocked();

// Adds a started physical adapter: ROOT\NET\DTnn with a matching interface.
testbed::Adapter ethernet(int number, DWORD type = 6, bool hardware = true, DWORD state = testbed::DeviceStarted);

// Fresh machine state: test bed reset, product values removed, ModeConfigured = 1, the saver installed.
class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// The service loop running on a thread of the test process, with the real pipe.
class LoopTest : public ServiceTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    void stopLoop();

    HANDLE pipe = INVALID_HANDLE_VALUE;
    std::thread loop;
};

}  // namespace dormalis::testing
