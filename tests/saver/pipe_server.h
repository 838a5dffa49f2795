#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/constants.h"
#include "foundation/unique.h"
#include "tests/support/stand_in_service.h"

namespace dormalis::testing {

// The stand-in for the product's service, running for the rest of the test program.
inline TestService& runningService() {
    static TestService service;
    static const bool started = (service.start(), true);
    (void)started;
    return service;
}

// The service's end of the control pipe, as strict as the service: one message-mode, non-blocking instance;
// each message is one word read into a zeroed 32-byte buffer, at most 31 bytes, up to the first NUL. The first
// "START" of a session gets `answer` (anything but "OK" ends the session right after it); "ALIVE" keeps the
// session; "STOP", a second "START", any other word, an over-long message or a broken pipe end it. An ended
// session is disconnected and the same instance listens again. The instance is made by the running stand-in
// service, so the saver finds the service's process at the other end, or by the test itself, as an impostor
// would.
struct PipeServer {
    explicit PipeServer(std::string answer = "OK", bool impostor = false)
        : pipe(impostor
                   ? CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT, 1, 128, 128, 0, nullptr)
                   : runningService().pipe()),
          answer(std::move(answer)) {}

    UniqueHandle pipe;
    std::string answer;
    std::vector<std::string> heard;  // every word taken, and "|" where a session ended
    bool connected = false;
    bool started = false;

    // One pass of the service loop: accept a waiting client, then take every waiting word.
    void serve() {
        // A client that came and already went counts as one: its session ends at the first read.
        if (!connected) {
            connected = ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED ||
                        GetLastError() == ERROR_NO_DATA;
        }
        while (connected) {
            char buffer[32] = {};
            DWORD got = 0;
            if (!ReadFile(pipe.get(), buffer, 31, &got, nullptr)) {
                const DWORD error = GetLastError();
                if (error != ERROR_NO_DATA && error != ERROR_PIPE_LISTENING) endSession();
                return;
            }
            if (got == 0) return;
            const std::string word(buffer);
            heard.push_back(word);
            if (word == "START" && !started) {
                started = true;
                send(answer);
                if (answer != "OK") endSession();
            } else if (word != "ALIVE") {
                endSession();
            }
        }
    }
    // Writes a raw reply, whatever the protocol says.
    void send(const std::string& reply) {
        DWORD written = 0;
        WriteFile(pipe.get(), reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
    }
    void endSession() {
        heard.push_back("|");
        DisconnectNamedPipe(pipe.get());
        ConnectNamedPipe(pipe.get(), nullptr);  // non-blocking: listens again at once
        connected = started = false;
    }
};

}  // namespace dormalis::testing
