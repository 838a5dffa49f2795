#include <windows.h>

#include <sddl.h>
#include <wtsapi32.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "foundation/contract.h"
#include "foundation/file_identity.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "service/log.h"
#include "service/loop.h"
#include "service/network.h"

namespace dormalis {

namespace {

constexpr ULONGLONG SilenceLimitMs = 4000;
constexpr ULONGLONG RecoveryRetryMs = 2000;
constexpr DWORD LoopPeriodMs = 50;
constexpr ULONGLONG RejectionLogPeriodMs = 60000;
constexpr ULONGLONG BlockCheckMs = 1000;
constexpr ULONGLONG PipeRetryMs = 2000;
// A pause that disables several adapters can take many seconds, during which the saver's heartbeats wait in the
// pipe; a full pipe refuses the next one and the saver lets go. 4 KiB hold over six minutes of them.
constexpr DWORD PipeBufferBytes = 4096;

// Which process serves the pipe's name, as its ID and image, from a connection of our own; "an unknown
// process" when none can be made (every instance busy) or the process cannot be read.
std::wstring pipeHolder() {
    UniqueHandle pipe(CreateFileW(PipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ULONG pid = 0;
    if (!pipe || !GetNamedPipeServerProcessId(pipe.get(), &pid)) return L"an unknown process";
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    const std::wstring image = process ? imagePath(process.get()) : L"";
    return L"process " + std::to_wstring(pid) + L" (" + (image.empty() ? L"image unknown" : image) + L")";
}

void dropClient(HANDLE pipe, Connection& connection) {
    saverSession.store(0);
    connection.client.reset();
    DisconnectNamedPipe(pipe);
    connection.started = false;
}

void endSession(HANDLE pipe, Connection& connection) {
    restore();
    dropClient(pipe, connection);
}

bool clientLost(const Connection& connection) {
    if (WaitForSingleObject(connection.client.get(), 0) == WAIT_OBJECT_0) return true;
    return GetTickCount64() - connection.lastEvent > SilenceLimitMs;
}

bool interruptNetwork() {
    std::wstring why;
    bool interrupted = false;
    const wchar_t* mode = L"none";
    if (!modeConfigured()) {
        why = L"No interruption mode chosen.";
    } else if (readDword(HKEY_LOCAL_MACHINE, RegistryPath, FirewallValue, 1) != 0) {
        // A missing Firewall value means firewall mode: only an explicit 0 chooses the adapters.
        mode = L"firewall";
        interrupted = pauseFirewall(why);
    } else {
        mode = L"adapters";
        interrupted = pauseAdapters(why);
    }
    interrupted ? clearFailedPause() : recordFailedPause(mode, why);
    return interrupted;
}

// The "START" action; true when the session goes on.
bool handleStart(HANDLE pipe, Connection& connection, bool lost) {
    const bool interrupted = interruptNetwork();
    setNetworkState(interrupted ? NetworkBlocked : NetworkError);
    const char* reply = interrupted ? OkWord : ErrorWord;
    DWORD written = 0;
    WriteFile(pipe, reply, static_cast<DWORD>(std::strlen(reply)), &written, nullptr);
    connection.started = true;
    connection.lastEvent = GetTickCount64();
    return interrupted && !lost;
}

// Reads at most one message and acts on it.
void readStep(HANDLE pipe, Connection& connection) {
    char buffer[32] = {};
    DWORD read = 0;
    const BOOL ok = ReadFile(pipe, buffer, 31, &read, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    const bool lost = clientLost(connection);
    if ((ok && read == 0) || error == ERROR_PIPE_LISTENING || error == ERROR_NO_DATA) {
        if (lost) endSession(pipe, connection);
        return;
    }
    if (!ok) {
        endSession(pipe, connection);
        return;
    }
    const std::string word(buffer);  // up to the first NUL: trailing NULs are not part of the word
    bool goOn = false;
    if (word == StartWord && !connection.started) {
        goOn = handleStart(pipe, connection, lost);
    } else {
        connection.lastEvent = GetTickCount64();
        goOn = word == AliveWord && !lost;
    }
    if (!goOn) endSession(pipe, connection);
}

bool sessionActive(DWORD session) {
    wchar_t* buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSConnectState, &buffer, &bytes))
        return false;
    const bool active =
        buffer && bytes >= sizeof(DWORD) && *reinterpret_cast<const WTS_CONNECTSTATE_CLASS*>(buffer) == WTSActive;
    WTSFreeMemory(buffer);
    return active;
}

// A path on a local fixed disk, by drive letter: a UNC, \\?\UNC\ or WebDAV path names another machine, which
// opening it would reach with this computer's credentials and at that machine's pace.
bool onFixedDisk(const std::wstring& path) {
    return path.size() > 3 && path[1] == L':' && path[2] == L'\\' &&
           GetDriveTypeW(path.substr(0, 3).c_str()) == DRIVE_FIXED;
}

// The spellings under which Windows may report the installed saver: as InstallPath records it, long and short.
std::vector<std::wstring> saverSpellings(const std::wstring& saver) {
    std::vector<std::wstring> spellings{saver};
    std::vector<wchar_t> buffer(32768, L'\0');
    for (auto spell : {GetLongPathNameW, GetShortPathNameW}) {
        const DWORD length = spell(saver.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length > 0 && length < buffer.size()) spellings.emplace_back(buffer.data(), length);
    }
    return spellings;
}

// A caller refused again and again (a connect loop on the single instance) writes one line a minute, with the
// number of refusals it stands for, not a registry value and an event at each attempt.
void logRejection(Connection& connection, const std::wstring& line) {
    const ULONGLONG now = GetTickCount64();
    const auto [entry, first] = connection.rejections.try_emplace(line);
    Rejection& rejection = entry->second;
    if (!first && now - rejection.logged < RejectionLogPeriodMs) {
        ++rejection.unlogged;
        return;
    }
    const unsigned long times = rejection.unlogged + 1;
    logEvent(times == 1 ? line : line + L" (" + std::to_wstring(times) + L" times since last logged)");
    rejection = {now, 0};
}

// The caller's process when it is this product's saver in an active session; otherwise nothing.
UniqueHandle checkedCaller(HANDLE pipe, Connection& connection, DWORD& session) {
    ULONG pid = 0;
    if (!GetNamedPipeClientProcessId(pipe, &pid)) return {};
    if (!ProcessIdToSessionId(pid, &session) || session == 0) return {};
    if (!sessionActive(session)) {
        logRejection(connection, L"Rejected inactive client session: " + std::to_wstring(session));
        return {};
    }
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    if (!installedSaverImage(imagePath(process.get()))) {
        logRejection(connection, L"Rejected client executable path.");
        return {};
    }
    logEvent(L"Accepted saver process: " + std::to_wstring(pid));
    return process;
}

// A restart of the filtering engine aborts the firewall pause's session and takes its block along, while the
// saver, knowing nothing of it, still believes itself protected. Looked at once a second: the block is put back,
// or the session ends as a pause that failed.
void watchFirewall(HANDLE pipe, Connection& connection) {
    if (!connection.client || !connection.started || !engine) return;
    const ULONGLONG now = GetTickCount64();
    if (now - connection.lastBlockCheck < BlockCheckMs) return;
    connection.lastBlockCheck = now;
    if (firewallBlockHolds() || !closeEngine()) return;
    logEvent(L"Firewall filters lost; adding them again.");
    std::wstring why;
    if (pauseFirewall(why)) {
        setNetworkState(NetworkBlocked);
        return;
    }
    recordFailedPause(L"firewall", L"Filters lost with the filtering engine; " + why);
    setNetworkState(NetworkError);
    endSession(pipe, connection);
}

void acceptStep(HANDLE pipe, Connection& connection) {
    if (recoveryPending()) {
        const ULONGLONG now = GetTickCount64();
        if (now - connection.lastRecovery < RecoveryRetryMs) return;
        connection.lastRecovery = now;
        if (!restore()) return;
    }
    // On a non-blocking instance success only says that it listens again; a client shows as ERROR_PIPE_CONNECTED.
    if (ConnectNamedPipe(pipe, nullptr)) return;
    const DWORD error = GetLastError();
    // A client that connected and closed again between two passes leaves the instance closing; unless it is
    // disconnected, every later saver would find the pipe busy for good.
    if (error == ERROR_NO_DATA) DisconnectNamedPipe(pipe);
    if (error != ERROR_PIPE_CONNECTED) return;
    DWORD session = 0;
    connection.client = checkedCaller(pipe, connection, session);
    if (!connection.client) {
        DisconnectNamedPipe(pipe);
        return;
    }
    saverSession.store(session);
    connection.lastEvent = GetTickCount64();
    readStep(pipe, connection);
}

// Drops whatever client the failed pass had and gives back what may be paused.
void recoverFromFailure(HANDLE pipe, Connection& connection, const std::string& what) {
    logEvent(L"Service loop failure: " + std::wstring(what.begin(), what.end()));
    const bool mayBePaused = connection.started || recoveryPending();
    dropClient(pipe, connection);
    if (mayBePaused) restore();
}

// No failure of one pass (installDir() can throw, allocations can fail) may end the service: it is logged,
// the network is given back and the loop goes on listening.
void guardedPass(HANDLE pipe, Connection& connection) {
    try {
        try {
            loopPass(pipe, connection);
        } catch (const std::exception& error) {
            recoverFromFailure(pipe, connection, error.what());
        } catch (...) {
            recoverFromFailure(pipe, connection, "unknown exception");
        }
    } catch (...) {
        // Recovery itself failed: the next pass finds recovery pending and tries again.
    }
}

}  // namespace

bool installedSaverImage(const std::wstring& image) {
    const std::wstring saver = installedFile(SaverFileName);
    if (!onFixedDisk(saver)) return false;
    bool spelled = false;
    for (const std::wstring& spelling : saverSpellings(saver))
        spelled = spelled || samePath(image, spelling);
    return spelled && sameFile(image, saver);
}

HANDLE createControlPipe() {
    // Interactive users read and write (0x12019b: FILE_GENERIC_READ | FILE_GENERIC_WRITE) without
    // FILE_CREATE_PIPE_INSTANCE, the bit GENERIC_WRITE would grant too as FILE_APPEND_DATA: none of them may add
    // an instance of its own to our pipe's name.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;IU)",
                                                         SDDL_REVISION_1, &descriptor, nullptr);
    UniqueLocal owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE pipe = CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   1, PipeBufferBytes, PipeBufferBytes, 0, descriptor ? &attributes : nullptr);
    // The service reports the creation error as its exit code; freeing the descriptor must not replace it.
    const DWORD error = GetLastError();
    owned.reset();
    SetLastError(error);
    return pipe;
}

