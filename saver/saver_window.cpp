#include "saver/starfield.h"

#include <algorithm>
#include <cstdlib>

#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "saver/embedded.h"

namespace dormalis {

namespace {

// Input and deactivation this early come from starting the saver itself, not from the user coming back.
constexpr std::uint64_t MouseGraceMs = 301;
constexpr std::uint64_t ActivationGraceMs = 501;
constexpr int MouseSlackPixels = 4;

Saver* attached(HWND hwnd) {
    return reinterpret_cast<Saver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// Destroys the saver window once. Destroying hides the window, and hiding an active window deactivates it: a second
// DestroyWindow from that deactivation would unwind before WM_DESTROY and the run would never say "STOP".
void closeRun(Saver& saver) {
    if (saver.closing) return;
    saver.closing = true;
    DestroyWindow(saver.hwnd);
}

std::uint64_t elapsed(const Saver& saver) {
    return GetTickCount64() - saver.startTick;
}

void resizeStars(Saver& saver, StarField& field, int density) {
    const size_t wanted = static_cast<size_t>(std::max(density, 0));
    if (field.stars.size() > wanted) field.stars.resize(wanted);
    while (field.stars.size() < wanted)
        field.stars.push_back(saver.makeStar());
}

void onTick(Saver& saver) {
    if (saver.embedded && !saver.fields.empty()) resizeStars(saver, saver.fields.front(), settings.density);
    const std::uint64_t now = GetTickCount64();
    if (saver.testSeconds != 0 && now - saver.startTick > static_cast<std::uint64_t>(saver.testSeconds) * 1000) {
        closeRun(saver);
        return;
    }
    if (saver.parent && !IsWindow(saver.parent)) {
        closeRun(saver);
        return;
    }
    if (!saver.preview && now - saver.lastPipeTick >= PipePeriodMs) {
        saver.lastPipeTick = now;
        pipeStep(saver, now);
    }
    InvalidateRect(saver.hwnd, nullptr, FALSE);
}

void onPaint(Saver& saver) {
    PaintDc paint{saver.hwnd};
    saver.frame(paint.get());
}

void onMouseMove(Saver& saver) {
    if (saver.parent || saver.testSeconds != 0 || elapsed(saver) < MouseGraceMs) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (std::abs(cursor.x - saver.startCursor.x) > MouseSlackPixels ||
        std::abs(cursor.y - saver.startCursor.y) > MouseSlackPixels) {
        closeRun(saver);
    }
}

void onActivate(Saver& saver, WPARAM wParam) {
    if (saver.parent) return;
    if (LOWORD(wParam) == WA_INACTIVE && saver.testSeconds == 0 && elapsed(saver) >= ActivationGraceMs) {
        closeRun(saver);
    }
}

void onDestroy(Saver& saver) {
    KillTimer(saver.hwnd, FrameTimer);
    saver.release();
    // The embedded preview lives in its host's message loop, which must go on.
    if (!saver.embedded) PostQuitMessage(0);
}

void onNcDestroy(HWND hwnd, Saver* saver) {
    if (!saver->embedded) return;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (!embeddedPreviewIsBeingCreated(saver)) delete saver;
}

LRESULT attach(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* saver = static_cast<Saver*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (saver) {
        saver->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(saver));
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool ownInput(const Saver& saver) {
    return saver.parent == nullptr;
}

}  // namespace

void registerSaverClass(const wchar_t* className) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = saverProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
}

LRESULT CALLBACK saverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) return attach(hwnd, message, wParam, lParam);
    Saver* saver = attached(hwnd);
    if (!saver) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_TIMER:
            onTick(*saver);
            return 0;
        case WM_PAINT:
            onPaint(*saver);
            return 0;
        case WM_PRINTCLIENT:
            saver->frame(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            if (!ownInput(*saver)) break;
            SetCursor(nullptr);
            return TRUE;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (ownInput(*saver)) closeRun(*saver);
            return 0;
        case WM_MOUSEMOVE:
            onMouseMove(*saver);
            return 0;
        case WM_ACTIVATE:
            onActivate(*saver, wParam);
            return 0;
        case WM_DISPLAYCHANGE:
            if (!saver->embedded) closeRun(*saver);
            return 0;
        case WM_CLOSE:
            closeRun(*saver);
            return 0;
        case WM_DESTROY:
            onDestroy(*saver);
            return 0;
        case WM_NCDESTROY:
            onNcDestroy(hwnd, saver);
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace dormalis
