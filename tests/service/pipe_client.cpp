// A scripted saver-side pipe client. Tests copy it into the installation folder as Dormalis.scr (the only
// image the service accepts) and give it a script, one step per argument; each printed line ends with a line feed.
//   open[:MS]   open the control pipe in message mode, no-wait, retrying for up to MS (3000); else print "noopen"
//               and exit with code 2
//   w:WORD[:N]  write WORD and N NUL bytes as one message; a refused write prints "writefailed" and closes
//   read:MS     wait up to MS for a reply: print "reply:<bytes>", "noreply" or "broken"
//   alive:MS    write "ALIVE" every 500 ms for MS; print "broken" if the service drops us
//   broken:MS   wait up to MS to be dropped: print "broken" and "silent:<ms since our last write>", or "connected"
//   given:MS    wait up to MS for the network to be given back: print "given" or "held"
//   timed:WORD  write WORD, wait up to 3 s for the reply: print "ms:<milliseconds>" or "noreply"
//   sleep:MS;  close (the handle, without "STOP");  die (at once, as a crash);  hang (until killed)
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/service/fixture.h"

namespace {

dormalis::UniqueHandle pipe;
ULONGLONG lastWrite = 0;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Polls every 10 ms until done() or the time is up; false at the deadline.
bool poll(DWORD ms, const std::function<bool()>& done) {
    for (const ULONGLONG deadline = GetTickCount64() + ms; GetTickCount64() < deadline; Sleep(10))
        if (done()) return true;
    return false;
}

void write(const std::string& bytes) {
    DWORD written = 0;
    // A full pipe takes nothing and still answers success. The saver then lets go of the pipe, and so do we.
    if (!WriteFile(pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        say("writefailed");
        pipe.reset();
    }
    lastWrite = GetTickCount64();
}

// 1: connected and nothing waiting, 2: bytes waiting, 0: the service dropped us.
int peek() {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe.get(), nullptr, 0, nullptr, &available, nullptr)) return 0;
    return available ? 2 : 1;
}

bool step(const std::string& s) {
    const size_t colon = s.find(':');
    const std::string verb = s.substr(0, colon), argument = colon == std::string::npos ? "" : s.substr(colon + 1);
    const auto number = static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10));
    if (verb == "open") {
        if (!poll(argument.empty() ? 3000 : number, [] {
                pipe.reset(CreateFileW(dormalis::PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
                return pipe.valid();
            }))
            return say("noopen"), false;
        DWORD mode = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
        SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
    } else if (verb == "w") {
        const size_t nuls = argument.find(':');
        write(argument.substr(0, nuls) +
              std::string(nuls == std::string::npos ? 0 : std::atoi(argument.c_str() + nuls + 1), 0));
    } else if (verb == "read") {
        char buffer[16] = {};
        DWORD read = 0;
        int state = 1;
        if (!poll(number, [&] { return (state = peek()) != 1; })) return say("noreply"), true;
        say(state == 0 || !ReadFile(pipe.get(), buffer, 15, &read, nullptr) ? "broken"
                                                                            : "reply:" + std::string(buffer, read));
    } else if (verb == "alive") {
        const bool dropped = poll(number, [] {
            if (GetTickCount64() - lastWrite >= 500 && peek() != 0) write("ALIVE");
            return peek() == 0;
        });
        if (dropped) say("broken");
    } else if (verb == "broken") {
        if (!poll(number, [] { return peek() == 0; })) return say("connected"), true;
        say("broken\nsilent:" + std::to_string(GetTickCount64() - lastWrite));
    } else if (verb == "given") {
        say(poll(number + 10, dormalis::testing::networkGivenBack) ? "given" : "held");
    } else if (verb == "timed") {
        LARGE_INTEGER frequency, start, now;  // the tick count moves in steps of 16 ms under Wine
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        write(argument);
        while (QueryPerformanceCounter(&now) && peek() == 1 && now.QuadPart - start.QuadPart < 3 * frequency.QuadPart)
            Sleep(0);
        const double ms = 1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        say(peek() == 2 ? "ms:" + std::to_string(ms) : "noreply");
    } else if (verb == "sleep" || verb == "hang") {
        Sleep(verb == "hang" ? INFINITE : number);
    } else if (verb == "close") {
        pipe.reset();
    } else if (verb == "die") {
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // line feeds only, whatever the C runtime's default
    for (int i = 1; i < argc; ++i)
        if (!step(argv[i])) return 2;
    return 0;
}
