// Time of one full Ui::layout of each page in a window filling a 1920 x 1080 display, as every WM_SIZE of an
// interactive resize pays it: all controls destroyed and made again, every label measured. Goal: 5 ms per page.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/timing.h"
#include "foundation/process.h"
#include "foundation/service_queries.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "registration/saver_selection.h"
#include "saver/saver.h"
#include "ui/ui.h"

namespace {

using namespace dormalis;
using bench::nowMs;

constexpr double GoalMs = 5.0;
constexpr int WarmUp = 5;
constexpr int Measured = 60;

void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        DispatchMessageW(&message);
    }
}

const char* const PageNames[4] = {"setup", "customize", "network mode", "about"};

void measure(int page, unsigned language) {
    settings.language = language;
    Ui ui(page);
    if (!createUi(ui, nullptr)) {
        std::printf("%-13s  could not create the window\n", PageNames[page]);
        return;
    }
    SetWindowPos(ui.window, nullptr, 0, 0, 1920, 1080, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(ui.window, SW_SHOWNOACTIVATE);
    pump();
    RECT client{};
    GetClientRect(ui.window, &client);
    std::vector<double> times;
    for (int round = 0; round < WarmUp + Measured; ++round) {
        const double start = nowMs();
        ui.layout();
        const double elapsed = nowMs() - start;
        if (round >= WarmUp) times.push_back(elapsed);
        pump();  // the repaint and the preview's frames happen between two resize steps too
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double best = times.front();
    std::printf("%-13s %-8s client %4ldx%-4ld  best %6.2f ms  median %6.2f ms  p90 %6.2f ms  %s\n", PageNames[page],
                language == 3 ? "Chinese" : "English", client.right, client.bottom, best, median,
                times[times.size() * 9 / 10], median <= GoalMs ? "within goal" : "OVER GOAL");
    DestroyWindow(ui.window);
    pump();
}

// What one layout is made of, each part alone on a shown page: the service query and creating (and
// destroying) one control of each kind; measuring a label is the cheap part.
void partCosts() {
    Ui ui(AboutPage);
    if (!createUi(ui, nullptr)) return;
    ShowWindow(ui.window, SW_SHOWNOACTIVATE);
    pump();
    const auto time = [](const char* what, auto part) {
        constexpr int Runs = 20;
        const double start = nowMs();
        for (int i = 0; i < Runs; ++i)
            part();
        std::printf("  %-34s %7.3f ms\n", what, (nowMs() - start) / Runs);
    };
    std::printf("Parts of a layout (mean of 20):\n");
    time("serviceInstalled()", [] { serviceInstalled(); });
    time("isDormalisSelected()", [] { isDormalisSelected(); });
    time("Ui::label", [&] { ui.label(L"A text long enough to wrap onto a second line here", 28, 100, 300, false); });
    time("owner-drawn button",
         [&] { DestroyWindow(ui.add(L"BUTTON", L"x", EnableButton, 28, 100, 300, 40, BS_OWNERDRAW)); });
    time("radio button",
         [&] { DestroyWindow(ui.add(L"BUTTON", L"x", AdaptersRadio, 28, 100, 300, 40, BS_AUTORADIOBUTTON)); });
    time("owner-drawn language list", [&] {
        DestroyWindow(ui.add(L"COMBOBOX", L"", LanguageList, 28, 100, 240, 230,
                             CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL));
    });
    time("track bar",
         [&] { DestroyWindow(ui.add(TRACKBAR_CLASSW, L"", DensityBar, 28, 100, 300, 40, TBS_AUTOTICKS)); });
    time("edit box",
         [&] { DestroyWindow(ui.add(L"EDIT", L"5", MinutesEdit, 28, 100, 110, 34, ES_NUMBER | WS_BORDER)); });
    time("embedded preview", [&] { DestroyWindow(createEmbeddedPreview(ui.window, 0, 0, 400, 300)); });
    ui.controls.clear();
    ui.rects.clear();
    DestroyWindow(ui.window);
    pump();
}

}  // namespace

int wmain() {
    instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    settings.load();
    registerUiClass();
    partCosts();
    std::printf("One full Ui::layout per page at 1920 x 1080, %d runs each (goal %.1f ms)\n", Measured, GoalMs);
    for (unsigned language : {1u, 3u}) {
        for (int page = 0; page < 4; ++page)
            measure(page, language);
    }
    return 0;
}
