#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "foundation/constants.h"
#include "foundation/unique.h"
#include "tests/support/stand_in_service.h"

namespace dormalis::testing {

// The service's end of the control pipe, as strict as it: a word is up to 31 bytes before the first NUL; a session's
// first "START" gets `answer` (anything but "OK" ends the session), "ALIVE" keeps it, any other word, an over-long
// message or a broken pipe ends it. The pipe is the stand-in service's (started once) or an impostor's.
struct PipeServer {
    explicit PipeServer(std::string answer = "OK", bool impostor = false) : answer(std::move(answer)) {
        static TestService service;
        static const bool serviceUp = (service.start(), true);
        pipe.reset(serviceUp && impostor
                       ? CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT, 1, 128, 128, 0,
                                          nullptr)
                       : service.pipe());
    }

    UniqueHandle pipe;
    std::string answer;
    std::string heard;  // every word taken and "|" where a session ended, each followed by a space
    bool connected = false, started = false;

    // One pass of the service loop. A client that came and already went counts: its first read ends it.
    void serve() {
        const bool accepted = ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_NO_DATA;
        connected = connected || accepted || GetLastError() == ERROR_PIPE_CONNECTED;
        while (connected) {
            char buffer[32] = {};
            DWORD got = 0;
            if (!ReadFile(pipe.get(), buffer, 31, &got, nullptr)) {
                if (GetLastError() != ERROR_NO_DATA) endSession();
                return;
            }
            if (got == 0) return;
            const std::string word(buffer);
            heard += word + " ";
            const bool first = word == "START" && !started;
            if (first) started = true, send(answer);
            if (word != "ALIVE" && !(first && answer == "OK")) endSession();
        }
    }
    void send(const std::string& reply) {
        DWORD written = 0;
        WriteFile(pipe.get(), reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
    }
    void endSession() {
        heard += "| ";
        DisconnectNamedPipe(pipe.get());
        ConnectNamedPipe(pipe.get(), nullptr);  // non-blocking: listens again at once
        connected = started = false;
    }
};

}  // namespace dormalis::testing
