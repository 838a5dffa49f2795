#pragma once

#include <windows.h>

#include <string>
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

// The service's end of the control pipe: one message-mode, non-blocking instance, made by the running service
// and handed to the test, or made by the test itself as an impostor would.
struct PipeServer {
    explicit PipeServer(bool impostor = false)
        : pipe(impostor
                   ? CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT, 1, 128, 128, 0, nullptr)
                   : runningService().pipe()) {}

    UniqueHandle pipe;

    bool clientConnected() {
        const BOOL connected = ConnectNamedPipe(pipe.get(), nullptr);
        return connected || GetLastError() == ERROR_PIPE_CONNECTED;
    }
    // The next message, "" when none is waiting, "<broken>" once the client is gone.
    std::string read() {
        char buffer[32] = {};
        DWORD got = 0;
        if (ReadFile(pipe.get(), buffer, 31, &got, nullptr)) return std::string(buffer, got);
        const DWORD error = GetLastError();
        if (error == ERROR_NO_DATA || error == ERROR_PIPE_LISTENING) return "";
        return "<broken>";
    }
    // Every message until nothing is waiting.
    std::vector<std::string> readAll() {
        std::vector<std::string> words;
        for (std::string word = read(); !word.empty(); word = read()) {
            words.push_back(word);
            if (word == "<broken>") break;
        }
        return words;
    }
    void reply(const std::string& word) {
        DWORD written = 0;
        WriteFile(pipe.get(), word.data(), static_cast<DWORD>(word.size()), &written, nullptr);
    }
    void hangUp() {
        DisconnectNamedPipe(pipe.get());
        pipe.reset();
    }
};

}  // namespace dormalis::testing
