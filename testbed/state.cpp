#include "testbed/state.h"

#include <objbase.h>

#include <cwchar>

namespace dormalis::testbed {

namespace {

HKEY openKey(const wchar_t* subkey, REGSAM access, bool create) {
    HKEY key = nullptr;
    LONG rc = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, access, nullptr, &key, nullptr)
                     : RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, access, &key);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

struct Key {
    HKEY key;
    Key(const wchar_t* subkey, REGSAM access, bool create = false) : key(openKey(subkey, access, create)) {}
    ~Key() {
        if (key) RegCloseKey(key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
};

// "first count code": fail calls number first .. first+count-1 (count 0: every call from first on).
DWORD faultFor(const wchar_t* function, DWORD call) {
    std::wstring fault = getString(FaultsKey, function);
    unsigned long first = 0, count = 0, code = 0;
    if (fault.empty() || swscanf(fault.c_str(), L"%lu %lu %lu", &first, &count, &code) != 3) return 0;
    if (call < first) return 0;
    if (count != 0 && call >= first + count) return 0;
    return code;
}

}  // namespace

Lock::Lock() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\DormalisTestbed")) {
    if (mutex_) WaitForSingleObject(mutex_, 10000);
}

Lock::~Lock() {
    if (!mutex_) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
}

DWORD enter(const wchar_t* function) {
    Lock lock;
    DWORD call = getDword(CallsKey, function, 0) + 1;
    setDword(CallsKey, function, call);
    return faultFor(function, call);
}

DWORD getDword(const wchar_t* subkey, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

bool hasValue(const wchar_t* subkey, const wchar_t* name) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void setDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
    Key key(subkey, KEY_SET_VALUE, true);
    if (key.key) RegSetValueExW(key.key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

ULONGLONG getQword(const wchar_t* subkey, const wchar_t* name) {
    ULONGLONG value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_REG_QWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

void setQword(const wchar_t* subkey, const wchar_t* name, ULONGLONG value) {
    Key key(subkey, KEY_SET_VALUE, true);
    if (key.key) RegSetValueExW(key.key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::wstring getString(const wchar_t* subkey, const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

void setString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
    Key key(subkey, KEY_SET_VALUE, true);
    if (key.key)
        RegSetValueExW(key.key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void deleteValue(const wchar_t* subkey, const wchar_t* name) {
    Key key(subkey, KEY_SET_VALUE);
    if (key.key) RegDeleteValueW(key.key, name);
}

void deleteTree(const wchar_t* subkey) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, subkey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey);
}

std::vector<std::wstring> subkeys(const wchar_t* subkey) {
    std::vector<std::wstring> names;
    Key key(subkey, KEY_READ);
    if (!key.key) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::wstring> valueNames(const wchar_t* subkey) {
    std::vector<std::wstring> names;
    Key key(subkey, KEY_READ);
    if (!key.key) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[1024];
        DWORD length = 1024;
        if (RegEnumValueW(key.key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

ULONGLONG processCreated(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (!process) return 0;
    ULONGLONG created = 0;
    FILETIME times[4];
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
        GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]))
        created = (ULONGLONG(times[0].dwHighDateTime) << 32) | times[0].dwLowDateTime;
    CloseHandle(process);
    return created;
}

void endSession(const std::wstring& session) {
    const std::wstring record = std::wstring(WfpSessionsKey) + L"\\" + session;
    const bool dynamic = getDword(record.c_str(), L"Flags", 0) & 0x00000001;  // FWPM_SESSION_FLAG_DYNAMIC
    for (const wchar_t* list : {WfpSubLayersKey, WfpFiltersKey}) {
        for (const std::wstring& name : subkeys(list)) {
            std::wstring path = std::wstring(list) + L"\\" + name;
            if (getString(path.c_str(), L"Session") != session) continue;
            if (dynamic) {
                deleteTree(path.c_str());
            } else {
                setString(path.c_str(), L"Session", EngineOwned);
            }
        }
    }
    deleteTree(record.c_str());
}

void pruneDeadSessions() {
    Lock lock;
    for (const std::wstring& session : subkeys(WfpSessionsKey)) {
        std::wstring path = std::wstring(WfpSessionsKey) + L"\\" + session;
        DWORD pid = getDword(path.c_str(), L"Pid", 0);
        ULONGLONG created = getQword(path.c_str(), L"Created");
        if (processCreated(pid) != created || created == 0) endSession(session);
    }
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

}  // namespace dormalis::testbed
