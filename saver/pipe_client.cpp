#include "saver/starfield.h"

#include <string_view>
#include <utility>

#include "foundation/contract.h"
#include "foundation/service_queries.h"

namespace dormalis {

namespace {

// Pipe words are 8-bit and carry no terminator: one word per message.
template <size_t N>
bool writeWord(HANDLE pipe, const char (&word)[N]) {
    DWORD written = 0;
    return WriteFile(pipe, word, N - 1, &written, nullptr) && written == N - 1;
}

// While the service is stopped any program may take the pipe's name and answer "OK"; only the process the
// service manager runs as our service may hear "START".
bool servedByService(HANDLE pipe) {
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(pipe, &server)) return false;
    const DWORD expected = serviceProcessId();
    return expected != 0 && server == expected;
}

void connect(Saver& saver) {
    // Anonymous: the service never impersonates, and whoever else answers learns nothing of the user. Writing
    // without FILE_APPEND_DATA, which GENERIC_WRITE would ask for too: on a pipe it is the right to create an
    // instance, which the service grants interactive users no longer.
    UniqueHandle pipe(CreateFileW(PipeName, GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr));
    if (!pipe) return;
    // Not a word to an impostor: the run goes on unprotected and says so.
    if (!servedByService(pipe.get())) return;
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
