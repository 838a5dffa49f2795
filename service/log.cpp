#include "service/log.h"

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/unique.h"

#include <windows.h>

namespace dormalis {

namespace {

using UniqueEventSource = Unique<HANDLE, &DeregisterEventSource>;

void reportEvent(const std::wstring& text) {
    UniqueEventSource source(RegisterEventSourceW(nullptr, ServiceName));
    if (!source) return;
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(source.get(), EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
}

}  // namespace

void logEvent(const std::wstring& text) {
    try {
        writeString(HKEY_LOCAL_MACHINE, RegistryPath, L"LastDiagnostic", text);
    } catch (...) {
        // The registry copy is a convenience; the debugger and the event log still get the line.
    }
    try {
        OutputDebugStringW((std::wstring(L"Dormalis: ") + text + L"\n").c_str());
        reportEvent(text);
    } catch (...) {
        // A log line must never change the course of the service (only allocation can throw here).
    }
}

}  // namespace dormalis
