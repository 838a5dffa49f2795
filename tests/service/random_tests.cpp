// Random saver sessions through the real loop, in both modes: words, lengths, NUL bytes, pauses, silence and
// client deaths. Every session must end with the network given back and the pipe listening for the next one.
// DORMALIS_SEED=<number> replays a run (the seed is printed); DORMALIS_SESSIONS=<number> runs more than the
// modest default, thousands on demand.
#include <windows.h>

#include <cstdlib>
#include <random>

#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

std::wstring randomStep(const std::function<int(int, int)>& pick) {
    switch (pick(0, 11)) {
        case 0:
        case 1:
        case 2:
            return L"w:START";
        case 3:
        case 4:
            return L"w:ALIVE";
        case 5:
            return L"w:START:" + std::to_wstring(pick(1, 20));
        case 6:
            return pick(0, 1) ? L"w:start" : L"w:START\\s";
        case 7:
            return L"raw:" + std::to_wstring(pick(0, 40));
        case 8:
            return L"read:" + std::to_wstring(pick(0, 200));
        case 9:
            return L"sleep:" + std::to_wstring(pick(0, 300));
        case 10:
            return pick(0, 199) == 0 ? L"sleep:4300" : L"w:STOP";
        default:
            return L"alive:" + std::to_wstring(pick(0, 1200));
    }
}

unsigned fromEnvironment(const char* name, unsigned fallback) {
    const char* value = std::getenv(name);
    return value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : fallback;
}

TEST_F(LoopTest, EverySessionGivesTheNetworkBack) {
    const unsigned seed = fromEnvironment("DORMALIS_SEED", std::random_device{}());
    const unsigned sessions = fromEnvironment("DORMALIS_SESSIONS", 40);
    SCOPED_TRACE(::testing::Message() << "DORMALIS_SEED=" << seed);
    std::printf("seed %u, %u sessions\n", seed, sessions);
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    ethernet(1);
    ethernet(2, 71);
    for (unsigned done = 0, client = 0; done < sessions; ++client) {
        setMachineDword(L"Firewall", client % 2);
        // One client runs sessions until it dies or has run its share. A session's end is only certain once the
        // pipe opens again (the service restores before it listens again), so the network is checked right
        // after each open, and once more after a last open.
        std::wstring script;
        size_t checks = 0;
        for (bool dies = false; !dies && checks < 20 && done < sessions; ++done, ++checks) {
            script += L" open given:1000";
            for (int steps = pick(0, 4); steps > 0; --steps)
                script += L" " + randomStep(pick);
            const int end = pick(0, 99);
            dies = end < 5;
            script += dies ? L" die" : end < 55 ? L" w:STOP close" : L" close";
        }
        if (script.find(L" die") == std::wstring::npos) {
            script += L" open given:1000 close";
            ++checks;
        }
        const ProcessResult result = runClient(script, 60000);
        size_t given = 0;
        for (size_t at = result.output.find("given\n"); at != std::string::npos;
             at = result.output.find("given\n", at + 1))
            ++given;
        EXPECT_EQ(given, checks) << narrow(script) << "\n" << result.output;
        EXPECT_TRUE(waitUntil(settled, 6000)) << narrow(script);
        if (HasFailure()) {
            std::printf("after the failing client: NetworkState %lu, last log \"%s\", %zu recovery entries\n",
                        machineDword(L"NetworkState"), narrow(lastLog()).c_str(), recoveryEntries().size());
            return;
        }
    }
}

}  // namespace
}  // namespace dormalis::testing
