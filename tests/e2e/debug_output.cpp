#include "tests/e2e/debug_output.h"

#include <cstring>

namespace dormalis::testing {

namespace {

constexpr size_t BufferBytes = 4096;
constexpr const char* ServicePrefix = "Dormalis: ";

}  // namespace

DebugOutput::DebugOutput() {
    bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, BufferBytes, L"DBWIN_BUFFER");
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!bufferReady_ || !dataReady_ || !mapping_ || !stop_) return;
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, BufferBytes));
    if (view_) thread_ = std::thread([this] { run(); });
}

DebugOutput::~DebugOutput() {
    if (stop_) SetEvent(stop_);
    if (thread_.joinable()) thread_.join();
    if (view_) UnmapViewOfFile(view_);
    for (HANDLE handle : {bufferReady_, dataReady_, mapping_, stop_})
        if (handle) CloseHandle(handle);
}

void DebugOutput::run() {
    const HANDLE waits[] = {dataReady_, stop_};
    for (;;) {
        SetEvent(bufferReady_);
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;
        DebugLine line;
        std::memcpy(&line.pid, view_, sizeof(DWORD));
        const char* text = view_ + sizeof(DWORD);
        line.text.assign(text, strnlen(text, BufferBytes - sizeof(DWORD)));
        while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == '\r'))
            line.text.pop_back();
        line.at = GetTickCount64();
        std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(std::move(line));
    }
}

size_t DebugOutput::count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_.size();
}

std::vector<DebugLine> DebugOutput::since(size_t first) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (first >= lines_.size()) return {};
    return std::vector<DebugLine>(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.end());
}

std::vector<std::string> DebugOutput::serviceLines(size_t first) const {
    std::vector<std::string> result;
    for (const DebugLine& line : since(first))
        if (line.text.rfind(ServicePrefix, 0) == 0) result.push_back(line.text.substr(std::strlen(ServicePrefix)));
    return result;
}

bool DebugOutput::waitForServiceLine(size_t first, const std::string& text, DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        for (const std::string& line : serviceLines(first))
            if (line.rfind(text, 0) == 0) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(20);
    }
}

}  // namespace dormalis::testing
