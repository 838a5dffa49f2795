#include "testbed/testbed.h"

namespace dormalis::testbed {

namespace {

constexpr const wchar_t* NetClass = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr const wchar_t* EnumRoot = L"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const wchar_t* ClassRoot = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr const wchar_t* CreatedKey = L"SOFTWARE\\DormalisTestbed\\Created";

std::wstring classKey(const std::wstring& driver) {
    return std::wstring(ClassRoot) + driver;
}

DWORD ownerOf(const std::wstring& session) {
    return getDword((std::wstring(WfpSessionsKey) + L"\\" + session).c_str(), L"Pid", 0);
}

}  // namespace

void reset() {
    Lock lock;
    // The setupapi entries we made are listed by path: value name = enum key, data = driver key.
    for (const std::wstring& enumKey : valueNames(CreatedKey)) {
        std::wstring driver = getString(CreatedKey, enumKey.c_str());
        deleteTree((std::wstring(EnumRoot) + enumKey).c_str());
        if (!driver.empty()) deleteTree(classKey(driver).c_str());
    }
    deleteTree(Root);
}

void addInterface(const std::wstring& guid, DWORD type, bool hardware) {
    Lock lock;
    DWORD index = getDword(Root, L"NextInterface", 0);
    setDword(Root, L"NextInterface", index + 1);
    wchar_t name[16];
    swprintf(name, 16, L"%04lu", index);
    std::wstring path = std::wstring(InterfacesKey) + L"\\" + name;
    setString(path.c_str(), L"Guid", guid);
    setDword(path.c_str(), L"Type", type);
    setDword(path.c_str(), L"Hardware", hardware ? 1 : 0);
}

void addAdapter(const Adapter& adapter) {
    addInterface(adapter.guid, adapter.type, adapter.hardware);
    Lock lock;
    DWORD index = getDword(Root, L"NextDriver", 100);
    setDword(Root, L"NextDriver", index + 1);
    wchar_t number[16];
    swprintf(number, 16, L"%04lu", index);
    std::wstring driver = std::wstring(NetClass) + L"\\" + number;
    std::wstring enumPath = std::wstring(EnumRoot) + adapter.id;
    setString(enumPath.c_str(), L"ClassGUID", NetClass);
    setString(enumPath.c_str(), L"Class", L"Net");
    setString(enumPath.c_str(), L"Driver", driver);
    setString(enumPath.c_str(), L"DeviceDesc", L"Test bed adapter");
    setString(classKey(driver).c_str(), L"NetCfgInstanceId", adapter.guid);
    setString(classKey(driver).c_str(), L"DriverDesc", L"Test bed adapter");
    setString(CreatedKey, adapter.id.c_str(), driver);
    setDword(DevicesKey, adapter.id.c_str(), adapter.state);
}

void setDeviceState(const std::wstring& id, DWORD state) {
    setDword(DevicesKey, id.c_str(), state);
}

void removeDevice(const std::wstring& id) {
    deleteValue(DevicesKey, id.c_str());
}

long deviceState(const std::wstring& id) {
    if (!hasValue(DevicesKey, id.c_str())) return -1;
    return static_cast<long>(getDword(DevicesKey, id.c_str(), DeviceStopped));
}

void vetoDisable(const std::wstring& id) {
    setDword(Root, (L"Veto " + id).c_str(), 1);
}

void needRestartOnEnable(const std::wstring& id) {
    setDword(Root, (L"Restart " + id).c_str(), 1);
}

DWORD disableFlags(const std::wstring& id) {
    return getDword(Root, (L"DisableFlags " + id).c_str(), MAXDWORD);
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

std::vector<SubLayerRecord> subLayers() {
    pruneDeadSessions();
    Lock lock;
    std::vector<SubLayerRecord> result;
    for (const std::wstring& key : subkeys(WfpSubLayersKey)) {
        std::wstring path = std::wstring(WfpSubLayersKey) + L"\\" + key;
        result.push_back({key, getString(path.c_str(), L"Name"), getDword(path.c_str(), L"Flags", 0),
                          getDword(path.c_str(), L"Weight", 0), ownerOf(getString(path.c_str(), L"Session"))});
    }
    return result;
}

std::vector<FilterRecord> filters() {
    pruneDeadSessions();
    Lock lock;
    std::vector<FilterRecord> result;
    for (const std::wstring& id : subkeys(WfpFiltersKey)) {
        std::wstring path = std::wstring(WfpFiltersKey) + L"\\" + id;
        const wchar_t* p = path.c_str();
        result.push_back({getString(p, L"Layer"), getString(p, L"SubLayer"), getString(p, L"Name"),
                          getDword(p, L"Flags", 0), getDword(p, L"WeightType", 0), getQword(p, L"Weight"),
                          getDword(p, L"Action", 0), getDword(p, L"Conditions", 0), ownerOf(getString(p, L"Session"))});
    }
    return result;
}

std::vector<SessionRecord> engineSessions() {
    pruneDeadSessions();
    Lock lock;
    std::vector<SessionRecord> result;
    for (const std::wstring& id : subkeys(WfpSessionsKey)) {
        std::wstring path = std::wstring(WfpSessionsKey) + L"\\" + id;
        result.push_back(
            {getString(path.c_str(), L"Name"), getDword(path.c_str(), L"Flags", 0), getDword(path.c_str(), L"Pid", 0)});
    }
    return result;
}

}  // namespace dormalis::testbed
