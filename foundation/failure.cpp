#include "foundation/failure.h"

#include "foundation/constants.h"
#include "foundation/unique.h"

namespace dormalis {

std::wstring errorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocal owned(buffer);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring(L"Windows error");
    return text + L" (" + std::to_wstring(code) + L")";
}

std::wstring widenMessage(const char* message) {
    std::wstring wide;
    for (const char* c = message; *c; ++c)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

void showFailure(HWND owner, const std::wstring& message, FailureScope scope) {
    const wchar_t* title = scope == FailureScope::Process ? ErrorTitle : Product;
    MessageBoxW(owner, message.c_str(), title, MB_OK | MB_ICONERROR);
}

void showFailure(HWND owner, const std::exception& error, FailureScope scope) {
    showFailure(owner, widenMessage(error.what()), scope);
}

}  // namespace dormalis
