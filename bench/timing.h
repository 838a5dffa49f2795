#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace dormalis::bench {

// Milliseconds from the performance counter, finer than the tick count.
inline double nowMs() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The value at `share` (0 to 1) of an ascending list.
inline double percentile(const std::vector<double>& sorted, double share) {
    return sorted[static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1))];
}

}  // namespace dormalis::bench
