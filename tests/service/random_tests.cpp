// Random saver sessions through the real loop: words, lengths, NUL bytes, pauses, silence and client deaths.
// Every session must end with the network given back and the pipe listening for the next one.
// DORMALIS_SEED=<number> replays a run; the seed is printed with any failure. A run has a modest number of
// sessions; DORMALIS_SESSIONS=<number> runs more (thousands) on demand.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

#include "tests/service/fixture.h"

namespace dormalis::testing {
namespace {

constexpr int SessionsPerClient = 25;

struct Batch {
    std::wstring script;
    int sessions = 0;
    bool dies = false;
};

class SessionGenerator {
  public:
    explicit SessionGenerator(unsigned seed) : random_(seed) {}

    // One client process running sessions until it dies or has run its share. A session's end is only certain
    // once the pipe can be opened again (the service restores before it listens again), so the network is
    // checked right after each open, and once more after a last open at the end.
    Batch batch(int wanted) {
        Batch result;
        while (result.sessions < wanted && !result.dies) {
            result.script += L" open given:1000";
            const int steps = pick(0, 4);
            for (int i = 0; i < steps; ++i)
                result.script += L" " + step();
            ++result.sessions;
            const int end = pick(0, 99);
            if (end < 5) {
                result.script += L" die";
                result.dies = true;
            } else {
                if (end < 55) result.script += L" w:STOP";
                result.script += L" close";
            }
        }
        if (!result.dies) result.script += L" open given:1000 close";
        return result;
    }

  private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    std::wstring step() {
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

    std::mt19937 random_;
};

unsigned chosenSeed() {
    if (const char* fixed = std::getenv("DORMALIS_SEED"))
        return static_cast<unsigned>(std::strtoul(fixed, nullptr, 10));
    return std::random_device{}();
}

int chosenSessions() {
    const char* wanted = std::getenv("DORMALIS_SESSIONS");
    const long sessions = wanted ? std::strtol(wanted, nullptr, 10) : 0;
    return sessions > 0 ? static_cast<int>(std::min(sessions, 1000000L)) : 100;
}

size_t count(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

class RandomSessionTest : public LoopTest {};

TEST_F(RandomSessionTest, EverySessionGivesTheNetworkBack) {
    const unsigned seed = chosenSeed();
    SCOPED_TRACE(::testing::Message() << "DORMALIS_SEED=" << seed);
    std::printf("seed %u, %d sessions\n", seed, chosenSessions());
    ethernet(1);
    ethernet(2, 71);
    const int sessions = chosenSessions();
    SessionGenerator generator(seed);
    int done = 0;
    for (int client = 0; done < sessions; ++client) {
        // Alternate the two modes client by client.
        setMachineDword(L"Firewall", client % 2);
        const Batch batch = generator.batch(std::min(SessionsPerClient, sessions - done));
        ProcessResult result = runClient(batch.script, 120000);
        ASSERT_TRUE(result.finished) << narrow(batch.script);
        const int checks = batch.sessions + (batch.dies ? 0 : 1);
        EXPECT_EQ(count(result.output, "given"), static_cast<size_t>(checks)) << narrow(batch.script) << "\n"
                                                                              << result.output;
        EXPECT_EQ(count(result.output, "held"), 0u) << narrow(batch.script) << "\n" << result.output;
        EXPECT_EQ(count(result.output, "noopen"), 0u) << narrow(batch.script) << "\n" << result.output;
        if (batch.dies) {
            EXPECT_TRUE(waitUntil(networkGivenBack, 6000)) << narrow(batch.script);
        }
        if (HasFailure()) {
            std::printf(
                "after the failing client: NetworkState %lu, last log \"%s\", %zu recovery entries, %zu filters\n",
                machineDword(L"NetworkState"), narrow(lastLog()).c_str(), recoveryEntries().size(),
                testbed::filters().size());
            return;
        }
        done += batch.sessions;
    }
}

}  // namespace
}  // namespace dormalis::testing
