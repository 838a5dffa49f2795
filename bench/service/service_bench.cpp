// Service figures under Wine with the test bed: how fast a dead saver's network comes back, how fast "START"
// is answered in firewall mode, and what the idle loop costs. Prints its figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "foundation/registry.h"
#include "service/loop.h"
#include "service/network.h"
#include "tests/service/fixture.h"

using namespace dormalis;
using namespace dormalis::testing;

namespace {

constexpr int Runs = 25;

double elapsedMs(const LARGE_INTEGER& from) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * double(now.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

void printPercentiles(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("%s: no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double p) {
        return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
    };
    std::printf("%s over %zu runs: p50 %.1f ms, p95 %.1f ms, max %.1f ms\n", what, values.size(), at(0.5), at(0.95),
                values.back());
}

// From TerminateProcess of a paused saver to NetworkState leaving 1 (the first write of restore()).
std::vector<double> deathToRestore() {
    std::vector<double> samples;
    for (int i = 0; i < Runs; ++i) {
        UniqueHandle client = startClient(L"open w:START read:3000 hang");
        if (!waitUntil([] { return machineDword(L"NetworkState") == 1 && firewallBlocked(); }, 5000)) continue;
        LARGE_INTEGER killed;
        QueryPerformanceCounter(&killed);
        TerminateProcess(client.get(), 1);
        while (machineDword(L"NetworkState") == 1 && elapsedMs(killed) < 5000)
            Sleep(0);
        samples.push_back(elapsedMs(killed));
        waitUntil(networkGivenBack, 3000);
    }
    return samples;
}

// "START" written to "OK" readable, measured by the client itself.
std::vector<double> startToOk() {
    std::vector<double> samples;
    for (int i = 0; i < Runs; ++i) {
        ProcessResult result = runClient(L"open sleep:120 timed:START w:STOP", 20000);
        const size_t at = result.output.find("ms:");
        if (at != std::string::npos) samples.push_back(std::strtod(result.output.c_str() + at + 3, nullptr));
        waitUntil(networkGivenBack, 3000);
    }
    return samples;
}

ULONGLONG cpuTime(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

ULONGLONG processCpuTime() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

}  // namespace

int main() {
    testbed::reset();
    deleteKeyTree(HKEY_LOCAL_MACHINE, MachineKey);
    setMachineDword(L"ModeConfigured", 1);
    installSaverCopy(installedSaver());
    installDirectoryOverride = InstallFolder;

    stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE pipe = createControlPipe();
    if (pipe == INVALID_HANDLE_VALUE) {
        std::printf("pipe creation failed: %lu\n", GetLastError());
        return 1;
    }
    HANDLE loopThread = nullptr;
    std::thread loop([&] {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &loopThread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        runLoop(pipe);
    });

    printPercentiles("client death -> restore start", deathToRestore());
    printPercentiles("START -> OK (firewall mode)", startToOk());

    Sleep(500);
    const ULONGLONG before = cpuTime(loopThread);
    const ULONGLONG processBefore = processCpuTime();
    const ULONGLONG wallStart = GetTickCount64();
    Sleep(60000);
    const double cpuMs = double(cpuTime(loopThread) - before) / 10000.0;
    const double wallMs = double(GetTickCount64() - wallStart);
    const double processMs = double(processCpuTime() - processBefore) / 10000.0;
    std::printf(
        "idle loop over %.0f s: loop thread %.1f ms of processor time = %.3f %% of a core "
        "(whole process %.1f ms = %.3f %%)\n",
        wallMs / 1000.0, cpuMs, 100.0 * cpuMs / wallMs, processMs, 100.0 * processMs / wallMs);

    controlEx(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    loop.join();
    CloseHandle(loopThread);
    CloseHandle(pipe);
    stopEvent.reset();
    testbed::reset();
    return 0;
}
