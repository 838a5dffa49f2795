#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <string>

#include "foundation/unique.h"

// The service loop: one thread owns the control pipe, the connected saver and every network change; the
// control handler only raises a flag or signals the stop event.
namespace dormalis {

extern std::atomic<bool> restoreRequested;
// The session of the connected saver; 0 while none is connected (session 0 is never accepted).
extern std::atomic<DWORD> saverSession;
// Manual reset; signalled on stop or shutdown. It exists before the control handler is registered and is closed
// only once the dispatcher has returned, so the handler never sees it half made or closed.
extern UniqueHandle stopEvent;

// The extended control handler; always answers success.
DWORD WINAPI controlEx(DWORD control, DWORD eventType, void* eventData, void* context);

// When a refusal was last logged, and how often it happened since without a line of its own.
struct Rejection {
    ULONGLONG logged = 0;
    unsigned long unlogged = 0;
};

// What the loop knows about the pipe's one client.
struct Connection {
    UniqueHandle client;  // the saver process, while one is connected
    bool started = false;
    ULONGLONG lastEvent = 0;
    ULONGLONG lastRecovery = 0;
    ULONGLONG lastBlockCheck = 0;                  // of a firewall pause the saver holds
    std::map<std::wstring, Rejection> rejections;  // by the line that logs the refusal
};

// Whether a client's image path is the installed saver. The path's text decides first: only a spelling of the
// saver's own path (as recorded, long or short, in any letter case) on a fixed disk is ever opened, to compare
// file identity.
bool installedSaverImage(const std::wstring& image);

// The single instance of the control pipe; an invalid handle (last error set) when it cannot be created.
HANDLE createControlPipe();

// The control pipe, once its name is free: while another program holds it, says once which, tries again every
// 2 s and goes on answering restore requests. An invalid handle when stopEvent is signalled first.
UniqueHandle claimControlPipe();

// One pass: a pending restore request, or one read of the connected client, or accepting a new one.
void loopPass(HANDLE pipe, Connection& connection);

// Passes separated by waits of up to 50 ms on stopEvent until it is signalled; then restores the network and
// drops the client. The caller closes the pipe.
void runLoop(HANDLE pipe);

}  // namespace dormalis
