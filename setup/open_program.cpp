// Starts the installed program from the elevated setup as the signed-in user, not elevated: the desktop shell
// (Explorer) starts it, so the program never inherits the setup's administrator token.
#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "foundation/unique.h"
#include "setup/setup.h"

namespace dormalis {

namespace {

constexpr ULONGLONG ShellWaitMs = 5000;

// The shell's own dispatch object, reached through the view of the desktop window.
UniqueCom<IShellDispatch2> desktopShell() {
    UniqueCom<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(windows.put())))) {
        return {};
    }
    VARIANT none{};
    VariantInit(&none);
    long window = 0;
    UniqueCom<IDispatch> desktop;
    UniqueCom<IServiceProvider> provider;
    UniqueCom<IShellBrowser> browser;
    UniqueCom<IShellView> view;
    UniqueCom<IDispatch> background, application;
    UniqueCom<IShellFolderViewDual> folderView;
    UniqueCom<IShellDispatch2> shell;
    if (windows.get()->FindWindowSW(&none, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.put()) != S_OK ||
        !desktop || FAILED(desktop.get()->QueryInterface(IID_PPV_ARGS(provider.put()))) ||
        FAILED(provider.get()->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(browser.put()))) ||
        FAILED(browser.get()->QueryActiveShellView(view.put())) ||
        FAILED(view.get()->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(background.put()))) ||
        FAILED(background.get()->QueryInterface(IID_PPV_ARGS(folderView.put()))) ||
        FAILED(folderView.get()->get_Application(application.put())) ||
        FAILED(application.get()->QueryInterface(IID_PPV_ARGS(shell.put())))) {
        return {};
    }
    return shell;
}

}  // namespace

bool openAsSignedInUser(const std::wstring& program) {
    // A desktop shell that is still starting (or restarting) answers a moment later.
    const ULONGLONG deadline = GetTickCount64() + ShellWaitMs;
    UniqueCom<IShellDispatch2> shell = desktopShell();
    while (!shell && GetTickCount64() < deadline) {
        Sleep(250);
        shell = desktopShell();
    }
    if (!shell) return false;
    BSTR file = SysAllocString(program.c_str());
    VARIANT none{};
    VariantInit(&none);
    const HRESULT started = shell.get()->ShellExecute(file, none, none, none, none);
    SysFreeString(file);
    return SUCCEEDED(started);
}

}  // namespace dormalis
