#include "install/event_source.h"

#include <windows.h>

#include <stdexcept>

namespace dormalis {

namespace {

constexpr DWORD SupportedTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

}  // namespace

void registerEventSource(const std::wstring& messageFile) {
    const auto bytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
    if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, EventSourceKey, L"EventMessageFile", REG_EXPAND_SZ, messageFile.c_str(),
                        bytes) != ERROR_SUCCESS ||
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, EventSourceKey, L"TypesSupported", REG_DWORD, &SupportedTypes,
                        sizeof(SupportedTypes)) != ERROR_SUCCESS) {
        throw std::runtime_error("Cannot register the event source.");
    }
}

void removeEventSource() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, EventSourceKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey);
}

}  // namespace dormalis
