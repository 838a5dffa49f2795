#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "foundation/failure.h"
#include "foundation/process.h"
#include "foundation/settings.h"
#include "foundation/unique.h"
#include "main/command_line.h"
#include "main/roles.h"

using namespace dormalis;

namespace {

void prepareProcess(HINSTANCE module) {
    instance = module;
    // Fails on systems (and Wine) that do not know the version 2 context; the process then keeps its default.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    settings.load();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);  // later loads come from System32 only
    prepareProcess(module);
    try {
        return runRole(chooseRole(commandArguments()));
    } catch (const std::exception& error) {
        showFailure(nullptr, error, FailureScope::Process);
        return 1;
    }
}
