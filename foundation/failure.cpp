#include "foundation/failure.h"

#include <windows.h>

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

}  // namespace dormalis
