#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dormalis::testing {

// One line a process wrote with OutputDebugString.
struct DebugLine {
    DWORD pid = 0;
    std::string text;  // without the trailing line break
    ULONGLONG at = 0;  // tick count on arrival
};

// Listens as a debugger-output viewer does (the DBWIN_BUFFER protocol), so that the lines of every other
// process of the prefix, the service's among them, arrive here in the order they were written.
class DebugOutput {
  public:
    DebugOutput();
    ~DebugOutput();
    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;

    bool listening() const { return view_ != nullptr; }
    size_t count() const;
    std::vector<DebugLine> since(size_t first) const;
    // The service's lines from `first` on, with the product's prefix removed.
    std::vector<std::string> serviceLines(size_t first) const;
    // Waits until a service line from `first` on begins with `text`.
    bool waitForServiceLine(size_t first, const std::string& text, DWORD timeoutMs) const;

  private:
    void run();

    mutable std::mutex lock_;
    std::vector<DebugLine> lines_;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    HANDLE stop_ = nullptr;
    const char* view_ = nullptr;
    std::thread thread_;
};

}  // namespace dormalis::testing
