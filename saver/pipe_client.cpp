#include "saver/starfield.h"

#include <string_view>
#include <utility>

#include "foundation/contract.h"

namespace dormalis {

namespace {

// Pipe words are 8-bit and carry no terminator: one word per message.
template <size_t N>
bool writeWord(HANDLE pipe, const char (&word)[N]) {
    DWORD written = 0;
    return WriteFile(pipe, word, N - 1, &written, nullptr) && written == N - 1;
}

void connect(Saver& saver) {
    UniqueHandle pipe(CreateFileW(PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!pipe) return;
    // Non-blocking, so the frame timer never waits on the service.
    DWORD mode = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
    SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
    saver.pipe = std::move(pipe);
    writeWord(saver.pipe.get(), StartWord);
}

void readReply(Saver& saver) {
    char reply[16] = {};
    DWORD read = 0;
    const bool whole = ReadFile(saver.pipe.get(), reply, 15, &read, nullptr) != FALSE;
    const bool partial = !whole && GetLastError() == ERROR_MORE_DATA;
    if (!whole && !partial) return;
    if (read > 0) saver.suspended = whole && std::string_view(reply, read) == OkWord;
    // The tail of an oversized reply would otherwise be taken for a reply of its own at the next step.
    for (bool more = partial; more;) {
        char rest[64];
        more = !ReadFile(saver.pipe.get(), rest, sizeof(rest), &read, nullptr) && GetLastError() == ERROR_MORE_DATA;
    }
}

}  // namespace

void Saver::release() {
    if (pipe) {
        writeWord(pipe.get(), StopWord);
        pipe.reset();
    }
    suspended = false;
}

void pipeStep(Saver& saver, std::uint64_t now) {
    if (!saver.pipe) {
        // A run that missed the service early on stays unconnected: it never interrupts the network late.
        if (now - saver.startTick < ConnectWindowMs) connect(saver);
        return;
    }
    DWORD waiting = 0;
    if (!PeekNamedPipe(saver.pipe.get(), nullptr, 0, nullptr, &waiting, nullptr)) {
        saver.release();
        return;
    }
    if (waiting > 0) readReply(saver);
    if (!writeWord(saver.pipe.get(), AliveWord)) saver.release();
}

}  // namespace dormalis
