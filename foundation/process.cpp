#include "foundation/process.h"

#include <shellapi.h>

#include "foundation/unique.h"

namespace dormalis {

HINSTANCE instance = nullptr;
int requestedPage = 0;
HWND requestedOwner = nullptr;
std::wstring snapshotPath;
bool quitAfterTest = false;

std::vector<std::wstring> commandArguments() {
    int count = 0;
    UniqueLocal argv{reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &count))};
    std::vector<std::wstring> arguments;
    auto** words = static_cast<wchar_t**>(argv.get());
    for (int i = 1; words && i < count; ++i)
        arguments.emplace_back(words[i]);
    return arguments;
}

std::wstring ownProgramPath() {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring imagePath(HANDLE process) {
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length)) return {};
    return std::wstring(buffer.data(), length);
}

}  // namespace dormalis
