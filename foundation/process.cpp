#include "foundation/process.h"

#include <shellapi.h>

#include <algorithm>

#include "foundation/unique.h"

namespace dormalis {

HINSTANCE instance = nullptr;
int requestedPage = 0;
HWND requestedOwner = nullptr;
std::wstring snapshotPath;
bool quitAfterTest = false;

namespace {

constexpr const wchar_t* Blanks = L" \t";

// The length of the program's path at the head of `line`, quotes included.
size_t programPathLength(const std::wstring& line, const std::vector<std::wstring>& ownPaths) {
    if (line.starts_with(L'"')) return std::min(line.find(L'"', 1), line.size() - 1) + 1;
    for (const std::wstring& path : ownPaths) {
        if (path.empty() || path.size() > line.size()) continue;
        const bool ends = path.size() == line.size() || line[path.size()] == L' ' || line[path.size()] == L'\t';
        if (ends && CompareStringOrdinal(line.c_str(), static_cast<int>(path.size()), path.c_str(),
                                         static_cast<int>(path.size()), TRUE) == CSTR_EQUAL)
            return path.size();
    }
    return std::min(line.find_first_of(Blanks), line.size());
}

std::wstring pathForm(DWORD (*convert)(const wchar_t*, wchar_t*, DWORD), const std::wstring& path) {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = convert(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    return length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
}

}  // namespace

std::vector<std::wstring> commandArguments() {
    return argumentsAfterProgram(GetCommandLineW(), ownProgramPaths());
}

std::vector<std::wstring> argumentsAfterProgram(const std::wstring& commandLine,
                                                const std::vector<std::wstring>& ownPaths) {
    const std::wstring line = commandLine.substr(std::min(commandLine.find_first_not_of(Blanks), commandLine.size()));
    // A stand-in head keeps CommandLineToArgvW from reading the first argument as a program path.
    const std::wstring rest = L"x " + line.substr(programPathLength(line, ownPaths));
    int count = 0;
    UniqueLocal argv{reinterpret_cast<HLOCAL>(CommandLineToArgvW(rest.c_str(), &count))};
    std::vector<std::wstring> arguments;
    auto** words = static_cast<wchar_t**>(argv.get());
    for (int i = 1; words && i < count; ++i)
        arguments.emplace_back(words[i]);
    return arguments;
}

std::vector<std::wstring> ownProgramPaths() {
    const std::wstring module = ownProgramPath();
    return {module, pathForm(GetLongPathNameW, module), pathForm(GetShortPathNameW, module)};
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
