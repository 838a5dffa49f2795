#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "foundation/constants.h"
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

std::wstring widened(const char* message) {
    int length = MultiByteToWideChar(CP_ACP, 0, message, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, message, -1, wide.data(), length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);  // later loads come from System32 only
    prepareProcess(module);
    try {
        return runRole(chooseRole(commandArguments()));
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, widened(error.what()).c_str(), ErrorTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
}
