#pragma once

#include <string>

namespace dormalis {

// The Application log's entry for the service's event source, so that Event Viewer finds the text of its events
// in the program's message table.
inline constexpr const wchar_t* EventSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\DormalisNative";

// Points the source at `messageFile`; throws "Cannot register the event source." when the key cannot be written.
void registerEventSource(const std::wstring& messageFile);

// Removes the source's entry; silent when there is none.
void removeEventSource();

}  // namespace dormalis
