#include "testbed/testbed.h"

namespace dormalis::testbed {

namespace {

constexpr const wchar_t* NetClass = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr const wchar_t* EnumRoot = L"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const wchar_t* ClassRoot = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr const wchar_t* CreatedKey = L"SOFTWARE\\DormalisTestbed\\Created";

// The committed objects of one list, each with the process ID of its session (0 once the engine owns it).
template <typename Record, typename Read>
std::vector<Record> objects(const wchar_t* list, Read read) {
    pruneDeadSessions();
    Lock lock;
    std::vector<Record> result;
    for (const std::wstring& name : names(list)) {
        const std::wstring path = std::wstring(list) + L"\\" + name;
        const std::wstring session = getString(path.c_str(), L"Session");
        if (session.find(Uncommitted) != std::wstring::npos) continue;
        const DWORD pid = getDword((std::wstring(WfpSessionsKey) + L"\\" + session).c_str(), L"Pid", 0);
        result.push_back(read(name, path.c_str(), pid));
    }
    return result;
}

}  // namespace

void reset() {
    Lock lock;
    // The setupapi entries we made are listed by path: value name = enum key, data = driver key.
    for (const std::wstring& enumKey : names(CreatedKey, true)) {
        deleteTree((std::wstring(EnumRoot) + enumKey).c_str());
        const std::wstring driver = getString(CreatedKey, enumKey.c_str());
        if (!driver.empty()) deleteTree((ClassRoot + driver).c_str());
    }
    deleteTree(Root);
}

void addInterface(const std::wstring& guid, DWORD type, bool hardware) {
    Lock lock;
    const std::wstring path = std::wstring(InterfacesKey) + L"\\" + std::to_wstring(1000 + names(InterfacesKey).size());
    setString(path.c_str(), L"Guid", guid);
    setDword(path.c_str(), L"Type", type);
    setDword(path.c_str(), L"Hardware", hardware ? 1 : 0);
}

void addAdapter(const Adapter& adapter) {
    addInterface(adapter.guid, adapter.type, adapter.hardware);
    Lock lock;
    const std::wstring driver = NetClass + (L"\\" + std::to_wstring(1000 + names(CreatedKey, true).size()));
    const std::wstring enumPath = EnumRoot + adapter.id;
    setString(enumPath.c_str(), L"ClassGUID", NetClass);
    setString(enumPath.c_str(), L"Class", L"Net");
    setString(enumPath.c_str(), L"Driver", driver);
    setString((ClassRoot + driver).c_str(), L"NetCfgInstanceId", adapter.guid);
    setString(CreatedKey, adapter.id.c_str(), driver);
    setDword(DevicesKey, adapter.id.c_str(), adapter.state);
    setDword(Root, (L"Initial " + adapter.id).c_str(), adapter.state);
}

long deviceState(const std::wstring& id) {
    if (!hasValue(DevicesKey, id.c_str())) return -1;
    return static_cast<long>(getDword(DevicesKey, id.c_str(), DeviceStopped));
}

void needRestartOnEnable(const std::wstring& id) {
    setDword(Root, (L"Restart " + id).c_str(), 1);
}

void delayDisables(DWORD ms) {
    setDword(Root, L"DisableDelayMs", ms);
}

DWORD unsafeDisables() {
    return getDword(Root, L"UnsafeDisables", 0);
}

void setSessionState(DWORD session, DWORD state) {
    setDword(SessionsKey, std::to_wstring(session).c_str(), state);
}

void failCall(const std::wstring& function, DWORD first, DWORD code, DWORD count) {
    setString(FaultsKey, function.c_str(),
              std::to_wstring(first) + L" " + std::to_wstring(count) + L" " + std::to_wstring(code));
}

void clearFaults() {
    deleteTree(FaultsKey);
}

void clearCalls() {
    deleteTree(CallsKey);
}

DWORD calls(const std::wstring& function) {
    return getDword(CallsKey, function.c_str(), 0);
}

void restartEngine() {
    Lock lock;
    setDword(WfpKey, L"Generation", getDword(WfpKey, L"Generation", 0) + 1);
    for (const wchar_t* list : {WfpSessionsKey, WfpSubLayersKey, WfpFiltersKey})
        deleteTree(list);
}

std::vector<SubLayerRecord> subLayers() {
    return objects<SubLayerRecord>(WfpSubLayersKey, [](const std::wstring& key, const wchar_t* path, DWORD pid) {
        return SubLayerRecord{key, getDword(path, L"Weight", 0), pid};
    });
}

std::vector<FilterRecord> filters() {
    return objects<FilterRecord>(WfpFiltersKey, [](const std::wstring&, const wchar_t* path, DWORD pid) {
        return FilterRecord{getString(path, L"Layer"), getString(path, L"SubLayer"), getDword(path, L"Action", 0),
                            getDword(path, L"Conditions", 0), pid};
    });
}

}  // namespace dormalis::testbed
