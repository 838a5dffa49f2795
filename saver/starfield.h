#pragma once

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "foundation/unique.h"

namespace dormalis {

// One star: a fixed direction (x, y) on the projection plane and a depth z that shrinks as it approaches.
struct Star {
    float x = 0;
    float y = 0;
    float z = 0;
};

// One animated area with its own stars and its own centre of flight, in the saver window's client coordinates.
struct StarField {
    RECT rect{};
    std::vector<Star> stars;
};

// The state of one saver run: the window, the pipe to the service and the starfields.
struct Saver {
    HWND hwnd = nullptr;
    HWND parent = nullptr;
    UniqueHandle pipe;
    bool preview = true;
    bool suspended = false;
    bool embedded = false;
    std::int32_t testSeconds = 0;
    std::uint64_t startTick = GetTickCount64();
    std::uint64_t lastPipeTick = 0;
    POINT startCursor{};
    std::vector<StarField> fields;
    std::mt19937 random;
    // Set once the window's destruction has begun: hiding it deactivates it, which must not destroy it again.
    bool closing = false;

    Saver();
    ~Saver();
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    // Writes "STOP" if connected, closes the pipe; the service stops interrupting the network.
    void release();
    // Appends a field of `settings.density` new stars.
    void addField(RECT rect);
    // Advances and draws every field into `dc`.
    void frame(HDC dc);
    // A new star anywhere in the field, at a random depth.
    Star makeStar();
};

// Overlay line of a full-screen field: product, the key hint and, for a preview or while the network is not
// interrupted, the reason.
std::wstring overlayLine(const Saver& saver);

// Window procedure of every saver window, the embedded preview included.
LRESULT CALLBACK saverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Registers a window class served by saverProc; a class that already exists is fine.
void registerSaverClass(const wchar_t* className);

// One step of the saver's side of the control pipe: connect and "START" early in the run, then read a waiting
// reply and write "ALIVE".
void pipeStep(Saver& saver, std::uint64_t now);

// What the watchdog thread works on: copies taken when the run starts, and the event that says it ended.
struct WatchdogStart {
    HANDLE doneEvent = nullptr;
    std::int32_t testSeconds = 0;
    std::uint64_t startTick = 0;
    HWND parent = nullptr;
    DWORD lastInput = 0;
    HWND window = nullptr;
};

// Watches input, test time and the host window; asks the window to close, and ends the process if the window's
// thread does not finish in time.
void watchdog(WatchdogStart start);

inline constexpr UINT_PTR FrameTimer = 1;
inline constexpr UINT FramePeriodMs = 16;
inline constexpr std::uint64_t PipePeriodMs = 500;
inline constexpr std::uint64_t ConnectWindowMs = 1500;
inline constexpr DWORD WatchdogPollMs = 150;
inline constexpr DWORD CloseGraceMs = 1500;

}  // namespace dormalis
