#include "testbed/state.h"

#include <objbase.h>

#include <cwchar>

namespace dormalis::testbed {

DWORD enter(const wchar_t* function) {
    Lock lock;
    const DWORD call = getDword(CallsKey, function, 0) + 1;
    setDword(CallsKey, function, call);
    // "first count code": fail calls number first .. first+count-1 (count 0: every call from first on).
    unsigned long first = 0, count = 0, code = 0;
    if (swscanf(getString(FaultsKey, function).c_str(), L"%lu %lu %lu", &first, &count, &code) != 3) return 0;
    return call >= first && (count == 0 || call < first + count) ? code : 0;
}

DWORD getDword(const wchar_t* subkey, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof value;
    const LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return rc == ERROR_SUCCESS ? value : fallback;
}

bool hasValue(const wchar_t* subkey, const wchar_t* name) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// RegSetKeyValueW creates the key as needed.
void setDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, subkey, name, REG_DWORD, &value, sizeof value);
}

std::wstring getString(const wchar_t* subkey, const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    const LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
    return rc == ERROR_SUCCESS ? buffer : L"";
}

void setString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, subkey, name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void deleteTree(const wchar_t* subkey) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, subkey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey);
}

std::vector<std::wstring> names(const wchar_t* subkey, bool values) {
    std::vector<std::wstring> result;
    UniqueKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key.put());
    for (DWORD i = 0; key; ++i) {
        wchar_t name[1024];
        DWORD length = 1024;
        const LONG rc = values ? RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr)
                               : RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) break;
        result.emplace_back(name, length);
    }
    return result;
}

std::wstring processCreated(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    FILETIME times[4];
    if (!process || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT ||
        !GetProcessTimes(process.get(), &times[0], &times[1], &times[2], &times[3]))
        return {};
    return std::to_wstring((ULONGLONG(times[0].dwHighDateTime) << 32) | times[0].dwLowDateTime);
}

void endSession(const std::wstring& session) {
    const std::wstring record = std::wstring(WfpSessionsKey) + L"\\" + session;
    const bool dynamic = getDword(record.c_str(), L"Flags", 0) & 0x00000001;  // FWPM_SESSION_FLAG_DYNAMIC
    for (const wchar_t* list : {WfpSubLayersKey, WfpFiltersKey}) {
        for (const std::wstring& name : names(list)) {
            const std::wstring path = std::wstring(list) + L"\\" + name;
            const std::wstring owner = getString(path.c_str(), L"Session");
            if (owner == session + Uncommitted || (owner == session && dynamic)) {
                deleteTree(path.c_str());
            } else if (owner == session) {
                setString(path.c_str(), L"Session", EngineOwned);
            }
        }
    }
    deleteTree(record.c_str());
}

void pruneDeadSessions() {
    Lock lock;
    for (const std::wstring& session : names(WfpSessionsKey)) {
        const std::wstring path = std::wstring(WfpSessionsKey) + L"\\" + session;
        const std::wstring created = getString(path.c_str(), L"Created");
        if (created.empty() || processCreated(getDword(path.c_str(), L"Pid", 0)) != created) endSession(session);
    }
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

}  // namespace dormalis::testbed
