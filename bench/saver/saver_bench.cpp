// Time of Saver::frame at the heaviest setting (600 stars per field), for one 1920 × 1080 field and for three
// side by side, as a share of the 16.7 ms frame budget. Frames draw into a bitmap compatible with the screen, as
// a paint DC of the saver window would be.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "saver/starfield.h"
#include "bench/timing.h"

namespace {

using namespace dormalis;
using bench::nowMs;
using bench::percentile;

constexpr double BudgetMs = 16.7;
constexpr int WarmUpFrames = 200;
constexpr int MeasuredFrames = 600;

void measure(const char* name, int fields, int density) {
    settings.density = density;
    WindowDc screen{nullptr};
    UniqueDc target{CreateCompatibleDC(screen.get())};
    UniqueBitmap bitmap{CreateCompatibleBitmap(screen.get(), 1920 * fields, 1080)};
    SelectionGuard selected{target.get(), bitmap.get()};

    Saver saver;
    saver.preview = false;
    saver.random.seed(2024);
    for (int i = 0; i < fields; ++i)
        saver.addField(RECT{1920 * i, 0, 1920 * (i + 1), 1080});
    // Reach the steady state, where stars are spread over every depth, before timing.
    for (int i = 0; i < WarmUpFrames; ++i)
        saver.frame(target.get());

    std::vector<double> times;
    for (int i = 0; i < MeasuredFrames; ++i) {
        const double start = nowMs();
        saver.frame(target.get());
        GdiFlush();
        times.push_back(nowMs() - start);
    }
    std::sort(times.begin(), times.end());
    const double median = percentile(times, 0.5);
    std::printf(
        "%-28s median %6.2f ms = %.3f of budget | p10 %.2f  p90 %.2f  min %.2f  max %.2f ms | "
        "spread p90-p10 %.3f of budget\n",
        name, median, median / BudgetMs, percentile(times, 0.1), percentile(times, 0.9), times.front(), times.back(),
        (percentile(times, 0.9) - percentile(times, 0.1)) / BudgetMs);
}

}  // namespace

int wmain() {
    instance = GetModuleHandleW(nullptr);
    settings = Settings{};
    settings.speed = 5;
    std::printf("Saver::frame, %d stars per field, %d frames after %d warm-up frames; budget %.1f ms\n", MaxDensity,
                MeasuredFrames, WarmUpFrames, BudgetMs);
    measure("one 1920x1080 field", 1, MaxDensity);
    measure("three 1920x1080 fields", 3, MaxDensity);
    // What every frame costs before any star: bitmap, fill, overlay line and the copy.
    measure("one field without stars", 1, 0);
    measure("three fields without stars", 3, 0);
    return 0;
}