UniqueHandle claimControlPipe() {
    bool told = false;
    for (ULONGLONG lastTry = GetTickCount64(), lastRecovery = 0;; lastTry = GetTickCount64()) {
        UniqueHandle pipe(createControlPipe());
        if (pipe) return pipe;
        if (!told) logEvent(L"Control pipe name held by " + pipeHolder() + L"; retrying every 2 s.");
        told = true;
        while (GetTickCount64() - lastTry < PipeRetryMs) {
            if (WaitForSingleObject(stopEvent.get(), LoopPeriodMs) != WAIT_TIMEOUT) return {};
            // No saver can reach us meanwhile, but what an earlier run left paused is still given back.
            const ULONGLONG now = GetTickCount64();
            if (restoreRequested.exchange(false) || (recoveryPending() && now - lastRecovery >= RecoveryRetryMs)) {
                lastRecovery = now;
                restore();
            }
        }
    }
}

void loopPass(HANDLE pipe, Connection& connection) {
    if (restoreRequested.exchange(false)) {
        restore();
        // Disconnecting without a client could drop one that connected since the last pass.
        if (connection.client) dropClient(pipe, connection);
        connection.started = false;
    } else if (connection.client) {
        readStep(pipe, connection);
        watchFirewall(pipe, connection);
        return;
    }
    acceptStep(pipe, connection);
}

void runLoop(HANDLE pipe) {
    Connection connection;
    while (WaitForSingleObject(stopEvent.get(), LoopPeriodMs) == WAIT_TIMEOUT)
        guardedPass(pipe, connection);
    restore();
    dropClient(pipe, connection);
}

}  // namespace dormalis
