#include <memory>

#include "foundation/process.h"
#include "saver/embedded.h"
#include "saver/saver.h"

namespace dormalis {

namespace {

constexpr const wchar_t* PreviewClass = L"Dormalis.Native.EmbeddedPreview";

thread_local const Saver* creating = nullptr;

}  // namespace

bool embeddedPreviewIsBeingCreated(const Saver* saver) {
    return saver == creating;
}

HWND createEmbeddedPreview(HWND parent, int x, int y, int width, int height) {
    registerSaverClass(PreviewClass);
    auto saver = std::make_unique<Saver>();
    saver->parent = parent;
    saver->embedded = true;
    saver->preview = true;
    saver->addField(RECT{0, 0, width, height});

    creating = saver.get();
    HWND hwnd = CreateWindowExW(0, PreviewClass, L"", WS_CHILD | WS_VISIBLE, x, y, width, height, parent, nullptr,
                                instance, saver.get());
    creating = nullptr;
    if (!hwnd) return nullptr;  // the Saver is freed here; the window never took it
    // From here on the window owns its Saver and frees it in WM_NCDESTROY.
    saver.release();
    SetTimer(hwnd, FrameTimer, FramePeriodMs, nullptr);
    return hwnd;
}

}  // namespace dormalis
