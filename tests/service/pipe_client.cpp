// A scripted saver-side pipe client. Tests copy it into the installation folder as Dormalis.scr (the only
// image the service accepts) and give it a script, one step per argument:
//   open               open the control pipe (retrying for up to 3 s), message read mode, no-wait
//   w:WORD             write WORD as one message;  w:WORD:N  followed by N NUL bytes
//                      (in WORD, \s stands for a space and \n for a line feed)
//   raw:N              write N bytes of 'A' as one message (N may be 0: an empty message)
//   read:MS            wait up to MS for a reply; prints "reply:<bytes>" or "noreply" or "broken"
//   sleep:MS           sleep
//   alive:MS           write "ALIVE" every 500 ms for MS; prints "broken" if the service drops us
//   broken:MS          wait up to MS for the service to drop the connection; prints "broken" or "connected"
//   close              close the pipe handle (no "STOP")
//   die                end this process at once, as a crash would
//   given:MS           wait up to MS for the network to be given back; prints "given" or "held"
//   timed:WORD         write WORD and wait up to 3 s for the reply; prints "ms:<milliseconds>" or "noreply"
//   hang               sleep until killed
// Every printed line ends with a line feed. Exit code 0, or 2 when the pipe cannot be opened.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/service/given_back.h"

namespace {

HANDLE pipe = INVALID_HANDLE_VALUE;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool openPipe() {
    const ULONGLONG deadline = GetTickCount64() + 3000;
    while (GetTickCount64() < deadline) {
        pipe = CreateFileW(L"\\\\.\\pipe\\Dormalis.Native.Control", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
            SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
            return true;
        }
        Sleep(20);
    }
    return false;
}

void write(const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) say("writefailed");
}

// 1: connected and nothing waiting, 2: bytes waiting, 0: the service dropped us.
int peek() {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return 0;
    return available ? 2 : 1;
}

void readReply(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (GetTickCount64() < deadline) {
        int state = peek();
        if (state == 0) return say("broken");
        if (state == 2) {
            char buffer[16] = {};
            DWORD read = 0;
            if (ReadFile(pipe, buffer, 15, &read, nullptr)) return say("reply:" + std::string(buffer, read));
        }
        Sleep(10);
    }
    say("noreply");
}

void heartbeat(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (GetTickCount64() < deadline) {
        if (peek() == 0) return say("broken");
        write("ALIVE");
        Sleep(500);
    }
}

void waitBroken(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (GetTickCount64() < deadline) {
        if (peek() == 0) return say("broken");
        Sleep(10);
    }
    say("connected");
}

std::string unescape(const std::string& word) {
    std::string bytes;
    for (size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '\\' && i + 1 < word.size() && (word[i + 1] == 's' || word[i + 1] == 'n')) {
            bytes += word[++i] == 's' ? ' ' : '\n';
        } else {
            bytes += word[i];
        }
    }
    return bytes;
}

bool step(const std::string& s) {
    auto number = [&](size_t at) { return static_cast<DWORD>(std::strtoul(s.c_str() + at, nullptr, 10)); };
    if (s == "open") {
        if (!openPipe()) return say("noopen " + std::to_string(GetLastError())), false;
    } else if (s.rfind("w:", 0) == 0) {
        std::string word = s.substr(2);
        size_t colon = word.find(':');
        size_t nuls = 0;
        if (colon != std::string::npos) {
            nuls = std::strtoul(word.c_str() + colon + 1, nullptr, 10);
            word.resize(colon);
        }
        write(unescape(word) + std::string(nuls, '\0'));
    } else if (s.rfind("raw:", 0) == 0) {
        write(std::string(number(4), 'A'));
    } else if (s.rfind("read:", 0) == 0) {
        readReply(number(5));
    } else if (s.rfind("sleep:", 0) == 0) {
        Sleep(number(6));
    } else if (s.rfind("alive:", 0) == 0) {
        heartbeat(number(6));
    } else if (s.rfind("broken:", 0) == 0) {
        waitBroken(number(7));
    } else if (s == "close") {
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
        pipe = INVALID_HANDLE_VALUE;
    } else if (s == "die") {
        TerminateProcess(GetCurrentProcess(), 3);
    } else if (s.rfind("given:", 0) == 0) {
        const ULONGLONG deadline = GetTickCount64() + number(6);
        while (!dormalis::testing::networkGivenBack() && GetTickCount64() < deadline)
            Sleep(10);
        say(dormalis::testing::networkGivenBack() ? "given" : "held");
    } else if (s.rfind("timed:", 0) == 0) {
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        write(s.substr(6));
        for (;;) {
            QueryPerformanceCounter(&now);
            const double ms = 1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
            if (peek() == 2) {
                char line[64];
                std::snprintf(line, sizeof line, "ms:%.3f", ms);
                say(line);
                break;
            }
            if (ms > 3000) {
                say("noreply");
                break;
            }
            Sleep(0);
        }
    } else if (s == "hang") {
        Sleep(INFINITE);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // line feeds only, whatever the C runtime's default
    for (int i = 1; i < argc; ++i)
        if (!step(argv[i])) return 2;
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    return 0;
}
